#include "win32_rig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

// Starts a host command without waiting for it. Wine runs a Unix program named in a command
// line as it is; its exit code does not come back, so callers leave a file behind instead.
bool SpawnHost(const std::string& shell_command) {
    std::string line = "/bin/sh -c \"" + shell_command + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start " << shell_command << " (Error: " << GetLastError() << ")";
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool FileExists(const std::string& unix_path) {
    return GetFileAttributesA(WinPath(unix_path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits for a file to appear, sleeping between looks (this runs outside any message loop).
bool WaitForFile(const std::string& unix_path, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!FileExists(unix_path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(10);
    }
    return true;
}

int counter = 0;

TWinStepper* running_stepper = nullptr;

} // namespace

std::string Env(const char* name) {
    char value[4096];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string HostTempDir() {
    static const std::string dir = [] {
        // Under the rig's own temporary folder where given; wine reuses process ids, so the
        // name also carries the time.
        const std::string base = Env("QUORVIK_WIN_TMP").empty() ? "/tmp" : Env("QUORVIK_WIN_TMP");
        const std::string d = base + "/quorvik-win-" + std::to_string(GetCurrentProcessId()) +
                              "-" + std::to_string(GetTickCount64());
        CreateDirectoryA(WinPath(d).c_str(), nullptr);
        return d;
    }();
    return dir;
}

std::string WinPath(const std::string& unix_path) {
    std::string out = "Z:" + unix_path;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

bool RunHost(const std::string& shell_command, std::chrono::milliseconds timeout) {
    const std::string done = HostTempDir() + "/done-" + std::to_string(++counter);
    if (!SpawnHost(shell_command + "; echo $? > " + done)) return false;
    if (!WaitForFile(done, timeout)) {
        ADD_FAILURE() << "host command did not end in time: " << shell_command;
        return false;
    }
    Sleep(20); // the status is written after the file is made
    return FileBytes(done).rfind("0", 0) == 0;
}

std::string FileBytes(const std::string& unix_path) {
    std::ifstream f(WinPath(unix_path), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string MakeImage(const std::string& name, int kilobytes) {
    const std::string path = HostTempDir() + "/" + name;
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

TWinSimTarget::TWinSimTarget(const std::vector<std::string>& args) {
    const std::string program = Env("QUORVIK_TARGET_PROGRAM");
    if (program.empty()) throw std::runtime_error("QUORVIK_TARGET_PROGRAM is not set");
    base_ = HostTempDir() + "/target-" + std::to_string(++counter);
    std::string command = program;
    for (const std::string& a : args) command += " " + a;
    SpawnHost(command + " > " + base_ + ".out 2>&1 & echo $! > " + base_ + ".pid; wait $!; echo $? > " +
              base_ + ".rc");
    // The first line names the pseudo-terminal.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Output().find('\n') == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || Exited())
            throw std::runtime_error("quorvik-target printed no line: " + output_);
        Sleep(10);
    }
    const std::string first = output_.substr(0, output_.find('\n'));
    const std::string key = "QUORVIK_COM1=";
    if (first.rfind(key, 0) != 0) throw std::runtime_error("unexpected first line: " + first);
    MapComPort(1, first.substr(key.size()));
}

TWinSimTarget::~TWinSimTarget() {
    if (!Exited()) {
        RunHost("kill $(cat " + base_ + ".pid)");
        WaitForFile(base_ + ".rc", 5s);
    }
}

bool TWinSimTarget::Exited() {
    if (exit_code_ >= 0) return true;
    const std::string rc = FileBytes(base_ + ".rc");
    if (rc.empty() || rc.back() != '\n') return false;
    exit_code_ = std::stoi(rc);
    Output();
    return true;
}

int TWinSimTarget::ExitCode() {
    Exited();
    return exit_code_;
}

const std::string& TWinSimTarget::Output() {
    output_ = FileBytes(base_ + ".out");
    return output_;
}

std::map<std::string, std::string> TWinSimTarget::Summary() {
    std::map<std::string, std::string> fields;
    const std::string& out = Output();
    const size_t at = out.find("summary ");
    if (at == std::string::npos) return fields;
    std::istringstream line(out.substr(at, out.find('\n', at) - at));
    std::string kv;
    while (line >> kv) {
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) fields[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return fields;
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
