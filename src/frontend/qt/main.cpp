// Start-up: the application titled "Quorvik", its one main window, the event loop.
#include "command_line.h"
#include "condos.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

// Errors inside event handlers are shown and the program goes on, as the window system's own
// loop would do; nothing may unwind through Qt's frames.
class TApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            TConDos::ShowMessage(QString::fromLocal8Bit(e.what()));
        }
        return false;
    }
};

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

} // namespace

int main(int argc, char** argv) {
    // --help and --version need no display: answered before Qt starts.
    const TStartup startup = ParseCommandLine(Arguments(argc, argv), false);
    if (startup.action != saRun) {
        std::fputs(startup.output.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    TApplication app(argc, argv);
    // What Qt left of the command line after taking its own options (-platform, -style...).
    const TStartup rest = ParseCommandLine(Arguments(argc, argv), false);
    std::fputs(rest.warning.c_str(), stderr);
    // The name the task bar shows; also the window class. Not the display name, which the
    // platform would append to the window caption.
    QApplication::setApplicationName(QStringLiteral("Quorvik"));
    try {
        TConDos window;
        window.show();
        app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvik: %s\n", e.what());
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Quorvik"),
                        QString::fromLocal8Bit(e.what()), QMessageBox::Ok);
        box.exec();
    }
    return 0;
}
