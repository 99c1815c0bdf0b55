// The main window as quorvik-term has it: a view of the form without a window. It keeps what
// the form shows on its panel (the status label, the keyboard state, the COM item's hint, the
// caption with the image's name) and the off-screen image cell by cell (a cell is one glyph of
// the terminal), tells its owner when the image was copied (the moment to draw it) and when a
// message box would open, and runs the form's timers and events on the loop. Dialogs, menus
// and PNG files have no place here and do nothing.
//
// Window thread only. ProcessPendingEvents and WaitForEvents run the loop's rounds, and so the
// form's handlers, nested.
#pragma once

#include "form_view.h"
#include "term_loop.h"
#include "translate.h"

#include <array>
#include <bitset>
#include <functional>
#include <map>
#include <string>

class TTermView final : public TFormView {
  public:
    explicit TTermView(TTermLoop& loop) : loop_(loop) {}

    struct THooks {
        std::function<void()> image_copied;                      // CopyImage
        std::function<void(const std::string& text)> message_box; // MessageBox
        std::function<void()> panel_changed;                      // a text of the panel
        std::function<void()> waited;                             // after each waiting round
        std::function<TTermLoop::TClock::time_point()> deadline;  // the owner's next deadline
    };
    THooks hooks;

    // The image as drawn, and the cells drawn since ClearDrawn.
    const std::array<TCell, kScreenCells>& Image() const { return image_; }
    const std::bitset<kScreenCells>& Drawn() const { return drawn_; }
    void ClearDrawn() { drawn_.reset(); }

    const std::string& Text(TControlId id) const;
    const std::string& PortHint() const { return port_hint_; }
    const std::string& Caption() const { return caption_; }

    // TFormView
    void CreateControl(const TControlDesc& desc) override;
    void SetText(TControlId id, const std::string& text) override;
    void SetEnabled(TControlId, bool) override {}
    void SetVisible(TControlId, bool) override {}
    void SetChecked(TControlId id, bool checked) override { checked_[id] = checked; }
    bool Checked(TControlId id) const override;
    int SelectedItem(TControlId) const override { return 0; } // COM1, which --port maps
    void PlaceControl(TControlId, const TRect&) override {}
    void SetItemHint(TControlId id, int item, const std::string& hint) override;
    void SetWindowCaption(const std::string& caption) override;
    TRect MeasureConsoleText(const char*) override { return TRect{0, 0, 1, 1}; } // a glyph
    int ClientWidth() const override { return client_width_; }
    int ClientHeight() const override { return client_height_; }
    int PanelHeight() const override { return 0; }
    void SetClientSize(int width, int height) override;
    void FocusWindow() override {}
    double DpiScale() const override { return 1.0; }
    double PixelRatio() const override { return 1.0; }
    TRect WorkArea() const override { return TRect{0, 0, 1 << 16, 1 << 16}; }
    void CreateImage(int, int) override {}
    void DrawCell(int row, int column, TCell cell) override;
    void CopyImage(const TRect&, bool) override;
    std::string SaveImagePng(const std::string&) override;
    void MessageBox(const std::string& text) override;
    std::string OpenFileDialog(const TFileDialogDesc&) override { return ""; }
    std::string SaveFileDialog(const TFileDialogDesc&) override { return ""; }
    int PopupMenu(const std::vector<TMenuEntry>&, int, int) override { return -1; }
    bool NetworkPortDialog(TNetworkPortDesc&) override { return false; }
    std::string FolderDialog(const TFileDialogDesc&) override { return ""; }
    bool NewImageDialog(TNewImageDesc&) override { return false; }
    void SetClipboardText(TClipboardKind kind, const std::string& text) override;
    std::string ClipboardText(TClipboardKind kind) override;
    void StartTimer(int interval_ms) override;
    void StartRefreshTimer(int delay_ms) override;
    void StartPasteTimer(int delay_ms) override;
    void ProcessPendingEvents() override;
    void WaitForEvents() override;
    TLockState ReadLockState() override { return {}; } // a terminal does not tell
    TMainThreadPoster& Poster() override { return loop_; }

  private:
    TTermLoop& loop_;
    std::map<TControlId, std::string> texts_;
    std::map<TControlId, bool> checked_;
    std::map<TClipboardKind, std::string> clipboard_;
    std::string port_hint_;
    std::string caption_;
    int client_width_ = 0, client_height_ = 0;
    std::array<TCell, kScreenCells> image_{};
    std::bitset<kScreenCells> drawn_;
};
