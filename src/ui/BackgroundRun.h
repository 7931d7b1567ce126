#pragma once
// A dialog's long computation on a worker thread: the dialog starts it, hears its
// progress and its end as queued calls on the window's thread, and the run stops when
// the dialog is closed or destroyed. Deck strength and the team optimizer both run this
// way; a dialog only says what to compute and how to show it.

#include <QObject>

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

class QWidget;

namespace morvane {

class BackgroundRun : public QObject {
    Q_OBJECT
public:
    // Hiding owner by code or by the user (not the window being minimised) stops the
    // run: nobody is watching it any more. The run is a member of its dialog, declared
    // after everything its work reads, so that it ends before those go.
    explicit BackgroundRun(QWidget* owner);
    // Stops the run and waits for its thread, so nothing the work reads goes first.
    ~BackgroundRun() override;
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    // Runs work on a worker thread; finished follows on the window's thread once the
    // work has returned (or thrown: failure() then holds what) and its thread has
    // ended, after every call the work posted. Does nothing and returns false while a
    // run is under way.
    bool start(std::function<void()> work, std::function<void()> finished);
    // What the last run's work threw; null when it returned.
    std::exception_ptr failure() const { return failure_; }
    // From the work: hands a call to the window's thread. Calls still queued when this
    // object goes are dropped.
    void post(std::function<void()> call);
    // Asks the work to stop; it ends when it next looks at the flag.
    void stop() { stop_ = true; }
    bool running() const { return thread_.joinable(); }
    // What the work passes on to the core as its cancel flag.
    std::atomic<bool>& stopFlag() { return stop_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::atomic<bool> stop_{false};
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace morvane
