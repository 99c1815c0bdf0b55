// Any sequence of key events into the translator: at most three bytes per key, nothing while
// the key hold is on, the state display always 30 characters, and the PC's lock state never
// touching the modifier bits.
#include "translate.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    uint8_t state = 0;
    while (in.remaining_bytes() > 0) {
        const uint8_t kind = in.ConsumeIntegral<uint8_t>();
        if (kind % 8 == 7) { // the window regains focus and reloads the PC's lock keys
            TLockState pc;
            const uint8_t known = in.ConsumeIntegral<uint8_t>();
            if (known & 1) pc.scroll_lock = (known & 8) != 0;
            if (known & 2) pc.num_lock = (known & 16) != 0;
            if (known & 4) pc.caps_lock = (known & 32) != 0;
            const uint8_t reloaded = ReloadLockBits(state, pc);
            constexpr uint8_t kLocks = ksScrollLock | ksNumLock | ksCapsLock;
            if ((reloaded & ~kLocks) != (state & ~kLocks)) std::abort();
            state = reloaded;
            continue;
        }
        const TKeyDirection direction = (kind & 1) ? kdUp : kdDown;
        const bool hold = (kind & 2) != 0;
        const uint8_t scan = in.ConsumeIntegral<uint8_t>();
        const uint8_t virtual_key = in.ConsumeIntegral<uint8_t>();
        const TKeyResult r = TranslateKey(direction, scan, virtual_key, state, hold);
        if (r.count > r.bytes.size()) std::abort();
        if (hold && r.count != 0) std::abort();
        if (KBDStateText(r.state).size() != 30) std::abort();
        (void)RebootButtonShown(r.state);
        state = r.state;
    }
    return 0;
}
