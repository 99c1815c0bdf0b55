// The fixture of the tests that drive the real main window (offscreen) end to end: the window
// shown, any message box a failure, an image attached through the floppy check box, and keys
// sent as the X server delivers them (the Linux input code + 8 as the native scan code).
#pragma once

#include "window_rig.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>
#include <string>

class TWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        TConDos::message_box_hook = [](const QString& text) {
            ADD_FAILURE() << "message box: " << text.toStdString();
        };
        window = std::make_unique<TConDos>();
        window->show();
    }
    void TearDown() override {
        window.reset();
        TConDos::message_box_hook = nullptr;
    }
    void AttachImage(const std::string& path) {
        window->file_dialog_hook = [path] { return QString::fromStdString(path); };
        window->EnaFloppy->click();
        ASSERT_TRUE(window->EnaFloppy->isChecked());
    }
    void Key(QEvent::Type type, int qt_key, quint32 linux_code, const QString& text = {}) {
        QKeyEvent e(type, qt_key, Qt::NoModifier, linux_code + 8, 0, 0, text);
        QApplication::sendEvent(window->windowHandle(), &e);
    }
    void Tap(int qt_key, quint32 linux_code, const QString& text = {}) {
        Key(QEvent::KeyPress, qt_key, linux_code, text);
        Key(QEvent::KeyRelease, qt_key, linux_code, text);
    }

    std::unique_ptr<TConDos> window;
};
