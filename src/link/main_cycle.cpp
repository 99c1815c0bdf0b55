#include "main_cycle.h"

#include "escape.h"
#include "screen.h"

const char* const kBannerLine = "Quorvik V1.01 for Windows";
const char* const kMakerLine = "Serial console for x86 targets: screen, keyboard and floppy";

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kAck = 0x55;
constexpr uint8_t kNak = 0xAA;

enum class TBurstEnd { kEnd, kStop };

// One burst: bytes taken one after another without letting the window system run. Ends when
// the queue runs dry, at a 00 byte or after a command.
TBurstEnd Burst(TScreen& screen, TLink& link, TDiskService& disk) {
    for (;;) {
        const uint8_t b = link.TakeByte();
        if (b == 0) return TBurstEnd::kEnd;
        if (b != kEsc) {
            screen.Putch(b);
            if (link.QueueEmpty()) return TBurstEnd::kEnd;
            continue;
        }
        // ESC: a command follows. A run of ESC bytes acts as one.
        uint8_t c;
        do {
            while (link.QueueEmpty()) {
                if (!link.WaitForInput()) return TBurstEnd::kStop;
            }
            c = link.TakeByte();
        } while (c == kEsc);

        switch (c) {
        case '[': EscapeSequence(screen, link); return TBurstEnd::kEnd;
        case 'S': {
            link.key_hold = true;
            const uint8_t answer = disk.ImageAttached() ? kAck : kNak;
            link.Write(&answer, 1);
            return TBurstEnd::kEnd;
        }
        case 'Q': link.key_hold = false; return TBurstEnd::kEnd;
        case 'D': disk.DiskRequest(); return TBurstEnd::kEnd;
        default:
            screen.Putch(kEsc);
            screen.Putch(c);
            if (link.QueueEmpty()) return TBurstEnd::kEnd;
            break;
        }
    }
}

// Step 5 of the cycle: bursts until the stop request. Returns normally on stop.
void Loop(TScreen& screen, TLink& link, TDiskService& disk) {
    while (!link.stop_request) {
        if (!link.WaitForInput()) return;
        if (link.QueueEmpty()) continue;
        link.timeout_counter = kTimeoutTicks;
        if (Burst(screen, link, disk) == TBurstEnd::kStop) return;
        if (link.timeout_counter == 0) link.Host().ShowStatus("Timeout!");
    }
}

} // namespace

void Maincycle(TScreen& screen, TLink& link, TDiskService& disk) {
    screen.MsgOut("%s", kBannerLine);
    screen.MsgOut("%s", kMakerLine);
    for (;;) {
        // Restart point: on entry, and after every abandoned disk exchange. Whatever is pending
        // in the port or still queued is discarded; the byte count has already counted it.
        // A full queue leaves the rest in the port: discard in rounds until the port is dry.
        for (int round = 0; round < 64; ++round) {
            link.PullPending();
            link.queue.Reset();
            if (link.Port().InQueCount() <= 0) break;
        }
        try {
            Loop(screen, link, disk);
            return;
        } catch (const TAbandonExchange&) {
        }
    }
}
