// The main window on Qt: a thin view of the window logic (TConsoleForm). It creates the
// panel's controls as Qt widgets, draws cells with TRenderer into its off-screen image, and
// forwards every event to the form's handler of the same name.
//
// Everything here runs on the window thread. While connected, OpenComClick does not return:
// it runs the main cycle, and the timer, the buttons, the keys, the port's events and the
// closing of the window all run nested inside the main cycle's processing of events.
#pragma once

#include "console_form.h"
#include "qt_host.h"
#include "renderer.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;
class TFloppyService;
class TKeyHook;

class TConDos : public QWidget, private TFormView {
  public:
    explicit TConDos(QWidget* parent = nullptr);
    ~TConDos() override; // FormDestroy

    // Event handlers, forwarded to the form.
    void OpenComClick() { form_->OpenComClick(); }
    void CloseComClick() { form_->CloseComClick(); }
    void EnableFloppyClick() { form_->EnableFloppyClick(); }
    void RscrClick() { form_->RscrClick(); }
    void ButtonDelClick() { form_->ButtonDelClick(); }
    void Timer1Timer() { form_->Timer1Timer(); }
    void CommRxChar(TObject* Sender, uint32_t Count) { form_->CommRxChar(Sender, Count); }
    void CommBreak(TObject* Sender) { form_->CommBreak(Sender); }
    void CommError(TObject* Sender, int Errors) { form_->CommError(Sender, Errors); }
    void FormActivate() { form_->FormActivate(); }
    void ScreenRefresh() { form_->ScreenRefresh(); }

    // Panel controls.
    QWidget* Panel = nullptr;
    QPushButton* Connect = nullptr;
    QToolButton* Disconnect = nullptr;
    QToolButton* Rscr = nullptr;
    QPushButton* ButtonDel = nullptr;
    QCheckBox* EnaKeyboard = nullptr;
    QCheckBox* EnaVideo = nullptr;
    QCheckBox* EnaFloppy = nullptr;
    QGroupBox* COMGroup = nullptr;
    QRadioButton* COMGroupItems[2] = {};
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QTimer* Timer1 = nullptr;
    QWidget* Marker = nullptr; // the cursor bar

    TConsolePort* Comm = nullptr; // the form's port (the serial component)

    // The window logic and the core it owns.
    TConsoleForm& Form() { return *form_; }
    TScreen& Screen() { return form_->Screen(); }
    TLink& Link() { return form_->Link(); }
    TFloppyService& Floppy() { return form_->Floppy(); }
    uint8_t KeyboardState() const { return form_->KeyboardState(); }
    bool MainCycleRunning() const { return form_->MainCycleRunning(); }
    int MainCycleDepth() const { return form_->MainCycleDepth(); }
    const TRenderer& Renderer() const { return *renderer_; }
    bool StretchMode() const { return form_->StretchMode(); }
    long CellsDrawn() const { return form_->CellsDrawn(); }

    // Every error message box goes through here: OK only, caption "ConsoleW". Tests replace the
    // box with `message_box_hook` to observe it without a modal loop.
    static void ShowMessage(const QString& text);
    static std::function<void(const QString&)> message_box_hook;
    // The floppy file dialog; tests replace it. Returns "" when the user cancels.
    std::function<QString()> file_dialog_hook;
    // The save dialog and the context menu; tests replace them. The menu's hook gets the
    // entries and returns the chosen command (-1: dismissed).
    std::function<QString()> save_dialog_hook;
    std::function<int(const std::vector<TMenuEntry>&)> popup_menu_hook;
    // The network port dialog; tests replace it (false: cancelled).
    std::function<bool(TNetworkPortDesc&)> network_dialog_hook;
    // The folder chooser and the new image dialog; tests replace them ("" / false: cancelled).
    std::function<QString()> folder_dialog_hook;
    std::function<bool(TNewImageDesc&)> new_image_dialog_hook;

  protected:
    void paintEvent(QPaintEvent* event) override;   // FormPaint
    void resizeEvent(QResizeEvent* event) override; // FormResize
    void closeEvent(QCloseEvent* event) override;   // FormClose
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    // TFormView
    void CreateControl(const TControlDesc& desc) override;
    void SetText(TControlId id, const std::string& text) override;
    void SetEnabled(TControlId id, bool enabled) override;
    void SetVisible(TControlId id, bool visible) override;
    void SetChecked(TControlId id, bool checked) override;
    bool Checked(TControlId id) const override;
    int SelectedItem(TControlId id) const override;
    void PlaceControl(TControlId id, const TRect& place) override;
    void SetItemHint(TControlId id, int item, const std::string& hint) override;
    void SetWindowCaption(const std::string& caption) override;
    TRect MeasureConsoleText(const char* text) override;
    int ClientWidth() const override { return width(); }
    int ClientHeight() const override { return height(); }
    int PanelHeight() const override;
    void SetClientSize(int width, int height) override { resize(width, height); }
    void FocusWindow() override;
    double DpiScale() const override { return devicePixelRatioF(); }
    double PixelRatio() const override { return devicePixelRatioF(); }
    TRect WorkArea() const override;
    void CreateImage(int cell_width, int cell_height) override;
    void DrawCell(int row, int column, TCell cell) override;
    void CopyImage(const TRect& area, bool stretched) override;
    std::string SaveImagePng(const std::string& path) override;
    void MessageBox(const std::string& text) override;
    std::string OpenFileDialog(const TFileDialogDesc& desc) override;
    std::string SaveFileDialog(const TFileDialogDesc& desc) override;
    bool NetworkPortDialog(TNetworkPortDesc& port) override;
    std::string FolderDialog(const TFileDialogDesc& desc) override;
    bool NewImageDialog(TNewImageDesc& desc) override;
    int PopupMenu(const std::vector<TMenuEntry>& entries, int x, int y) override;
    void SetClipboardText(TClipboardKind kind, const std::string& text) override;
    std::string ClipboardText(TClipboardKind kind) override;
    void StartTimer(int interval_ms) override;
    void StartRefreshTimer(int delay_ms) override;
    void StartPasteTimer(int delay_ms) override;
    void ProcessPendingEvents() override;
    void WaitForEvents() override;
    TLockState ReadLockState() override;
    TMainThreadPoster& Poster() override { return poster_; }

    void PlaceStatusLabel();
    QWidget* Control(TControlId id) const { return controls_[id]; }

    TQtHost host_;
    TQtPoster poster_;
    QWidget* controls_[kControlCount] = {};
    QTimer* refresh_timer_ = nullptr;
    QTimer* paste_timer_ = nullptr;
    std::unique_ptr<TRenderer> renderer_;
    std::unique_ptr<TConsoleForm> form_;
    std::unique_ptr<TKeyHook> key_hook_;
    bool in_paint_ = false;
    TRect paint_area_;
    bool paint_stretched_ = false;
    int wheel_remainder_ = 0; // eighths of a degree not yet a whole notch
};

extern TConDos* ConDos;
