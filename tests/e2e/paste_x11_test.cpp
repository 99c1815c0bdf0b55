// Pasting into the real window on a real X server (Xvfb): the middle button pastes the PRIMARY
// selection, and the context menu's Paste, chosen with the keyboard, the clipboard. Another X
// client (xclip) owns the selections, as a terminal or an editor would; the keystrokes reach
// the simulated target, which reports each one.
#include "fakes.h"
#include "sim_target.h"
#include "window_rig.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

#include <QApplication>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace std::chrono_literals;

enum : unsigned { xkDown = 116, xkReturn = 36 };
enum : unsigned { kMiddleButton = 2, kRightButton = 3 };

std::unique_ptr<TXvfb> xvfb;
std::unique_ptr<QApplication> app;
std::string unavailable;
int argc = 1;
char name[] = "paste_x11_test";
char* argv[] = {name, nullptr};

class PasteOnX11 : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (FindOnPath("xclip").empty()) {
            unavailable = "xclip is not installed";
            return;
        }
        xvfb = std::make_unique<TXvfb>();
        unavailable = xvfb->Start();
        if (!unavailable.empty()) return;
        setenv("DISPLAY", xvfb->Display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    static void TearDownTestSuite() {
        app.reset();
        xvfb.reset(); // xclip ends with its server
    }
    void SetUp() override {
        if (!unavailable.empty()) GTEST_SKIP() << unavailable << "; the paste test is skipped";
        TConDos::message_box_hook = [](const QString& text) {
            ADD_FAILURE() << "message box: " << text.toStdString();
        };
        xtest = std::make_unique<TXTestKeyboard>(xvfb->Display());
        ASSERT_TRUE(xtest->Ok());
        window = std::make_unique<TConDos>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 10000));
    }
    void TearDown() override {
        window.reset();
        TConDos::message_box_hook = nullptr;
    }

    // Another client takes the selection over; `text` is a printf format ("dir\\n" ends a line).
    static bool Offer(const char* selection, const std::string& text) {
        const std::string cmd = "printf '" + text + "' | xclip -selection " + selection + " -i";
        return std::system(cmd.c_str()) == 0;
    }
    // Moves the pointer onto the console area and clicks there.
    void ClickOnConsole(unsigned button) {
        const QPoint at = window->mapToGlobal(QPoint(100, 41 + 100));
        xtest->MoveTo(at.x(), at.y());
        xtest->Click(button);
    }
    static QString ActiveMenuEntry() {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu && menu->activeAction() ? menu->activeAction()->text() : QString();
    }

    std::unique_ptr<TXTestKeyboard> xtest;
    std::unique_ptr<TConDos> window;
};

} // namespace

TEST_F(PasteOnX11, TheMiddleButtonPastesThePrimarySelectionIntoTheTarget) {
    ASSERT_TRUE(Offer("primary", "dir\\n"));
    TSimTarget target({"--print-events", "--time-limit", "60"});
    TStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=0") && !window->Link().key_hold; },
               [&] { ClickOnConsole(kMiddleButton); })
        .Then("the command typed", [&] { return target.Printed("command dir"); },
              [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_EQ(KeysReported(target.Output()), "dir\r");
}

TEST_F(PasteOnX11, TheMenusPasteChosenWithTheKeyboardPastesTheClipboard) {
    ASSERT_TRUE(Offer("clipboard", "help\\n"));
    TSimTarget target({"--print-events", "--time-limit", "60"});
    TStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=0") && !window->Link().key_hold; },
               [&] { ClickOnConsole(kRightButton); })
        .Then("the menu open", [&] { return QApplication::activePopupWidget() != nullptr; },
              [&] { xtest->Tap(xkDown); })
        .Then("on Copy", [&] { return ActiveMenuEntry() == "Copy"; }, [&] { xtest->Tap(xkDown); })
        .Then("on Paste", [&] { return ActiveMenuEntry() == "Paste"; },
              [&] { xtest->Tap(xkReturn); })
        .Then("the command typed", [&] { return target.Printed("command help"); },
              [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    // The keys that chose the entry went to the menu, not to the target.
    EXPECT_EQ(KeysReported(target.Output()), "help\r");
}
