// The window at a device pixel ratio above 1 (QT_SCALE_FACTOR, which CTest sets to 1.5 and to 2)
// on an X server of its own, large enough for zoom 2: the console is shown at a whole zoom of
// its natural cell, every image pixel a square of device pixels of its colour, never smoothed.
#include "condos.h"
#include "renderer.h"
#include "xvfb_server.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<TXvfb> xvfb;
std::unique_ptr<QApplication> app;
std::string unavailable;
int argc = 1;
char name[] = "dpi_x11_test";
char* argv[] = {name, nullptr};

class DpiOnX11 : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::getenv("QT_SCALE_FACTOR")) {
            unavailable = "QT_SCALE_FACTOR is not set";
            return;
        }
        xvfb = std::make_unique<TXvfb>();
        unavailable = xvfb->StartForQt("2560x1600x24");
        if (!unavailable.empty()) return;
        app = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() {
        app.reset();
        xvfb.reset();
    }
    void SetUp() override {
        if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    }
};

} // namespace

TEST_F(DpiOnX11, TheConsoleIsShownAtAWholeZoomOfItsCellNeverSmoothed) {
    TConDos window;
    window.Timer1->stop();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
    const double ratio = window.devicePixelRatioF();
    EXPECT_DOUBLE_EQ(ratio, std::atof(std::getenv("QT_SCALE_FACTOR")));
    const int z = window.Form().Zoom();
    EXPECT_EQ(z, 2) << "at a device pixel ratio of " << ratio;
    EXPECT_FALSE(window.StretchMode());

    // Glyphs of several colours over the first rows.
    TScreen& screen = window.Screen();
    const char* text = "Quorvik \xDB\xB1\xB0 AaBb 0123 \xC9\xCD\xBB";
    for (int row = 0; row < 3; ++row)
        for (int i = 0; text[i]; ++i)
            screen.CharOut(static_cast<uint8_t>(0x1E + row * 0x11), i, row,
                           static_cast<uint8_t>(text[i]));
    window.ScreenRefresh();
    window.repaint();
    QApplication::processEvents();

    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    const QImage& image = window.Renderer().Bitmap();
    const int cw = window.Form().CellWidth(), ch = window.Form().CellHeight();
    ASSERT_GE(shot.width(), 80 * cw * z) << "the grab is in device pixels";
    const int top = static_cast<int>(std::ceil(41 * ratio)); // the panel, in device pixels
    int uneven = 0;
    for (int y = 0; y < 3 * ch * z; ++y)
        for (int x = 0; x < 30 * cw * z; ++x)
            uneven += shot.pixel(x, top + y) != image.pixel(x / z, y / z);
    EXPECT_EQ(uneven, 0) << "device pixels that are not their image pixel's square";
    std::printf("[ figures  ] device pixel ratio %.2f: zoom %d, cell %d x %d shown as %d x %d "
                "device pixels, client %d x %d\n",
                ratio, z, cw, ch, cw * z, ch * z, window.width(), window.height());
}
