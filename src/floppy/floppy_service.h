// The floppy service: serves the target's disk requests from the attached image.
//
// One instance for the whole run, owned by the main window; window thread only. The reply
// registers (AX BX CX DX FLAGS) and the geometry persist across exchanges and connections.
//
// The exchange runs inside the main cycle. Each of its waits lets the window system run and
// abandons the exchange (throws TAbandonExchange to the main cycle's restart point) on a stop
// request, on a time-out counter run down to 0, or when the image or the track buffer was
// acquired or released during the wait; after that it touches neither image, buffer nor port.
// The time-out counter is set to 20 ticks before each data frame. A write reaches the file,
// synced, only after all its data frames have arrived, and before its final reply.
#pragma once

#include "floppy_image.h"
#include "frame.h"
#include "disk_service.h"
#include "link.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class TScreen;

constexpr uint8_t kFrameBad = 0xCC; // ReceiveFrame's result for a bad frame

class TFloppyService final : public TDiskService {
  public:
    TFloppyService(TLink& link, TScreen& screen);

    // Connect: OpenImage then AllocTrackBuffer (whatever OpenImage reported).
    // Disconnect: after the stop request is set and the port is closed, CloseImage then
    // FreeTrackBuffer. Each may also run from inside a wait of an exchange.
    void OpenImage(const std::string& path) { image_.OpenImage(path); }
    // Connect with an image in memory instead of a file (a folder as the floppy); see
    // TFloppyImage::OpenMemoryImage.
    void OpenMemoryImage(std::shared_ptr<TMemoryImage> image, const std::string& name) {
        image_.OpenMemoryImage(std::move(image), name);
    }
    void AllocTrackBuffer() { image_.AllocTrackBuffer(); }
    void CloseImage() { image_.CloseImage(); }
    void FreeTrackBuffer() { image_.FreeTrackBuffer(); }

    // TDiskService. An image counts as attached while its file is open, identified or not.
    bool ImageAttached() const override { return image_.Attached(); }
    void DiskRequest() override;

    const TFloppyImage& Image() const { return image_; }

    // The steps of the exchange, as DiskRequest uses them; any of them may throw
    // TAbandonExchange. Call them only from inside the main cycle.
    //
    // Takes `length` bytes (11 for a request frame, 515 for a data frame after its 1B 44
    // header when `expect_header`) into `buffer`; answers 55 and returns 0 for a good
    // checksum, answers AA and returns kFrameBad for a bad one. A missing header returns
    // kFrameBad without an answer.
    uint8_t ReceiveFrame(uint8_t* buffer, size_t length, bool expect_header);
    // Writes the frame in one call and waits for the answer: 0 for 55, 1 for AA. Any other
    // byte abandons the exchange.
    int SendFrame(const uint8_t* bytes, size_t length);
    // Sends the reply registers as a reply frame; a NAK abandons the exchange.
    void SendReply();
    // Serves one accepted 11-byte request frame.
    void ServeDiskRequest(const uint8_t* request);
    void SendDataFrames(uint32_t count);
    void ReceiveDataFrames(uint32_t count);

  private:
    void WaitForByte();
    void CopyRequestRegisters(const uint8_t* request);
    void SetStatus(uint8_t status); // AH, and FLAGS bit 0 set for any status but 0

    TLink& link_;
    TScreen& screen_;
    TFloppyImage image_;
    std::array<uint8_t, 10> registers_{}; // AX BX CX DX FLAGS, little-endian as on the line
    uint32_t exchange_generation_ = 0;
    std::array<uint8_t, kDataFrameSize> frame_{};
};
