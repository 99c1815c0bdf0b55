// The main window's logic without any window system: a recording view stands in for the
// window, a port in memory for the serial device (the serial component where it is the
// subject: a missing device).
#include "fake_view.h"
#include "fakes.h"
#include "screen_text.h"

#include <algorithm>

TEST_F(ConsoleFormTest, CreationBuildsTheIdlePanelAtTheNaturalSize) {
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows");
    EXPECT_EQ(PanelMismatch(false), "");
    EXPECT_FALSE(view.controls[ciButtonDel].visible);
    EXPECT_FALSE(view.controls[ciEnaKeyboard].visible);
    EXPECT_TRUE(view.controls[ciEnaVideo].checked);
    EXPECT_EQ(Status(), "0");
    EXPECT_EQ(view.client_width, 80 * 9);
    EXPECT_EQ(view.client_height, 25 * 16 + 41);
    EXPECT_EQ(view.controls[ciMarker].place, (TRect{0, 0, 9, 2}));
    EXPECT_EQ(view.timer_interval, 100);
}

TEST_F(ConsoleFormTest, ConnectRunsTheConnectionAndDisconnectReturnsToIdle) {
    std::string connected = "never seen", right_after_connect;
    view.Do("connected", [&] {
        connected = PanelMismatch(true);
        right_after_connect = Status();
        port->Send("\x1b[2J\x1b[3;5H\x1b[1;31mHello");
    });
    view.Then("text on the screen", [&] { return form.Screen().RowText(2).substr(4, 5) == "Hello"; },
              [&] { Ticks(10); });
    view.Then("count shown", [&] { return Status() == std::to_string(form.Link().ReceivedCount()); },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_EQ(connected, "");
    EXPECT_EQ(right_after_connect, "Symb = 2");
    EXPECT_EQ(PanelMismatch(false), "");
    EXPECT_FALSE(form.Port().Enabled());
    EXPECT_TRUE(view.boxes.empty());
}

TEST_F(RealPortFormTest, ConnectToAMissingDeviceShowsErrorOpeningComAndStaysIdle) {
    MapCom2ToNoDevice();
    view.selected_item = 1;
    const std::string before = form.Screen().RowText(0);
    form.OpenComClick();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].substr(0, 18), "Error Opening COM\n");
    EXPECT_NE(view.boxes[0].find("COM2 is "), std::string::npos) << view.boxes[0];
    EXPECT_EQ(PanelMismatch(false), "");
    EXPECT_EQ(Status(), "Symb = 2");
    EXPECT_EQ(form.Screen().RowText(0), before); // no banner: nothing was written
    EXPECT_FALSE(form.MainCycleRunning());
}

TEST_F(ConsoleFormTest, ConnectRightAfterDisconnectStartsAfterThePreviousCycleHasReturned) {
    int depth_after_reconnect = -1;
    view.Do("disconnect and connect at once", [&] {
        form.CloseComClick();
        form.OpenComClick(); // the old main cycle is still on the stack here
    });
    view.Then("connected again", [&] { return form.Connected(); }, [&] {
        depth_after_reconnect = form.MainCycleDepth();
        port->Send("\x1bS");
    });
    view.Then("the new connection answers", [&] { return port->Received() == "\xAA"; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_EQ(depth_after_reconnect, 1);
    EXPECT_EQ(PanelMismatch(false), "");
    EXPECT_EQ(form.MainCycleDepth(), 0);
}

TEST_F(ConsoleFormTest, TheTimerShowsTheByteCountAndTheDelButtonOnceASecond) {
    form.AppMessage(kdDown, 0x1D, 0x11); // Ctrl
    form.AppMessage(kdDown, 0x38, 0x12); // Alt
    EXPECT_EQ(view.controls[ciLabel1].text, std::string(15, ' ') + "      CTRL ALT ");
    form.CommBreak(nullptr);
    Ticks(9);
    EXPECT_EQ(Status(), "Break");
    EXPECT_FALSE(view.controls[ciButtonDel].visible);
    Ticks(1);
    EXPECT_EQ(Status(), "0");
    EXPECT_TRUE(view.controls[ciButtonDel].visible);
    form.AppMessage(kdUp, 0x38, 0x12);
    Ticks(9);
    EXPECT_TRUE(view.controls[ciButtonDel].visible);
    Ticks(1);
    EXPECT_FALSE(view.controls[ciButtonDel].visible);
}

TEST_F(ConsoleFormTest, TheByteCountKeepsGrowingAcrossConnections) {
    for (int round = 1; round <= 2; ++round) {
        view.Do("send", [&] { port->Send("abcd"); });
        view.Then("received", [&] { return form.Link().ReceivedCount() >= 4 * round; },
                  [&] { form.CloseComClick(); });
        EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    }
    Ticks(10);
    EXPECT_EQ(Status(), "8");
}

TEST_F(ConsoleFormTest, ACommandByteTwoSecondsLateShowsTimeout) {
    view.Do("escape", [&] { port->Send("\x1b"); });
    // Taken by the main cycle, which now waits for the command byte.
    view.Then("escape taken",
              [&] { return form.Link().ReceivedCount() == 1 && form.Link().QueueEmpty(); },
              [&] {
                  Ticks(20);
                  port->Send("Q");
              });
    view.Then("Timeout!", [&] { return Status() == "Timeout!"; }, [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
}

TEST_F(ConsoleFormTest, RefreshDrawsOnlyChangedCellsAndCopiesTheImageOnce) {
    form.ScreenRefresh();
    EXPECT_EQ(view.drawn.size(), 2000u); // the cleared screen against the zeroed drawn copy
    ASSERT_EQ(view.copies.size(), 1u);
    EXPECT_EQ(view.copies[0], std::make_pair(TRect{0, 41, 720, 400}, false));
    view.drawn.clear();
    form.Screen().CharOut(0x1E, 40, 12, 'x');
    form.ScreenRefresh();
    ASSERT_EQ(view.drawn.size(), 1u);
    EXPECT_EQ(view.drawn[0], std::make_pair(12 * 80 + 40, TCell{'x', 0x1E}));
    form.FormPaint(); // nothing changed: the image is copied, no cell drawn
    EXPECT_EQ(view.drawn.size(), 1u);
    EXPECT_EQ(view.copies.size(), 3u);
}

TEST_F(ConsoleFormTest, AnotherSizeStretchesAndRedrawsEveryCell) {
    form.ScreenRefresh();
    view.SetClientSize(1440, 841);
    form.FormResize();
    EXPECT_TRUE(form.StretchMode());
    EXPECT_EQ(view.controls[ciMarker].place.width, 18);
    view.drawn.clear();
    form.ScreenRefresh();
    EXPECT_EQ(view.drawn.size(), 2000u);
    EXPECT_EQ(view.copies.back(), std::make_pair(TRect{0, 41, 1440, 800}, true));
    view.SetClientSize(720, 441);
    form.FormResize();
    EXPECT_FALSE(form.StretchMode());
    EXPECT_EQ(view.controls[ciMarker].place.width, 9);
}

TEST_F(ConsoleFormTest, TheCursorBarJumpsToAMovedCursorThenBlinksEveryFourTicks) {
    form.ScreenRefresh(); // draws the cleared screen
    form.Screen().SetCursor(10, 5);
    const TRect at{10 * 9, 6 * 16 + 41 - 2, 9, 2};
    // The first step comes after the countdown of 5 idle refreshes.
    for (int i = 0; i < 5 && !(view.controls[ciMarker].place == at); ++i) form.ScreenRefresh();
    EXPECT_EQ(view.controls[ciMarker].place, at);
    const bool shown = view.controls[ciMarker].visible;
    for (int i = 0; i < 3; ++i) form.ScreenRefresh();
    EXPECT_EQ(view.controls[ciMarker].visible, shown);
    form.ScreenRefresh(); // the fourth idle tick flips it
    EXPECT_NE(view.controls[ciMarker].visible, shown);

    // Stretched to twice the width and height: the bar scales with the cells.
    view.SetClientSize(1440, 841);
    form.FormResize();
    form.ScreenRefresh(); // the redraw after the resize
    for (int i = 0; i < 4; ++i) form.ScreenRefresh();
    EXPECT_EQ(view.controls[ciMarker].place, (TRect{180, (6 * 16 - 2) * 2 + 41, 18, 2}));
}

TEST_F(ConsoleFormTest, AfterClearScreenTheNextBlinkShowsTheBar) {
    for (int i = 0; i < 21; ++i) form.ScreenRefresh();
    form.Screen().ClearScreen();
    form.ScreenRefresh(); // the change
    bool seen = false;
    for (int i = 0; i < 8 && !seen; ++i) {
        form.ScreenRefresh();
        seen = view.controls[ciMarker].visible;
    }
    EXPECT_TRUE(seen);
}

TEST_F(ConsoleFormTest, AboveNinetySixDpiTheConsoleIsShownAtAWholeZoomWithItsCursorBar) {
    auto bar_at = [&](int column, int row) {
        form.Screen().SetCursor(column, row);
        for (int i = 0; i < 10; ++i) form.ScreenRefresh(); // the bar's next step
        return view.controls[ciMarker].place;
    };
    // 144 DPI, device pixels (Windows): zoom 2 below the panel's 62 pixels.
    view.dpi_scale = 1.5;
    view.panel_height = 62;
    form.FormDpiChanged();
    EXPECT_EQ(form.Zoom(), 2);
    EXPECT_EQ(view.client_width, 1440);
    EXPECT_EQ(view.client_height, 862);
    EXPECT_FALSE(form.StretchMode());
    EXPECT_EQ(form.ConsoleArea(), (TRect{0, 62, 1440, 800}));
    view.drawn.clear();
    form.ScreenRefresh();
    EXPECT_EQ(view.drawn.size(), 2000u); // everything again, at the new size
    EXPECT_EQ(view.copies.back(), std::make_pair(TRect{0, 62, 1440, 800}, false));
    EXPECT_EQ(bar_at(10, 5), (TRect{180, (6 * 16 - 2) * 2 + 62, 18, 4}));

    // Logical pixels of 1.5 device pixels (Qt at a device pixel ratio of 1.5): the same
    // 1440 x 800 device pixels are 960 x 534 units, a cell 12 x 21.3.
    view.pixel_ratio = 1.5;
    view.panel_height = 41;
    form.FormDpiChanged();
    EXPECT_EQ(form.Zoom(), 2);
    EXPECT_EQ(form.ConsoleArea(), (TRect{0, 41, 960, 534}));
    EXPECT_EQ(view.client_height, 575);
    EXPECT_EQ(bar_at(10, 5), (TRect{120, 125 + 41, 12, 3}));

    // A screen too small for zoom 2 keeps 1, in a window as wide as its panel needs: its
    // controls end at 574 pixels at 96 DPI, and the status label wants room beside them.
    view.pixel_ratio = 1.0;
    view.panel_height = 62;
    view.work_area = TRect{0, 0, 1366, 728};
    form.FormDpiChanged();
    EXPECT_EQ(form.Zoom(), 1);
    EXPECT_EQ(view.client_width, (574 + 40) * 3 / 2);
    EXPECT_EQ(view.client_height, 462);
    EXPECT_FALSE(form.StretchMode());
    EXPECT_EQ(form.ConsoleArea(), (TRect{0, 62, 720, 400}));
    view.dpi_scale = 1.0;
    view.panel_height = 41;
    form.FormDpiChanged();
    EXPECT_EQ(view.client_height, 441);
    EXPECT_EQ(bar_at(3, 2), (TRect{27, 3 * 16 + 41 - 2, 9, 2}));
}

TEST_F(ConsoleFormTest, RefreshButtonSendsTwelveUnlessTheKeysAreHeld) {
    view.Do("R", [&] { form.RscrClick(); });
    view.Then("12 sent", [&] { return port->Received() == "\x12"; },
              [&] { port->Send("\x1bS"); });
    view.Then("key hold", [&] { return form.Link().key_hold; }, [&] {
        form.RscrClick();
        form.AppMessage(kdDown, 0x1E, 0x41); // 'a': held back too
        port->Send("\x1bQ");
    });
    view.Then("hold released", [&] { return !form.Link().key_hold; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    // One refresh request and the status answer (AA: no image); nothing while held.
    EXPECT_EQ(port->Received(), std::string("\x12\xAA", 2));
}

TEST_F(ConsoleFormTest, ArrivingTextIsDrawnOnceTheQueueRunsDryNotAtTheNextTick) {
    auto drawn = [&](char c) {
        for (const auto& [cell, value] : view.drawn)
            if (value.ch == static_cast<uint8_t>(c)) return true;
        return false;
    };
    size_t requests_before_second = 0;
    view.Do("first text", [&] { port->Send("\x1b[1;1HH"); });
    // No timer tick runs in this test: only the main cycle running dry can draw.
    view.Then("drawn without a tick", [&] { return drawn('H'); }, [&] {
        requests_before_second = view.refresh_requests.size();
        port->Send("W");
    });
    view.Then("the second text is applied", [&] { return form.Screen().Cell(0, 1).ch == 'W'; },
              [] {});
    view.Then("drawn at once or within the frame",
              [&] {
                  if (drawn('W')) return true;
                  // Less than a frame after the first: a one-shot refresh for the rest of it.
                  if (view.refresh_requests.size() > requests_before_second) {
                      EXPECT_LE(view.refresh_requests.back(), 16);
                      form.RefreshTimer();
                  }
                  return drawn('W');
              },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
}

TEST_F(ConsoleFormTest, ARightClickOnTheConsoleOffersCopyWhichPutsTheScreenOnTheClipboard) {
    form.Screen().StrOut(0x07, 0, 0, "A:\\>dir");
    view.menu_answer = [](const std::vector<TMenuEntry>& entries) {
        return TFakeView::Command(entries, "Copy");
    };
    // On the panel: no menu.
    form.MouseDown(mbRight, 100, 20);
    EXPECT_TRUE(view.menus.empty());
    // On the console area, below the panel.
    form.MouseDown(mbRight, 100, kPanelHeight + 50);
    ASSERT_EQ(view.menus.size(), 1u);
    EXPECT_EQ(view.menu_places.back(), std::make_pair(100, kPanelHeight + 50));
    EXPECT_EQ(view.clipboard[cbClipboard], std::string("A:\\>dir") + kTextLineEnd);
    EXPECT_EQ(view.clipboard[cbPrimary], "");
}

namespace {

int RowWith(TScreen& screen, const std::string& text) { // -1: no row shows it
    for (int row = 0; row < kScreenRows; ++row)
        if (screen.RowText(row).find(text) != std::string::npos) return row;
    return -1;
}

} // namespace

TEST(ConsoleMenu, PasteWhileConnectedStopPasteWhilePastingAndTheLogsAtAnyTime) {
    auto enabled = [](const TConsoleMenuState& state) {
        std::string out;
        for (const TMenuEntry& e : ConsoleMenuEntries(state))
            out += e.caption.empty() ? "| " : e.caption + (e.enabled ? "; " : " (off); ");
        return out;
    };
    const std::string saves =
        "| Save screen as text...; Save screen as ANSI...; Save screen as PNG...; | ";
    EXPECT_EQ(enabled({}), "Copy (off); Paste (off); Select all (off); " + saves +
                               "Start text log...; Start line trace...; | Stop paste (off); ");
    EXPECT_EQ(enabled({.has_text = true, .connected = true}),
              "Copy; Paste; Select all; " + saves +
                  "Start text log...; Start line trace...; | Stop paste (off); ");
    EXPECT_EQ(enabled({.has_selection = true, .connected = true, .pasting = true,
                       .text_log = true, .line_trace = true}),
              "Copy; Paste (off); Select all (off); " + saves +
                  "Stop text log; Stop line trace; | Stop paste; ");
}

TEST_F(ConsoleFormTest, PasteTypesTheClipboardIntoTheTargetInOrderAndPaced) {
    view.clipboard[cbClipboard] = "dir\r\n\u00E9 \u263A\tx";
    view.Do("paste", [&] { Choose("Paste"); });
    view.Then("all typed", [&] { return port->Received().size() >= 8; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_EQ(port->Received(), "dir\r\x82 \tx");
    EXPECT_GE(RowWith(form.Screen(), "Paste: 1 character left out: no key types it."), 0);
    // The target gets the line gap once, after the line end; no other step waits as long.
    const auto& waits = view.paste_requests;
    EXPECT_EQ(std::count(waits.begin(), waits.end(), 50), 1);
    EXPECT_EQ(std::count_if(waits.begin(), waits.end(), [](int ms) { return ms > 5; }), 1);
}

TEST_F(ConsoleFormTest, StopPasteAndDisconnectEndAPasteAtOnce) {
    view.clipboard[cbClipboard] = std::string(200, 'k');
    size_t typed = 0;
    view.Do("paste", [&] { Choose("Paste"); });
    view.Then("a few keys typed", [&] { return port->Received().size() >= 3; },
              [&] { Choose("Stop paste"); });
    // Once the pending timer has run, nothing more can go out: the status answer comes last.
    view.Then("the timer has run", [&] { return !view.PasteTimerPending(); }, [&] {
        typed = port->Received().size();
        port->Send("\x1bS");
    });
    view.Then("answered", [&] { return port->Received().size() > typed; }, [&] {
        Choose("Paste"); // held back by the key hold now
        form.CloseComClick();
    });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_LT(typed, 200u);
    EXPECT_EQ(port->Received(), std::string(typed, 'k') + "\xAA");
    EXPECT_FALSE(form.Paste().Active()); // Disconnect ended the held paste
}

// A paste waits for a port that went away, as for the key hold: no key is written into a port
// that is not there, and the rest goes once it is back.
TEST_F(ConsoleFormTest, APasteWaitsForAPortThatWentAwayAndGoesOnWhenItIsBack) {
    view.clipboard[cbClipboard] = std::string(40, 'k');
    size_t before = 0, polls = 0;
    view.Do("paste", [&] { Choose("Paste"); });
    view.Then("a few keys typed", [&] { return port->Received().size() >= 3; },
              [&] { port->GoAway(); });
    view.Then("gone", [&] { return form.WaitingForPort(); }, [&] {
        before = port->Received().size();
        polls = view.paste_requests.size();
    });
    view.Then("the paste looked again while gone",
              [&] { return view.paste_requests.size() >= polls + 5; }, [&] {
                  EXPECT_TRUE(form.Paste().Active());
                  Ticks(10); // the port is opened again once a second (only the test ticks)
              });
    const std::string& received = port->Received();
    view.Then("all typed", [&] { return std::count(received.begin(), received.end(), 'k') == 40; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_LT(before, 40u);
    // After the keys typed before it went away, the refresh request that follows its return.
    EXPECT_EQ(port->Received(), std::string(before, 'k') + "\x12" + std::string(40 - before, 'k'));
}

TEST_F(ConsoleFormTest, APasteNeedsAConnectionTheConsoleAreaAndAtMost64KiB) {
    view.clipboard[cbPrimary] = "x";
    form.MouseDown(mbMiddle, 10, kPanelHeight + 10); // idle: nothing to type into
    view.Do("paste", [&] {
        form.MouseDown(mbMiddle, 10, 20); // on the panel
        form.PasteText(std::string(kPasteLimit + 1, 'a'));
        EXPECT_FALSE(form.Paste().Active());
        form.PasteText(std::string(kPasteLimit, 'a')); // the limit itself is taken
        EXPECT_TRUE(form.Paste().Active());
        form.CloseComClick();
    });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_NE(view.boxes[0].find("limited to 64 KiB"), std::string::npos) << view.boxes[0];
}

TEST_F(ConsoleFormTest, LogsFromTheMenuTheTextLogEndsAtDisconnectTheTraceRunsOn) {
    const std::string dir = TestPath("");
    view.save_answer = dir + "session.log";
    Choose("Start text log...");
    view.save_answer = dir + "line.trace";
    Choose("Start line trace...");
    view.Do("text", [&] {
        // The console's own lines scroll the banner and the first of them off the screen.
        for (int i = 0; i < 26; ++i) form.Screen().MsgOut("line %02d", i);
        port->Send("\x1bS");
    });
    view.Then("answered", [&] { return port->Received() == "\xAA"; }, [&] {
        form.CloseComClick();
        form.CloseComClick(); // a second Disconnect before the main cycle has returned
    });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_FALSE(form.TextLog().Running());
    EXPECT_TRUE(form.LineTrace().Running());
    Choose("Stop line trace");
    EXPECT_EQ(RowWith(form.Screen(), "stopped"), -1); // a plain stop says nothing
    // The rows that left the screen, once each and in order, then the screen at the end.
    const std::string log = ReadFileText(dir + "session.log");
    const std::string end = kTextLineEnd;
    const size_t banner = log.find(" Quorvik V1.01 for Windows" + end);
    const size_t first = log.find(" line 00" + end);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_LT(banner, first) << log;
    EXPECT_EQ(first, log.rfind(" line 00" + end)) << log;
    EXPECT_LT(first, log.find(" line 25" + end)) << log;
    const std::string trace = ReadFileText(dir + "line.trace");
    size_t at = 0;
    for (const char* part : {" connected: COM1 is ", " in  1B 53  |.S|\n", " out AA  |.|\n",
                             " disconnected\n", " trace stopped\n"}) {
        at = trace.find(part, at);
        ASSERT_NE(at, std::string::npos) << part << " missing in order in:\n" << trace;
    }
    EXPECT_EQ(trace.find(" disconnected\n"), trace.rfind(" disconnected\n")) << trace;
}
