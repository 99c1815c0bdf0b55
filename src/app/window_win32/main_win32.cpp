// Start-up on Windows: the one main window, titled by its class "Quorvik", and the message loop.
#include "main_window_win32.h"

#include <exception>
#include <string>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
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
