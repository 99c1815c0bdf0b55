// The panel as a user sees it on a real X server (Xvfb): every caption that is shown can be
// read against what is behind it, before Connect and while connected.
//
// A caption's text pixels are found by grabbing the control twice, with its caption and with
// an empty one: what differs is the text, and the empty grab is what lies behind it.
#include "contrast.h"
#include "window_rig.h"
#include "xvfb_server.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string unavailable;

QImage Grab(QWidget* w) {
    QApplication::processEvents();
    w->repaint();
    QApplication::processEvents();
    const QPoint at = w->mapToGlobal(QPoint(0, 0));
    return w->screen()->grabWindow(0, at.x(), at.y(), w->width(), w->height()).toImage();
}

struct TLegibility {
    int text_pixels = 0;  // pixels that change with the caption
    int legible = 0;      // of those, the ones that reach the threshold
    double best = 0;      // the strongest contrast of a text pixel
};

// How the caption of `w` (a label or a button) stands out against what is behind it.
TLegibility Measure(QWidget* w, double threshold) {
    QString text;
    auto* label = qobject_cast<QLabel*>(w);
    auto* button = qobject_cast<QAbstractButton*>(w);
    text = label ? label->text() : button->text();
    const QImage with = Grab(w);
    label ? label->setText(QString()) : button->setText(QString());
    const QImage without = Grab(w);
    label ? label->setText(text) : button->setText(text);
    TLegibility r;
    for (int y = 0; y < std::min(with.height(), without.height()); ++y)
        for (int x = 0; x < std::min(with.width(), without.width()); ++x) {
            const QRgb a = with.pixel(x, y), b = without.pixel(x, y);
            if (a == b) continue;
            ++r.text_pixels;
            const double c = Contrast(a & 0xFFFFFF, b & 0xFFFFFF);
            r.best = std::max(r.best, c);
            r.legible += c >= threshold;
        }
    return r;
}

class PanelOnX11 : public testing::Test {
  protected:
    static void SetUpTestSuite() { unavailable = X11TestApp(); }
    static void TearDownTestSuite() { StopX11App(); }
    void SetUp() override {
        if (!unavailable.empty()) GTEST_SKIP() << unavailable << "; the panel test is skipped";
        TConDos::message_box_hook = [](const QString& text) {
            ADD_FAILURE() << "message box: " << text.toStdString();
        };
        window = std::make_unique<TConDos>();
        window->Timer1->stop(); // no status update may change a caption between two grabs
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 10000));
        // Something to read in the keyboard state label: Caps Lock on.
        window->Form().AppMessage(kdDown, 0x3A, 0x14);
    }
    void TearDown() override {
        window.reset();
        TConDos::message_box_hook = nullptr;
    }

    // Every shown caption of the panel, with the contrast it needs: 3:1 for the large "R",
    // 4.5:1 for the rest.
    std::vector<std::string> Illegible() {
        std::vector<std::pair<QWidget*, double>> captions = {
            {window->Connect, 4.5},    {window->Disconnect, 4.5},  {window->Rscr, 3.0},
            {window->ButtonDel, 4.5},  {window->EnaFloppy, 4.5},   {window->COMGroupItems[0], 4.5},
            {window->COMGroupItems[1], 4.5}, {window->Label1, 4.5}, {window->Label2, 4.5},
        };
        std::vector<std::string> found;
        for (auto [w, threshold] : captions) {
            if (!w->isVisible()) continue;
            const TLegibility r = Measure(w, threshold);
            const std::string what = w->objectName().isEmpty()
                                         ? qobject_cast<QAbstractButton*>(w)->text().toStdString()
                                         : w->objectName().toStdString();
            // A caption is read from its strokes: a handful of pixels must reach the contrast.
            if (r.text_pixels == 0 || r.legible < 8)
                found.push_back(what + ": best " + std::to_string(r.best) + ":1 over " +
                                std::to_string(r.text_pixels) + " text pixels");
        }
        return found;
    }

    std::unique_ptr<TConDos> window;
};

} // namespace

TEST_F(PanelOnX11, EveryCaptionCanBeReadBeforeConnectAndWhileConnected) {
    EXPECT_EQ(Illegible(), std::vector<std::string>{}) << "idle";
    TPtyTarget target;
    std::vector<std::string> connected;
    TStepper steps;
    steps.Do("measure while connected", [&] {
        // Connect activated the window, which took the X server's Caps Lock (off) over.
        window->Form().AppMessage(kdDown, 0x3A, 0x14);
        connected = Illegible();
        window->CloseComClick();
    });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_EQ(connected, std::vector<std::string>{}) << "connected";
}

TEST_F(PanelOnX11, ThePanelHasTheFaceColourAndTheConsoleStaysBlack) {
    QApplication::processEvents();
    const QImage shot = Grab(window.get());
    const QRgb face = QApplication::palette().color(QPalette::Window).rgb();
    EXPECT_EQ(shot.pixel(2, 2), face);               // the panel's top left corner
    EXPECT_EQ(shot.pixel(shot.width() - 3, 38), face); // its right end, below the status
    EXPECT_EQ(qGray(shot.pixel(3, 41 + 3)), 0);      // a blank console cell
}
