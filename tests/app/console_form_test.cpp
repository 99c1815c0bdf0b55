// The main window's logic without any window system: a recording view stands in for the
// window, a pseudo-terminal for the serial device.
#include "console_form.h"
#include "floppy_service.h"
#include "pty_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Records what the form shows and runs a test's script between the rounds of its event loop.
class TFakeView final : public TFormView, public TMainThreadPoster {
  public:
    struct TControl {
        std::string text;
        bool enabled = true, visible = true, checked = false;
        TRect place;
    };
    std::map<TControlId, TControl> controls;
    std::string caption;
    std::vector<std::string> boxes;
    std::string dialog_answer;
    int client_width = 0, client_height = 0;
    std::vector<std::pair<int, TCell>> drawn; // cell number, cell
    std::vector<std::pair<TRect, bool>> copies;
    int timer_interval = 0;
    std::vector<int> refresh_requests;

    // The script: each step waits for its condition, then acts; a step that is not met within
    // its time limit fails the test and disconnects.
    struct TStep {
        std::string what;
        std::function<bool()> cond;
        std::function<void()> action;
    };
    std::deque<TStep> steps;
    std::vector<std::string> failures;
    TConsoleForm* form = nullptr;

    void Then(std::string what, std::function<bool()> cond, std::function<void()> action) {
        steps.push_back({std::move(what), std::move(cond), std::move(action)});
    }
    void Do(std::string what, std::function<void()> action) {
        Then(std::move(what), [] { return true; }, std::move(action));
    }

    // TFormView
    void CreateControl(const TControlDesc& s) override {
        controls[s.id] = TControl{s.caption, s.enabled, s.visible, s.checked,
                                  TRect{s.left, s.top, s.width, s.height}};
    }
    void SetText(TControlId id, const std::string& text) override { controls[id].text = text; }
    void SetEnabled(TControlId id, bool on) override { controls[id].enabled = on; }
    void SetVisible(TControlId id, bool on) override { controls[id].visible = on; }
    void SetChecked(TControlId id, bool on) override { controls[id].checked = on; }
    bool Checked(TControlId id) const override { return controls.at(id).checked; }
    int SelectedItem(TControlId) const override { return selected_item; }
    void PlaceControl(TControlId id, const TRect& r) override { controls[id].place = r; }
    void SetWindowCaption(const std::string& c) override { caption = c; }
    TRect MeasureConsoleText(const char*) override { return TRect{0, 0, 9, 16}; }
    int ClientWidth() const override { return client_width; }
    int ClientHeight() const override { return client_height; }
    int PanelHeight() const override { return kPanelHeight; }
    void SetClientSize(int w, int h) override {
        client_width = w;
        client_height = h;
    }
    void FocusWindow() override {}
    void CreateImage(int, int) override {}
    void DrawCell(int row, int column, TCell cell) override {
        drawn.emplace_back(row * kScreenColumns + column, cell);
    }
    void CopyImage(const TRect& area, bool stretched) override {
        copies.emplace_back(area, stretched);
    }
    void MessageBox(const std::string& text) override { boxes.push_back(text); }
    std::string OpenFileDialog(const TFileDialogDesc& desc) override {
        dialog_title = desc.title;
        return dialog_answer;
    }
    void StartTimer(int interval_ms) override { timer_interval = interval_ms; }
    void StartRefreshTimer(int delay_ms) override { refresh_requests.push_back(delay_ms); }
    void ProcessPendingEvents() override { Round(); }
    void WaitForEvents() override {
        std::unique_lock lock(mutex_);
        posted_cv_.wait_for(lock, 2ms, [this] { return !posted_.empty(); });
        lock.unlock();
        Round();
    }
    TLockState ReadLockState() override { return {}; }
    TMainThreadPoster& Poster() override { return *this; }

    // TMainThreadPoster: the serial component's hand-offs, run in the next round.
    void Post(std::function<void()> call) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(call));
        posted_cv_.notify_one();
    }

    int selected_item = 0;
    std::string dialog_title;

  private:
    void Round() {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(posted_);
        }
        for (auto& call : calls) call();
        if (steps.empty() || in_step_) return;
        if (step_started_ == std::chrono::steady_clock::time_point{})
            step_started_ = std::chrono::steady_clock::now();
        TStep& step = steps.front();
        if (step.cond()) {
            TStep taken = std::move(step);
            steps.pop_front();
            step_started_ = {};
            in_step_ = true;
            taken.action();
            in_step_ = false;
        } else if (std::chrono::steady_clock::now() - step_started_ > 10s) {
            failures.push_back("timed out waiting: " + step.what);
            steps.clear();
            if (form) form->CloseComClick();
        }
    }

    std::mutex mutex_;
    std::condition_variable posted_cv_;
    std::deque<std::function<void()>> posted_;
    std::chrono::steady_clock::time_point step_started_{};
    bool in_step_ = false;
};

class ConsoleFormTest : public testing::Test {
  protected:
    void SetUp() override { view.form = &form; }

    bool Idle() {
        auto& c = view.controls;
        return c[ciConnect].enabled && !c[ciDisconnect].enabled && c[ciEnaFloppy].enabled &&
               c[ciCOMGroup].enabled && c[ciEnaKeyboard].enabled && c[ciEnaVideo].enabled;
    }
    bool Connected() {
        auto& c = view.controls;
        return !c[ciConnect].enabled && c[ciDisconnect].enabled && !c[ciEnaFloppy].enabled &&
               !c[ciCOMGroup].enabled && !c[ciEnaKeyboard].enabled && !c[ciEnaVideo].enabled;
    }
    const std::string& Status() { return view.controls[ciLabel2].text; }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) form.Timer1Timer();
    }
    // Connects, runs the script until it ends (then disconnects if it has not), and returns
    // the failures.
    std::vector<std::string> RunConnected() {
        view.Do("end of script", [this] {
            if (form.Connected()) form.CloseComClick();
        });
        form.OpenComClick();
        // Only the closing step may be left: the script's own last step may disconnect.
        if (view.steps.size() > 1) view.failures.push_back("the connection ended early");
        view.steps.clear();
        return std::exchange(view.failures, {});
    }
    // Connects, sends the status query and returns the answer.
    std::string StatusAnswer() {
        TPtyTarget target;
        view.Do("status query", [&] { target.Send("\x1bS"); });
        view.Then("answered", [&] { return !target.Received().empty(); },
                  [&] { form.CloseComClick(); });
        EXPECT_EQ(RunConnected(), std::vector<std::string>{});
        return target.Received();
    }
    std::string TempImage(const std::string& name) {
        const std::string path = testing::TempDir() + "/" + std::to_string(getpid()) + name;
        EXPECT_EQ(std::system(("rm -f '" + path + "' && mkfs.fat -C -F 12 '" + path +
                               "' 1440 > /dev/null")
                                  .c_str()),
                  0);
        return path;
    }

    TFakeView view;
    TConsoleForm form{view};
};

} // namespace

TEST_F(ConsoleFormTest, CreationBuildsTheIdlePanelAtTheNaturalSize) {
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows");
    EXPECT_TRUE(Idle());
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
    TPtyTarget target;
    bool connected = false;
    std::string right_after_connect;
    view.Do("connected", [&] {
        connected = Connected();
        right_after_connect = Status();
        target.Send("\x1b[2J\x1b[3;5H\x1b[1;31mHello");
    });
    view.Then("text on the screen", [&] { return form.Screen().RowText(2).substr(4, 5) == "Hello"; },
              [&] { Ticks(10); });
    view.Then("count shown", [&] { return Status() == std::to_string(form.Link().ReceivedCount()); },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_TRUE(connected);
    EXPECT_EQ(right_after_connect, "Symb = 2");
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form.Comm().Enabled());
    EXPECT_TRUE(view.boxes.empty());
}

TEST_F(ConsoleFormTest, ConnectToAMissingDeviceShowsErrorOpeningComAndStaysIdle) {
    setenv("QUORVIK_COM2", "/nonexistent/quorvik-test-device", 1);
    view.selected_item = 1;
    const std::string before = form.Screen().RowText(0);
    form.OpenComClick();
    ASSERT_EQ(view.boxes.size(), 1u);
    const std::string& box = view.boxes[0];
    EXPECT_EQ(box.substr(0, 18), "Error Opening COM\n");
    EXPECT_NE(box.find("COM2 is /nonexistent/quorvik-test-device (QUORVIK_COM2)."), std::string::npos)
        << box;
    EXPECT_NE(box.find("No such file or directory (error 2)"), std::string::npos) << box;
    EXPECT_NE(box.find("start Quorvik with QUORVIK_COM2="), std::string::npos) << box;
    EXPECT_TRUE(Idle());
    EXPECT_EQ(Status(), "Symb = 2");
    EXPECT_EQ(form.Screen().RowText(0), before); // no banner: nothing was written
    EXPECT_FALSE(form.MainCycleRunning());
}

// Connect in a child process that runs as an unprivileged user (root opens anything); returns
// the message box the child's form showed.
std::string OpenAsNobody(const std::string& device) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string box = "no box";
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            box = "cannot drop privileges";
        } else {
            setenv("QUORVIK_COM1", device.c_str(), 1);
            TFakeView v;
            TConsoleForm f(v);
            f.OpenComClick();
            if (!v.boxes.empty()) box = v.boxes.front();
            if (f.Connected()) box = "connected";
        }
        if (write(fds[1], box.data(), box.size()) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string box;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) box.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return box;
}

TEST_F(ConsoleFormTest, ErrorOpeningComSaysWhyForADeniedAndAHeldPort) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
    TPtyTarget target;
    const std::string path = target.SlavePath();

    // The device's mode lets only its owner in.
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const std::string denied = OpenAsNobody(path);
    EXPECT_EQ(denied.substr(0, 18), "Error Opening COM\n") << denied;
    EXPECT_NE(denied.find("COM1 is " + path), std::string::npos) << denied;
    EXPECT_NE(denied.find("Permission denied (error 13)"), std::string::npos) << denied;
    EXPECT_NE(denied.find("log out and in again"), std::string::npos) << denied;

    // Open to all, but held by another program for exclusive use.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    const int holder = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    const std::string held = OpenAsNobody(path);
    close(holder);
    EXPECT_NE(held.find("Device or resource busy (error 16)"), std::string::npos) << held;
    EXPECT_NE(held.find("Another program holds the port"), std::string::npos) << held;
}

TEST_F(ConsoleFormTest, ConnectRightAfterDisconnectStartsAfterThePreviousCycleHasReturned) {
    TPtyTarget target;
    int depth_after_reconnect = -1;
    view.Do("disconnect and connect at once", [&] {
        form.CloseComClick();
        form.OpenComClick(); // the old main cycle is still on the stack here
    });
    view.Then("connected again", [&] { return form.Connected(); }, [&] {
        depth_after_reconnect = form.MainCycleDepth();
        target.Send("\x1bS");
    });
    view.Then("the new connection answers", [&] { return target.Received() == "\xAA"; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_EQ(depth_after_reconnect, 1);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(form.MainCycleDepth(), 0);
}

TEST_F(ConsoleFormTest, TheFloppyBoxNamesTheChosenImageAndAttachesItAtConnect) {
    // Cancelled: unchecked, the plain caption, nothing attached.
    view.controls[ciEnaFloppy].checked = true; // the click ticked it
    form.EnableFloppyClick();
    EXPECT_EQ(view.dialog_title, "Floppy Images");
    EXPECT_FALSE(view.controls[ciEnaFloppy].checked);
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows");
    EXPECT_EQ(StatusAnswer(), "\xAA");

    // Chosen: a name that is not UTF-8 is attached as the file system spells it.
    const std::string path = TempImage("-form-\xE9t\xE9.img");
    view.dialog_answer = path;
    view.controls[ciEnaFloppy].checked = true;
    form.EnableFloppyClick();
    EXPECT_TRUE(view.controls[ciEnaFloppy].checked);
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows ... ImageFile: " +
                                std::to_string(getpid()) + "-form-\xE9t\xE9.img");
    EXPECT_EQ(StatusAnswer(), "\x55");
    EXPECT_FALSE(form.Floppy().ImageAttached()); // released at Disconnect

    // Unticked: the name leaves the caption.
    view.controls[ciEnaFloppy].checked = false;
    form.EnableFloppyClick();
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows");
    std::remove(path.c_str());
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

TEST_F(ConsoleFormTest, RefreshButtonSendsTwelveUnlessTheKeysAreHeld) {
    TPtyTarget target;
    view.Do("R", [&] { form.RscrClick(); });
    view.Then("12 sent", [&] { return target.Received() == "\x12"; },
              [&] { target.Send("\x1bS"); });
    view.Then("key hold", [&] { return form.Link().key_hold; }, [&] {
        form.RscrClick();
        form.AppMessage(kdDown, 0x1E, 0x41); // 'a': held back too
        target.Send("\x1bQ");
    });
    view.Then("hold released", [&] { return !form.Link().key_hold; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    // One refresh request and the status answer (AA: no image); nothing while held.
    EXPECT_EQ(target.Received(), std::string("\x12\xAA", 2));
}

TEST_F(ConsoleFormTest, ArrivingTextIsDrawnOnceTheQueueRunsDryNotAtTheNextTick) {
    TPtyTarget target;
    auto drawn = [&](char c) {
        for (const auto& [cell, value] : view.drawn)
            if (value.ch == static_cast<uint8_t>(c)) return true;
        return false;
    };
    size_t requests_before_second = 0;
    view.Do("first text", [&] { target.Send("\x1b[1;1HH"); });
    // No timer tick runs in this test: only the main cycle running dry can draw.
    view.Then("drawn without a tick", [&] { return drawn('H'); }, [&] {
        requests_before_second = view.refresh_requests.size();
        target.Send("W");
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
