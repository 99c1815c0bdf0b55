// A recording view of the main window, a port in memory, and the fixtures of the window logic's
// tests.
#pragma once

#include "comm.h"
#include "console_form.h"
#include "floppy_service.h"
#include "panel_state.h"
#include "pty_target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    std::array<TCell, kScreenCells> image{}; // the off-screen image's cells as drawn
    std::array<TCell, kScreenCells> image_at_save{};
    std::vector<std::string> saved_images;
    int timer_interval = 0;
    std::vector<int> refresh_requests;
    std::vector<int> paste_requests;
    // A paste timer is pending (it fires in a later round).
    bool PasteTimerPending() const { return paste_armed_; }

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
    void SetItemHint(TControlId, int item, const std::string& hint) override {
        item_hints[item] = hint;
    }
    bool NetworkPortDialog(TNetworkPortDesc& port) override {
        network_dialog_shown.push_back(port);
        if (!network_answer) return false;
        port = *network_answer;
        return true;
    }
    std::map<int, std::string> item_hints;
    std::vector<TNetworkPortDesc> network_dialog_shown; // what each dialog started from
    std::optional<TNetworkPortDesc> network_answer;     // empty: the user cancels
    void SetWindowCaption(const std::string& c) override { caption = c; }
    TRect MeasureConsoleText(const char*) override { return TRect{0, 0, 9, 16}; }
    int ClientWidth() const override { return client_width; }
    int ClientHeight() const override { return client_height; }
    int PanelHeight() const override { return panel_height; }
    void SetClientSize(int w, int h) override {
        client_width = w;
        client_height = h;
    }
    void FocusWindow() override {}
    double DpiScale() const override { return dpi_scale; }
    double PixelRatio() const override { return pixel_ratio; }
    TRect WorkArea() const override { return work_area; }
    void CreateImage(int, int) override {}
    void DrawCell(int row, int column, TCell cell) override {
        drawn.emplace_back(row * kScreenColumns + column, cell);
        image[row * kScreenColumns + column] = cell;
    }
    void CopyImage(const TRect& area, bool stretched) override {
        copies.emplace_back(area, stretched);
    }
    std::string SaveImagePng(const std::string& path) override {
        saved_images.push_back(path);
        image_at_save = image;
        return "";
    }
    void MessageBox(const std::string& text) override { boxes.push_back(text); }
    std::string OpenFileDialog(const TFileDialogDesc& desc) override {
        dialog_title = desc.title;
        return dialog_answer;
    }
    std::string FolderDialog(const TFileDialogDesc& desc) override {
        dialog_title = desc.title;
        return folder_answer;
    }
    bool NewImageDialog(TNewImageDesc& desc) override {
        new_image_shown.push_back(desc);
        if (!new_image_answer) return false;
        desc = *new_image_answer;
        return true;
    }
    std::string folder_answer;
    std::vector<TNewImageDesc> new_image_shown;   // what each dialog started from
    std::optional<TNewImageDesc> new_image_answer; // empty: the user cancels
    std::string SaveFileDialog(const TFileDialogDesc& desc) override {
        dialog_title = desc.title;
        return save_answer;
    }
    int PopupMenu(const std::vector<TMenuEntry>& entries, int x, int y) override {
        menus.push_back(entries);
        menu_places.emplace_back(x, y);
        return menu_answer(entries);
    }
    void SetClipboardText(TClipboardKind kind, const std::string& text) override {
        clipboard[kind] = text;
    }
    std::string ClipboardText(TClipboardKind kind) override { return clipboard[kind]; }
    void StartTimer(int interval_ms) override { timer_interval = interval_ms; }
    void StartRefreshTimer(int delay_ms) override { refresh_requests.push_back(delay_ms); }
    // The paste timer runs in real time: it fires in the first round after it is due.
    void StartPasteTimer(int delay_ms) override {
        paste_requests.push_back(delay_ms);
        paste_due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms);
        paste_armed_ = true;
    }
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
    std::string save_answer;
    std::vector<std::vector<TMenuEntry>> menus; // every menu shown
    std::vector<std::pair<int, int>> menu_places;
    std::function<int(const std::vector<TMenuEntry>&)> menu_answer = [](const auto&) { return -1; };
    std::map<TClipboardKind, std::string> clipboard;

    // The command of the menu entry with this caption (-1 when there is none).
    static int Command(const std::vector<TMenuEntry>& entries, const std::string& caption) {
        for (const TMenuEntry& e : entries)
            if (e.caption == caption) return e.command;
        return -1;
    }
    int panel_height = kPanelHeight;
    double dpi_scale = 1.0;
    double pixel_ratio = 1.0;
    TRect work_area{0, 0, 1920, 1040};

  private:
    void Round() {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(posted_);
        }
        for (auto& call : calls) call();
        if (paste_armed_ && form && std::chrono::steady_clock::now() >= paste_due_) {
            paste_armed_ = false;
            form->PasteTimer();
        }
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
    std::chrono::steady_clock::time_point paste_due_{};
    bool paste_armed_ = false;
};

// The console's port in memory, where the serial device itself is not what a test is about:
// what the target sends arrives while the port is open, its event handed over in the next round
// of the view's event loop (as the serial component hands its events to the window thread);
// what the console writes is kept. It opens whatever it is named.
class TMemoryPort final : public TConsolePort {
  public:
    explicit TMemoryPort(TMainThreadPoster& poster) : poster_(poster) {}
    // The target's side.
    void Send(const std::string& bytes) {
        if (!open_) return; // nobody listens on a closed line
        incoming_.append(bytes);
        poster_.Post([this] {
            if (open_ && !incoming_.empty() && events_.rx_char)
                events_.rx_char(nullptr, static_cast<uint32_t>(incoming_.size()));
        });
    }
    const std::string& Received() const { return written_; }
    // The port goes away (a cable pulled), reported as the serial component reports it.
    void GoAway() {
        Close();
        poster_.Post([this] {
            if (events_.line_error) events_.line_error(nullptr, kCeMode);
        });
    }

    int InQueCount() override { return open_ ? static_cast<int>(incoming_.size()) : -1; }
    int Read(char* buffer, unsigned long count) override {
        if (!open_) return -1;
        const size_t n = std::min<size_t>(count, incoming_.size());
        incoming_.copy(buffer, n);
        incoming_.erase(0, n);
        return static_cast<int>(n);
    }
    int Write(const char* buffer, unsigned long count) override {
        if (!open_) return -1;
        written_.append(buffer, count);
        return static_cast<int>(count);
    }
    void SetEvents(TEvents events) override { events_ = std::move(events); }
    void SetDeviceName(const std::string& name) override { name_ = name; }
    const std::string& DeviceName() const override { return name_; }
    std::string DevicePath() const override { return "memory"; }
    void Open() override { open_ = true; }
    void Close() override {
        open_ = false;
        incoming_.clear();
    }
    bool Enabled() const override { return open_; }
    std::string DescribeOpenFailure() const override { return ""; }
    std::string PortLine() const override { return PortLine(name_); }
    std::string PortLine(const std::string& name) const override {
        const auto mapped = mapped_.find(name);
        return name + " is " + (mapped == mapped_.end() ? "memory" : mapped->second) + ".";
    }
    void MapPort(const std::string& com_name, const std::string& target) override {
        mapped_[com_name] = target;
    }
    std::string MappedPort(const std::string& com_name) const override {
        const auto mapped = mapped_.find(com_name);
        return mapped == mapped_.end() ? "" : mapped->second;
    }
    int ConnectTimeoutMs() const override { return connect_ms_; }
    void SetConnectTimeoutMs(int ms) override { connect_ms_ = ms; }

  private:
    TMainThreadPoster& poster_;
    TEvents events_;
    std::string name_, incoming_, written_;
    std::map<std::string, std::string> mapped_;
    bool open_ = false;
    int connect_ms_ = 5000;
};

// The form on the recording view, with the port in memory (`port`, owned by the form);
// RealPortFormTest's form has the serial component, and a pseudo-terminal plays the target.
class ConsoleFormTest : public testing::Test {
  protected:
    explicit ConsoleFormTest(bool memory_port = true)
        : port(memory_port ? new TMemoryPort(view) : nullptr),
          form(view, std::unique_ptr<TConsolePort>(port)) {}
    void SetUp() override { view.form = &form; }

    // "" when the panel shows the idle (or connected) state of kPanelStates.
    std::string PanelMismatch(bool connected) {
        return PanelStateMismatch(
            connected, [this](TControlId id, int) { return view.controls[id].enabled; });
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
        const size_t before = port->Received().size();
        view.Do("status query", [&] { port->Send("\x1bS"); });
        view.Then("answered", [&] { return port->Received().size() > before; },
                  [&] { form.CloseComClick(); });
        EXPECT_EQ(RunConnected(), std::vector<std::string>{});
        return port->Received().substr(before);
    }
    // Right-clicks the console and chooses the entry with this caption.
    void Choose(const std::string& caption) {
        view.menu_answer = [caption](const auto& e) { return TFakeView::Command(e, caption); };
        form.MouseDown(mbRight, 10, kPanelHeight + 10);
    }

    TFakeView view;
    TMemoryPort* port; // null: the serial component
    TConsoleForm form;
};

class RealPortFormTest : public ConsoleFormTest {
  protected:
    RealPortFormTest() : ConsoleFormTest(false) {}
};
