#include "window/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

void QtDispatcher::Synchronize(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(
        app, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void QtDispatcher::Post(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void QtDispatcher::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}
