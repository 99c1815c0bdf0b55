#include "win32_rig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

TWinStepper* running_stepper = nullptr;

} // namespace

std::string MakeImage(const std::string& name, int kilobytes) {
    const std::string path = HostTestDir() + "/" + name;
    const std::string k = std::to_string(kilobytes);
    if (!RunHost("rm -f " + path + " && mkfs.fat -C -F 12 -n E2E " + path + " " + k +
                 " >/dev/null && head -c " + std::to_string(kilobytes * 600) +
                 " /dev/urandom > " + path + ".data && mcopy -i " + path + " " + path +
                 ".data ::DATA.BIN"))
        ADD_FAILURE() << "cannot make " << path;
    return path;
}

void MapComPort(int n, const std::string& unix_path) {
    const std::string prefix = Env("WINEPREFIX");
    ASSERT_FALSE(prefix.empty()) << "WINEPREFIX must name the prefix (scripts/win-test)";
    // Wine makes the prefix's COM links from its registry whenever it starts, and points a
    // name without an entry at /dev/ttyS*: the entry first, then the link of the running wine.
    const std::string name = "COM" + std::to_string(n);
    HKEY ports = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Wine\\Ports", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &ports, nullptr),
              ERROR_SUCCESS);
    const LONG set = RegSetValueExA(ports, name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(unix_path.c_str()),
                                    static_cast<DWORD>(unix_path.size() + 1));
    RegCloseKey(ports);
    ASSERT_EQ(set, ERROR_SUCCESS);
    const std::string link = prefix + "/dosdevices/com" + std::to_string(n);
    ASSERT_TRUE(RunHost("ln -sfn " + unix_path + " " + link + " && test $(readlink " + link +
                        ") = " + unix_path));
}

void TypeKeys(const std::vector<int>& signed_keycodes) {
    const std::string program = Env("QUORVIK_XTEST_KEYS");
    ASSERT_FALSE(program.empty()) << "QUORVIK_XTEST_KEYS must name the XTest helper";
    std::string command = program;
    for (int code : signed_keycodes)
        command += code > 0 ? " +" + std::to_string(code) : " " + std::to_string(code);
    ASSERT_TRUE(RunHost(command)) << command;
}

namespace {

std::vector<std::string> TargetCommand(const std::vector<std::string>& args) {
    const std::string program = Env("QUORVIK_TARGET_PROGRAM");
    if (program.empty()) throw std::runtime_error("QUORVIK_TARGET_PROGRAM is not set");
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

} // namespace

TWinSimTarget::TWinSimTarget(const std::vector<std::string>& args) : process_(TargetCommand(args)) {
    // The first line names the pseudo-terminal.
    const std::string first = process_.FirstLine();
    const std::string key = "QUORVIK_COM1=";
    if (first.rfind(key, 0) != 0) throw std::runtime_error("unexpected first line: " + first);
    line_ = first.substr(key.size());
    if (line_.rfind("tcp://", 0) != 0) MapComPort(1, line_);
}

TWinStepper& TWinStepper::Then(std::string what, TCond cond, TAction action,
                               std::chrono::milliseconds timeout) {
    steps_.push_back(TStep{std::move(what), std::move(cond), std::move(action), timeout});
    return *this;
}

void CALLBACK TWinStepper::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (running_stepper) running_stepper->Poll();
}

void TWinStepper::Start(std::function<void()> on_end) {
    on_end_ = std::move(on_end);
    running_stepper = this;
    step_start_ = std::chrono::steady_clock::now();
    timer_ = SetTimer(nullptr, 0, 5, &TWinStepper::Tick);
}

// One step a tick at most, so that the window's own events run between steps.
void TWinStepper::Poll() {
    if (ended_ || polling_) return;
    polling_ = true;
    bool end = false;
    if (next_ < steps_.size()) {
        TStep& step = steps_[next_];
        if (step.cond()) {
            step.action();
            ++next_;
            step_start_ = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - step_start_ > step.timeout) {
            failures_.push_back("timed out waiting for " + step.what);
            end = true;
        }
    }
    if (next_ >= steps_.size()) end = true;
    if (end) {
        ended_ = true;
        KillTimer(nullptr, timer_);
        running_stepper = nullptr;
        on_end_();
    }
    polling_ = false;
}

std::vector<std::string> TWinStepper::RunConnected(TWin32Window& window) {
    Start([&window] {
        if (window.Form().MainCycleRunning()) window.Form().CloseComClick();
    });
    // The real button: its click runs Connect, which returns after Disconnect.
    SendMessageW(window.Control(ciConnect), BM_CLICK, 0, 0);
    if (!ended_) {
        KillTimer(nullptr, timer_);
        running_stepper = nullptr;
        failures_.push_back("the connection ended before the steps did");
    }
    return failures_;
}

std::vector<std::string> TWinStepper::Run(TWin32Window& window) {
    Start([] {});
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!ended_ && std::chrono::steady_clock::now() < deadline) {
        MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (window.FilterMessage(message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (!ended_) failures_.push_back("the steps did not end");
    return failures_;
}
