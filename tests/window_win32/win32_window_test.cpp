// What only the Win32 window is tested for under wine: the system's file dialog, the message
// loop's end and its resources. The scenarios both windows are held to, the whole program
// against the simulated target among them, are the window suite's (tests/window_suite).
#include "win32_driver.h"

#include "command_line.h"
#include "win32_resources.h"

#include <dlgs.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Win32Window : public testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(driver.TakeBoxes(), std::vector<std::string>{}); }

    TWin32Driver driver;
    TWin32Window* window = &driver.Window();
};

struct TDialogAnswer {
    std::wstring path;
    std::string title, filter;
    HWND dialog = nullptr;
    bool seen = false;
    bool cancelled = false;
    int ticks = 0;
};
TDialogAnswer* dialog_answer = nullptr;

BOOL CALLBACK CloseOtherBox(HWND window, LPARAM dialog) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (window != reinterpret_cast<HWND>(dialog) && IsWindowVisible(window) &&
        std::string(name) == "#32770")
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK AnswerDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    TDialogAnswer& a = *dialog_answer;
    ++a.ticks;
    if (a.seen) {
        if (!IsWindow(a.dialog)) {
            KillTimer(nullptr, timer);
        } else if (a.ticks > 300) {
            a.cancelled = true;
            EnumThreadWindows(GetCurrentThreadId(), &CloseOtherBox,
                              reinterpret_cast<LPARAM>(a.dialog));
            PostMessageW(a.dialog, WM_COMMAND, IDCANCEL, 0);
        }
        return;
    }
    HWND dialog = FindWindowW(nullptr, L"Floppy Images");
    if (!dialog || !IsWindowVisible(dialog)) {
        if (a.ticks > 3000) KillTimer(nullptr, timer); // 30 s: no dialog came
        return;
    }
    a.seen = true;
    a.dialog = dialog;
    a.ticks = 0;
    a.title = TextOf(dialog);
    a.filter = TextOf(GetDlgItem(dialog, cmb1));
    // The name box is an edit or a combo box, depending on the dialog's version.
    SetDlgItemTextW(dialog, edt1, a.path.c_str());
    SetDlgItemTextW(dialog, cmb13, a.path.c_str());
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

TEST_F(Win32Window, TheFloppyDialogTakesAnImageWhateverItsNameAndGivesItAsUtf8) {
    // "Bild-ä.img": a name outside ASCII, made from this side as Windows spells it.
    const std::string utf8_name = "Bild-\xC3\xA4.img";
    TDialogAnswer answer;
    answer.path = std::wstring(L"Z:") + [] {
        std::wstring w;
        for (char c : HostTestDir()) w.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
        return w;
    }() + L"\\Bild-\u00E4.img";
    HANDLE file = CreateFileW(answer.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    window->file_dialog_hook = nullptr; // the real dialog
    dialog_answer = &answer;
    SetTimer(nullptr, 0, 10, &AnswerDialog);
    driver.Click(ciEnaFloppy);
    dialog_answer = nullptr;

    ASSERT_TRUE(answer.seen);
    EXPECT_FALSE(answer.cancelled) << "the dialog did not take the name";
    EXPECT_EQ(answer.title, "Floppy Images");
    EXPECT_EQ(answer.filter, "*.img;*.ima");
    EXPECT_EQ(window->Form().OpenDialogFileName(), WinPath(HostTestDir()) + "\\" + utf8_name);
    EXPECT_EQ(SendMessageW(window->Control(ciEnaFloppy), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(driver.WindowCaption(), "Quorvik V1.00 for Windows ... ImageFile: " + utf8_name);
}

bool loop_ended_late = false;
void CALLBACK EndLateLoop(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    loop_ended_late = true;
    PostQuitMessage(0);
}

// The Disconnect is the window suite's; here the program's message loop ends at once after it
// (bounded here: a late end is a failure).
TEST_F(Win32Window, ClosedWhileConnectedTheMessageLoopEndsAtOnce) {
    TSimTarget target({"--print-events", "--time-limit", "60"});
    TWinStepper steps;
    steps.Then("connected", [&] { return target.Printed("connected image=0"); },
               [&] { SendMessageW(window->Handle(), WM_CLOSE, 0, 0); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    ASSERT_TRUE(window->Closed());
    loop_ended_late = false;
    const UINT_PTR guard = SetTimer(nullptr, 0, 5000, &EndLateLoop);
    window->Run();
    KillTimer(nullptr, guard);
    EXPECT_FALSE(loop_ended_late);
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // none left for the next test
}

TEST(Win32Resources, TheClassIsNamedTheIconComesInEverySizeAndTheVersionIsTheProgramsOwn) {
    HINSTANCE self = GetModuleHandleW(nullptr);
    for (int size : {16, 32, 48, 256}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(self, MAKEINTRESOURCEW(QUORVIK_ICON), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    TWin32Window window(self);
    EXPECT_NE(GetClassLongPtrW(window.Handle(), GCLP_HICON), 0);
    char class_name[64] = {};
    GetClassNameA(window.Handle(), class_name, sizeof class_name);
    EXPECT_STREQ(class_name, "Quorvik");

    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    std::vector<char> data(GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()));
    auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
            return std::string();
        char out[256] = {};
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
        return std::string(out);
    };
    EXPECT_EQ(value(L"ProductName"), "Quorvik");
    EXPECT_EQ(value(L"FileVersion"), kProgramVersion);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const std::string numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numbers, kProgramVersion);
}

} // namespace
