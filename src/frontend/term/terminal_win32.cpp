// Windows: no terminal front end (ncurses is not in Debian's mingw-w64), so quorvik-term.exe
// runs scripts only. Files by their wide names, error texts from the system.
#include "terminal.h"

#include "wide_path_win32.h"

#include <io.h>
#include <shellapi.h>

#include <cstdio>

std::unique_ptr<TTerminal> MakeTerminal() { return nullptr; }
int TerminalInputFd() { return -1; }

const bool kWindowsPlatform = true;

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8); // the screen's text is UTF-8
}

std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> out;
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return out;
    for (int i = 1; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, args[i], -1, nullptr, 0, nullptr, nullptr);
        std::string a(static_cast<size_t>(n > 0 ? n : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, args[i], -1, a.data(), n, nullptr, nullptr);
        a.resize(a.size() - 1);
        out.push_back(a);
    }
    LocalFree(args);
    return out;
}

bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason) {
    std::wstring wide;
    if (!WidePath(path.c_str(), &wide)) {
        *reason = "the name is not UTF-8";
        return false;
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *reason = SystemMessageUtf8(GetLastError());
        return false;
    }
    bytes->clear();
    char buffer[65536];
    DWORD n = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &n, nullptr) != 0) && n > 0)
        bytes->append(buffer, n);
    if (!ok) *reason = SystemMessageUtf8(GetLastError());
    CloseHandle(file);
    return ok;
}

std::string SystemErrorText(int error) { return SystemMessageUtf8(static_cast<DWORD>(error)); }
