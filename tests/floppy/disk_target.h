// A simulated target on the fake port, and helpers for image files in the test's own folder.
//
// The target sends disk requests behind ESC 'D' and answers the console's frames as the
// target's firmware does. The console writes one frame or one acknowledgement per Write call;
// the target's answers go into the port's driver queue and reach the console at its next wait.
// Every round of the window system ticks the 100 ms timer once.
#pragma once

#include "fakes.h"
#include "floppy_service.h"
#include "test_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct TDiskOp {
    uint8_t function = 2;
    uint8_t count = 1;
    uint8_t sector = 1;
    uint8_t cylinder = 0;
    uint8_t head = 0;
    uint16_t bx = 0x7C00;
    std::vector<uint8_t> data; // the sectors of a write

    // Faults the target injects.
    int nak_data_frame = -1;              // read: answer AA to this data frame (from 0)
    int bad_data_frame = -1;              // write: send this data frame with a wrong checksum
    bool nak_final_reply = false;         // write: answer AA to the final reply
    size_t request_split = 0;             // send only this many request bytes at first,
    int rest_after_rounds = 0;            // and the rest this many rounds later
    int ack_delay_rounds = 0;             // rounds before each ACK of a read's data frame
    int disconnect_after_writes = -1;     // Disconnect at the round after this many console writes
    std::function<void()> on_final_reply; // runs when a write's final reply arrives

    // What happened.
    std::vector<std::vector<uint8_t>> writes; // what the console wrote, one entry per Write
    std::vector<std::vector<uint8_t>> replies;
    std::vector<uint8_t> read_data;
    int malformed = 0; // frames from the console with a wrong header, length or checksum
    bool timed_out = false;
};

class TDiskTarget {
  public:
    // Rounds of silence after which the target gives up an operation, as its firmware would.
    static constexpr int kGiveUpRounds = 60;

    explicit TDiskTarget(TCoreRig& rig);
    // Operations run one after another; once all are over, the target requests a stop.
    TDiskOp& Add(TDiskOp op);
    std::function<void()> disconnect; // the window's Disconnect, run on request of an op
    int rounds = 0;

  private:
    enum TPhase { phIdle, phRequestAck, phReply, phDataIn, phDataAck, phFinalReply };
    void Idle();
    void OnWrite(const uint8_t* bytes, size_t count);
    void Start(TDiskOp& op);
    void Finish();
    void Send(std::vector<uint8_t> bytes, int delay = 0);
    void SendDataFrame();
    bool CheckFrame(const uint8_t* bytes, size_t count, size_t expected);

    TCoreRig& rig_;
    std::deque<TDiskOp> ops_;
    size_t next_ = 0;
    TDiskOp* op_ = nullptr;   // the operation in progress
    TDiskOp* last_ = nullptr; // the operation started last
    TPhase phase_ = phIdle;
    int frame_ = 0;
    int quiet_ = 0;
    int since_finish_ = 0;
    bool disconnect_due_ = false;
    std::vector<std::pair<int, std::vector<uint8_t>>> scheduled_;
};

// The 13 bytes ESC 'D' + request frame of a disk call.
std::vector<uint8_t> RequestBytes(const TDiskOp& op);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);
// mkfs.fat image of `kib` KiB holding one file of random bytes; false if the tools failed.
bool MakeFatImage(const std::string& path, int kib, size_t file_bytes);
// A boot sector with the given BIOS parameter block fields and type texts at 54 and 82,
// followed by `sectors` - 1 sectors of random bytes.
std::vector<uint8_t> BootSectorImage(uint16_t bytes_per_sector, uint16_t total_sectors,
                                     uint16_t sectors_per_track, uint16_t heads, const char* type54,
                                     const char* type82, size_t sectors);
// The screen's rows one after another, so that a wrapped line reads on.
std::string ScreenText(const TScreen& screen);

// The console as the window drives it: one floppy service for the whole run, Connect and
// Disconnect around runs of the real main cycle, and a simulated target on the port.
class FloppyTest : public ::testing::Test {
  protected:
    TCoreRig rig;
    TFloppyService service{rig.link, rig.screen};
    TDiskTarget target{rig};

    FloppyTest() {
        target.disconnect = [this] { Disconnect(); };
    }
    void Connect(const std::string& path) {
        rig.link.stop_request = false;
        rig.port.open = true;
        service.OpenImage(path);
        service.AllocTrackBuffer();
    }
    void Disconnect() {
        rig.link.stop_request = true;
        rig.port.open = false;
        service.CloseImage();
        service.FreeTrackBuffer();
    }
    // Disconnect without closing the port, so that any later write to it would show.
    void KeepPortOpenAtDisconnect() {
        target.disconnect = [this] {
            rig.link.stop_request = true;
            service.CloseImage();
            service.FreeTrackBuffer();
        };
    }
    // Runs the main cycle until the target has carried out every operation added so far.
    void Serve() {
        rig.link.stop_request = false;
        Maincycle(rig.screen, rig.link, service);
    }
    // A fresh mkfs.fat image with a file in it, or a fatal failure.
    std::string FatImage(int kib) {
        const std::string path = TestPath(std::to_string(kib) + ".img");
        EXPECT_TRUE(MakeFatImage(path, kib, 300000)) << "mkfs.fat or mcopy failed";
        return path;
    }
    std::string HandMade(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = TestPath(name);
        WriteFileBytes(path, bytes);
        return path;
    }
};

// `count` bytes of the file at `offset`, zeros past its end.
std::vector<uint8_t> FileSlice(const std::string& path, uint64_t offset, size_t count);
TDiskOp ReadOp(uint8_t cylinder, uint8_t head, uint8_t sector, uint8_t count);
TDiskOp WriteOp(uint8_t cylinder, uint8_t head, uint8_t sector, uint8_t count, uint32_t seed);
