#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char* const kUsage =
    "usage: quorvik-target [line] [mode] [faults] [timing]\n"
    "Plays the target's side of the Quorvik serial line: screen, keys, disk requests.\n"
    "line:\n"
    "  (default)              create a pseudo-terminal; prints QUORVIK_COM1=/dev/pts/N\n"
    "  --device PATH          use this serial device or terminal instead\n"
    "  --listen [HOST:]PORT   serve one console over raw TCP instead (HOST 127.0.0.1 unless\n"
    "                         given; PORT 0: a free one); prints QUORVIK_COM1=tcp://HOST:PORT\n"
    "  --baud B               pace what the simulator sends to B baud (10 bits a byte)\n"
    "  --latency-ms N         hold back each write shorter than 62 bytes (and the rest of a\n"
    "                         longer one past its 62-byte packets) for N ms, as a USB\n"
    "                         adapter's FTDI chip does with its latency timer\n"
    "mode:\n"
    "  (default)              interactive status screen and command line on the console\n"
    "  --read-all --expect FILE\n"
    "                         read the whole image track by track, compare with FILE\n"
    "  --write-random N --seed S --model FILE [--no-readback]\n"
    "                         N random writes; FILE starts as a copy of the served image\n"
    "                         and receives every write the console acknowledged; every\n"
    "                         fourth write is all FF bytes\n"
    "  --write-from IMAGE [--no-readback]\n"
    "                         read the served image, then write the sectors in which it\n"
    "                         differs from IMAGE (sectors= counts them), and read it back\n"
    "  --off-disk             write-random: first send reads and writes off the disk\n"
    "                         (sector, head, end past the disk); each must get status 04\n"
    "  --status               ask the status query once: result=image or no-image\n"
    "  --wait-connect         batch: send ESC S every 200 ms until the console answers\n"
    "  --time-limit SEC       give up after SEC seconds (batch default 600)\n"
    "  --print-events         interactive: one line per event on stdout (connected,\n"
    "                         key HEX NAME, reboot, refresh, command LINE)\n"
    "  --record FILE          also write every byte sent to the console into FILE\n"
    "faults (batch and interactive):\n"
    "  --nak-every K          NAK every K-th frame received from the console\n"
    "  --corrupt-every K      spoil the checksum of every K-th frame sent\n"
    "  --garbage BYTES        send BYTES random bytes before each request\n"
    "  --stall-ms MS          once, pause MS ms in the middle of a request frame\n"
    "  --hangup-after N       close the line right after the N-th request frame\n"
    "timing:\n"
    "  --answer-ms MS         wait for a byte the console owes (default 3000)\n"
    "  --quiet-ms MS          silence that ends the pause after a fault (default 300)\n"
    "  --max-attempts N       tries of one request (default 8)\n"
    "A batch prints one line 'summary key=value ...' and exits 0 (all equal), 1 (data\n"
    "differ) or 2 (could not complete); 64 for a bad command line.\n";

namespace {

bool ToInt(const char* s, long lo, long hi, long& out) {
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

} // namespace

bool ParseOptions(int argc, const char* const* argv, TOptions& o, std::string& error) {
    bool expect_given = false, seed_given = false, model_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto number = [&](long lo, long hi, auto& field) {
            long v;
            if (!ToInt(next, lo, hi, v)) {
                error =
                    a + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
                return false;
            }
            field = static_cast<std::remove_reference_t<decltype(field)>>(v);
            ++i;
            return true;
        };
        auto text = [&](std::string& field) {
            if (!next || !*next) {
                error = a + " needs a value";
                return false;
            }
            field = next;
            ++i;
            return true;
        };
        bool ok = true;
        if (a == "--help" || a == "-h") {
            o.run = TOptions::TRun::rnHelp;
        } else if (a == "--device") {
            ok = text(o.device);
        } else if (a == "--listen") {
            ok = text(o.listen);
        } else if (a == "--baud") {
            ok = number(0, 4'000'000, o.baud);
        } else if (a == "--latency-ms") {
            ok = number(0, 255, o.latency_ms);
        } else if (a == "--write-from") {
            o.run = TOptions::TRun::rnWriteFrom;
            o.batch.mode = TBatchOptions::TMode::bmWriteFrom;
            ok = text(o.batch.from_path);
        } else if (a == "--read-all") {
            o.run = TOptions::TRun::rnReadAll;
            o.batch.mode = TBatchOptions::TMode::bmReadAll;
        } else if (a == "--expect") {
            ok = text(o.batch.expect_path);
            expect_given = true;
        } else if (a == "--write-random") {
            o.run = TOptions::TRun::rnWriteRandom;
            o.batch.mode = TBatchOptions::TMode::bmWriteRandom;
            ok = number(0, 10'000'000, o.batch.writes);
        } else if (a == "--seed") {
            ok = number(0, 0xFFFFFFFFL, o.batch.seed);
            o.faults.seed = o.batch.seed ^ 0x5EED5EEDu;
            seed_given = true;
        } else if (a == "--model") {
            ok = text(o.batch.model_path);
            model_given = true;
        } else if (a == "--no-readback") {
            o.batch.readback = false;
        } else if (a == "--off-disk") {
            o.batch.off_disk = true;
        } else if (a == "--status") {
            o.run = TOptions::TRun::rnStatus;
        } else if (a == "--print-events") {
            o.print_events = true;
        } else if (a == "--record") {
            ok = text(o.record_path);
        } else if (a == "--wait-connect") {
            o.batch.wait_connect = true;
        } else if (a == "--time-limit") {
            ok = number(1, 86'400, o.time_limit_s);
        } else if (a == "--nak-every") {
            ok = number(0, 1'000'000, o.faults.nak_every);
        } else if (a == "--corrupt-every") {
            ok = number(0, 1'000'000, o.faults.corrupt_every);
        } else if (a == "--garbage") {
            ok = number(0, 65'536, o.faults.garbage_bytes);
        } else if (a == "--stall-ms") {
            ok = number(0, 600'000, o.faults.stall_ms);
        } else if (a == "--hangup-after") {
            ok = number(0, 1'000'000, o.faults.hangup_after);
        } else if (a == "--answer-ms") {
            ok = number(1, 600'000, o.times.answer_ms);
        } else if (a == "--quiet-ms") {
            ok = number(1, 60'000, o.times.quiet_ms);
        } else if (a == "--max-attempts") {
            ok = number(1, 1000, o.times.max_attempts);
        } else {
            error = "unknown option " + a;
            return false;
        }
        if (!ok) return false;
    }
    if (!o.listen.empty() && !o.device.empty()) {
        error = "--listen and --device both name the line: give one";
        return false;
    }
    if (o.run == TOptions::TRun::rnReadAll && !expect_given) {
        error = "--read-all needs --expect FILE";
        return false;
    }
    if (o.run == TOptions::TRun::rnWriteRandom && (!seed_given || !model_given)) {
        error = "--write-random needs --seed S and --model FILE";
        return false;
    }
    if (o.faults.nak_every == 1) {
        error = "--nak-every 1 would refuse every frame: no request could ever complete";
        return false;
    }
    if (o.faults.corrupt_every == 1) {
        error = "--corrupt-every 1 would spoil every frame: no request could ever complete";
        return false;
    }
    return true;
}
