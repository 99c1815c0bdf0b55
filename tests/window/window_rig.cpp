#include "window_rig.h"

#include <QEventLoop>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

TPtyTarget::TPtyTarget() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    slave_path_ = name;
    termios t;
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    setenv("QUORVIK_COM1", slave_path_.c_str(), 1);
}

TPtyTarget::~TPtyTarget() {
    close(master_);
    close(slave_);
}

void TPtyTarget::Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty write");
    }
}

const std::string& TPtyTarget::Received() {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) break;
        received_.append(buf, static_cast<size_t>(n));
    }
    return received_;
}

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
