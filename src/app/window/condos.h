// The main window: control panel, connection control, the console area and its cursor bar.
//
// Everything here runs on the window thread. While connected, OpenComClick does not return:
// it runs the main cycle, and the timer, the buttons, the keys, the port's events and the
// closing of the window all run nested inside the main cycle's processing of events.
#pragma once

#include "comm.h"
#include "link.h"
#include "qt_host.h"
#include "renderer.h"
#include "screen.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;
class TDiskService;
class TFloppyService;
class TKeyHook;

extern const char* const kWindowCaption; // "Quorvik V1.00 for Windows"

class TConDos : public QWidget {
  public:
    explicit TConDos(QWidget* parent = nullptr);
    ~TConDos() override; // FormDestroy

    // Event handlers, named after their control and event.
    void OpenComClick();
    void CloseComClick();
    void EnableFloppyClick();
    void RscrClick();
    void ButtonDelClick();
    void Timer1Timer();
    void CommRxChar(TObject* Sender, uint32_t Count);
    void CommBreak(TObject* Sender);
    void CommError(TObject* Sender, int Errors);
    void FormActivate();
    void ScreenRefresh();

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

    std::unique_ptr<TComm> Comm;

    // The core the window owns for the life of the program.
    TScreen& Screen() { return screen_; }
    TLink& Link() { return link_; }
    TFloppyService& Floppy() { return *floppy_; }
    uint8_t KeyboardState() const;
    bool MainCycleRunning() const { return main_cycle_depth_ > 0; }
    int MainCycleDepth() const { return main_cycle_depth_; }
    QString OpenDialogFileName() const { return open_dialog_file_name_; }
    const TRenderer& Renderer() const { return *renderer_; }
    bool StretchMode() const { return stretch_mode_; }
    // Cells drawn into the off-screen image since start (for tests and measurements).
    long CellsDrawn() const { return cells_drawn_; }

    // Every error message box goes through here: OK only, caption "ConsoleW". Tests replace the
    // box with `message_box_hook` to observe it without a modal loop.
    static void ShowMessage(const QString& text);
    static std::function<void(const QString&)> message_box_hook;
    // The floppy file dialog; tests replace it. Returns "" when the user cancels.
    std::function<QString()> file_dialog_hook;

  protected:
    void paintEvent(QPaintEvent* event) override;   // FormPaint
    void resizeEvent(QResizeEvent* event) override; // FormResize
    void closeEvent(QCloseEvent* event) override;   // FormClose
    bool event(QEvent* event) override;

  private:
    void FormCreate();
    void CreatePanel();
    void SetConnectedState(bool connected);
    void RefreshCells(bool process_events);
    void BlinkStep();
    QString RunOpenDialog();
    void SetStatus(const QString& text);

    TQtHost host_;
    std::unique_ptr<TCommPort> port_;
    TScreen screen_;
    TLink link_;
    std::unique_ptr<TFloppyService> floppy_;
    std::unique_ptr<TKeyHook> key_hook_;
    TQtPoster poster_;

    std::unique_ptr<TRenderer> renderer_;
    std::array<TCell, kScreenCells> drawn_{};
    int saved_panel_height_ = 0;
    bool stretch_mode_ = false;
    int bar_column_ = -1;
    int bar_row_ = 0;
    int blink_countdown_ = 5;
    int tick_divider_ = 0;
    long cells_drawn_ = 0;

    QString open_dialog_file_name_;
    int main_cycle_depth_ = 0;
    bool connect_pending_ = false;
};

extern TConDos* ConDos;
