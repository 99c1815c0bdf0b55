// X11's PRIMARY selection on a real X server (Xvfb, XTest): a drag with the real pointer
// selects into PRIMARY, which another program (xclip) reads. What both windows do with the
// mouse and the keys is the window suite's (tests/window_suite).
#include "window_rig.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::string unavailable;

class ConsoleOnX11 : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        unavailable = X11TestApp();
        if (unavailable.empty() && FindOnPath("xclip").empty()) unavailable = "no xclip";
    }
    static void TearDownTestSuite() { StopX11App(); }
    void SetUp() override {
        if (!unavailable.empty()) GTEST_SKIP() << unavailable << "; the X11 console test is skipped";
        TConDos::message_box_hook = [](const QString& text) {
            ADD_FAILURE() << "message box: " << text.toStdString();
        };
        window = std::make_unique<TConDos>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 10000));
        window->activateWindow();
        xtest = std::make_unique<TXTestKeyboard>(getenv("DISPLAY"));
        ASSERT_TRUE(xtest->Ok());
    }
    void TearDown() override {
        xtest.reset();
        window.reset();
        TConDos::message_box_hook = nullptr;
    }
    // The pointer onto the middle of cell (row, column).
    void PointAt(int row, int column) {
        const TRenderer& r = window->Renderer();
        const QPoint at = window->mapToGlobal(
            QPoint(column * r.CellWidth() + r.CellWidth() / 2,
                   kPanelHeight + row * r.CellHeight() + r.CellHeight() / 2));
        xtest->MoveTo(at.x(), at.y());
    }
    // Lines 0-39 of the console's own output: 0-15 have left the screen.
    void FortyLines() {
        for (int i = 0; i < 40; ++i) window->Screen().MsgOut("line %d", i);
        window->Form().ScreenRefresh();
    }

    std::unique_ptr<TConDos> window;
    std::unique_ptr<TXTestKeyboard> xtest;
};

} // namespace

TEST_F(ConsoleOnX11, ADragIsReadAsPrimaryByAnotherProgram) {
    QProcess xclip;
    TStepper steps;
    steps.Do("output",
             [&] {
                 FortyLines();
                 PointAt(2, 0);
                 xtest->Button(1, true);
                 PointAt(3, 5);
                 xtest->Button(1, false);
             })
        .Then("selected", [&] { return window->Form().Area().HasSelection(); },
              [&] { xclip.start("xclip", {"-o", "-selection", "primary"}); })
        .Then("read by xclip", [&] { return xclip.state() == QProcess::NotRunning; },
              [&] { EXPECT_EQ(xclip.readAllStandardOutput().toStdString(), "line 18\nline 1"); });
    EXPECT_EQ(steps.Run(), std::vector<std::string>{});
}
