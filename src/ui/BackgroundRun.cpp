#include "ui/BackgroundRun.h"

#include <QEvent>
#include <QWidget>

namespace morvane {

BackgroundRun::BackgroundRun(QWidget* owner) {
    owner->installEventFilter(this);
}

BackgroundRun::~BackgroundRun() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool BackgroundRun::start(std::function<void()> work, std::function<void()> finished) {
    if (running())
        return false;
    stop_ = false;
    failure_ = nullptr;
    thread_ = std::thread([this, work = std::move(work), finished = std::move(finished)]() mutable {
        try {
            work();
        } catch (...) {
            failure_ = std::current_exception();
        }
        post([this, finished = std::move(finished)] {
            if (thread_.joinable())
                thread_.join();
            finished();
        });
    });
    return true;
}

void BackgroundRun::post(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

bool BackgroundRun::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && !event->spontaneous())
        stop();
    return QObject::eventFilter(watched, event);
}

} // namespace morvane
