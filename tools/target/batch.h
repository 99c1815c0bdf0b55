// The batch runs of the simulator, for tests and measurements. Each ends with one summary line
// of key=value fields and an exit code:
//   0  the run completed and everything compared equal (or the planned hang-up came first)
//   1  data differ (read-all against the expected copy, write-random read-back against the
//      model, write-from read-back against its image, or a model or image that did not match
//      the console's image at the start)
//   2  the run could not complete (no console, no image, bad geometry, a request that failed
//      for good, the time limit, a file that could not be read or written)
#pragma once

#include "engine.h"

#include <cstdint>
#include <string>

struct TBatchOptions {
    enum class TMode { bmReadAll, bmWriteRandom, bmWriteFrom } mode = TMode::bmReadAll;
    std::string expect_path; // read-all: the copy of the image to compare with
    int writes = 0;          // write-random: number of writes
    uint32_t seed = 1;       // write-random: places, lengths and contents of the writes
    std::string model_path;  // write-random: what the console acknowledged, kept up to date
    std::string from_path;   // write-from: the image the served one is to become
    bool readback = true;    // write-random, write-from: read the whole image back and compare
    bool off_disk = false;   // write-random: first send requests off the disk, expecting 04
    bool wait_connect = false;
    int connect_limit_ms = 60'000;
};

struct TBatchReport {
    std::string mode;
    std::string result = "ok"; // ok, mismatch, model-differs, no-console, no-image,
                               // bad-geometry, disk-error, gave-up, hangup, time-limit, file-error,
                               // off-disk-accepted
    std::string detail;        // one phrase for a person, without spaces replaced
    uint64_t sectors = 0;      // sectors read (read-all) or written and acknowledged
    uint64_t mismatches = 0;   // sectors that differ
    uint64_t writes_done = 0;  // write-random: writes the console acknowledged
    double seconds = 0;        // the transfer phase, from after the boot sector on
    int ExitCode() const;
};

// The status query alone: result "image" or "no-image" (both exit 0), "no-console" (exit 2).
TBatchReport RunStatus(TTargetEngine& engine, const TBatchOptions& options);
TBatchReport RunReadAll(TTargetEngine& engine, const TBatchOptions& options);
TBatchReport RunWriteRandom(TTargetEngine& engine, const TBatchOptions& options);
// Reads the whole served image, then writes the sectors in which it differs from
// `from_path` (a run of them in a track at a time): sectors counts those written.
TBatchReport RunWriteFrom(TTargetEngine& engine, const TBatchOptions& options);

// "summary mode=read-all result=ok sectors=2880 ... hangup=0"
std::string FormatSummary(const TBatchReport& report, const TEngineStats& stats);
