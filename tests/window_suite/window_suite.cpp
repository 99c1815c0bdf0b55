// The scenarios that both windows are held to, each through the program's driver
// (window_driver.h): the panel, Connect and Disconnect, the console's pixels unscaled, zoomed
// and stretched, real keys, the menus, the clipboard and the saved picture, and the whole
// program against the simulated target (the image read and written, the screen, a network
// port). What only one window has stays in that window's own tests; the window's decisions are
// the window logic's tests (tests/app).
#include "window_driver.h"

#include "console_menu.h"
#include "contrast.h"
#include "fakes.h"
#include "palette.h"
#include "panel_state.h"
#include "screen_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

uint32_t Colour(int index) {
    const TRgb c = kColourTable[index];
    return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
}

std::string unavailable;

class WindowSuite : public testing::Test {
  protected:
    static void SetUpTestSuite() { unavailable = WindowDriverSetUp(); }
    static void TearDownTestSuite() { WindowDriverTearDown(); }
    void SetUp() override {
        if (!unavailable.empty()) GTEST_SKIP() << unavailable;
        driver = MakeWindowDriver();
    }
    void TearDown() override {
        if (driver) {
            EXPECT_EQ(driver->TakeBoxes(), std::vector<std::string>{});
        }
        driver.reset();
    }

    TConsoleForm& Form() { return driver->Form(); }
    std::string PanelMismatch(bool connected) {
        return PanelStateMismatch(connected, [this](TControlId id, int item) {
            return driver->Control(id, item).enabled;
        });
    }
    std::string Status() { return driver->Control(ciLabel2).caption; }
    std::function<bool()> IsConnected() {
        return [this] { return Form().Connected(); };
    }
    // The middle of cell (row, column) in client units.
    TRect CellPoint(int row, int column) {
        const TRect a = Form().ConsoleArea();
        return TRect{a.left + (2 * column + 1) * a.width / 160,
                     a.top + (2 * row + 1) * a.height / 50, 0, 0};
    }
    // The device pixel row where the console starts, and the top left device pixel of a cell at
    // the natural size.
    int Top() {
        return static_cast<int>(std::ceil(Form().ConsoleArea().top * Form().PixelRatio()));
    }
    uint32_t CellCorner(const TPixels& shot, int row, int column) {
        const int z = Form().Zoom();
        return shot.At(column * Form().CellWidth() * z, Top() + row * Form().CellHeight() * z);
    }
    // A right click on the console that chooses `command` from its menu; false when the menu
    // offered no enabled entry of it.
    bool ChooseFromMenu(int command) {
        bool offered = false;
        driver->AnswerMenus([&](const std::vector<TMenuEntry>& entries) {
            for (const TMenuEntry& e : entries)
                offered |= e.command == command && e.enabled;
            return offered ? command : -1;
        });
        const TRect at = CellPoint(2, 3);
        driver->Mouse(mbRight, true, at.left, at.top);
        driver->Mouse(mbRight, false, at.left, at.top);
        driver->AnswerMenus(nullptr);
        return offered;
    }
    // Runs the steps connected (TWindowDriver::RunConnected): none may fail.
    void RunConnected(const std::vector<TWindowStep>& steps) {
        EXPECT_EQ(driver->RunConnected(steps), std::vector<std::string>{});
    }
    // Stays connected until the simulator has ended, then disconnects.
    void ServeUntilExit(TSimTarget& target) {
        RunConnected({{"the simulator to finish", [&] { return target.Exited(); },
                       [&] { driver->Click(ciDisconnect); }, 120s}});
    }
    // Something to read in the keyboard state label: Caps Lock on (a press toggles it).
    void CapsLockOn() {
        if (driver->Control(ciLabel1).caption.find("CAPS") != std::string::npos) return;
        Form().AppMessage(kdDown, 0x3A, 0x14);
        Form().AppMessage(kdUp, 0x3A, 0x14);
    }

    std::unique_ptr<TWindowDriver> driver;
};

} // namespace

TEST_F(WindowSuite, ThePanelStartsIdleWithEveryControlAtItsPlaceWithItsCaptionAndHint) {
    EXPECT_EQ(driver->WindowCaption(), "Quorvik V1.00 for Windows");
    EXPECT_EQ(PanelMismatch(false), "");
    auto units = [&](int pixels) { return driver->PanelUnits(pixels); };
    for (const TControlDesc& desc : kPanelControls) {
        if (desc.kind == ckBar) continue;
        const TShownControl shown = driver->Control(desc.id);
        EXPECT_EQ(shown.visible, desc.visible) << desc.name;
        EXPECT_EQ(shown.enabled, desc.enabled) << desc.name;
        EXPECT_EQ(shown.checked, desc.checked) << desc.name;
        EXPECT_EQ(shown.hint, desc.hint) << desc.name;
        if (desc.kind == ckLabel) { // as wide as its text
            if (!desc.align_right) {
                EXPECT_EQ(shown.place.left, units(desc.left)) << desc.name;
            }
            EXPECT_EQ(shown.place.top, units(desc.top)) << desc.name;
        } else {
            EXPECT_EQ(shown.place, (TRect{units(desc.left), units(desc.top), units(desc.width),
                                          units(desc.height)}))
                << desc.name;
            if (desc.kind != ckRadioGroup) {
                EXPECT_EQ(shown.caption, desc.caption) << desc.name;
            }
        }
    }
    // The console at its zoom below the panel, which is as wide as the window; the status
    // against the panel's right edge.
    const int z = Form().Zoom();
    const TRect client = driver->Client();
    EXPECT_EQ(client.width, 80 * Form().CellWidth() * z);
    EXPECT_EQ(client.height, 25 * Form().CellHeight() * z + units(kPanelHeight));
    EXPECT_EQ(driver->PanelPlace(), (TRect{0, 0, client.width, units(kPanelHeight)}));
    const TShownControl status = driver->Control(ciLabel2);
    EXPECT_EQ(status.caption, "0");
    EXPECT_EQ(status.place.left + status.place.width, client.width - units(2));
    // The COM items inside their box, COM1 chosen, each saying what it opens.
    const TRect box = driver->Control(ciCOMGroup).place;
    for (int i = 0; i < 2; ++i) {
        const TShownControl item = driver->Control(ciCOMGroup, i);
        const std::string name = i == 0 ? "COM1" : "COM2";
        EXPECT_EQ(item.caption, name);
        EXPECT_EQ(item.checked, i == 0) << name;
        EXPECT_EQ(item.hint.rfind(name + " is ", 0), 0u) << item.hint;
        EXPECT_GE(item.place.left, box.left) << name;
        EXPECT_LE(item.place.left + item.place.width, box.left + box.width) << name;
        EXPECT_GE(item.place.top, box.top) << name;
        EXPECT_LE(item.place.top + item.place.height, box.top + box.height) << name;
    }
}

// A caption's text pixels are found by grabbing its control twice, with its caption and with an
// empty one: what differs is the text, and the empty grab is what lies behind it.
std::vector<std::string> IllegibleCaptions(TWindowDriver& driver) {
    struct TCaption {
        TControlId id;
        int item;
        double threshold;
    };
    const TCaption captions[] = {
        {ciConnect, -1, 4.5},   {ciDisconnect, -1, 4.5}, {ciRscr, -1, 3.0},
        {ciButtonDel, -1, 4.5}, {ciEnaFloppy, -1, 4.5},  {ciCOMGroup, 0, 4.5},
        {ciCOMGroup, 1, 4.5},   {ciLabel1, -1, 4.5},     {ciLabel2, -1, 4.5},
    };
    const uint32_t face = driver.FaceColour();
    std::vector<std::string> found;
    for (const TCaption& c : captions) {
        const TShownControl shown = driver.Control(c.id, c.item);
        if (!shown.visible) continue;
        const TPixels with = driver.GrabControl(c.id, c.item);
        driver.SetCaption(c.id, c.item, "");
        const TPixels without = driver.GrabControl(c.id, c.item);
        driver.SetCaption(c.id, c.item, shown.caption);
        const std::string what = shown.caption.empty() ? kPanelControls[c.id].name : shown.caption;
        // A button may have a face of its own under the system's style (a gradient, a frame),
        // but never the console's black: on average, what lies behind a caption is the
        // panel's face or close to it.
        uint64_t sum[3] = {};
        for (uint32_t px : without.rgb)
            for (int i = 0; i < 3; ++i)
                sum[i] += (px >> (16 - 8 * i)) & 0xFF;
        const uint64_t n = std::max<size_t>(without.rgb.size(), 1);
        const uint32_t behind = uint32_t(sum[0] / n << 16 | sum[1] / n << 8 | sum[2] / n);
        char line[256];
        if (without.rgb.empty() || Contrast(behind, face) > 1.25) {
            std::snprintf(line, sizeof line, "%s: on %06X, not on the panel's face %06X",
                          what.c_str(), behind, face);
            found.push_back(line);
            continue;
        }
        int text_pixels = 0, legible = 0;
        double best = 0;
        for (size_t i = 0; i < with.rgb.size() && i < without.rgb.size(); ++i) {
            if (with.rgb[i] == without.rgb[i]) continue;
            ++text_pixels;
            const double contrast = Contrast(with.rgb[i], without.rgb[i]);
            best = std::max(best, contrast);
            legible += contrast >= c.threshold;
        }
        // A caption is read from its strokes: a handful of pixels must reach the contrast (of a
        // smoothed one-digit "0", a fifth of its pixels are whole strokes).
        if (text_pixels > 0 && legible >= std::min(8, (text_pixels + 4) / 5)) continue;
        std::snprintf(line, sizeof line, "%s: best %.2f:1 over %d text pixels, %d legible",
                      what.c_str(), best, text_pixels, legible);
        found.push_back(line);
    }
    return found;
}

TEST_F(WindowSuite, ThePanelHasTheFaceColourAndEveryCaptionCanBeReadIdleAndConnected) {
    driver->StopTimer(); // no status update may change a caption between two grabs
    const TPixels shot = driver->Grab();
    const uint32_t face = driver->FaceColour();
    const double ratio = Form().PixelRatio();
    EXPECT_EQ(shot.At(2, 2), face); // the panel's top left corner
    EXPECT_EQ(shot.At(shot.width - 3, static_cast<int>(driver->PanelUnits(38) * ratio)), face)
        << "the panel's right end, below the status";
    EXPECT_EQ(shot.At(3, Top() + 3), Colour(0)); // a blank console cell
    CapsLockOn();
    EXPECT_NE(driver->Control(ciLabel1).caption.find("CAPS"), std::string::npos);
    EXPECT_EQ(IllegibleCaptions(*driver), std::vector<std::string>{}) << "idle";

    auto target = driver->Target();
    std::vector<std::string> connected = {"never measured"};
    RunConnected({{"connected", IsConnected(), [&] {
                       // Connect may have activated the window, which takes
                       // the system's Caps Lock (off) over.
                       CapsLockOn();
                       connected = IllegibleCaptions(*driver);
                   }}});
    EXPECT_EQ(connected, std::vector<std::string>{}) << "connected";
}

TEST_F(WindowSuite, ConnectSwitchesThePanelAndShowsTheTargetAndDisconnectReturnsToIdle) {
    // COM2 names no serial device: refused, and the panel stays as it was.
    MapCom2ToNoDevice();
    driver->Click(ciCOMGroup, 1);
    driver->Click(ciConnect); // returns at once: the port did not open
    const std::vector<std::string> boxes = driver->TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, boxes[0].find('\n')), "Error Opening COM") << boxes[0];
    EXPECT_EQ(PanelMismatch(false), "");

    driver->Click(ciCOMGroup, 0);
    auto target = driver->Target();
    std::string connected = "never seen", right_after_connect;
    double cpu_before = 0, cpu_used = 1e9;
    auto quiet_since = std::chrono::steady_clock::now();
    RunConnected({
        {"connected", IsConnected(),
         [&] {
             connected = PanelMismatch(true);
             right_after_connect = Status();
             target->Send("\x1b[2J\x1b[3;5H\x1b[1;31mHello");
         }},
        {"text on the screen", [&] { return Form().Screen().RowText(2).substr(4, 5) == "Hello"; },
         [&] { target->Send("\x1bS"); }},
        {"the status query answered", [&] { return target->Received() == "\xAA"; }, [] {}},
        {"the byte count shown",
         [&] { return Status() == std::to_string(Form().Link().ReceivedCount()); },
         [&] {
             cpu_before = ProcessCpuSeconds();
             quiet_since = std::chrono::steady_clock::now();
         }},
        {"a second on a quiet line",
         [&] { return std::chrono::steady_clock::now() - quiet_since >= 1s; },
         [&] {
             cpu_used = ProcessCpuSeconds() - cpu_before;
             driver->Click(ciDisconnect);
         }},
    });
    EXPECT_EQ(connected, "");
    EXPECT_EQ(right_after_connect, "Symb = 2");
    EXPECT_EQ(Form().Screen().Cell(2, 4).attr, 0x0C);
    // Waiting for events never spins (the steps' own polling included).
    EXPECT_LT(cpu_used, 0.3) << cpu_used << " s of processor in a second";
    std::printf("[ figures  ] %.3f s of processor in a second connected to a quiet line\n",
                cpu_used);
    EXPECT_EQ(PanelMismatch(false), "");
    EXPECT_FALSE(Form().Port().Enabled());
}

TEST_F(WindowSuite, ClosingTheWindowWhileConnectedDisconnectsFirst) {
    auto target = driver->Target();
    RunConnected({{"connected", IsConnected(), [&] { driver->CloseWindow(); }}});
    EXPECT_TRUE(driver->Closed());
    EXPECT_FALSE(Form().Port().Enabled());
    EXPECT_FALSE(Form().MainCycleRunning());
}

TEST_F(WindowSuite, CellsAreDrawnInTheColoursOfTheirAttributeUnscaledAndStretched) {
    const int cw = Form().CellWidth(), ch = Form().CellHeight(), z = Form().Zoom();
    TScreen& screen = Form().Screen();
    screen.CharOut(0xF1, 3, 2, 0xDB);   // a full block, dark blue on white
    screen.CharOut(0x8F, 4, 2, ' ');    // a blank, white on dark grey: nothing blinks
    screen.CharOut(0x8F, 10, 5, 'H');   // white strokes on dark grey
    screen.CharOut(0x4E, 79, 24, 0xDB); // the last cell: yellow block on dark red
    Form().ScreenRefresh();
    auto count_in_cell = [&](int row, int column, uint32_t colour) {
        int n = 0;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                n += driver->ImagePixel(column * cw + x, row * ch + y) == colour;
        return n;
    };
    EXPECT_EQ(count_in_cell(2, 3, Colour(1)), cw * ch);
    EXPECT_EQ(count_in_cell(2, 4, Colour(8)), cw * ch);
    EXPECT_EQ(count_in_cell(24, 79, Colour(14)), cw * ch);
    EXPECT_EQ(count_in_cell(2, 2, 0), cw * ch); // neighbours keep the cleared screen's black
    EXPECT_EQ(count_in_cell(2, 5, 0), cw * ch);
    EXPECT_EQ(count_in_cell(1, 3, 0), cw * ch);
    EXPECT_GT(count_in_cell(5, 10, Colour(15)), 10);
    EXPECT_GT(count_in_cell(5, 10, Colour(8)), 10);

    // Copied below the panel, each image pixel a square of z x z device pixels.
    TPixels shot = driver->Grab();
    EXPECT_EQ(CellCorner(shot, 2, 3), Colour(1));
    EXPECT_EQ(shot.At(5 * cw * z - 1, Top() + 3 * ch * z - 1), Colour(8));
    EXPECT_EQ(shot.At(80 * cw * z - 1, Top() + 25 * ch * z - 1), Colour(14));

    // Larger: stretched over the area below the panel, the cursor bar as wide as a cell.
    const TRect natural = driver->Client();
    const TRect area = Form().ConsoleArea();
    driver->ResizeClient(natural.width * 5 / 4, area.top + area.height * 5 / 4);
    ASSERT_TRUE(Form().StretchMode());
    EXPECT_EQ(driver->Control(ciMarker).place.width, natural.width * 5 / 4 / 80);
    Form().ScreenRefresh();
    shot = driver->Grab();
    auto middle = [&](int row, int column) {
        const int x = (column * cw + cw / 2) * shot.width / (80 * cw);
        const int y = Top() + (row * ch + ch / 2) * (shot.height - Top()) / (25 * ch);
        return shot.At(x, y);
    };
    EXPECT_EQ(middle(2, 3), Colour(1));
    EXPECT_EQ(middle(2, 4), Colour(8));
    EXPECT_EQ(middle(24, 79), Colour(14));
    EXPECT_EQ(middle(2, 5), 0u);
    EXPECT_EQ(middle(3, 3), 0u);

    // Back at the natural size: unscaled again.
    driver->ResizeClient(natural.width, natural.height);
    EXPECT_FALSE(Form().StretchMode());
    EXPECT_EQ(driver->Control(ciMarker).place.width, natural.width / 80);
}

// At the system's scale: each driver's program runs this at its default, Win32 also at 144 and
// 192 DPI (wine's LogPixels) and Qt at device pixel ratios of 1.5 and 2 (QT_SCALE_FACTOR), on a
// screen with room for zoom 2 but not 3.
TEST_F(WindowSuite, TheConsoleIsShownAtAWholeZoomOfItsCellNeverSmoothed) {
    const double scale = driver->Scale();
    const int z = Form().Zoom();
    EXPECT_EQ(z, std::clamp(static_cast<int>(std::floor(scale + 0.5)), 1, 2)) << scale;
    EXPECT_FALSE(Form().StretchMode());
    const char* text = "Quorvik \xDB\xB1\xB0 AaBb 0123 \xC9\xCD\xBB";
    for (int row = 0; row < 3; ++row)
        for (int i = 0; text[i]; ++i)
            Form().Screen().CharOut(static_cast<uint8_t>(0x1E + row * 0x11), i, row,
                                    static_cast<uint8_t>(text[i]));
    Form().ScreenRefresh();
    const TPixels shot = driver->Grab();
    const int cw = Form().CellWidth(), ch = Form().CellHeight();
    ASSERT_GE(shot.width, 80 * cw * z) << "the grab is in device pixels";
    ASSERT_GE(shot.height, Top() + 25 * ch * z);
    int uneven = 0;
    for (int y = 0; y < 3 * ch * z; ++y)
        for (int x = 0; x < 30 * cw * z; ++x)
            uneven += shot.At(x, Top() + y) != driver->ImagePixel(x / z, y / z);
    EXPECT_EQ(uneven, 0) << "device pixels that are not their image pixel's square";
    std::printf("[ figures  ] scale %.2f: zoom %d, cell %d x %d shown as %d x %d device pixels, "
                "client %d x %d\n",
                scale, z, cw, ch, cw * z, ch * z, driver->Client().width, driver->Client().height);
}

TEST_F(WindowSuite, KeysTypedAndThePanelsButtonsReachTheTarget) {
    constexpr int kA = 38, kShift = 50, kUp = 111, kF9 = 75, kCtrl = 37, kAlt = 64;
    auto target = driver->Target();
    auto received = [&](size_t n) {
        return [&target, n] { return target->Received().size() >= n; };
    };
    std::string label1;
    RunConnected({
        {"connected", IsConnected(),
         [&] {
             driver->TypeKeys({kA, -kA, kShift, kA, -kA, -kShift, kUp, -kUp, kF9, -kF9});
         }},
        {"the keys sent", received(7), [&] { driver->Click(ciRscr); }},
        {"the refresh request", received(8),
         [&] {
             driver->TypeKeys({kCtrl, kAlt});
         }},
        {"Del shown", [&] { return driver->Control(ciButtonDel).visible; },
         [&] {
             label1 = driver->Control(ciLabel1).caption;
             driver->Click(ciButtonDel);
         }},
        {"the reboot code", received(10),
         [&] {
             driver->TypeKeys({-kAlt, -kCtrl});
         }},
        {"Del hidden", [&] { return !driver->Control(ciButtonDel).visible; }, [] {}},
    });
    EXPECT_EQ(target->Received(), "aA\x1b[A\x1b"
                                  "9\x12\x1b\x7f");
    EXPECT_NE(label1.find("CTRL ALT"), std::string::npos) << label1;
}

TEST_F(WindowSuite, KeysPressedWhileTheMenuIsOpenNeverReachTheTarget) {
    constexpr int kX = 53, kA = 38, kEsc = 9, kB = 56;
    auto target = driver->Target();
    const TRect at = CellPoint(5, 5);
    RunConnected({
        {"connected", IsConnected(), [&] { driver->OpenMenuAt(at.left, at.top); }},
        {"the menu open", [&] { return driver->MenuOpen(); },
         [&] {
             driver->TypeKeys({kX, -kX, kA, -kA, kEsc, -kEsc});
         }},
        {"the menu closed", [&] { return !driver->MenuOpen(); },
         [&] {
             driver->TypeKeys({kB, -kB});
         }},
        {"a key after it sent", [&] { return !target->Received().empty(); }, [] {}},
    });
    EXPECT_EQ(target->Received(), "b");
}

TEST_F(WindowSuite, CopyPutsTheScreenOrADraggedSelectionOnTheClipboardAsUnicode) {
    Form().Screen().StrOut(0x07, 0, 0, "C:\\>");
    Form().Screen().StrOut(0x07, 0, 1, "\xC9\xCD\xBB caf\x82");
    ASSERT_TRUE(ChooseFromMenu(ccCopy));
    const std::string end = kTextLineEnd;
    EXPECT_EQ(driver->ClipboardText(), "C:\\>" + end + "\u2554\u2550\u2557 caf\u00E9" + end);
    // A drag from the second row's box to its end, then Copy.
    const TRect from = CellPoint(1, 1), to = CellPoint(1, 6);
    driver->Mouse(mbLeft, true, from.left, from.top);
    driver->MouseDrag(to.left, to.top);
    driver->Mouse(mbLeft, false, to.left, to.top);
    ASSERT_TRUE(ChooseFromMenu(ccCopy));
    EXPECT_EQ(driver->ClipboardText(), "\u2550\u2557 caf");
}

TEST_F(WindowSuite, ASelectionIsDrawnInvertedAndTheWheelShowsTheHistoryUntilAKeyGoesOut) {
    constexpr int kA = 38;
    auto target = driver->Target();
    std::string shown_row;
    RunConnected({
        {"connected", IsConnected(),
         [&] {
             for (int i = 0; i < 40; ++i)
                 Form().Screen().MsgOut("line %d", i);
             Form().ScreenRefresh();
             // A drag over two rows: the blank cells after "line 17" are inverted.
             const TRect from = CellPoint(1, 10), to = CellPoint(2, 3);
             driver->Mouse(mbLeft, true, from.left, from.top);
             driver->MouseDrag(to.left, to.top);
             driver->Mouse(mbLeft, false, to.left, to.top);
             TPixels shot = driver->Grab();
             EXPECT_EQ(CellCorner(shot, 1, 20), Colour(15));
             EXPECT_EQ(CellCorner(shot, 3, 20), Colour(0));
             // One notch away from the user: three rows back, and the status row.
             const TRect at = CellPoint(10, 10);
             driver->Wheel(1, at.left, at.top);
             ASSERT_TRUE(Form().Area().ScrolledBack());
             for (int c = 0; c < kScreenColumns; ++c)
                 shown_row += char(Form().Area().LineCells(Form().Area().LineOf(0))[c].ch);
             shot = driver->Grab();
             EXPECT_EQ(CellCorner(shot, 24, 79), Colour(7));
             EXPECT_EQ(CellCorner(shot, 4, 20), Colour(15)) << "moved with its text";
             driver->TypeKeys({kA, -kA});
         }},
        {"the key sent", [&] { return target->Received() == "a"; },
         [&] { EXPECT_FALSE(Form().Area().ScrolledBack()); }},
    });
    EXPECT_EQ(shown_row.substr(0, shown_row.find_last_not_of(' ') + 1), "line 13");
}

TEST_F(WindowSuite, SaveScreenAsPngWritesTheImageAtItsNaturalSizeWithoutTheCursorBar) {
    Form().Screen().StrOut(0x1E, 0, 24, "bottom row");
    Form().ScreenRefresh();
    const std::string path = HostTestPath("screen.png");
    driver->AnswerSaveDialog(path);
    ASSERT_TRUE(ChooseFromMenu(ccSavePng));
    const int width = 80 * Form().CellWidth(), height = 25 * Form().CellHeight();
    EXPECT_EQ(FileBytes(path).substr(0, 8), "\x89PNG\r\n\x1a\n");
    // Read back by the system's own reader, pixel for pixel the off-screen image.
    const TPixels saved = driver->ReadPng(path);
    ASSERT_EQ(saved.width, width);
    ASSERT_EQ(saved.height, height);
    int differ = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            differ += saved.At(x, y) != driver->ImagePixel(x, y);
    EXPECT_EQ(differ, 0);
}

TEST_F(WindowSuite, AChosenImageIsNamedInTheCaptionAttachedAtConnectAndReleasedAtDisconnect) {
    const std::string path = MakeImage("window-test.img", 1440);
    driver->ChooseImage(path);
    EXPECT_TRUE(driver->Control(ciEnaFloppy).checked);
    EXPECT_EQ(driver->WindowCaption(), "Quorvik V1.00 for Windows ... ImageFile: window-test.img");
    auto target = driver->Target();
    RunConnected({
        {"connected", IsConnected(), [&] { target->Send("\x1bS"); }},
        {"answered", [&] { return !target->Received().empty(); },
         [&] { driver->Click(ciDisconnect); }},
    });
    EXPECT_EQ(target->Received(), "\x55"); // an image is attached
    bool geometry_shown = false;
    for (int row = 0; row < kScreenRows; ++row)
        geometry_shown |= Form().Screen().RowText(row).rfind("Sectors Per Track:   18", 0) == 0;
    EXPECT_TRUE(geometry_shown);
    EXPECT_FALSE(Form().Floppy().ImageAttached()); // released at Disconnect
    // Unticking the box drops the name from the caption.
    driver->Click(ciEnaFloppy);
    EXPECT_FALSE(driver->Control(ciEnaFloppy).checked);
    EXPECT_EQ(driver->WindowCaption(), "Quorvik V1.00 for Windows");
}

TEST_F(WindowSuite, TheMenusPasteTypesAnotherProgramsClipboardTextIntoTheTarget) {
    driver->SetClipboardText("dir\r\n\u00E9");
    auto target = driver->Target();
    RunConnected({
        {"connected", IsConnected(), [&] { EXPECT_TRUE(ChooseFromMenu(ccPaste)); }},
        {"all typed", [&] { return target->Received().size() >= 5; }, [] {}},
    });
    EXPECT_EQ(target->Received(),
              "dir\r\x82"); // the line end as Enter, the letter as code page 437
}

TEST_F(WindowSuite, TheWholeImageIsReadAndRandomWritesLandByteForByteInTheFile) {
    const std::string image = MakeImage("disk.img", 1440);
    driver->ChooseImage(image);
    {
        TSimTarget target(
            {"--read-all", "--expect", image, "--wait-connect", "--time-limit", "120"});
        ServeUntilExit(target);
        EXPECT_EQ(target.ExitCode(), 0) << target.Output();
        auto summary = target.Summary();
        EXPECT_EQ(summary["result"], "ok");
        EXPECT_EQ(summary["sectors"], "2880");
        EXPECT_EQ(summary["mismatches"], "0");
        std::printf("[ figures  ] %s\n",
                    target.Output().substr(target.Output().find("summary")).c_str());
    }
    const std::string model = CopyOf(image);
    TSimTarget target({"--write-random", "60", "--seed", "7", "--model", model, "--wait-connect",
                       "--time-limit", "120"});
    ServeUntilExit(target);
    EXPECT_EQ(target.ExitCode(), 0) << target.Output();
    EXPECT_EQ(target.Summary()["result"], "ok");
    EXPECT_EQ(target.Summary()["writes_acked"], "60");
    const std::string written = FileBytes(image);
    ASSERT_EQ(written.size(), 1440u * 1024);
    EXPECT_TRUE(written == FileBytes(model)) << "the image differs from the acknowledged writes";
}

TEST_F(WindowSuite, TheSimulatedTargetsScreenIsShownCellForCell) {
    const std::string record = HostTestPath("screen.rec");
    TSimTarget target({"--print-events", "--record", record, "--time-limit", "60"});
    TScreen reference;
    RunConnected({
        {"the screen drawn", [&] { return target.Printed("connected image=0"); }, [] {}},
        {"every byte taken",
         [&] {
             return Form().Link().ReceivedCount() ==
                        static_cast<int32_t>(FileBytes(record).size()) &&
                    Form().Link().QueueEmpty();
         },
         [&] {
             // The same bytes through the console's core on its own.
             TCoreRig rig;
             rig.StepDeliver(Bytes(FileBytes(record)));
             rig.Run();
             reference = rig.screen;
             Form().ScreenRefresh();
             driver->Click(ciDisconnect);
         }},
    });
    const int cw = Form().CellWidth(), ch = Form().CellHeight();
    for (int row = 0; row < kScreenRows; ++row) {
        EXPECT_EQ(Form().Screen().RowText(row), reference.RowText(row)) << "row " << row;
        for (int c = 0; c < kScreenColumns; ++c) {
            const TCell cell = reference.Cell(row, c);
            ASSERT_EQ(Form().Screen().Cell(row, c).attr, cell.attr)
                << "row " << row << " column " << c;
            // The cell's top left pixel is its background, except in the glyphs that reach
            // the cell's edge (the inverse ones, the blocks and the line drawing).
            if (cell.ch == 0x08 || cell.ch == 0x0A || (cell.ch >= 0xB0 && cell.ch <= 0xDF))
                continue;
            EXPECT_EQ(driver->ImagePixel(c * cw, row * ch), Colour(cell.attr >> 4))
                << "row " << row << " column " << c;
        }
    }
    EXPECT_NE(Form().Screen().RowText(0).find("Quorvik target simulator"), std::string::npos);
}

// The COM group's menu maps the selected item to the simulated target serving raw TCP, and
// Connect opens exactly that (COM2 itself names no device).
TEST_F(WindowSuite, ANetworkPortChosenFromTheComItemsMenuIsWhatConnectOpens) {
    TSimTarget target(
        {"--status", "--wait-connect", "--time-limit", "60", "--listen", "127.0.0.1:0"});
    const std::string url = target.Line();
    ASSERT_EQ(url.rfind("tcp://127.0.0.1:", 0), 0u) << url;
    MapCom2ToNoDevice();
    driver->Click(ciCOMGroup, 1);
    driver->AnswerMenus([](const std::vector<TMenuEntry>& entries) {
        for (const TMenuEntry& e : entries)
            if (e.caption == "Network port...") return e.command;
        return -1;
    });
    driver->AnswerNetworkDialog({"127.0.0.1", std::stoi(url.substr(url.rfind(':') + 1)), false});
    driver->RightClick(ciCOMGroup, 1);
    driver->AnswerMenus(nullptr);
    EXPECT_EQ(driver->Control(ciCOMGroup, 1).hint, "COM2 is " + url + " (chosen for this run).");
    ServeUntilExit(target);
    EXPECT_EQ(target.Summary()["result"], "no-image") << target.Output();
}

// The "Floppy..." box's menu: a folder served as the floppy, read and written by the target,
// and at Disconnect what the target changed is kept in a new folder beside it; the chosen
// folder stays as it was.
TEST_F(WindowSuite, TheFloppysMenuServesAFolderAndKeepsWhatTheTargetChangedBesideIt) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(TestPath("Shared"));
    fs::create_directory(folder);
    std::ofstream(folder / "hello.txt", std::ios::binary) << "hello, target\r\n";
    std::ofstream(folder / "A long file name.txt", std::ios::binary) << std::string(3000, 'x');
    std::vector<std::string> offered;
    auto choose = [&](int command) {
        driver->AnswerMenus([&, command](const std::vector<TMenuEntry>& entries) {
            offered.clear();
            for (const TMenuEntry& e : entries)
                if (e.enabled && !e.caption.empty()) offered.push_back(e.caption);
            return command;
        });
        driver->RightClick(ciEnaFloppy);
        driver->AnswerMenus(nullptr);
    };
    driver->AnswerFolderDialog(HostTestPath("Shared"));
    choose(fcFolder);
    EXPECT_EQ(offered, (std::vector<std::string>{"Folder as floppy...", "New blank image...",
                                                  "Image file..."}));
    EXPECT_TRUE(driver->Control(ciEnaFloppy).checked);
    EXPECT_EQ(driver->WindowCaption(), "Quorvik V1.00 for Windows ... Folder: Shared");

    // The target's "after": the image as built, with one file's text changed.
    driver->AnswerSaveDialog(HostTestPath("after.img"));
    choose(fcSaveImage);
    std::string after = FileBytes(HostTestPath("after.img"));
    const size_t text = after.find("hello, target");
    ASSERT_NE(text, std::string::npos);
    after.replace(text, 5, "HELLO");
    std::ofstream(fs::path(TestPath("after.img")), std::ios::binary) << after;

    TSimTarget target({"--write-from", HostTestPath("after.img"), "--wait-connect",
                       "--time-limit", "120"});
    ServeUntilExit(target);
    EXPECT_EQ(target.ExitCode(), 0) << target.Output();
    EXPECT_EQ(target.Summary()["result"], "ok") << target.Output();
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(fs::path(TestDir())))
        if (entry.path().filename().string().rfind("Shared-from-target-", 0) == 0)
            kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(FileBytes(HostTestPath(kept[0].filename().string() + "/hello.txt")),
              "HELLO, target\r\n");
    EXPECT_TRUE(fs::exists(kept[0] / "CHANGES.TXT"));
    EXPECT_FALSE(fs::exists(kept[0] / "A long file name.txt")) << "it did not change";
    EXPECT_EQ(FileBytes(HostTestPath("Shared/hello.txt")), "hello, target\r\n");
    std::string rows; // a line that wrapped reads as one
    for (int row = 0; row < kScreenRows; ++row) rows += Form().Screen().RowText(row);
    EXPECT_NE(rows.find("-from-target-"), std::string::npos) << rows;
}
