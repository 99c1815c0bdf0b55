// Start-up: the application titled "Quorvik", its one main window, the event loop.
#include "condos.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>

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

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
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
