// The command line of quorvik-target.
#pragma once

#include "batch.h"
#include "engine.h"

#include <string>

struct TOptions {
    enum class TRun {
        rnInteractive,
        rnReadAll,
        rnWriteRandom,
        rnWriteFrom,
        rnStatus,
        rnHelp
    } run = TRun::rnInteractive;
    std::string device; // empty: a pseudo-terminal of our own
    std::string listen; // HOST:PORT for raw TCP instead; empty: none
    int baud = 0;       // pacing of what the simulator sends; 0: none
    int latency_ms = 0; // what it sends held back as by a USB adapter's latency timer; 0: none
    TBatchOptions batch;
    TEngineTimes times;
    TFaultPlan faults;
    int time_limit_s = 0;      // 0: the default of the mode (600 s for a batch, none interactive)
    bool print_events = false; // interactive: one line per event on stdout
    std::string record_path;   // every byte sent to the console, also into this file
};

extern const char* const kUsage;

// False with a message for the user on a bad command line.
bool ParseOptions(int argc, const char* const* argv, TOptions& out, std::string& error);
