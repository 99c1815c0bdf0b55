// The key hook on a real X server: Xvfb is started on a free display, a window stands in for
// the main window, and keys are typed with XTest raw keycodes (kernel input code + 8), so they
// take the whole road through the server's keymap, Qt's xcb platform and the hook.
#include "key_hook.h"
#include "window_rig.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

#include "fakes.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// X keycodes of the keys typed below.
enum : unsigned {
    xkA = 38,
    xkC = 54,
    xkZ = 52,
    xkSpace = 65,
    xkLeftShift = 50,
    xkLeftCtrl = 37,
    xkRightCtrl = 105,
    xkLeftAlt = 64,
    xkNumLock = 77,
    xkScrollLock = 78,
    xkKeypad8 = 80,
    xkF4 = 70,
    xkF9 = 75,
    xkUp = 111,
    xkSuper = 133,
    xkPause = 127,
    xkPrint = 107,
};

std::unique_ptr<TXvfb> xvfb;
std::unique_ptr<QApplication> app;
std::string unavailable;
int argc = 1;
char name[] = "key_hook_x11_test";
char* argv[] = {name, nullptr};

const std::string kNoState(30, ' ');

class KeyHookOnX11 : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        xvfb = std::make_unique<TXvfb>();
        unavailable = xvfb->StartForQt();
        if (!unavailable.empty()) return;
        app = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() {
        app.reset();
        xvfb.reset();
    }

    void SetUp() override {
        if (!unavailable.empty()) GTEST_SKIP() << unavailable << "; the X11 key test is skipped";
        keyboard = std::make_unique<TXTestKeyboard>(xvfb->Display());
        ASSERT_TRUE(keyboard->Ok()) << "no XTest on " << xvfb->Display();
        keyboard->SetCapsLock(false);
        keyboard->SetNumLock(false);

        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        button = new QPushButton("Connect", window.get());
        layout->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        hook = std::make_unique<TKeyHook>(
            window.get(),
            TKeyHookCallbacks{[this](const uint8_t* bytes, size_t count) {
                                  writes.push_back(ToHex({bytes, bytes + count}));
                              },
                              [] { return false; },
                              [this](const QString& text) { label = text.toStdString(); }});
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 10000));
        button->setFocus();
    }

    void TearDown() override {
        hook.reset();
        window.reset();
        keyboard.reset();
    }

    // Waits until `count` writes have arrived (keys travel through the server asynchronously).
    bool WaitForWrites(size_t count) {
        return QTest::qWaitFor([&] { return writes.size() >= count; }, 10000);
    }
    bool WaitForLabel(const std::string& text) {
        return QTest::qWaitFor([&] { return label == text; }, 10000);
    }

    std::unique_ptr<TXTestKeyboard> keyboard;
    std::unique_ptr<QWidget> window;
    QPushButton* button = nullptr;
    std::unique_ptr<TKeyHook> hook;
    std::vector<std::string> writes;
    std::string label;
    int clicks = 0;
};

} // namespace

TEST_F(KeyHookOnX11, TypedKeysReachTheTargetAsTheirBytes) {
    keyboard->Tap(xkA);
    keyboard->Press(xkLeftShift);
    keyboard->Tap(xkA);
    keyboard->Release(xkLeftShift);
    keyboard->Tap(xkKeypad8); // Num Lock off: the keypad's Up
    keyboard->Tap(xkNumLock);
    keyboard->Tap(xkKeypad8);
    keyboard->Tap(xkNumLock);
    keyboard->Tap(xkF9);
    keyboard->Press(xkLeftCtrl);
    keyboard->Tap(xkF9);
    keyboard->Release(xkLeftCtrl);
    keyboard->Press(xkRightCtrl);
    keyboard->Tap(xkC);
    keyboard->Release(xkRightCtrl);
    keyboard->Tap(xkUp);
    keyboard->Tap(xkSpace);
    keyboard->Press(xkLeftAlt);
    keyboard->Tap(xkF4);
    keyboard->Release(xkLeftAlt);
    keyboard->Tap(xkSuper);
    keyboard->Tap(xkPause);
    keyboard->Tap(xkPrint);
    keyboard->Tap(xkZ);

    const std::vector<std::string> expected = {
        "61", "41", "1B 5B 41", "38", "1B 39", "1B 3A", "03", "1B 5B 41", "20", "1B 34", "7A"};
    ASSERT_TRUE(WaitForWrites(expected.size())) << "only " << writes.size() << " writes";
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(hook->KeyboardState(), 0);
}

TEST_F(KeyHookOnX11, AHeldKeyRepeatsWhileShiftStaysDown) {
    keyboard->Press(xkLeftShift);
    keyboard->Press(xkA);
    const bool repeated = WaitForWrites(3); // the server's auto-repeat
    keyboard->Release(xkA);
    keyboard->Release(xkLeftShift);
    ASSERT_TRUE(repeated) << "no auto-repeat within 10 s: " << writes.size() << " writes";
    keyboard->Tap(xkZ);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !writes.empty() && writes.back() == "7A"; }, 10000));
    for (size_t i = 0; i + 1 < writes.size(); ++i)
        EXPECT_EQ(writes[i], "41") << "write " << i;
}

TEST_F(KeyHookOnX11, TheLabelFollowsTheKeysAndActivationTakesOverThePcsLocks) {
    keyboard->Press(xkLeftShift);
    EXPECT_TRUE(WaitForLabel(std::string(15, ' ') + "SHIFT " + std::string(9, ' ')));
    keyboard->Release(xkLeftShift);
    EXPECT_TRUE(WaitForLabel(kNoState));

    // Toggled while another program had the focus, then the window is activated again.
    keyboard->SetCapsLock(true);
    hook->FormActivate();
    EXPECT_EQ(label, "     CAPS " + std::string(20, ' '));
    keyboard->SetCapsLock(false);
    keyboard->SetNumLock(true);
    hook->FormActivate();
    EXPECT_EQ(label, "NUML " + std::string(25, ' '));
    keyboard->SetNumLock(false);
    hook->FormActivate();
    EXPECT_EQ(label, kNoState);

    // The server's keymap keeps no Scroll Lock state: the program's own bit stays.
    keyboard->Tap(xkScrollLock);
    EXPECT_TRUE(WaitForLabel("          SCRL " + std::string(15, ' ')));
    hook->FormActivate();
    EXPECT_EQ(label, "          SCRL " + std::string(15, ' '));
    EXPECT_TRUE(writes.empty());
}

TEST_F(KeyHookOnX11, KeysTypedIntoTheConnectedMainWindowGoOutOnTheLine) {
    window->hide(); // the real main window this time, connected to a pseudo-terminal
    TPtyTarget target;
    TConDos::message_box_hook = [](const QString& text) {
        ADD_FAILURE() << "message box: " << text.toStdString();
    };
    TConDos main_window;
    main_window.show();
    main_window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main_window, 10000));
    const std::string expected = std::string("a") + "A" + "\x1b[A" + "\x1b" "9" + "\x1b" "4";
    TStepper steps;
    steps.Do("type",
             [&] {
                 keyboard->Tap(xkA);
                 keyboard->Press(xkLeftShift);
                 keyboard->Tap(xkA);
                 keyboard->Release(xkLeftShift);
                 keyboard->Tap(xkUp);
                 keyboard->Tap(xkF9);
                 keyboard->Press(xkLeftAlt);
                 keyboard->Tap(xkF4); // sent to the target; the window stays open
                 keyboard->Release(xkLeftAlt);
             })
        .Then("the bytes on the line", [&] { return target.Received() == expected; },
              [&] { main_window.CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(main_window), std::vector<std::string>{}) << target.Received();
    EXPECT_TRUE(main_window.isVisible());
    TConDos::message_box_hook = nullptr;
}
