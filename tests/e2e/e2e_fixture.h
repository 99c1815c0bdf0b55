// The fixture of the end-to-end tests: the real window (offscreen) connected to the simulated
// target in its own process.
#pragma once

#include "sim_target.h"
#include "window_fixture.h"

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

using namespace std::chrono_literals;

class EndToEnd : public TWindowTest {
  protected:
    // Stays connected until the simulator has ended, then disconnects.
    std::vector<std::string> ServeUntilExit(TSimTarget& target,
                                            std::chrono::milliseconds limit = 120s) {
        TStepper steps;
        steps.Then("the simulator to finish", [&] { return target.Exited(); },
                   [&] { window->CloseComClick(); }, limit);
        return steps.RunConnected(*window);
    }
};

