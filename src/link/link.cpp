#include "link.h"

#include <algorithm>
#include <cstring>

void TReceiveQueue::Append(const uint8_t* bytes, uint32_t count) {
    const uint32_t first = std::min(count, kReceiveQueueSize - write_);
    std::memcpy(&ring_[write_], bytes, first);
    std::memcpy(&ring_[0], bytes + first, count - first);
    write_ = (write_ + count) & kMask;
}

void TLink::CommRxChar(uint32_t count) {
    for (;;) {
        const uint32_t n = std::min({count, kStagingSize, queue.Free()});
        if (n == 0) return; // queue full: the rest waits in the port
        const int got = port_.Read(reinterpret_cast<char*>(staging_.data()), n);
        if (got <= 0) return;
        if (tap_ != nullptr) tap_->LineBytes(ldIn, staging_.data(), static_cast<size_t>(got));
        queue.Append(staging_.data(), static_cast<uint32_t>(got));
        // The count is shown signed and wraps like the 32-bit counter it is.
        received_count_ = static_cast<int32_t>(static_cast<uint32_t>(received_count_) +
                                               static_cast<uint32_t>(got));
        const int more = port_.InQueCount();
        if (more <= 0) return;
        count = static_cast<uint32_t>(more);
    }
}

void TLink::PullPending() {
    const int waiting = port_.InQueCount();
    if (waiting > 0) CommRxChar(static_cast<uint32_t>(waiting));
}

bool TLink::WaitForInput() {
    // Bytes that did not fit while the queue was full still wait in the port, and the port
    // announces only newly arrived bytes.
    if (queue.QueueEmpty()) PullPending();
    if (queue.QueueEmpty())
        host_.WaitForEvents();
    else
        host_.ProcessPendingEvents();
    return !stop_request;
}

void TLink::WaitForExchangeByte() {
    for (;;) {
        // After Disconnect the exchange must not touch the image, the buffer or the port again,
        // so the stop request wins over a byte that is already there.
        if (stop_request || port_lost) throw TAbandonExchange{};
        if (!queue.QueueEmpty()) return;
        if (timeout_counter == 0) throw TAbandonExchange{};
        WaitForInput();
    }
}
