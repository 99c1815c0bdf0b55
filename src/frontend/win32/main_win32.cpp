// Start-up on Windows: the one main window, titled by its class "Quorvik", and the message loop.
#include "command_line.h"
#include "main_window_win32.h"

#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Arguments() {
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

// A program of the window subsystem has standard handles only where its starter gave it some
// (a redirection, or wine's Unix terminal); started from a console window, it writes to that
// console. False when there is neither.
bool WriteStd(DWORD which, const std::string& text) {
    HANDLE out = GetStdHandle(which);
    if (!out || out == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
        if (out == INVALID_HANDLE_VALUE) return false;
    }
    DWORD written = 0;
    return WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
    const TStartup startup = ParseCommandLine(Arguments(), true);
    if (startup.action != saRun) {
        // Double-clicked through a shortcut with --help: no console to print to.
        if (!WriteStd(STD_OUTPUT_HANDLE, startup.output))
            MessageBoxA(nullptr, startup.output.c_str(), "Quorvik", MB_OK);
        return 0;
    }
    if (!startup.warning.empty()) WriteStd(STD_ERROR_HANDLE, startup.warning);
    try {
        TWin32Window window(instance);
        window.Show(show_command);
        window.Run();
    } catch (const std::exception& e) {
        // An error escaping start-up: shown, then the program ends with exit code 0.
        MessageBoxA(nullptr, e.what(), "Quorvik", MB_OK | MB_ICONERROR);
    }
    return 0;
}
