// The simulator's interactive mode, the demo: a status screen drawn on the console, each key
// the console sends shown as hex and by name, and a small command line typed on the console's
// keyboard that works on the served floppy through disk requests.
//
// Runs on the calling thread until the line hangs up, *stop becomes non-zero or the engine's
// deadline passes (checked at least every half second). The keyboard is held back (ESC 'S') during
// each disk command and released (ESC 'Q') after it.
#pragma once

#include "engine.h"
#include "fat12.h"
#include "keys.h"
#include "screen_out.h"

#include <csignal>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

struct TInteractiveOptions {
    std::string line_name; // shown in the title bar
    const volatile std::sig_atomic_t* stop = nullptr;
    int connect_probe_limit_ms = 500; // one round of waiting for the console
    // Where to report events, one line each, flushed (for scripts and tests), or null:
    //   connected image=1|0   key <hex> <name>   reboot   refresh   command <line>
    // Each is reported after the screen's reaction to it has been written to the line.
    std::FILE* events = nullptr;
};

class TInteractiveSession {
  public:
    TInteractiveSession(TTargetEngine& engine, TInteractiveOptions options);

    // Waits for the console, draws the screen and serves keys until hang-up or stop.
    void Run();

    // Pieces of Run, for tests: the start (status query, full screen), one received byte, a
    // pause with no bytes, and a whole command line as if typed and ended with Enter.
    void Start(TStatusAnswer answer);
    void OnByte(uint8_t b);
    void OnSilence();
    void RunCommand(const std::string& command);

    // Lines currently in the output box, oldest first (for tests).
    std::vector<std::string> OutputLines() const;
    std::string LastKey() const { return last_key_; }
    int Reboots() const { return reboots_; }
    int Refreshes() const { return refreshes_; }

    static constexpr int kOutputTop = 8;    // first row inside the output box
    static constexpr int kOutputRows = 13;  // rows inside the output box
    static constexpr int kOutputWidth = 76; // columns inside, less a blank at each side
    static constexpr int kCommandRow = 22;
    static constexpr size_t kMaxInput = 60;
    static constexpr size_t kMaxTypeBytes = 64 * 1024;

  private:
    struct TOutLine {
        std::string text;
        uint8_t attr;
    };

    void Flush();
    void DrawAll();
    void DrawStatus();
    void DrawOutput();
    void DrawInput();
    void SetActivity(const std::string& text, uint8_t attr = 0x07);
    void Say(const std::string& text, uint8_t attr = 0x07);
    void SayMany(std::vector<TOutLine> lines);
    void ShowPage();
    void HandleKey(const TKeyEvent& key);
    void ReactToKey(const TKeyEvent& key);
    void Dispatch(const std::string& command);
    void Event(const std::string& line);

    bool BeginDisk();
    void EndDisk();
    bool EnsureGeometry();
    std::string Failure(const TXferResult& r) const;
    void CmdBoot();
    void CmdDir();
    void CmdType(const std::string& name);
    void CmdDump(const std::string& args);
    void CmdVerify();
    void CmdHelp();
    bool LoadRootAndFat(std::vector<TDirEntry>& entries, std::vector<uint8_t>* fat);

    TTargetEngine& engine_;
    TInteractiveOptions options_;
    TScreenOut out_;
    TKeyDecoder decoder_;
    std::string input_;
    std::deque<TOutLine> output_;
    std::deque<TOutLine> pending_; // lines waiting for the next page
    std::string activity_;
    uint8_t activity_attr_ = 0x07;
    std::string last_key_ = "(none yet)";
    TStatusAnswer image_ = TStatusAnswer::saNone;
    std::optional<TBootInfo> geo_;
    uint64_t keys_ = 0;
    int reboots_ = 0;
    int refreshes_ = 0;
};
