// Closing the window while connected ends the program normally, although the Connect
// handler is still on the stack when the close arrives. Its own program: it runs the
// application's event loop to its end.
#include "window_rig.h"

#include <QPushButton>

#include <gtest/gtest.h>

TEST(Program, ClosingTheWindowWhileConnectedEndsTheEventLoopWithExitCodeZero) {
    TPtyTarget target;
    QApplication& app = TestApp();
    QApplication::setQuitOnLastWindowClosed(true);
    TConDos::message_box_hook = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    TConDos window;
    window.show();
    bool was_connected = false;
    QTimer::singleShot(0, &window, [&] { window.Connect->click(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.MainCycleRunning() && !was_connected) {
            was_connected = true;
            window.close();
        }
    });
    poll.start(5);
    QTimer::singleShot(20000, [&] { app.exit(3); }); // a watchdog, not a wait
    const int code = app.exec();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(was_connected);
    EXPECT_FALSE(window.MainCycleRunning());
    EXPECT_FALSE(window.Comm->Enabled());
    TConDos::message_box_hook = nullptr;
}
