#include "qt_host.h"

#include <QCoreApplication>
#include <QMetaObject>

void TQtHost::ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TQtHost::WaitForEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TQtPoster::Post(std::function<void()> call) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}
