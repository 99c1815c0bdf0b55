#include "tmux_rig.h"

#include "child_process.h"
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace {
constexpr const char* kTmux = "/usr/bin/tmux";
}

bool TmuxInstalled() { return access(kTmux, X_OK) == 0; }

TTmux::TTmux(int columns, int rows, const std::string& command) {
    // A socket's path is limited to 107 bytes, which the test's own folder (named after the
    // test) may pass: the server's socket gets a short folder of its own, removed with it.
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/qtmux.XXXXXX";
    if (!mkdtemp(folder.data())) throw std::runtime_error("cannot make a folder for tmux");
    folder_ = folder;
    socket_ = folder_ + "/s";
    Run({"-f", "/dev/null", "new-session", "-d", "-x", std::to_string(columns), "-y",
         std::to_string(rows), command});
    // A window keeps the size it was made with, whatever clients attach later.
    Run({"set-option", "-g", "window-size", "manual"});
}

TTmux::~TTmux() {
    try {
        Run({"kill-server"});
    } catch (const std::exception&) {
    }
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

std::string TTmux::Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kTmux, "-S", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    TChildProcess tmux(argv);
    tmux.WaitForOutput([](const std::string&) { return false; }, std::chrono::seconds(10));
    if (!tmux.Exited() || tmux.ExitCode() != 0)
        throw std::runtime_error("tmux " + args[0] + " failed: " + tmux.Output());
    return tmux.Output();
}

std::string TTmux::Capture() { return Run({"capture-pane", "-p"}); }

bool TTmux::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (Capture().find(text) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        poll(nullptr, 0, 50); // the pane's text can only be asked for, not waited on
    }
}

void TTmux::SendKeys(const std::vector<std::string>& keys) {
    std::vector<std::string> args = {"send-keys"};
    args.insert(args.end(), keys.begin(), keys.end());
    Run(args);
}

std::string TTmux::Format(const std::string& format) {
    std::string out = Run({"display-message", "-p", format});
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

int TTmux::ChildPid() {
    const std::string shell = Format("#{pane_pid}");
    std::ifstream children("/proc/" + shell + "/task/" + shell + "/children");
    int pid = -1;
    children >> pid;
    return pid;
}

void TTmux::Resize(int columns, int rows) {
    Run({"resize-window", "-x", std::to_string(columns), "-y", std::to_string(rows)});
}
