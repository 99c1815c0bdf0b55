// Any byte stream from the target into the disk exchange, with an image attached, in random
// chunks and with the timer ticking. Afterwards the file must equal the original plus the
// write transfers the console acknowledged, rebuilt only from what crossed the line: a write's
// first reply (AH 3), then one ACK per data frame, each right after the 517 bytes of a good
// data frame, then a final reply with status 00 for the same request.
#include "fakes.h"
#include "floppy_service.h"
#include "frame.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr uint16_t kHeads = 2, kSectorsPerTrack = 9, kTotalSectors = 40;

std::vector<uint8_t> OriginalImage() {
    std::vector<uint8_t> image(kTotalSectors * 512);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + i / 512);
    std::memset(image.data(), 0, 512);
    Put16(&image[11], 512);
    Put16(&image[19], kTotalSectors);
    Put16(&image[24], kSectorsPerTrack);
    Put16(&image[26], kHeads);
    std::memcpy(&image[54], "FAT12   ", 8);
    return image;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Follows the console's writes and builds the expected image from them.
class TModel {
  public:
    TModel(std::vector<uint8_t> image, const std::vector<uint8_t>& stream)
        : image_(std::move(image)), stream_(stream) {}

    // One Write of the console, with the count of target bytes it had consumed by then.
    void OnWrite(const uint8_t* bytes, size_t count, size_t consumed) {
        if (count == 1 && bytes[0] == kFrameAck) {
            if (pending_ && consumed == last_consumed_ + 517 + (acked_.empty() ? 1 : 0) &&
                GoodDataFrameEndsAt(consumed))
                acked_.emplace_back(stream_.begin() + consumed - 512, stream_.begin() + consumed);
            else
                pending_ = false;
            last_consumed_ = consumed;
            return;
        }
        if (count != kReplyFrameSize) {
            pending_ = false;
            return;
        }
        const uint8_t* regs = bytes + 5; // AX BX CX DX FLAGS
        const uint8_t count_al = regs[0], ah = regs[1], carry = regs[8] & 1;
        if (ah == 3) {
            pending_ = true;
            std::memcpy(request_, regs, 8);
            acked_.clear();
            last_consumed_ = consumed;
            return;
        }
        if (pending_ && ah == 0 && !carry && std::memcmp(request_ + 2, regs + 2, 6) == 0 &&
            regs[0] == count_al && request_[0] == count_al && acked_.size() == count_al)
            Apply(regs);
        pending_ = false;
    }
    const std::vector<uint8_t>& Expected() const { return image_; }

  private:
    bool GoodDataFrameEndsAt(size_t end) const {
        if (end < 517 || end > stream_.size()) return false;
        const uint8_t* f = stream_.data() + end - 517;
        return f[0] == kFrameEsc && f[1] == kFrameD && FrameChecksum(f + 2, 515) == 0;
    }
    void Apply(const uint8_t* regs) {
        if (acked_.empty()) return; // a write of 0 sectors moves nothing, wherever it points
        const uint8_t sector = regs[4], cylinder = regs[5], head = regs[7];
        const int64_t first = (int64_t{cylinder} * kHeads + head) * kSectorsPerTrack + sector - 1;
        // An acknowledged write must lie on the disk.
        if (sector < 1 || sector > kSectorsPerTrack || head >= kHeads || first < 0 ||
            first + static_cast<int64_t>(acked_.size()) > kTotalSectors)
            std::abort();
        for (size_t i = 0; i < acked_.size(); ++i)
            std::memcpy(image_.data() + (first + i) * 512, acked_[i].data(), 512);
    }

    std::vector<uint8_t> image_;
    const std::vector<uint8_t>& stream_;
    bool pending_ = false;
    uint8_t request_[8] = {};
    std::vector<std::vector<uint8_t>> acked_;
    size_t last_consumed_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 16384) return -1;
    static const std::vector<uint8_t> original = OriginalImage();
    static const std::string path = TestPath("image.img");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(original.data()),
                  static_cast<std::streamsize>(original.size()));
    }
    const std::vector<uint8_t> stream(data + 1, data + size);
    TCoreRig rig;
    TFloppyService service(rig.link, rig.screen);
    service.OpenImage(path);
    service.AllocTrackBuffer();
    if (!service.ImageAttached() || !service.Image().TrackBufferReady()) std::abort();

    TModel model(original, stream);
    size_t delivered = 0;
    rig.port.on_write = [&](const uint8_t* bytes, size_t count) {
        const size_t consumed = delivered - rig.link.queue.Used() - rig.port.incoming.size();
        model.OnWrite(bytes, count, consumed);
    };
    // Every round ticks the timer once and may deliver the next chunk; quiet rounds let the
    // time-outs run.
    uint32_t lcg = data[0] | 0x100u;
    size_t at = 0;
    while (at < stream.size()) {
        lcg = lcg * 1664525u + 1013904223u;
        const size_t n = std::min<size_t>(stream.size() - at, 1 + (lcg >> 20) % 600);
        const int quiet = (lcg >> 8) % 16 == 0 ? static_cast<int>((lcg >> 12) % 25) : 0;
        for (int i = 0; i < quiet; ++i)
            rig.StepTick();
        std::vector<uint8_t> chunk(stream.begin() + at, stream.begin() + at + n);
        rig.Step([&rig, &delivered, chunk] {
            rig.link.CountDownTimeout();
            delivered += chunk.size();
            rig.Deliver(chunk);
        });
        at += n;
    }
    Maincycle(rig.screen, rig.link, service);
    service.CloseImage();
    service.FreeTrackBuffer();
    if (ReadAll(path) != model.Expected()) std::abort();
    return 0;
}
