#include "window_rig.h"

#include "xvfb_server.h"

#include <QEventLoop>

#include <memory>


QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return a;
    }();
    return *app;
}

namespace {
std::unique_ptr<TXvfb> x11_server;
std::unique_ptr<QApplication> x11_app;
} // namespace

std::string X11TestApp(const char* screen) {
    static int argc = 1;
    static char name[] = "x11_tests";
    static char* argv[] = {name, nullptr};
    x11_server = std::make_unique<TXvfb>();
    const std::string why = x11_server->StartForQt(screen);
    if (!why.empty()) return why;
    x11_app = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return "";
}

void StopX11App() {
    x11_app.reset();
    x11_server.reset();
}

TStepper& TStepper::Then(std::string what, TCond cond, TAction action,
                         std::chrono::milliseconds timeout) {
    steps_.push_back({std::move(what), std::move(cond), std::move(action), timeout});
    return *this;
}

void TStepper::Start(std::function<void()> on_end) {
    auto index = std::make_shared<size_t>(0);
    auto started = std::make_shared<std::chrono::steady_clock::time_point>(
        std::chrono::steady_clock::now());
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this, index, started, on_end] {
        if (*index >= steps_.size()) {
            timer_.stop();
            ended_ = true;
            on_end();
            return;
        }
        TStep& step = steps_[*index];
        if (step.cond()) {
            ++*index;
            *started = std::chrono::steady_clock::now();
            if (*index == steps_.size()) { // the last action may end the connection itself
                timer_.stop();
                ended_ = true;
                step.action();
                on_end();
                return;
            }
            step.action();
        } else if (std::chrono::steady_clock::now() - *started > step.timeout) {
            failures_.push_back("timed out waiting: " + step.what);
            *index = steps_.size();
        }
    });
    timer_.start();
}

std::vector<std::string> TStepper::RunConnected(TConDos& window) {
    Start([&window] {
        if (window.MainCycleRunning()) window.CloseComClick();
    });
    window.OpenComClick();
    if (!ended_) {
        timer_.stop();
        failures_.push_back("the connection ended before the steps did");
    }
    return failures_;
}

std::vector<std::string> TStepper::Run() {
    QEventLoop loop;
    Start([&loop] { loop.quit(); });
    loop.exec();
    return failures_;
}
