// Host (Unix) programs and files from a test program under wine.
#include "host_win32.h"

#include "test_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>

namespace {

int counter = 0;

} // namespace

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

bool HostFileExists(const std::string& unix_path) {
    return GetFileAttributesA(WinPath(unix_path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForFile(const std::string& unix_path, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!HostFileExists(unix_path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(10);
    }
    return true;
}

std::string Env(const char* name) {
    char value[4096];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string HostTestDir() {
    std::string dir = TestDir(); // Z:\...
    dir.erase(0, 2);
    for (char& c : dir) {
        if (c == '\\') c = '/';
    }
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
    const std::string done = HostTestDir() + "/done-" + std::to_string(++counter);
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
