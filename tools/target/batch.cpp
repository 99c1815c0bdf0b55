#include "batch.h"

#include "disk_access.h"
#include "fat12.h"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxImageBytes = size_t(256) * 256 * 255 * 512; // what CHS can address

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& why) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    out.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (out.size() + n > kMaxImageBytes) {
            std::fclose(f);
            why = path + ": larger than any floppy image";
            return false;
        }
        out.insert(out.end(), buf, buf + n);
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) why = path + ": read error";
    return ok;
}

double Seconds(TClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

const char* FailureResult(const TTargetEngine& engine, const TXferResult& r) {
    if (r.status == TXferStatus::xsHangup) return "hangup";
    if (r.status == TXferStatus::xsDiskError) return "disk-error";
    if (engine.PastDeadline()) return "time-limit";
    return "gave-up";
}

// Status query (or waiting for the console), then the boot sector and its geometry. False with
// the report filled in when the run cannot go on.
bool Prepare(TTargetEngine& engine, const TBatchOptions& options, TBatchReport& report,
             TBootInfo& geo, uint8_t* boot) {
    const TStatusAnswer answer = options.wait_connect
                                     ? engine.WaitForConsole(options.connect_limit_ms)
                                     : engine.QueryStatus(engine.Times().answer_ms);
    if (answer == TStatusAnswer::saNone) {
        report.result = engine.Stats().hung_up || !engine.Line().IsOpen() ? "hangup" : "no-console";
        return false;
    }
    if (answer == TStatusAnswer::saNoImage) {
        report.result = "no-image";
        return false;
    }
    const TXferResult r = ReadBootSector(engine, boot);
    if (r.status != TXferStatus::xsOk) {
        report.result = FailureResult(engine, r);
        if (r.status == TXferStatus::xsGaveUp)
            report.detail = std::string("boot sector: ") + XferStatusName(r.last);
        return false;
    }
    std::string why;
    if (!ParseBootSector(boot, geo, &why)) {
        report.result = "bad-geometry";
        report.detail = why;
        return false;
    }
    return true;
}

uint64_t CountDifferentSectors(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want,
                               uint64_t sectors) {
    uint64_t differ = 0;
    for (uint64_t s = 0; s < sectors; ++s) {
        const size_t off = size_t(s) * kSectorBytes;
        if (off + kSectorBytes > want.size() ||
            std::memcmp(got.data() + off, want.data() + off, kSectorBytes) != 0)
            ++differ;
    }
    return differ;
}

} // namespace

int TBatchReport::ExitCode() const {
    if (result == "ok" || result == "hangup") return mismatches ? 1 : 0;
    if (mode == "status" && (result == "image" || result == "no-image")) return 0;
    if (result == "mismatch" || result == "model-differs") return 1;
    return 2;
}

// Reads a whole file the batch needs; on failure the report says why.
static bool LoadFile(const std::string& path, std::vector<uint8_t>& data, TBatchReport& report) {
    std::string why;
    if (ReadWholeFile(path, data, why)) return true;
    report.result = "file-error";
    report.detail = why;
    return false;
}

TBatchReport RunStatus(TTargetEngine& engine, const TBatchOptions& options) {
    TBatchReport report;
    report.mode = "status";
    const TStatusAnswer answer = options.wait_connect
                                     ? engine.WaitForConsole(options.connect_limit_ms)
                                     : engine.QueryStatus(engine.Times().answer_ms);
    report.result = answer == TStatusAnswer::saImage     ? "image"
                    : answer == TStatusAnswer::saNoImage ? "no-image"
                                                         : "no-console";
    if (engine.Line().IsOpen()) engine.ReleaseKeys();
    return report;
}

TBatchReport RunReadAll(TTargetEngine& engine, const TBatchOptions& options) {
    TBatchReport report;
    report.mode = "read-all";
    std::vector<uint8_t> expect;
    if (!LoadFile(options.expect_path, expect, report)) return report;
    TBootInfo geo;
    uint8_t boot[kSectorBytes];
    if (Prepare(engine, options, report, geo, boot)) {
        std::vector<uint8_t> image(size_t(geo.total_sectors) * kSectorBytes);
        const auto t0 = TClock::now();
        const TXferResult r = ReadRange(engine, geo, 0, geo.total_sectors, image.data(),
                                        [&](uint32_t done) { report.sectors = done; });
        report.seconds = Seconds(TClock::now() - t0);
        if (r.status != TXferStatus::xsOk) {
            report.result = FailureResult(engine, r);
            if (r.status == TXferStatus::xsGaveUp) report.detail = XferStatusName(r.last);
        } else {
            report.mismatches = CountDifferentSectors(image, expect, geo.total_sectors);
            if (expect.size() != image.size()) {
                report.detail = "image holds " + std::to_string(image.size()) +
                                " bytes, the expected copy " + std::to_string(expect.size());
                if (report.mismatches == 0) report.mismatches = 1;
            }
            if (report.mismatches) report.result = "mismatch";
        }
    }
    if (engine.Line().IsOpen()) engine.ReleaseKeys();
    return report;
}

namespace {

// Requests that name no sector of the disk: each must be refused with status 04, and none may
// move data. False, with the report's result set, otherwise.
bool OffDiskRefused(TTargetEngine& engine, const TBootInfo& geo, TBatchReport& report) {
    const uint8_t spt = uint8_t(geo.sectors_per_track), heads = uint8_t(geo.heads);
    const uint32_t last_track = (geo.total_sectors - 1) / geo.sectors_per_track;
    const TChs last = ChsOfLba(last_track * geo.sectors_per_track, uint16_t(spt), geo.heads);
    struct TProbe {
        TChs chs;
        uint8_t count;
    };
    const TProbe probes[] = {
        {{0, 0, uint8_t(spt + 1)}, 1},        // sector past the track
        {{0, heads, 1}, 1},                   // head past the heads
        {{255, 255, spt}, 1},                 // far past the end
        {{last.cylinder, last.head, spt}, 2}, // runs past the end
    };
    std::vector<uint8_t> data(2 * kSectorBytes, 0xE5);
    for (const TProbe& p : probes) {
        for (const bool write : {true, false}) {
            const TXferResult r = write ? engine.Write(p.chs, p.count, data.data())
                                        : engine.Read(p.chs, p.count, data.data());
            if (r.status == TXferStatus::xsDiskError && r.reply.regs.Ah() == 0x04) continue;
            report.result =
                r.status == TXferStatus::xsOk ? "off-disk-accepted" : FailureResult(engine, r);
            report.detail = std::string(write ? "off-disk write: " : "off-disk read: ") +
                            XferStatusName(r.status);
            return false;
        }
    }
    return true;
}

} // namespace

TBatchReport RunWriteRandom(TTargetEngine& engine, const TBatchOptions& options) {
    TBatchReport report;
    report.mode = "write-random";
    std::vector<uint8_t> model;
    if (!LoadFile(options.model_path, model, report)) return report;
    const int model_fd = ::open(options.model_path.c_str(), O_WRONLY);
    if (model_fd < 0) {
        report.result = "file-error";
        report.detail = options.model_path + ": " + std::strerror(errno);
        return report;
    }
    TBootInfo geo;
    uint8_t boot[kSectorBytes];
    if (!Prepare(engine, options, report, geo, boot)) {
        ::close(model_fd);
        if (engine.Line().IsOpen()) engine.ReleaseKeys();
        return report;
    }
    const uint32_t total = geo.total_sectors;
    if (model.size() < size_t(total) * kSectorBytes ||
        std::memcmp(model.data(), boot, kSectorBytes) != 0) {
        report.result = "model-differs";
        report.detail = "the model is not a copy of the console's image";
        ::close(model_fd);
        engine.ReleaseKeys();
        return report;
    }

    if (options.off_disk && !OffDiskRefused(engine, geo, report)) {
        ::close(model_fd);
        if (engine.Line().IsOpen()) engine.ReleaseKeys();
        return report;
    }

    std::mt19937 rng(options.seed);
    const uint32_t spt = geo.sectors_per_track;
    const uint32_t tracks = (total + spt - 1) / spt;
    std::vector<uint8_t> data(size_t(spt) * kSectorBytes);
    const auto t0 = TClock::now();
    for (int i = 0; i < options.writes; ++i) {
        if (engine.PastDeadline()) {
            report.result = "time-limit";
            break;
        }
        // A run of sectors inside one track; the boot sector is left alone so that the image
        // keeps its geometry for whoever attaches it next.
        const uint32_t track = std::uniform_int_distribution<uint32_t>(0, tracks - 1)(rng);
        const uint32_t in_track = std::min(spt, total - track * spt);
        uint32_t first = std::uniform_int_distribution<uint32_t>(0, in_track - 1)(rng);
        if (track == 0 && first == 0) first = in_track > 1 ? 1 : 0;
        if (track * spt + first == 0) continue; // a one-sector disk: nothing to write
        const uint32_t n = std::uniform_int_distribution<uint32_t>(1, in_track - first)(rng);
        for (size_t b = 0; b < size_t(n) * kSectorBytes; ++b)
            data[b] = uint8_t(rng());
        // Every fourth write is all FF, the byte a Telnet line must double.
        if (i % 4 == 3) std::fill(data.begin(), data.begin() + size_t(n) * kSectorBytes, 0xFF);

        const uint32_t lba = track * spt + first;
        const TXferResult r =
            engine.Write(ChsOfLba(lba, uint16_t(spt), geo.heads), uint8_t(n), data.data());
        if (r.status != TXferStatus::xsOk) {
            report.result = FailureResult(engine, r);
            report.detail = std::string("write ") + std::to_string(i + 1) + ": " +
                            XferStatusName(r.status == TXferStatus::xsGaveUp ? r.last : r.status);
            break;
        }
        // The console acknowledged it: now, and only now, the model changes.
        const size_t off = size_t(lba) * kSectorBytes;
        std::memcpy(model.data() + off, data.data(), size_t(n) * kSectorBytes);
        if (::pwrite(model_fd, data.data(), size_t(n) * kSectorBytes, off_t(off)) !=
            ssize_t(n) * ssize_t(kSectorBytes)) {
            report.result = "file-error";
            report.detail = options.model_path + ": write failed";
            break;
        }
        ++report.writes_done;
        report.sectors += n;
    }
    report.seconds = Seconds(TClock::now() - t0);
    ::close(model_fd);

    if (report.result == "ok" && options.readback) {
        std::vector<uint8_t> image(size_t(total) * kSectorBytes);
        const TXferResult r = ReadRange(engine, geo, 0, total, image.data());
        if (r.status != TXferStatus::xsOk) {
            report.result = FailureResult(engine, r);
            if (r.status == TXferStatus::xsGaveUp)
                report.detail = std::string("read-back: ") + XferStatusName(r.last);
        } else {
            report.mismatches = CountDifferentSectors(image, model, total);
            if (report.mismatches) report.result = "mismatch";
        }
    }
    if (engine.Line().IsOpen()) engine.ReleaseKeys();
    return report;
}

TBatchReport RunWriteFrom(TTargetEngine& engine, const TBatchOptions& options) {
    TBatchReport report;
    report.mode = "write-from";
    std::vector<uint8_t> want;
    if (!LoadFile(options.from_path, want, report)) return report;
    TBootInfo geo;
    uint8_t boot[kSectorBytes];
    if (!Prepare(engine, options, report, geo, boot)) {
        if (engine.Line().IsOpen()) engine.ReleaseKeys();
        return report;
    }
    const uint32_t total = geo.total_sectors, spt = geo.sectors_per_track;
    std::vector<uint8_t> image(size_t(total) * kSectorBytes);
    if (want.size() != image.size()) {
        report.result = "model-differs";
        report.detail = options.from_path + " holds " + std::to_string(want.size()) +
                        " bytes, the console's image " + std::to_string(image.size());
        engine.ReleaseKeys();
        return report;
    }
    const auto t0 = TClock::now();
    TXferResult r = ReadRange(engine, geo, 0, total, image.data());
    auto differs = [&](uint32_t lba) {
        const size_t off = size_t(lba) * kSectorBytes;
        return std::memcmp(image.data() + off, want.data() + off, kSectorBytes) != 0;
    };
    for (uint32_t lba = 0; r.status == TXferStatus::xsOk && lba < total;) {
        if (!differs(lba)) {
            ++lba;
            continue;
        }
        // The run of differing sectors from here to the end of the track.
        const uint32_t track_end = std::min(total, (lba / spt + 1) * spt);
        uint32_t n = 1;
        while (lba + n < track_end && differs(lba + n)) ++n;
        r = engine.Write(ChsOfLba(lba, uint16_t(spt), geo.heads), uint8_t(n),
                         want.data() + size_t(lba) * kSectorBytes);
        if (r.status != TXferStatus::xsOk) break;
        ++report.writes_done;
        report.sectors += n;
        lba += n;
    }
    if (r.status == TXferStatus::xsOk && options.readback) {
        r = ReadRange(engine, geo, 0, total, image.data());
        if (r.status == TXferStatus::xsOk) {
            report.mismatches = CountDifferentSectors(image, want, total);
            if (report.mismatches) report.result = "mismatch";
        }
    }
    report.seconds = Seconds(TClock::now() - t0);
    if (r.status != TXferStatus::xsOk) {
        report.result = FailureResult(engine, r);
        if (r.status == TXferStatus::xsGaveUp) report.detail = XferStatusName(r.last);
    }
    if (engine.Line().IsOpen()) engine.ReleaseKeys();
    return report;
}

std::string FormatSummary(const TBatchReport& report, const TEngineStats& s) {
    char line[1024];
    std::string detail = report.detail;
    for (auto& c : detail) {
        if (c == ' ') c = '_';
    }
    std::snprintf(
        line, sizeof line,
        "summary mode=%s result=%s sectors=%llu mismatches=%llu writes_acked=%llu "
        "seconds=%.3f sectors_per_s=%.1f turn_p50_ms=%.3f turn_p99_ms=%.3f ack_p50_ms=%.3f "
        "ack_p99_ms=%.3f requests=%llu retries=%llu naks_sent=%llu corrupted_sent=%llu "
        "naks_received=%llu garbage_bytes=%llu stalls=%llu timeouts=%llu bad_frames=%llu "
        "stray_bytes=%llu hangup=%d%s%s",
        report.mode.c_str(), report.result.c_str(), (unsigned long long)report.sectors,
        (unsigned long long)report.mismatches, (unsigned long long)report.writes_done,
        report.seconds, report.seconds > 0 ? double(report.sectors) / report.seconds : 0.0,
        s.turnaround.PercentileMs(50), s.turnaround.PercentileMs(99), s.ack_wait.PercentileMs(50),
        s.ack_wait.PercentileMs(99), (unsigned long long)s.requests_sent,
        (unsigned long long)s.retries, (unsigned long long)s.naks_injected,
        (unsigned long long)s.corrupted_sent, (unsigned long long)s.naks_received,
        (unsigned long long)s.garbage_bytes_sent, (unsigned long long)s.stalls,
        (unsigned long long)s.timeouts, (unsigned long long)s.bad_frames,
        (unsigned long long)s.stray_bytes, s.hung_up ? 1 : 0,
        detail.empty() ? "" : " detail=", detail.c_str());
    return line;
}
