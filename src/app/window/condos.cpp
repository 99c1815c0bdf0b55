#include "condos.h"

#include "floppy_service.h"
#include "key_hook.h"
#include "main_cycle.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

const char* const kWindowCaption = "Quorvik V1.00 for Windows";
TConDos* ConDos = nullptr;
std::function<void(const QString&)> TConDos::message_box_hook;

namespace {

constexpr int kPanelHeight = 41;

// "MS Sans Serif" where installed; fontconfig substitutes the platform's sans font otherwise.
QFont PanelFont(int pixels, bool bold = false) {
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

} // namespace

TConDos::TConDos(QWidget* parent)
    : QWidget(parent), Comm(std::make_unique<TComm>(nullptr)),
      host_([this](const char* text) { SetStatus(QString::fromLatin1(text)); }),
      port_(std::make_unique<TCommPort>(*Comm)), link_(*port_, host_) {
    ConDos = this;
    floppy_ = std::make_unique<TFloppyService>(link_, screen_);
    FormCreate();
}

TConDos::~TConDos() {
    // FormDestroy: the off-screen image first, then the port component (which closes the port).
    Timer1->stop();
    renderer_.reset();
    Comm.reset();
    if (ConDos == this) ConDos = nullptr;
}

void TConDos::CreatePanel() {
    Panel = new QWidget(this);
    Panel->setObjectName(QStringLiteral("Panel"));
    Panel->setAutoFillBackground(true);
    Panel->setPalette(QApplication::palette());
    Panel->setGeometry(0, 0, width(), kPanelHeight);

    Connect = new QPushButton(QStringLiteral("Connect"), Panel);
    Connect->setObjectName(QStringLiteral("Connect"));
    Connect->setGeometry(7, 8, 71, 25);
    Connect->setFont(PanelFont(13, true));
    Connect->setStyleSheet(QStringLiteral("QPushButton:enabled { color: white; }"));
    Connect->setToolTip(QStringLiteral("Open COM port"));
    QObject::connect(Connect, &QPushButton::clicked, this, [this] { OpenComClick(); });

    Disconnect = new QToolButton(Panel);
    Disconnect->setObjectName(QStringLiteral("Disconnect"));
    Disconnect->setText(QStringLiteral("Disconnect"));
    Disconnect->setGeometry(81, 8, 89, 25);
    Disconnect->setFont(PanelFont(13, true));
    Disconnect->setFocusPolicy(Qt::NoFocus);
    Disconnect->setToolTip(QStringLiteral("Close COM Port"));
    Disconnect->setEnabled(false);
    QObject::connect(Disconnect, &QToolButton::clicked, this, [this] { CloseComClick(); });

    Rscr = new QToolButton(Panel);
    Rscr->setObjectName(QStringLiteral("Rscr"));
    Rscr->setText(QStringLiteral("R"));
    Rscr->setGeometry(176, 8, 29, 25);
    Rscr->setAutoRaise(true); // flat
    Rscr->setFocusPolicy(Qt::NoFocus);
    Rscr->setFont(ConsoleFont());
    Rscr->setStyleSheet(QStringLiteral("QToolButton { color: red; }"));
    Rscr->setToolTip(QStringLiteral("Refresh Screen"));
    QObject::connect(Rscr, &QToolButton::clicked, this, [this] { RscrClick(); });

    ButtonDel = new QPushButton(QStringLiteral("Del"), Panel);
    ButtonDel->setObjectName(QStringLiteral("ButtonDel"));
    ButtonDel->setGeometry(176, 8, 29, 25);
    ButtonDel->setFont(PanelFont(13, true));
    ButtonDel->setToolTip(
        QStringLiteral("Push Ctrl-Alt and this button to reboot Remote computer"));
    ButtonDel->setFocusPolicy(Qt::NoFocus);
    ButtonDel->hide();
    ButtonDel->raise(); // covers "R" while shown
    QObject::connect(ButtonDel, &QPushButton::clicked, this, [this] { ButtonDelClick(); });

    auto check_box = [this](const char* name, const char* caption, QRect r) {
        auto* box = new QCheckBox(QString::fromLatin1(caption), Panel);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(r);
        box->setFont(PanelFont(11));
        return box;
    };
    EnaKeyboard = check_box("EnaKeyboard", "Keyboard", QRect(212, 14, 65, 17));
    EnaKeyboard->hide();
    EnaVideo = check_box("EnaVideo", "Video", QRect(280, 14, 49, 17));
    EnaVideo->setChecked(true);
    EnaVideo->hide();
    EnaFloppy = check_box("EnaFloppy", "Floppy...", QRect(332, 14, 65, 17));
    EnaFloppy->setToolTip(QStringLiteral("Connect Floppy Image"));
    QObject::connect(EnaFloppy, &QCheckBox::clicked, this, [this] { EnableFloppyClick(); });

    COMGroup = new QGroupBox(Panel);
    COMGroup->setObjectName(QStringLiteral("COMGroup"));
    COMGroup->setGeometry(400, 2, 122, 32);
    COMGroup->setFont(PanelFont(11));
    auto* columns = new QHBoxLayout(COMGroup);
    columns->setContentsMargins(6, 0, 2, 0);
    for (int i = 0; i < 2; ++i) {
        COMGroupItems[i] = new QRadioButton(i == 0 ? QStringLiteral("COM1") : QStringLiteral("COM2"),
                                            COMGroup);
        columns->addWidget(COMGroupItems[i]);
    }
    COMGroupItems[0]->setChecked(true);

    Label1 = new QLabel(QStringLiteral("Label1"), Panel);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(12);
    Label1->setFont(mono);
    Label1->setGeometry(532, 13, 42, 15);
    Label1->adjustSize();

    Label2 = new QLabel(QStringLiteral("0"), Panel);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(PanelFont(11));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label2->setAttribute(Qt::WA_TranslucentBackground);
    Label2->setEnabled(false); // greyed
}

void TConDos::FormCreate() {
    setObjectName(QStringLiteral("ConDos"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    move(2, 115);

    CreatePanel();

    // The port component: 115200 baud, no handshake, 8 KB driver queues, break, error and
    // received-character events; parity, data and stop bits keep their defaults.
    Comm->SetDeviceName("Com2");
    Comm->ReadTimeout = 100;
    Comm->SetReadBufSize(8192);
    Comm->SetWriteBufSize(8192);
    Comm->SetMonitorEvents(TCommEvents{evBreak, evError, evRxChar});
    Comm->SetBaudRate(br115200);
    Comm->SetFlowControl(fcNone);
    Comm->SetMainThreadPoster(&poster_);
    Comm->OnRxChar = [this](TObject* s, uint32_t n) { CommRxChar(s, n); };
    Comm->OnBreak = [this](TObject* s) { CommBreak(s); };
    Comm->OnError = [this](TObject* s, int e) { CommError(s, e); };

    // The key hook sees every key of this window before any of its controls.
    key_hook_ = std::make_unique<TKeyHook>(
        this, TKeyHookCallbacks{
                  [this](const uint8_t* bytes, size_t n) {
                      link_.Write(bytes, static_cast<unsigned long>(n));
                  },
                  [this] { return link_.key_hold; },
                  [this](const QString& text) {
                      Label1->setText(text);
                      Label1->adjustSize();
                  },
              });

    // Screen part: cell metrics from the font, the off-screen image, the natural size.
    renderer_ = std::make_unique<TRenderer>(ConsoleFont());
    saved_panel_height_ = Panel->height();
    resize(kScreenColumns * renderer_->CellWidth(),
           kScreenRows * renderer_->CellHeight() + saved_panel_height_);
    Marker = new QWidget(this);
    Marker->setObjectName(QStringLiteral("Marker"));
    Marker->setAutoFillBackground(true);
    QPalette white = Marker->palette();
    white.setColor(QPalette::Window, Qt::white);
    Marker->setPalette(white);
    Marker->resize(renderer_->CellWidth(), 2);
    Marker->hide();
    screen_.ClearScreen();

    setWindowTitle(QString::fromLatin1(kWindowCaption));

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    QObject::connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1->start();
}

uint8_t TConDos::KeyboardState() const { return key_hook_->KeyboardState(); }

void TConDos::SetStatus(const QString& text) {
    Label2->setText(text);
    Label2->adjustSize();
    Label2->move(Panel->width() - Label2->width() - 2, 1);
}

void TConDos::ShowMessage(const QString& text) {
    if (message_box_hook) {
        message_box_hook(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("ConsoleW"), text, QMessageBox::Ok,
                    ConDos);
    box.exec();
}

void TConDos::SetConnectedState(bool connected) {
    for (QWidget* w : {static_cast<QWidget*>(EnaKeyboard), static_cast<QWidget*>(EnaVideo),
                       static_cast<QWidget*>(EnaFloppy), static_cast<QWidget*>(Connect),
                       static_cast<QWidget*>(COMGroup)})
        w->setEnabled(!connected);
    Disconnect->setEnabled(connected);
}

void TConDos::OpenComClick() {
    if (main_cycle_depth_ > 0 && !Disconnect->isEnabled()) {
        // Disconnect enabled Connect at once, but the previous main cycle has not returned
        // yet: start the new connection after it has, never inside it.
        connect_pending_ = true;
        return;
    }
    SetStatus(QStringLiteral("Symb = 2"));
    bool failed = false;
    try {
        link_.stop_request = false;
        Comm->SetDeviceName(COMGroupItems[1]->isChecked() ? "COM2" : "COM1");
        Comm->Open();
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed || !Comm->Enabled()) {
        // An Open that failed after the device was opened leaves it open; close it, so that
        // the next Connect is not refused as "already assigned".
        try {
            Comm->Close();
        } catch (const std::exception&) {
        }
        ShowMessage(QStringLiteral("Error Opening COM"));
        return;
    }
    if (EnaFloppy->isChecked() && !open_dialog_file_name_.isEmpty()) {
        floppy_->OpenImage(open_dialog_file_name_.toStdString());
        floppy_->AllocTrackBuffer();
    }
    SetConnectedState(true);
    activateWindow();
    setFocus();

    ++main_cycle_depth_;
    Maincycle(screen_, link_, *floppy_);
    --main_cycle_depth_;

    if (connect_pending_ && main_cycle_depth_ == 0) {
        connect_pending_ = false;
        if (Connect->isEnabled() && isVisible()) OpenComClick();
    }
}

void TConDos::CloseComClick() {
    link_.stop_request = true;
    try {
        Comm->Close();
    } catch (const std::exception&) {
        ShowMessage(QStringLiteral("Error Closing COM"));
    }
    floppy_->CloseImage();
    floppy_->FreeTrackBuffer();
    SetConnectedState(false);
}

void TConDos::closeEvent(QCloseEvent* event) {
    CloseComClick();
    connect_pending_ = false;
    event->accept();
}

void TConDos::EnableFloppyClick() {
    const QString title = QString::fromLatin1(kWindowCaption);
    if (EnaFloppy->isChecked()) {
        const QString name = RunOpenDialog();
        if (!name.isEmpty()) {
            open_dialog_file_name_ = name;
            EnaFloppy->setChecked(true);
            setWindowTitle(title + QStringLiteral(" ... ImageFile: ") + QFileInfo(name).fileName());
        } else {
            EnaFloppy->setChecked(false);
            setWindowTitle(title);
        }
    } else {
        setWindowTitle(title);
    }
}

QString TConDos::RunOpenDialog() {
    if (file_dialog_hook) return file_dialog_hook();
    QFileDialog dialog(this, QStringLiteral("Floppy Images"), QStringLiteral("."),
                       QStringLiteral("*.img;*.ima (*.img *.ima)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

void TConDos::RscrClick() {
    if (link_.key_hold) return;
    const uint8_t refresh = 0x12;
    link_.Write(&refresh, 1);
}

void TConDos::ButtonDelClick() { key_hook_->ButtonDelClick(); }

void TConDos::Timer1Timer() {
    link_.CountDownTimeout();
    ScreenRefresh();
    tick_divider_ = (tick_divider_ + 1) % 10;
    if (tick_divider_ == 0) {
        SetStatus(QString::number(link_.ReceivedCount()));
        ButtonDel->setVisible(key_hook_->RebootButtonWanted());
    }
}

void TConDos::CommRxChar(TObject*, uint32_t Count) { link_.CommRxChar(Count); }
void TConDos::CommBreak(TObject*) { SetStatus(QStringLiteral("Break")); }
void TConDos::CommError(TObject*, int) { SetStatus(QStringLiteral("Error")); }

void TConDos::FormActivate() {
    screen_.changed = true;
    key_hook_->FormActivate();
}

bool TConDos::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) FormActivate();
    return QWidget::event(e);
}

// Draws every cell that differs from what was last drawn. The window system runs after each
// row when asked, so a full redraw never holds up input.
void TConDos::RefreshCells(bool process_events) {
    screen_.changed = false;
    for (int row = 0; row < kScreenRows; ++row) {
        for (int column = 0; column < kScreenColumns; ++column) {
            const int i = row * kScreenColumns + column;
            const TCell cell = screen_.Cells()[i];
            if (cell == drawn_[i]) continue;
            drawn_[i] = cell;
            renderer_->DrawCell(row, column, cell);
            ++cells_drawn_;
        }
        if (process_events) host_.ProcessPendingEvents();
        if (!renderer_) return; // the window went away while events ran
    }
}

void TConDos::ScreenRefresh() {
    if (screen_.changed) {
        RefreshCells(true);
        // One copy of the image into the window per refresh: the paint event does it.
        update(0, Panel->height(), width(), height() - Panel->height());
        return;
    }
    BlinkStep();
}

void TConDos::BlinkStep() {
    if (--blink_countdown_ != 0) return;
    blink_countdown_ = 4;
    const int column = screen_.CursorColumn();
    const int row = screen_.CursorRow();
    if (column == bar_column_ && row == bar_row_) {
        screen_.cursor_bar_visible = !screen_.cursor_bar_visible;
        Marker->setVisible(screen_.cursor_bar_visible);
        return;
    }
    bar_column_ = column;
    bar_row_ = row;
    const int cw = renderer_->CellWidth();
    const int ch = renderer_->CellHeight();
    const int panel = Panel->height();
    if (!stretch_mode_) {
        Marker->move(column * cw, (row + 1) * ch + panel - 2);
    } else {
        const float x_scale = static_cast<float>(width()) / static_cast<float>(kScreenColumns * cw);
        const float y_scale =
            static_cast<float>(height() - panel) / static_cast<float>(kScreenRows * ch);
        Marker->move(static_cast<int>(static_cast<float>(column * cw) * x_scale),
                     static_cast<int>(static_cast<float>((row + 1) * ch - 2) * y_scale +
                                      static_cast<float>(panel)));
    }
}

void TConDos::paintEvent(QPaintEvent*) {
    // FormPaint: cells that did not change are not drawn again, but the whole image is copied.
    screen_.changed = true;
    RefreshCells(false);
    QPainter painter(this);
    const int panel = Panel->height();
    if (stretch_mode_) {
        painter.drawImage(QRect(0, panel, width(), height() - panel), renderer_->Bitmap());
    } else {
        painter.drawImage(QPoint(0, saved_panel_height_), renderer_->Bitmap());
        // Outside the natural console area (never, at the natural size) stays black.
    }
}

void TConDos::resizeEvent(QResizeEvent*) {
    if (!renderer_) return;
    Panel->setGeometry(0, 0, width(), Panel->height());
    SetStatus(Label2->text());
    const int cw = renderer_->CellWidth();
    const int ch = renderer_->CellHeight();
    if (width() == kScreenColumns * cw && height() == kScreenRows * ch + saved_panel_height_) {
        Marker->resize(cw, 2);
        stretch_mode_ = false;
    } else {
        const float x_scale = static_cast<float>(width()) / static_cast<float>(kScreenColumns * cw);
        Marker->resize(static_cast<int>(static_cast<float>(cw) * x_scale), 2);
        stretch_mode_ = true;
    }
    bar_column_ = -1;
    drawn_.fill(TCell{0, 0});
    screen_.changed = true;
}
