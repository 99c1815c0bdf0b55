// The Win32 window under wine: its controls, its drawing, Connect and Disconnect, and the whole
// program against the simulated target (the image read and written, the screen, keys typed
// through XTest that reach the target through wine's key messages and the window's key filter).
#include "win32_rig.h"

#include "command_line.h"
#include "fakes.h"
#include "win32_resources.h"
#include "palette.h"

#include <commctrl.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

uint32_t Rgb(TRgb c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }

std::string Utf8Of(const wchar_t* text) {
    char out[512] = {};
    if (text) WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return out;
}

std::string Text(HWND control) {
    wchar_t text[256] = {};
    GetWindowTextW(control, text, 256);
    return Utf8Of(text);
}

std::string ClassOf(HWND control) {
    char name[64] = {};
    GetClassNameA(control, name, sizeof name);
    return name;
}

TRect PlaceIn(HWND control, HWND parent) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return TRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The window's own pixel, as it shows it (0xRRGGBB).
uint32_t WindowPixel(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

void Click(HWND control) { SendMessageW(control, BM_CLICK, 0, 0); }

// Processor time of this process (all threads), in seconds.
double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}
bool Enabled(HWND control) { return IsWindowEnabled(control) != FALSE; }

class Win32Window : public testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<TWin32Window>(GetModuleHandleW(nullptr));
        window->message_box_hook = [this](const std::string& text) { boxes.push_back(text); };
        window->Show(SW_SHOWNORMAL);
    }
    void TearDown() override {
        window.reset();
        EXPECT_EQ(boxes, expected_boxes);
    }
    void AttachImage(const std::string& unix_path) {
        window->file_dialog_hook = [unix_path] { return WinPath(unix_path); };
        Click(window->Control(ciEnaFloppy));
        ASSERT_TRUE(window->Form().OpenDialogFileName() == WinPath(unix_path));
    }
    std::vector<std::string> ServeUntilExit(TWinSimTarget& target,
                                            std::chrono::milliseconds limit = 120s) {
        TWinStepper steps;
        steps.Then("the simulator to finish", [&] { return target.Exited(); },
                   [&] { Click(window->Control(ciDisconnect)); }, limit);
        return steps.RunConnected(*window);
    }
    bool Idle() {
        return Enabled(window->Control(ciConnect)) && !Enabled(window->Control(ciDisconnect)) &&
               Enabled(window->Control(ciEnaFloppy)) && Enabled(window->RadioItem(0)) &&
               Enabled(window->RadioItem(1));
    }
    bool ConnectedState() {
        return !Enabled(window->Control(ciConnect)) && Enabled(window->Control(ciDisconnect)) &&
               !Enabled(window->Control(ciEnaFloppy)) && !Enabled(window->RadioItem(0)) &&
               !Enabled(window->RadioItem(1)) && !Enabled(window->Control(ciCOMGroup));
    }

    std::unique_ptr<TWin32Window> window;
    std::vector<std::string> boxes, expected_boxes;
};

TEST_F(Win32Window, ThePanelsControlsStandAtTheirPlacesWithTheirCaptionsAndHints) {
    char class_name[64] = {};
    GetClassNameA(window->Handle(), class_name, sizeof class_name);
    EXPECT_STREQ(class_name, "Quorvik");
    EXPECT_EQ(Text(window->Handle()), "Quorvik V1.00 for Windows");
    // Every place is the panel's at 96 DPI, scaled to the window's DPI.
    auto scaled = [&](int pixels) { return MulDiv(pixels, window->Dpi(), 96); };
    const int width = window->Form().CellWidth() * window->Form().Zoom() * 80;
    EXPECT_EQ(PlaceIn(window->Panel(), window->Handle()), (TRect{0, 0, width, scaled(41)}));

    int hints = 0;
    for (const TControlDesc& desc : kPanelControls) {
        if (desc.kind == ckBar) continue;
        HWND control = window->Control(desc.id);
        ASSERT_NE(control, nullptr) << desc.name;
        EXPECT_EQ(GetParent(control), window->Panel()) << desc.name;
        EXPECT_EQ(ClassOf(control), desc.kind == ckLabel ? "Static" : "Button") << desc.name;
        EXPECT_EQ(IsWindowVisible(control) != FALSE, desc.visible) << desc.name;
        EXPECT_EQ(Enabled(control), desc.enabled) << desc.name;
        const TRect place = PlaceIn(control, window->Panel());
        if (desc.kind == ckLabel) {
            if (!desc.align_right) {
                EXPECT_EQ(place.left, scaled(desc.left)) << desc.name;
            }
            EXPECT_EQ(place.top, scaled(desc.top)) << desc.name;
        } else {
            EXPECT_EQ(place, (TRect{scaled(desc.left), scaled(desc.top), scaled(desc.width),
                                    scaled(desc.height)}))
                << desc.name;
            if (desc.kind != ckRadioGroup) {
                EXPECT_EQ(Text(control), desc.caption) << desc.name;
            }
        }
        if (desc.hint[0] != '\0') ++hints;
    }
    // The status label keeps against the panel's right edge.
    const TRect status = PlaceIn(window->Control(ciLabel2), window->Panel());
    EXPECT_EQ(status.left + status.width, width - scaled(2));
    EXPECT_EQ(Text(window->Control(ciLabel2)), "0");

    // The radio items inside their box, "COM1" chosen.
    const TRect box = PlaceIn(window->Control(ciCOMGroup), window->Panel());
    for (int i = 0; i < 2; ++i) {
        const TRect item = PlaceIn(window->RadioItem(i), window->Panel());
        EXPECT_EQ(Text(window->RadioItem(i)), i == 0 ? "COM1" : "COM2");
        EXPECT_GE(item.left, box.left);
        EXPECT_LE(item.left + item.width, box.left + box.width);
        EXPECT_GE(item.top, box.top);
        EXPECT_LE(item.top + item.height, box.top + box.height);
        EXPECT_EQ(SendMessageW(window->RadioItem(i), BM_GETCHECK, 0, 0),
                  i == 0 ? BST_CHECKED : BST_UNCHECKED);
    }

    // One tooltip a hint, with its text, and one for each COM item: what it opens.
    ASSERT_NE(window->Tooltips(), nullptr);
    EXPECT_EQ(SendMessageW(window->Tooltips(), TTM_GETTOOLCOUNT, 0, 0), hints + 2);
    wchar_t hint[128] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window->Panel();
    tool.uId = reinterpret_cast<UINT_PTR>(window->Control(ciConnect));
    tool.lpszText = hint;
    SendMessageW(window->Tooltips(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(hint, L"Open COM port");
    tool.uId = reinterpret_cast<UINT_PTR>(window->RadioItem(1));
    SendMessageW(window->Tooltips(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(std::wstring(hint).rfind(L"COM2 is ", 0), 0u);
}

TEST_F(Win32Window, CellsAreDrawnAtTheirPlacesInTheirColoursUnscaledAndStretched) {
    const int cw = window->Form().CellWidth();
    const int ch = window->Form().CellHeight();
    const std::wstring face = window->ConsoleFontFace();
    if (face == L"Px IBM VGA9") {
        // Wine has no "Terminal": the embedded VGA font, at the cell size of the Linux build.
        EXPECT_EQ(cw, 9);
        EXPECT_EQ(ch, 16);
    } else {
        EXPECT_EQ(face, L"Terminal");
    }
    // At the console's zoom (1 at 96 DPI), below the panel.
    const int z = window->Form().Zoom();
    const int panel = MulDiv(41, window->Dpi(), 96);
    RECT client{};
    GetClientRect(window->Handle(), &client);
    EXPECT_EQ(client.right, 80 * cw * z);
    EXPECT_EQ(client.bottom, 25 * ch * z + panel);

    TScreen& screen = window->Form().Screen();
    screen.CharOut(0xF1, 3, 2, 0xDB); // a full block, dark blue on white
    screen.CharOut(0x8F, 4, 2, ' ');  // a blank, white on dark grey
    screen.CharOut(0x4E, 79, 24, 0xDB); // the last cell: yellow block on dark red
    window->Form().ScreenRefresh();

    auto cell_is = [&](int row, int column, uint32_t colour) {
        int wrong = 0;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                wrong += window->ImagePixel(column * cw + x, row * ch + y) != colour;
        return wrong;
    };
    EXPECT_EQ(cell_is(2, 3, Rgb(kColourTable[1])), 0);
    EXPECT_EQ(cell_is(2, 4, Rgb(kColourTable[8])), 0);
    EXPECT_EQ(cell_is(24, 79, Rgb(kColourTable[14])), 0);
    EXPECT_EQ(cell_is(2, 2, 0), 0); // neighbours keep the cleared screen's black
    EXPECT_EQ(cell_is(2, 5, 0), 0);
    EXPECT_EQ(cell_is(1, 3, 0), 0);

    // Copied below the panel, each image pixel a square of z x z.
    auto at = [&](int x, int y) { return WindowPixel(window->Handle(), x * z, panel + y * z); };
    EXPECT_EQ(at(3 * cw, 2 * ch), Rgb(kColourTable[1]));
    EXPECT_EQ(WindowPixel(window->Handle(), 5 * cw * z - 1, panel + 3 * ch * z - 1),
              Rgb(kColourTable[8]));
    EXPECT_EQ(WindowPixel(window->Handle(), 80 * cw * z - 1, panel + 25 * ch * z - 1),
              Rgb(kColourTable[14]));

    // Larger (as far as the screen allows): stretched over the area below the panel.
    RECT frame{0, 0, 80 * cw * z * 5 / 4, 25 * ch * z * 5 / 4 + panel};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window->Handle(), GWL_STYLE)),
                       FALSE, 0);
    SetWindowPos(window->Handle(), nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(window->Form().StretchMode());
    window->Form().ScreenRefresh();
    GetClientRect(window->Handle(), &client);
    // The middle of a cell, scaled.
    auto shown = [&](int row, int column) {
        const int x = (column * cw + cw / 2) * client.right / (80 * cw);
        const int y = panel + (row * ch + ch / 2) * (client.bottom - panel) / (25 * ch);
        return WindowPixel(window->Handle(), x, y);
    };
    EXPECT_EQ(shown(2, 3), Rgb(kColourTable[1]));
    EXPECT_EQ(shown(2, 4), Rgb(kColourTable[8]));
    EXPECT_EQ(shown(24, 79), Rgb(kColourTable[14]));
    EXPECT_EQ(shown(2, 5), 0u);
    EXPECT_EQ(shown(3, 3), 0u);
}

TEST_F(Win32Window, ConnectRefusesAPortThatIsNoSerialDeviceAndSwitchesThePanelOnATarget) {
    const std::string not_a_port = HostTestDir() + "/not-a-port";
    ASSERT_TRUE(RunHost("touch " + not_a_port));
    MapComPort(2, not_a_port);
    Click(window->RadioItem(1));
    Click(window->Control(ciConnect)); // returns at once: the port did not open
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, boxes[0].find('\n')), "Error Opening COM") << boxes[0];
    expected_boxes = boxes;
    EXPECT_TRUE(Idle());

    Click(window->RadioItem(0));
    TWinSimTarget target({"--status", "--wait-connect", "--time-limit", "60"});
    TWinStepper steps;
    bool connected = false;
    double cpu_before = 0, cpu_used = 0;
    auto start = std::chrono::steady_clock::now();
    steps.Then("connected", [] { return true; }, [&] { connected = ConnectedState(); })
        .Then("the simulator to finish", [&] { return target.Exited(); },
              [&] {
                  cpu_before = CpuSeconds();
                  start = std::chrono::steady_clock::now();
              }, 60s)
        .Then("a second connected to a quiet line",
              [&] { return std::chrono::steady_clock::now() - start >= 1s; },
              [&] {
                  cpu_used = CpuSeconds() - cpu_before;
                  Click(window->Control(ciDisconnect));
              });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    // Waiting for events never spins (the steps' own 5 ms polling is included).
    EXPECT_LT(cpu_used, 0.3) << cpu_used << " s of processor in a second";
    std::printf("[ figures  ] %.3f s of processor in a second connected to a quiet line\n",
                cpu_used);
    EXPECT_TRUE(connected);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(window->Form().Port().Enabled());
    EXPECT_EQ(target.Summary()["result"], "no-image") << target.ExitCode() << target.Output();
}

// The system's file dialog, answered from a thread timer that runs inside its modal loop. A
// dialog that does not take the answer (it shows a box of its own) is cancelled after 3 s, so
// that the test fails instead of waiting for a user.
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
    a.title = Text(dialog);
    a.filter = Text(GetDlgItem(dialog, cmb1));
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
    Click(window->Control(ciEnaFloppy));
    dialog_answer = nullptr;

    ASSERT_TRUE(answer.seen);
    EXPECT_FALSE(answer.cancelled) << "the dialog did not take the name";
    EXPECT_EQ(answer.title, "Floppy Images");
    EXPECT_EQ(answer.filter, "*.img;*.ima");
    EXPECT_EQ(window->Form().OpenDialogFileName(), WinPath(HostTestDir()) + "\\" + utf8_name);
    EXPECT_EQ(SendMessageW(window->Control(ciEnaFloppy), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(Text(window->Handle()), "Quorvik V1.00 for Windows ... ImageFile: " + utf8_name);
}

bool loop_ended_late = false;
void CALLBACK EndLateLoop(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    loop_ended_late = true;
    PostQuitMessage(0);
}

TEST_F(Win32Window, ClosingTheWindowWhileConnectedDisconnectsAndEndsTheMessageLoop) {
    TWinSimTarget target({"--print-events", "--time-limit", "60"});
    TWinStepper steps;
    steps.Then("connected", [&] { return target.Printed("connected image=0"); },
               [&] { SendMessageW(window->Handle(), WM_CLOSE, 0, 0); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_TRUE(window->Closed());
    EXPECT_FALSE(window->Form().Port().Enabled());
    EXPECT_FALSE(window->Form().MainCycleRunning());
    // The program's loop ends at once (bounded here: a late end is a failure).
    loop_ended_late = false;
    const UINT_PTR guard = SetTimer(nullptr, 0, 5000, &EndLateLoop);
    window->Run();
    KillTimer(nullptr, guard);
    EXPECT_FALSE(loop_ended_late);
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); // none left for the next test
}

TEST_F(Win32Window, TheWholeImageIsReadAndVerified) {
    const std::string image = MakeImage("read.img", 1440);
    AttachImage(image);
    TWinSimTarget target({"--read-all", "--expect", image, "--wait-connect", "--time-limit", "120"});
    EXPECT_EQ(ServeUntilExit(target), std::vector<std::string>{});
    EXPECT_EQ(target.ExitCode(), 0) << target.Output();
    auto summary = target.Summary();
    EXPECT_EQ(summary["result"], "ok");
    EXPECT_EQ(summary["sectors"], "2880");
    EXPECT_EQ(summary["mismatches"], "0");
    std::printf("[ figures  ] %s\n", target.Output().substr(target.Output().find("summary")).c_str());
}

TEST_F(Win32Window, RandomWritesLandByteForByteInTheFile) {
    const std::string image = MakeImage("write.img", 1440);
    const std::string model = image + ".model";
    ASSERT_TRUE(RunHost("cp " + image + " " + model));
    AttachImage(image);
    TWinSimTarget target({"--write-random", "60", "--seed", "7", "--model", model,
                          "--wait-connect", "--time-limit", "120"});
    EXPECT_EQ(ServeUntilExit(target), std::vector<std::string>{});
    EXPECT_EQ(target.ExitCode(), 0) << target.Output();
    EXPECT_EQ(target.Summary()["result"], "ok");
    EXPECT_EQ(target.Summary()["writes_acked"], "60");
    const std::string written = FileBytes(image);
    ASSERT_EQ(written.size(), 1440u * 1024);
    EXPECT_TRUE(written == FileBytes(model)) << "the image differs from the acknowledged writes";
}

TEST_F(Win32Window, TheTargetsScreenIsShownCellForCell) {
    const std::string record = HostTestDir() + "/screen.rec";
    TWinSimTarget target({"--print-events", "--record", record, "--time-limit", "60"});
    TScreen reference;
    TWinStepper steps;
    steps.Then("the screen drawn", [&] { return target.Printed("connected image=0"); }, [] {})
        .Then("every byte taken",
              [&] {
                  return window->Form().Link().ReceivedCount() ==
                             static_cast<int32_t>(FileBytes(record).size()) &&
                         window->Form().Link().QueueEmpty();
              },
              [&] {
                  // The same bytes through the console's core on its own.
                  const std::string bytes = FileBytes(record);
                  TCoreRig rig;
                  rig.StepDeliver(std::vector<uint8_t>(bytes.begin(), bytes.end()));
                  rig.Run();
                  reference = rig.screen;
                  window->Form().ScreenRefresh();
                  Click(window->Control(ciDisconnect));
              });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    const int cw = window->Form().CellWidth();
    const int ch = window->Form().CellHeight();
    for (int row = 0; row < 25; ++row) {
        EXPECT_EQ(window->Form().Screen().RowText(row), reference.RowText(row)) << "row " << row;
        for (int c = 0; c < 80; ++c) {
            const TCell cell = reference.Cell(row, c);
            ASSERT_EQ(window->Form().Screen().Cell(row, c).attr, cell.attr)
                << "row " << row << " column " << c;
            // The cell's top left pixel is its background, except in the glyphs that reach
            // the cell's edge (the inverse ones, the blocks and the line drawing).
            if (cell.ch == 0x08 || cell.ch == 0x0A || (cell.ch >= 0xB0 && cell.ch <= 0xDF))
                continue;
            EXPECT_EQ(window->ImagePixel(c * cw, row * ch), Rgb(kColourTable[cell.attr >> 4]))
                << "row " << row << " column " << c;
        }
    }
    EXPECT_NE(window->Form().Screen().RowText(0).find("Quorvik target simulator"),
              std::string::npos);
}

TEST_F(Win32Window, KeysTypedThroughXTestAndThePanelButtonsReachTheTarget) {
    // X keycodes: the Linux input codes plus 8.
    constexpr int kA = 38, kShift = 50, kUp = 111, kF9 = 75, kCtrl = 37, kAlt = 64;
    TWinSimTarget target({"--print-events", "--time-limit", "60"});
    TWinStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=0") && !window->Form().Link().key_hold; },
               [&] {
                   TypeKeys({kA, -kA, kShift, kA, -kA, -kShift, kUp, -kUp, kF9, -kF9});
               })
        .Then("the keys sent", [&] { return target.Output().find("key 1B 39 ") != std::string::npos; },
              [&] {
                  Click(window->Control(ciRscr));
                  TypeKeys({kCtrl, kAlt});
              })
        .Then("Del shown", [&] { return IsWindowVisible(window->Control(ciButtonDel)) != FALSE; },
              [&] { Click(window->Control(ciButtonDel)); })
        .Then("reboot seen", [&] { return target.Printed("reboot"); },
              [&] {
                  TypeKeys({-kAlt, -kCtrl});
                  Click(window->Control(ciDisconnect));
              });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    const std::string out = target.Output();
    for (const std::string line : {"key 61 ", "key 41 ", "key 1B 5B 41 ", "key 1B 39 ", "refresh",
                                   "key 12 ", "key 1B 7F "})
        EXPECT_NE(out.find(line), std::string::npos) << line << " missing in:\n" << out;
    EXPECT_LT(out.find("key 61 "), out.find("key 41 "));
}

// The program's own resources, linked into this test program as into quorvik.exe.
TEST(Win32Resources, TheIconComesInEverySizeAndTheVersionIsTheProgramsOwn) {
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

namespace {

std::string ClipboardText(HWND owner) {
    std::string text;
    if (!OpenClipboard(owner)) return "(clipboard busy)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        text = Utf8Of(static_cast<const wchar_t*>(GlobalLock(data)));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

LPARAM CellPoint(TWin32Window& window, int row, int column) {
    const int w = window.Form().CellWidth(), h = window.Form().CellHeight();
    return MAKELPARAM(column * w + w / 2, kPanelHeight + row * h + h / 2);
}

// Chooses the menu entry with this caption at the next right click.
void Choose(TWin32Window& window, const std::string& caption) {
    window.popup_menu_hook = [caption](const std::vector<TMenuEntry>& entries) {
        for (const TMenuEntry& e : entries)
            if (e.caption == caption) return e.command;
        return -1;
    };
    const LPARAM at = MAKELPARAM(30, kPanelHeight + 30);
    SendMessageW(window.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, at);
    SendMessageW(window.Handle(), WM_RBUTTONUP, 0, at);
}

} // namespace

TEST_F(Win32Window, CopyPutsTheScreenOrTheDraggedSelectionOnTheClipboardAsUnicode) {
    window->Form().Screen().StrOut(0x07, 0, 0, "C:\\>");
    window->Form().Screen().StrOut(0x07, 0, 1, "\xC9\xCD\xBB caf\x82");
    Choose(*window, "Copy");
    EXPECT_EQ(ClipboardText(window->Handle()), "C:\\>\r\n\u2554\u2550\u2557 caf\u00E9\r\n");
    // A drag from the second row's box to its end, then Copy.
    SendMessageW(window->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, CellPoint(*window, 1, 1));
    SendMessageW(window->Handle(), WM_MOUSEMOVE, MK_LBUTTON, CellPoint(*window, 1, 6));
    SendMessageW(window->Handle(), WM_LBUTTONUP, 0, CellPoint(*window, 1, 6));
    Choose(*window, "Copy");
    EXPECT_EQ(ClipboardText(window->Handle()), "\u2550\u2557 caf");
}

TEST_F(Win32Window, SaveScreenAsPngWritesTheConsoleAtItsNaturalSize) {
    window->Form().Screen().StrOut(0x1E, 0, 0, "picture");
    window->Form().ScreenRefresh();
    const std::string path = HostTestDir() + "/screen.png";
    window->save_dialog_hook = [&] { return WinPath(path); };
    Choose(*window, "Save screen as PNG...");
    const std::string png = FileBytes(path);
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto be32 = [&](size_t at) {
        return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
               (uint32_t(uint8_t(png[at + 2])) << 8) | uint8_t(png[at + 3]);
    };
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(be32(16), uint32_t(80 * window->Form().CellWidth()));
    EXPECT_EQ(be32(20), uint32_t(25 * window->Form().CellHeight()));
}

TEST_F(Win32Window, KeysPressedWhileTheMenuIsOpenNeverReachTheTarget) {
    constexpr int kX = 53, kA = 38, kEsc = 9, kB = 56; // X keycodes
    TWinSimTarget target({"--print-events", "--time-limit", "60"});
    auto menu_open = [] {
        HWND menu = FindWindowW(L"#32768", nullptr);
        return menu && IsWindowVisible(menu);
    };
    TWinStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=0") && !window->Form().Link().key_hold; },
               [&] {
                   const LPARAM at = CellPoint(*window, 5, 5);
                   PostMessageW(window->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, at);
                   PostMessageW(window->Handle(), WM_RBUTTONUP, 0, at);
               })
        .Then("the menu open", menu_open, [&] { TypeKeys({kX, -kX, kA, -kA, kEsc, -kEsc}); })
        .Then("the menu closed", [&] { return !menu_open(); }, [&] { TypeKeys({kB, -kB}); })
        .Then("a key after it sent", [&] { return target.Output().find("key 62 ") != std::string::npos; },
              [&] { Click(window->Control(ciDisconnect)); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    const std::string out = target.Output();
    for (const std::string line : {"key 78 ", "key 61 ", "key 1B "})
        EXPECT_EQ(out.find(line), std::string::npos) << line << " reached the target:\n" << out;
}

TEST_F(Win32Window, TheWindowDrawsASelectionInvertedAndTheHistoryWithItsStatusRow) {
    for (int i = 0; i < 40; ++i) window->Form().Screen().MsgOut("line %d", i);
    window->Form().ScreenRefresh();
    const int w = window->Form().CellWidth(), h = window->Form().CellHeight();
    auto background = [&](int row, int column) { // a pixel at the cell's top left corner
        return WindowPixel(window->Handle(), column * w, kPanelHeight + row * h);
    };
    // A drag over two rows: the blank cells after "line 17" are inverted to white.
    SendMessageW(window->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, CellPoint(*window, 1, 10));
    SendMessageW(window->Handle(), WM_MOUSEMOVE, MK_LBUTTON, CellPoint(*window, 2, 3));
    SendMessageW(window->Handle(), WM_LBUTTONUP, 0, CellPoint(*window, 2, 3));
    EXPECT_EQ(background(1, 20), Rgb(kColourTable[15]));
    EXPECT_EQ(background(3, 20), Rgb(kColourTable[0]));
    // One notch of the wheel away from the user: three rows back, and the status row.
    POINT at{40, kPanelHeight + 10 * h};
    ClientToScreen(window->Handle(), &at);
    SendMessageW(window->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(at.x, at.y));
    EXPECT_TRUE(window->Form().Area().ScrolledBack());
    EXPECT_EQ(background(24, 79), Rgb(kColourTable[7]));
    EXPECT_EQ(background(4, 20), Rgb(kColourTable[15])); // the selection moved down with its text
}

// Winsock end to end: the COM group's menu maps COM1 to the host's simulated target serving
// raw TCP, and Connect opens exactly that (no serial port, no preload involved).
TEST_F(Win32Window, ANetworkPortChosenFromTheComGroupsMenuIsWhatConnectOpens) {
    TWinSimTarget target({"--status", "--wait-connect", "--time-limit", "60", "--listen", "127.0.0.1:0"});
    const std::string url = target.Line();
    ASSERT_EQ(url.rfind("tcp://127.0.0.1:", 0), 0u) << url;
    window->popup_menu_hook = [&](const std::vector<TMenuEntry>& entries) {
        for (const TMenuEntry& e : entries)
            if (e.caption == "Network port...") return e.command;
        return -1;
    };
    window->network_dialog_hook = [&](TNetworkPortDesc& port) {
        port.host = "127.0.0.1";
        port.port = std::stoi(url.substr(url.rfind(':') + 1));
        port.rfc2217 = false;
        return true;
    };
    RECT item;
    GetWindowRect(window->RadioItem(0), &item);
    SendMessageW(window->Panel(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window->RadioItem(0)),
                 MAKELPARAM(item.left + 3, item.top + 3));
    wchar_t hint[128] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window->Panel();
    tool.uId = reinterpret_cast<UINT_PTR>(window->RadioItem(0));
    tool.lpszText = hint;
    SendMessageW(window->Tooltips(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(Utf8Of(hint), "COM1 is " + url + " (chosen for this run).");
    EXPECT_EQ(ServeUntilExit(target), std::vector<std::string>{});
    EXPECT_EQ(target.Summary()["result"], "no-image") << target.Output();
}

TEST_F(Win32Window, TheMenusPasteTypesTheClipboardIntoTheTargetOnThePasteTimer) {
    // Another program's text on the clipboard, in the system's form.
    const wchar_t text[] = L"dir\r\n\u00E9";
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof text);
    std::memcpy(GlobalLock(memory), text, sizeof text);
    GlobalUnlock(memory);
    ASSERT_NE(SetClipboardData(CF_UNICODETEXT, memory), nullptr);
    CloseClipboard();
    window->popup_menu_hook = [](const std::vector<TMenuEntry>& entries) {
        for (const TMenuEntry& e : entries)
            if (e.caption == "Paste" && e.enabled) return e.command;
        return -1;
    };
    TWinSimTarget target({"--print-events", "--time-limit", "60"});
    TWinStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=0") && !window->Form().Link().key_hold; },
               [&] {
                   const LPARAM at = MAKELPARAM(30, kPanelHeight + 30);
                   SendMessageW(window->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, at);
                   SendMessageW(window->Handle(), WM_RBUTTONUP, 0, at);
               })
        .Then("all typed", [&] { return target.Output().find("key 82 ") != std::string::npos; },
              [&] { Click(window->Control(ciDisconnect)); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_EQ(KeysReported(target.Output()), "dir\r\x82");
    EXPECT_TRUE(target.Printed("command dir"));
}
