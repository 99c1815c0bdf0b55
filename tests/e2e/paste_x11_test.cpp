// Pasting into the real window on a real X server (Xvfb): the middle button pastes the PRIMARY
// selection, and the context menu's Paste, chosen with the keyboard, the clipboard. Another X
// client (xclip) owns the selections; the pointer and the keys go in through XTest, and the
// simulated target reports every key it receives.
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

TEST(PasteOnX11, TheMiddleButtonAndTheMenusPasteTypeTheSelectionsIntoTheTarget) {
    if (FindOnPath("xclip").empty()) GTEST_SKIP() << "xclip is not installed";
    TXvfb xvfb;
    const std::string unavailable = xvfb.StartForQt();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    int argc = 1;
    char name[] = "paste_x11_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    // xclip serves each selection in the background until its server ends.
    ASSERT_EQ(std::system("printf 'dir\\n' | xclip -selection primary -i"), 0);
    ASSERT_EQ(std::system("printf 'help\\n' | xclip -selection clipboard -i"), 0);
    TXTestKeyboard xtest(xvfb.Display());
    ASSERT_TRUE(xtest.Ok());
    TConDos::message_box_hook = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    TConDos window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
    auto click_console = [&](unsigned button) {
        const QPoint at = window.mapToGlobal(QPoint(100, 41 + 100));
        xtest.MoveTo(at.x(), at.y());
        xtest.Click(button);
    };
    auto on_entry = [](const char* caption) {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu && menu->activeAction() && menu->activeAction()->text() == caption;
    };
    constexpr unsigned kDown = 116, kReturn = 36; // X keycodes
    TSimTarget target({"--print-events", "--time-limit", "60"});
    TStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=0") && !window.Link().key_hold; },
               [&] { click_console(2); })
        .Then("PRIMARY typed", [&] { return target.Printed("command dir"); },
              [&] { click_console(3); })
        .Then("the menu open", [&] { return QApplication::activePopupWidget() != nullptr; },
              [&] { xtest.Tap(kDown); })
        .Then("on Copy", [&] { return on_entry("Copy"); }, [&] { xtest.Tap(kDown); })
        .Then("on Paste", [&] { return on_entry("Paste"); }, [&] { xtest.Tap(kReturn); })
        .Then("the clipboard typed", [&] { return target.Printed("command help"); },
              [&] { window.CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(window), std::vector<std::string>{});
    // In order, and the keys that drove the menu went to the menu, not to the target.
    EXPECT_EQ(KeysReported(target.Output()), "dir\rhelp\r");
    TConDos::message_box_hook = nullptr;
}
