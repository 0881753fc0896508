#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class QElapsedTimer;
class QLabel;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QWidget;

namespace ludex {

// Whether the user may stop a piece of long work with Cancel (or Escape).
enum class TCancel { Allowed, NotAllowed };

// What a piece of work sees of its run: it tells how far it has come and asks whether the user
// has stopped it. Every member may be called from any thread.
class TWorkProgress {
public:
    // `done` units (bytes, branches) of `total`; a total of 0 means "unknown": the bar shows that
    // something is going on, not how much.
    void Report(uint64_t done, uint64_t total) noexcept {
        total_.store(total, std::memory_order_relaxed);
        done_.store(done, std::memory_order_relaxed);
    }
    bool Cancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }
    // Throws ECancelled once the user has stopped the work: a work calls it where it can still
    // be given up without having changed anything.
    void ThrowIfCancelled() const;

private:
    friend class TLongWork;
    std::atomic<uint64_t> done_{0};
    std::atomic<uint64_t> total_{0};
    std::atomic<bool> cancelled_{false};
};

// A command that may take longer than the user should wait for a frozen window. While one runs,
// the window keeps painting and can be moved and resized, but ignores every other input: no other
// command starts and nothing is edited, so the documents stay as the work found them. Timed
// tasks that change or read the documents (the file watch, the recovery snapshots, the idle lock)
// wait while LongWorkRunning() is true.
//
// Once the work has run for the progress delay, the main window's status bar shows the work's
// message, a progress bar and, where the work may be stopped, a Cancel button that Escape also
// presses; nothing shows for shorter work. Everything goes when the object is destroyed.
//
// The work runs either on a worker thread (RunOnWorker), which must then only do core work on
// data that nothing on the GUI thread changes meanwhile, or in slices on the GUI thread (Step).
// Closing the main window while work runs stops the work where it may be stopped and closes the
// window once the work has ended.
class TLongWork : public QObject {
public:
    // `messageKey` names the message shown in the status bar.
    TLongWork(std::string messageKey, TCancel cancel);
    TLongWork(std::string messageKey, TCancel cancel, std::chrono::milliseconds delay);
    ~TLongWork() override;
    TLongWork(const TLongWork&) = delete;
    TLongWork& operator=(const TLongWork&) = delete;

    // Runs `work` on a worker thread while the GUI thread goes on with its events; returns when
    // the work has ended, rethrowing what it threw. May be called more than once in a row.
    void RunOnWorker(const std::function<void(TWorkProgress& progress)>& work);

    // Runs `work` on a thread of its own, as RunOnWorker does, except that Cancel does not wait for
    // it: the call returns false at once and the work is left to end by itself. It must therefore
    // own everything it uses (it may outlive the caller) and touch no document and no widget;
    // what it holds is freed when it ends. True when the work ended, rethrowing what it threw.
    // For work that cannot be interrupted and may take long, such as deriving a key.
    bool RunAbandonable(std::function<void()> work);

    // The message key it was made with.
    const std::string& MessageKey() const { return messageKey_; }

    // For work done in slices on the GUI thread: reports the progress and, when the time has come,
    // lets the window paint and the user press Cancel. False once the work has been cancelled.
    bool Step(uint64_t done, uint64_t total);

    // Before a stretch on the GUI thread that lets no events through (one call that cannot be cut
    // into slices): once the work has run half the progress delay, its progress shows now and the
    // window paints it, so that work which ends up longer than the delay has shown it.
    void ShowAhead();

    // The progress the work reports; usable from the worker thread.
    TWorkProgress& Progress() { return progress_; }
    bool Cancelled() const { return progress_.Cancelled(); }
    void ThrowIfCancelled() const { progress_.ThrowIfCancelled(); }
    // What the Cancel button does; nothing for work that may not be stopped.
    void Cancel();
    // The main window is to close: cancels where allowed, and closes the window once the work
    // has ended.
    void RequestClose();
    // Whether the status bar shows this work now.
    bool Shown() const { return panel_ != nullptr; }

    // The innermost work running now, or null.
    static TLongWork* Running();
    // The main window whose status bar shows the work and whose closing waits for it; null for none.
    static void SetWindow(QMainWindow* window);
    // How long work runs before its progress shows (0.5 s unless a test says otherwise).
    static void SetProgressDelay(std::chrono::milliseconds delay);
    static std::chrono::milliseconds ProgressDelay();
    // Runs on the worker thread before each work given to RunOnWorker; none unless a test sets one
    // (to hold the work until it has pressed Cancel, whatever the machine's load).
    static void SetWorkerStart(std::function<void(TWorkProgress&)> start);

    // Object names of the status-bar widgets.
    static constexpr const char* kPanelName = "Panel_LongWork";
    static constexpr const char* kBarName = "Progress_LongWork";
    static constexpr const char* kCancelName = "Button_CancelLongWork";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the status-bar widgets once the delay has passed, and brings the bar up to date.
    void Refresh();
    void Show();

    std::string messageKey_;
    TCancel cancel_;
    std::chrono::milliseconds delay_;
    TWorkProgress progress_;
    std::unique_ptr<QElapsedTimer> clock_;
    int64_t lastEvents_ = 0; // when Step last let the events through, in ms of the clock
    QPointer<QWidget> panel_;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    bool busyCursor_ = false;
    bool closeAfter_ = false;
    TLongWork* outer_ = nullptr;
};

// Whether long work is running: timed tasks that touch the documents wait.
bool LongWorkRunning() noexcept;

// Runs `work` on a worker thread as part of the long work running now, or as a new long work
// with the message and the cancel option given.
void RunLongWork(const std::string& messageKey, TCancel cancel,
                 const std::function<void(TWorkProgress& progress)>& work);

} // namespace ludex
