// The console area with a real mouse and keyboard on a real X server (Xvfb, XTest): a drag
// selects into PRIMARY, which another program (xclip) reads; the wheel shows the history and a
// key returns to the screen; and keys pressed while the context menu is open stay in the menu.
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

constexpr unsigned kKeyA = 30 + 8, kKeyB = 48 + 8, kKeyX = 45 + 8, kKeyEsc = 1 + 8;

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
    std::string ShownRow(int row) {
        std::string s;
        for (int c = 0; c < kScreenColumns; ++c)
            s += char(window->Form().Area().LineCells(window->Form().Area().LineOf(row))[c].ch);
        return s.substr(0, s.find_last_not_of(' ') + 1);
    }

    std::unique_ptr<TConDos> window;
    std::unique_ptr<TXTestKeyboard> xtest;
};

} // namespace

TEST_F(ConsoleOnX11, ADragIsReadAsPrimaryAndTheWheelShowsTheHistoryUntilAKeyGoesOut) {
    TPtyTarget target;
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
              [&] {
                  EXPECT_EQ(xclip.readAllStandardOutput().toStdString(), "line 18\nline 1");
                  PointAt(10, 10);
                  xtest->Click(4); // the wheel, one notch away from the user
              })
        .Then("scrolled back", [&] { return window->Form().Area().ScrolledBack(); },
              [&] {
                  EXPECT_EQ(ShownRow(0), "line 13");
                  xtest->Tap(kKeyA);
              })
        .Then("the key sent", [&] { return target.Received() == "a"; },
              [&] {
                  EXPECT_FALSE(window->Form().Area().ScrolledBack());
                  window->CloseComClick();
              });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
}

TEST_F(ConsoleOnX11, KeysPressedWhileTheMenuIsOpenNeverReachTheTarget) {
    TPtyTarget target;
    TStepper steps;
    steps.Do("right click",
             [&] {
                 PointAt(5, 5);
                 xtest->Click(3);
             })
        .Then("the menu open", [&] { return QApplication::activePopupWidget() != nullptr; },
              [&] {
                  xtest->Tap(kKeyX);
                  xtest->Tap(kKeyA);
                  xtest->Tap(kKeyEsc);
              })
        .Then("the menu closed", [&] { return QApplication::activePopupWidget() == nullptr; },
              [&] { xtest->Tap(kKeyB); })
        .Then("a key after it sent", [&] { return !target.Received().empty(); },
              [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_EQ(target.Received(), "b");
}
