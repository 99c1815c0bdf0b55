// The window suite's driver of the Qt window: the real window on an X server of the test
// program's own (Xvfb, with room for zoom 2 at a device pixel ratio of 2), keys and the real
// right click through XTest, the buttons clicked and the mouse on the console as Qt delivers
// them, pixels grabbed from the X server.
#include "window_driver.h"

#include "window_rig.h"
#include "xtest_keyboard.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <cstdlib>
#include <utility>

namespace {

std::unique_ptr<TXTestKeyboard> xtest;

TPixels PixelsOf(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    TPixels p{rgb.width(), rgb.height(), {}};
    p.rgb.reserve(static_cast<size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.rgb.push_back(rgb.pixel(x, y) & 0xFFFFFF);
    return p;
}

Qt::MouseButton QtButton(TMouseButton button) {
    return button == mbLeft     ? Qt::LeftButton
           : button == mbMiddle ? Qt::MiddleButton
                                : Qt::RightButton;
}

class TQtDriver final : public TWindowDriver {
  public:
    TQtDriver() {
        TConDos::message_box_hook = [this](const QString& text) {
            boxes_.push_back(text.toStdString());
        };
        window_ = std::make_unique<TConDos>();
        form_ = &window_->Form();
        window_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get(), 10000));
        window_->activateWindow();
    }
    ~TQtDriver() override {
        window_.reset();
        TConDos::message_box_hook = nullptr;
    }

    TShownControl Control(TControlId id, int item) override {
        QWidget* w = Widget(id, item);
        const auto* button = qobject_cast<QAbstractButton*>(w);
        const auto* label = qobject_cast<QLabel*>(w);
        const QPoint at = w->mapTo(window_.get(), QPoint(0, 0)) - window_->Panel->pos();
        return TShownControl{w->isEnabled(),
                             w->isVisible(),
                             button && button->isChecked(),
                             (button  ? button->text()
                              : label ? label->text()
                                      : QString())
                                 .toStdString(),
                             w->toolTip().toStdString(),
                             TRect{at.x(), at.y(), w->width(), w->height()}};
    }
    void SetCaption(TControlId id, int item, const std::string& text) override {
        QWidget* w = Widget(id, item);
        if (auto* label = qobject_cast<QLabel*>(w)) label->setText(QString::fromStdString(text));
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            button->setText(QString::fromStdString(text));
    }
    void Click(TControlId id, int item) override {
        qobject_cast<QAbstractButton*>(Widget(id, item))->click();
    }
    TRect PanelPlace() override {
        const QRect r = window_->Panel->geometry();
        return TRect{r.x(), r.y(), r.width(), r.height()};
    }
    int PanelUnits(int pixels) override { return pixels; } // Qt scales them itself
    uint32_t FaceColour() override {
        return QApplication::palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    }

    std::string WindowCaption() override { return window_->windowTitle().toStdString(); }
    double Scale() override { return window_->devicePixelRatioF(); }
    TRect Client() override { return TRect{0, 0, window_->width(), window_->height()}; }
    void ResizeClient(int width, int height) override {
        window_->resize(width, height);
        // The X server confirms the new size later.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (window_->size() != QSize(width, height) &&
               std::chrono::steady_clock::now() < deadline)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::processEvents();
    }
    TPixels Grab() override {
        window_->repaint();
        QApplication::processEvents();
        return PixelsOf(window_->screen()->grabWindow(window_->winId()).toImage());
    }
    TPixels GrabControl(TControlId id, int item) override {
        QWidget* w = Widget(id, item);
        QApplication::processEvents();
        w->repaint();
        QApplication::processEvents();
        // As far as it lies inside the client area: what the window shows of it.
        const QRect r = QRect(w->mapTo(window_.get(), QPoint(0, 0)), w->size()) & window_->rect();
        const QPoint at = window_->mapToGlobal(r.topLeft());
        return PixelsOf(
            w->screen()->grabWindow(0, at.x(), at.y(), r.width(), r.height()).toImage());
    }
    uint32_t ImagePixel(int x, int y) override {
        return window_->Renderer().Bitmap().pixel(x, y) & 0xFFFFFF;
    }
    TPixels ReadPng(const std::string& path) override {
        const QImage image(QString::fromStdString(path), "PNG");
        return image.isNull() ? TPixels{} : PixelsOf(image);
    }
    void StopTimer() override { window_->Timer1->stop(); }
    void CloseWindow() override { window_->close(); }
    bool Closed() override { return !window_->isVisible(); }

    void TypeKeys(const std::vector<int>& signed_keycodes) override {
        for (int code : signed_keycodes)
            code > 0 ? xtest->Press(static_cast<unsigned>(code))
                     : xtest->Release(static_cast<unsigned>(-code));
    }
    void Mouse(TMouseButton button, bool press, int x, int y) override {
        const QPointF at(x, y);
        QMouseEvent event(press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, at,
                          window_->mapToGlobal(at), QtButton(button),
                          press ? QtButton(button) : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &event);
    }
    void MouseDrag(int x, int y) override {
        const QPointF at(x, y);
        QMouseEvent event(QEvent::MouseMove, at, window_->mapToGlobal(at), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &event);
    }
    void Wheel(int notches, int x, int y) override {
        const QPointF at(x, y);
        QWheelEvent event(at, window_->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window_.get(), &event);
    }
    void AnswerMenus(std::function<int(const std::vector<TMenuEntry>&)> answer) override {
        window_->popup_menu_hook = std::move(answer);
    }
    void OpenMenuAt(int x, int y) override {
        const QPoint at = window_->mapToGlobal(QPoint(x, y));
        xtest->MoveTo(at.x(), at.y());
        xtest->Click(3);
    }
    bool MenuOpen() override { return QApplication::activePopupWidget() != nullptr; }
    std::string ClipboardText() override {
        return QGuiApplication::clipboard()->text().toStdString();
    }
    void RightClick(TControlId id, int item) override {
        QWidget* w = Widget(id, item);
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(3, 3),
                                w->mapToGlobal(QPoint(3, 3)));
        QApplication::sendEvent(w, &click);
    }
    void SetClipboardText(const std::string& text) override {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    }
    void ChooseImage(const std::string& host_path) override {
        window_->file_dialog_hook = [host_path] { return QString::fromStdString(host_path); };
        window_->EnaFloppy->click();
    }
    void AnswerSaveDialog(const std::string& host_path) override {
        window_->save_dialog_hook = [host_path] { return QString::fromStdString(host_path); };
    }
    void AnswerFolderDialog(const std::string& host_path) override {
        window_->folder_dialog_hook = [host_path] { return QString::fromStdString(host_path); };
    }
    void AnswerNetworkDialog(const TNetworkPortDesc& port) override {
        window_->network_dialog_hook = [port](TNetworkPortDesc& asked) {
            asked = port;
            return true;
        };
    }

    std::unique_ptr<TPtyTarget> Target() override { return std::make_unique<TPtyTarget>(); }
    std::vector<std::string> TakeBoxes() override { return std::exchange(boxes_, {}); }
    std::vector<std::string> RunConnected(const std::vector<TWindowStep>& steps) override {
        TStepper stepper;
        for (const TWindowStep& s : steps)
            stepper.Then(s.what, s.cond, s.action, s.timeout);
        return stepper.RunConnected(*window_);
    }

  private:
    QWidget* Widget(TControlId id, int item) {
        if (item >= 0) return window_->COMGroupItems[item];
        QWidget* const widgets[kControlCount] = {
            window_->Connect,     window_->Disconnect, window_->Rscr,      window_->ButtonDel,
            window_->EnaKeyboard, window_->EnaVideo,   window_->EnaFloppy, window_->COMGroup,
            window_->Label1,      window_->Label2,     window_->Marker,
        };
        return widgets[id];
    }

    std::unique_ptr<TConDos> window_;
    std::vector<std::string> boxes_;
};

} // namespace

std::string WindowDriverSetUp() {
    const std::string why = X11TestApp("2560x1600x24");
    if (!why.empty()) return why + "; the window suite is skipped";
    xtest = std::make_unique<TXTestKeyboard>(std::getenv("DISPLAY"));
    return xtest->Ok() ? "" : "no XTest on the X server; the window suite is skipped";
}

std::unique_ptr<TWindowDriver> MakeWindowDriver() {
    return std::make_unique<TQtDriver>();
}

void WindowDriverTearDown() {
    xtest.reset();
    StopX11App();
}
