#include "condos.h"

#include "key_adapter.h"
#include "key_hook.h"
#include "fat_format.h"

#include <QApplication>
#include <QGuiApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QImageWriter>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QWindow>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <cmath>

TConDos* ConDos = nullptr;
std::function<void(const QString&)> TConDos::message_box_hook;

namespace {

QFont ControlFont(const TControlDesc& desc) {
    if (desc.face == ffConsole) return ConsoleFont();
    QFont f(desc.face == ffFixed ? QStringLiteral("Courier New") : QStringLiteral("MS Sans Serif"));
    // Where the named font is missing, fontconfig substitutes one of this kind.
    f.setStyleHint(desc.face == ffFixed ? QFont::Monospace : QFont::SansSerif);
    f.setPixelSize(desc.font_pixels);
    f.setBold(desc.bold);
    return f;
}

QString ColourName(uint32_t rgb) { return QColor::fromRgb(rgb).name(); }

// The dialogs' filter: "*.img;*.ima (*.img *.ima)".
QString DialogFilter(const TFileDialogDesc& desc) {
    const QString patterns = QString::fromLatin1(desc.filter);
    return patterns + QStringLiteral(" (") +
           QString(patterns).replace(QLatin1Char(';'), QLatin1Char(' ')) + QStringLiteral(")");
}

bool MouseButtonOf(Qt::MouseButton qt, TMouseButton* button) {
    switch (qt) {
    case Qt::LeftButton: *button = mbLeft; return true;
    case Qt::MiddleButton: *button = mbMiddle; return true;
    case Qt::RightButton: *button = mbRight; return true;
    default: return false;
    }
}

QClipboard::Mode ClipboardMode(TClipboardKind kind) {
    return kind == cbPrimary ? QClipboard::Selection : QClipboard::Clipboard;
}

// The panel has the window system's standard face and text colours (set role by role, so
// that nothing is inherited from the window's black console background). Greyed captions of
// disabled controls stay readable (GreyedCaptionColour) rather than the style's faint grey.
QPalette PanelPalette() {
    const QPalette system = QApplication::palette();
    QPalette p;
    for (int g = 0; g < QPalette::NColorGroups; ++g) {
        const auto group = static_cast<QPalette::ColorGroup>(g);
        for (int r = 0; r < QPalette::NColorRoles; ++r) {
            const auto role = static_cast<QPalette::ColorRole>(r);
            p.setBrush(group, role, system.brush(group, role));
        }
    }
    const QColor greyed = QColor::fromRgb(
        GreyedCaptionColour(system.color(QPalette::Active, QPalette::Window).rgb() & 0xFFFFFF,
                            system.color(QPalette::Active, QPalette::WindowText).rgb() & 0xFFFFFF));
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(QPalette::Disabled, role, greyed);
    return p;
}

} // namespace

TConDos::TConDos(QWidget* parent) : QWidget(parent) {
    ConDos = this;
    setObjectName(QStringLiteral("ConDos"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    move(2, 115);

    Panel = new QWidget(this);
    Panel->setObjectName(QStringLiteral("Panel"));
    Panel->setAutoFillBackground(true);
    Panel->setPalette(PanelPalette());
    Panel->setGeometry(0, 0, width(), kPanelHeight);

    form_ = std::make_unique<TConsoleForm>(static_cast<TFormView&>(*this));
    Comm = &form_->Port();
    // The key hook sees every key of this window before any of its controls.
    key_hook_ = std::make_unique<TKeyHook>(this, form_->Keyboard());
}

TConDos::~TConDos() {
    // FormDestroy: the port component (which closes the port), then the off-screen image.
    Timer1->stop();
    key_hook_.reset();
    form_.reset();
    renderer_.reset();
    if (ConDos == this) ConDos = nullptr;
}

void TConDos::CreateControl(const TControlDesc& desc) {
    const QString caption = QString::fromLatin1(desc.caption);
    QWidget* w = nullptr;
    QAbstractButton* button = nullptr;
    switch (desc.kind) {
    case ckPushButton:
        button = new QPushButton(caption, Panel);
        if (desc.id == ciButtonDel) button->setFocusPolicy(Qt::NoFocus);
        break;
    case ckSpeedButton:
    case ckFlatButton: {
        auto* tool = new QToolButton(Panel);
        tool->setText(caption);
        tool->setAutoRaise(desc.kind == ckFlatButton);
        tool->setFocusPolicy(Qt::NoFocus);
        button = tool;
        break;
    }
    case ckCheckBox: {
        auto* box = new QCheckBox(caption, Panel);
        box->setChecked(desc.checked);
        if (desc.id == ciEnaFloppy) {
            // A right click on "Floppy..." opens the floppy's menu; a plain click stays the box's.
            box->setContextMenuPolicy(Qt::CustomContextMenu);
            QObject::connect(box, &QWidget::customContextMenuRequested, this,
                             [this, box](const QPoint& at) {
                                 const QPoint p = box->mapTo(this, at);
                                 form_->ControlContextMenu(ciEnaFloppy, p.x(), p.y());
                             });
        }
        button = box;
        break;
    }
    case ckRadioGroup: {
        COMGroup = new QGroupBox(Panel);
        auto* columns = new QHBoxLayout(COMGroup);
        columns->setContentsMargins(6, 0, 2, 0);
        const QStringList items = caption.split(QLatin1Char('\n'));
        for (int i = 0; i < 2; ++i) {
            COMGroupItems[i] = new QRadioButton(items.value(i), COMGroup);
            columns->addWidget(COMGroupItems[i]);
        }
        COMGroupItems[0]->setChecked(true);
        // A right click on the group or on one of its items is the form's.
        for (QWidget* part : {static_cast<QWidget*>(COMGroup), static_cast<QWidget*>(COMGroupItems[0]),
                              static_cast<QWidget*>(COMGroupItems[1])}) {
            part->setContextMenuPolicy(Qt::CustomContextMenu);
            QObject::connect(part, &QWidget::customContextMenuRequested, this,
                             [this, part](const QPoint& at) {
                                 const QPoint p = part->mapTo(this, at);
                                 form_->ControlContextMenu(ciCOMGroup, p.x(), p.y());
                             });
        }
        w = COMGroup;
        break;
    }
    case ckLabel: {
        auto* label = new QLabel(caption, Panel);
        if (desc.align_right) {
            label->setAlignment(Qt::AlignRight | Qt::AlignTop);
            label->setAttribute(Qt::WA_TranslucentBackground);
        }
        w = label;
        break;
    }
    case ckBar:
        w = new QWidget(this);
        w->setAutoFillBackground(true);
        {
            QPalette white = w->palette();
            white.setColor(QPalette::Window, QColor::fromRgb(desc.text_colour));
            w->setPalette(white);
        }
        break;
    }
    if (button) {
        w = button;
        QObject::connect(button, &QAbstractButton::clicked, this, [this, id = desc.id] {
            switch (id) {
            case ciConnect: form_->OpenComClick(); break;
            case ciDisconnect: form_->CloseComClick(); break;
            case ciRscr: form_->RscrClick(); break;
            case ciButtonDel: form_->ButtonDelClick(); break;
            case ciEnaFloppy: form_->EnableFloppyClick(); break;
            default: break;
            }
        });
    }
    controls_[desc.id] = w;
    w->setObjectName(QString::fromLatin1(desc.name));
    if (desc.kind != ckBar) {
        w->setFont(ControlFont(desc));
        w->setGeometry(desc.left, desc.top, desc.width, desc.height);
        if (desc.hint[0] != '\0') w->setToolTip(QString::fromLatin1(desc.hint));
    }
    if (desc.text_colour != kSystemColour && desc.kind != ckBar) {
        // Only while enabled: a disabled control keeps the window system's greyed text.
        w->setStyleSheet(QStringLiteral("%1:enabled { color: %2; }")
                             .arg(QString::fromLatin1(w->metaObject()->className()),
                                  ColourName(desc.text_colour)));
    }
    w->setEnabled(desc.enabled);
    w->setVisible(desc.visible);

    switch (desc.id) {
    case ciConnect: Connect = static_cast<QPushButton*>(w); break;
    case ciDisconnect: Disconnect = static_cast<QToolButton*>(w); break;
    case ciRscr: Rscr = static_cast<QToolButton*>(w); break;
    case ciButtonDel:
        ButtonDel = static_cast<QPushButton*>(w);
        ButtonDel->raise(); // covers "R" while shown
        break;
    case ciEnaKeyboard: EnaKeyboard = static_cast<QCheckBox*>(w); break;
    case ciEnaVideo: EnaVideo = static_cast<QCheckBox*>(w); break;
    case ciEnaFloppy: EnaFloppy = static_cast<QCheckBox*>(w); break;
    case ciCOMGroup: break;
    case ciLabel1:
        Label1 = static_cast<QLabel*>(w);
        Label1->adjustSize();
        break;
    case ciLabel2:
        Label2 = static_cast<QLabel*>(w);
        PlaceStatusLabel();
        break;
    case ciMarker: Marker = w; break;
    }
}

void TConDos::SetText(TControlId id, const std::string& text) {
    if (auto* label = qobject_cast<QLabel*>(Control(id))) {
        label->setText(QString::fromStdString(text));
        label->adjustSize();
        if (id == ciLabel2) PlaceStatusLabel();
    } else if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
        button->setText(QString::fromStdString(text));
    }
}

void TConDos::PlaceStatusLabel() {
    Label2->adjustSize();
    Label2->move(Panel->width() - Label2->width() - 2, 1);
}

void TConDos::SetEnabled(TControlId id, bool enabled) { Control(id)->setEnabled(enabled); }
void TConDos::SetVisible(TControlId id, bool visible) { Control(id)->setVisible(visible); }

void TConDos::SetChecked(TControlId id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) button->setChecked(checked);
}

bool TConDos::Checked(TControlId id) const {
    const auto* button = qobject_cast<const QAbstractButton*>(Control(id));
    return button != nullptr && button->isChecked();
}

int TConDos::SelectedItem(TControlId) const { return COMGroupItems[1]->isChecked() ? 1 : 0; }

void TConDos::SetItemHint(TControlId id, int item, const std::string& hint) {
    if (id == ciCOMGroup && item >= 0 && item < 2 && COMGroupItems[item])
        COMGroupItems[item]->setToolTip(QString::fromStdString(hint));
}

// Host, port, and raw TCP or RFC 2217; the form checks the answer.
bool TConDos::NetworkPortDialog(TNetworkPortDesc& port) {
    if (network_dialog_hook) return network_dialog_hook(port);
    QDialog dialog(this);
    dialog.setWindowTitle("Network port");
    auto* form = new QFormLayout(&dialog);
    auto* host = new QLineEdit(QString::fromStdString(port.host), &dialog);
    host->setPlaceholderText("console server's name or address");
    auto* number = new QSpinBox(&dialog);
    number->setRange(1, 65535);
    number->setValue(port.port);
    auto* protocol = new QComboBox(&dialog);
    protocol->addItem("RFC 2217 (Telnet, sets the line's speed)");
    protocol->addItem("Raw TCP");
    protocol->setCurrentIndex(port.rfc2217 ? 0 : 1);
    form->addRow("Host:", host);
    form->addRow("Port:", number);
    form->addRow("Protocol:", protocol);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return false;
    port.host = host->text().trimmed().toStdString();
    port.port = number->value();
    port.rfc2217 = protocol->currentIndex() == 0;
    return true;
}

// A format of the table and a volume label.
bool TConDos::NewImageDialog(TNewImageDesc& desc) {
    if (new_image_dialog_hook) return new_image_dialog_hook(desc);
    QDialog dialog(this);
    dialog.setWindowTitle("New blank image");
    auto* form = new QFormLayout(&dialog);
    auto* format = new QComboBox(&dialog);
    for (const TFatFormat& f : FatFormats()) format->addItem(QString::fromLatin1(f.caption));
    format->setCurrentIndex(desc.format);
    auto* label = new QLineEdit(QString::fromStdString(desc.label), &dialog);
    label->setMaxLength(11);
    label->setPlaceholderText("up to 11 characters");
    form->addRow("Format:", format);
    form->addRow("Volume label:", label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    label->setFocus(); // the format most often stays; the label is typed
    if (dialog.exec() != QDialog::Accepted) return false;
    desc.format = format->currentIndex();
    desc.label = label->text().trimmed().toStdString();
    return true;
}

std::string TConDos::FolderDialog(const TFileDialogDesc& desc) {
    QString name;
    if (folder_dialog_hook) {
        name = folder_dialog_hook();
    } else {
        name = QFileDialog::getExistingDirectory(this, QString::fromLatin1(desc.title),
                                                 QString::fromLatin1(desc.initial_directory));
    }
    return QFile::encodeName(name).toStdString();
}

void TConDos::PlaceControl(TControlId id, const TRect& place) {
    Control(id)->setGeometry(place.left, place.top, place.width, place.height);
}

void TConDos::SetWindowCaption(const std::string& caption) {
    // The image's name is in the file system's encoding.
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(caption)));
}

TRect TConDos::MeasureConsoleText(const char* text) {
    const QFontMetrics metrics(ConsoleFont());
    return TRect{0, 0, metrics.horizontalAdvance(QString::fromLatin1(text)), metrics.height()};
}

int TConDos::PanelHeight() const { return Panel->height(); }

TRect TConDos::WorkArea() const {
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown) return TRect{0, 0, width(), height()};
    const QRect room = shown->availableGeometry();
    // The frame, where a window manager has put one (nothing before the window is shown).
    const int frame_width = frameGeometry().width() - width();
    const int frame_height = frameGeometry().height() - height();
    return TRect{0, 0, room.width() - frame_width, room.height() - frame_height};
}

void TConDos::FocusWindow() {
    activateWindow();
    setFocus();
}

void TConDos::CreateImage(int, int) { renderer_ = std::make_unique<TRenderer>(ConsoleFont()); }

void TConDos::DrawCell(int row, int column, TCell cell) { renderer_->DrawCell(row, column, cell); }

void TConDos::CopyImage(const TRect& area, bool stretched) {
    if (in_paint_) {
        paint_area_ = area;
        paint_stretched_ = stretched;
        return;
    }
    // Outside a paint event the copy is the next paint event's: one per refresh.
    update(area.left, area.top, area.width, area.height);
}

void TConDos::ShowMessage(const QString& text) {
    if (message_box_hook) {
        message_box_hook(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageCaption), text,
                    QMessageBox::Ok, ConDos);
    box.exec();
}

void TConDos::MessageBox(const std::string& text) {
    ShowMessage(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

std::string TConDos::OpenFileDialog(const TFileDialogDesc& desc) {
    QString name;
    if (file_dialog_hook) {
        name = file_dialog_hook();
    } else {
        QFileDialog dialog(this, QString::fromLatin1(desc.title),
                           QString::fromLatin1(desc.initial_directory), DialogFilter(desc));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            name = dialog.selectedFiles().first();
    }
    // The file system's own spelling of the name, whatever its encoding.
    return QFile::encodeName(name).toStdString();
}

std::string TConDos::SaveImagePng(const std::string& path) {
    QImageWriter writer(QFile::decodeName(QByteArray::fromStdString(path)), "png");
    if (writer.write(renderer_->Bitmap())) return "";
    return writer.errorString().toStdString();
}

std::string TConDos::SaveFileDialog(const TFileDialogDesc& desc) {
    QString name;
    if (save_dialog_hook) {
        name = save_dialog_hook();
    } else {
        QFileDialog dialog(this, QString::fromLatin1(desc.title),
                           QString::fromLatin1(desc.initial_directory), DialogFilter(desc));
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            name = dialog.selectedFiles().first();
    }
    return QFile::encodeName(name).toStdString();
}

int TConDos::PopupMenu(const std::vector<TMenuEntry>& entries, int x, int y) {
    if (popup_menu_hook) return popup_menu_hook(entries);
    QMenu menu(this);
    for (const TMenuEntry& entry : entries) {
        if (entry.caption.empty()) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(entry.caption));
        action->setData(entry.command);
        action->setEnabled(entry.enabled);
    }
    // The menu is a window of its own: the key hook leaves its keys alone.
    const QAction* chosen = menu.exec(mapToGlobal(QPoint(x, y)));
    return chosen ? chosen->data().toInt() : -1;
}

void TConDos::SetClipboardText(TClipboardKind kind, const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (kind == cbPrimary && !clipboard->supportsSelection()) return;
    clipboard->setText(QString::fromStdString(text), ClipboardMode(kind));
}

std::string TConDos::ClipboardText(TClipboardKind kind) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (kind == cbPrimary && !clipboard->supportsSelection()) return {};
    return clipboard->text(ClipboardMode(kind)).toStdString();
}

void TConDos::StartTimer(int interval_ms) {
    Timer1 = new QTimer(this);
    Timer1->setInterval(interval_ms);
    QObject::connect(Timer1, &QTimer::timeout, this, [this] { form_->Timer1Timer(); });
    Timer1->start();
}

void TConDos::StartRefreshTimer(int delay_ms) {
    if (!refresh_timer_) {
        refresh_timer_ = new QTimer(this);
        refresh_timer_->setSingleShot(true);
        refresh_timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(refresh_timer_, &QTimer::timeout, this, [this] { form_->RefreshTimer(); });
    }
    refresh_timer_->start(delay_ms);
}

void TConDos::StartPasteTimer(int delay_ms) {
    if (!paste_timer_) {
        paste_timer_ = new QTimer(this);
        paste_timer_->setSingleShot(true);
        paste_timer_->setTimerType(Qt::PreciseTimer); // a paste's pace is a few milliseconds
        QObject::connect(paste_timer_, &QTimer::timeout, this, [this] { form_->PasteTimer(); });
    }
    paste_timer_->start(delay_ms);
}

void TConDos::ProcessPendingEvents() { host_.ProcessPendingEvents(); }
void TConDos::WaitForEvents() { host_.WaitForEvents(); }
TLockState TConDos::ReadLockState() { return ReadPcLockState(); }

void TConDos::closeEvent(QCloseEvent* event) {
    form_->FormClose();
    event->accept();
}

bool TConDos::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && form_) form_->FormActivate();
    // On a screen of another device pixel ratio, the zoom is decided again.
    if (e->type() == QEvent::ScreenChangeInternal && form_ && renderer_ &&
        devicePixelRatioF() != form_->PixelRatio())
        form_->FormDpiChanged();
    return QWidget::event(e);
}

void TConDos::mousePressEvent(QMouseEvent* event) {
    TMouseButton button;
    if (!MouseButtonOf(event->button(), &button)) return;
    const QPoint at = event->position().toPoint();
    form_->MouseDown(button, at.x(), at.y());
}

// A double click is a second press: the form counts clicks itself.
void TConDos::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TConDos::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    form_->MouseMove(at.x(), at.y());
}

void TConDos::mouseReleaseEvent(QMouseEvent* event) {
    TMouseButton button;
    if (!MouseButtonOf(event->button(), &button)) return;
    const QPoint at = event->position().toPoint();
    form_->MouseUp(button, at.x(), at.y());
}

void TConDos::wheelEvent(QWheelEvent* event) {
    // 120 eighths of a degree make one notch; finer wheels add up to one.
    wheel_remainder_ += event->angleDelta().y();
    const int steps = wheel_remainder_ / 120;
    wheel_remainder_ -= steps * 120;
    const QPoint at = event->position().toPoint();
    if (steps != 0) form_->MouseWheel(steps, at.x(), at.y());
}

void TConDos::paintEvent(QPaintEvent*) {
    in_paint_ = true;
    form_->FormPaint();
    in_paint_ = false;
    QPainter painter(this);
    const TRect& a = paint_area_;
    if (paint_stretched_) {
        painter.drawImage(QRect(a.left, a.top, a.width, a.height), renderer_->Bitmap());
    } else {
        // Each image pixel a square of zoom device pixels (the form's zoom), from a corner on
        // the device pixel grid: crisp at any device pixel ratio, never smoothed.
        const double ratio = devicePixelRatioF();
        renderer_->SetShownRatio(ratio / form_->Zoom());
        painter.drawImage(QPointF(std::ceil(a.left * ratio) / ratio, std::ceil(a.top * ratio) / ratio),
                          renderer_->Bitmap());
    }
}

void TConDos::resizeEvent(QResizeEvent*) {
    if (!form_ || !renderer_) return;
    Panel->setGeometry(0, 0, width(), Panel->height());
    PlaceStatusLabel();
    form_->FormResize();
}
