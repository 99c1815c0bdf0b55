// The fixture of the end-to-end tests: the real window (offscreen) connected to the simulated
// target in its own process.
#pragma once

#include "sim_target.h"
#include "window_rig.h"

#include "comm.h"
#include "fakes.h"
#include "floppy_service.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QRadioButton>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <gtest/gtest.h>

#include <sys/resource.h>

using namespace std::chrono_literals;

// The simulator's model of the image starts as a copy of it.
inline std::string CopyOf(const std::string& image) {
    const std::string model = image + ".model";
    if (std::system(("cp " + image + " " + model).c_str()) != 0) ADD_FAILURE() << "cp " << model;
    return model;
}

inline double CpuSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

class EndToEnd : public testing::Test {
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
    // Stays connected until the simulator has ended, then disconnects.
    std::vector<std::string> ServeUntilExit(TSimTarget& target,
                                            std::chrono::milliseconds limit = 120s) {
        TStepper steps;
        steps.Then("the simulator to finish", [&] { return target.Exited(); },
                   [&] { window->CloseComClick(); }, limit);
        return steps.RunConnected(*window);
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

