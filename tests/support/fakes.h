// A scripted serial port and a scripted window system for testing the core without a window.
#pragma once

#include "link.h"
#include "main_cycle.h"
#include "screen.h"
#include "test_dir.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

std::vector<uint8_t> Bytes(const std::string& s);
// "1B 44 75" -> bytes
std::vector<uint8_t> Hex(const std::string& hex);
std::string ToHex(const std::vector<uint8_t>& bytes);
// A file's bytes ("" when it cannot be read). Tests write theirs in TestDir() (test_dir.h).
std::string ReadFileText(const std::string& path);
// The bytes of the keys an interactive simulator reported ("key 1B 5B 41 Up" lines of its
// --print-events), in order.
std::string KeysReported(const std::string& output);

class TFakePort : public TPortIO {
  public:
    bool open = true;
    std::deque<uint8_t> incoming;  // bytes waiting in the driver
    std::vector<uint8_t> written;  // everything written, in order
    std::function<void(const uint8_t*, size_t)> on_write; // a scripted peer may answer here

    int InQueCount() override;
    int Read(char* buffer, unsigned long count) override;
    int Write(const char* buffer, unsigned long count) override;
};

// Each round of the window system (ProcessPendingEvents or WaitForEvents) runs the next
// scripted step; once the script is exhausted, `idle` runs (TCoreRig's default: request a stop
// once everything delivered has been taken, so that a test can never hang in the main cycle).
class TScriptedHost : public TConsoleHost {
  public:
    std::deque<std::function<void()>> steps;
    std::function<void()> idle;
    std::vector<std::string> statuses;
    int rounds = 0;
    int waits = 0; // rounds that would have blocked for the next event

    void ProcessPendingEvents() override { Round(); }
    void WaitForEvents() override {
        ++waits;
        Round();
    }
    void ShowStatus(const char* text) override { statuses.emplace_back(text); }

  private:
    void Round();
};

class TScriptedDisk : public TDiskService {
  public:
    bool attached = false;
    std::function<void()> on_request;
    int requests = 0;
    bool ImageAttached() const override { return attached; }
    void DiskRequest() override {
        ++requests;
        if (on_request) on_request();
    }
};

// A link with a fake port and a scripted host, and helpers to script it.
struct TCoreRig {
    TFakePort port;
    TScriptedHost host;
    TLink link{port, host};
    TScreen screen;
    TScriptedDisk disk;

    TCoreRig();
    // The port's received-data event: bytes arrive in the driver and are handed over.
    void Deliver(const std::vector<uint8_t>& bytes);
    void Step(std::function<void()> step) { host.steps.push_back(std::move(step)); }
    void StepDeliver(const std::vector<uint8_t>& bytes) {
        Step([this, bytes] { Deliver(bytes); });
    }
    void StepTick(int ticks = 1) {
        Step([this, ticks] {
            for (int i = 0; i < ticks; ++i) link.CountDownTimeout();
        });
    }
    void Run() { Maincycle(screen, link, disk); }
};
