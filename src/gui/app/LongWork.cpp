#include "gui/app/LongWork.h"

#include "core/base/Exception.h"
#include "core/settings/LX_Localer.h"
#include "gui/app/CommandConnection.h"
#include "gui/app/QtText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace ludex {

namespace {

// How often the bar is brought up to date while a worker runs, and how long work in slices goes
// on between two looks at the events.
constexpr std::chrono::milliseconds kRefreshInterval{40};
constexpr int64_t kSliceMilliseconds = 25;
// The steps of a progress bar that shows how much is done.
constexpr int kBarSteps = 1000;

TLongWork* running = nullptr;
QPointer<QMainWindow> workWindow;
std::chrono::milliseconds progressDelay{500};
std::function<void(TWorkProgress&)> workerStart;

// The input a window ignores while work runs. Painting, moving and resizing go on.
bool IsBlockedInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

void TWorkProgress::ThrowIfCancelled() const {
    if (Cancelled()) {
        throw ECancelled();
    }
}

TLongWork::TLongWork(std::string messageKey, TCancel cancel)
    : TLongWork(std::move(messageKey), cancel, progressDelay) {}

TLongWork::TLongWork(std::string messageKey, TCancel cancel, std::chrono::milliseconds delay)
    : messageKey_(std::move(messageKey)), cancel_(cancel), delay_(delay),
      clock_(std::make_unique<QElapsedTimer>()), lastEvents_(std::numeric_limits<int64_t>::min() / 2),
      outer_(running) {
    clock_->start();
    running = this;
    qApp->installEventFilter(this);
}

TLongWork::~TLongWork() {
    qApp->removeEventFilter(this);
    delete panel_;
    if (busyCursor_) {
        QApplication::restoreOverrideCursor();
    }
    running = outer_;
    if (closeAfter_) {
        if (outer_ != nullptr) {
            outer_->RequestClose();
        } else if (workWindow) {
            QTimer::singleShot(0, workWindow, [window = workWindow] {
                if (window) {
                    window->close();
                }
            });
        }
    }
}

void TLongWork::RunOnWorker(const std::function<void(TWorkProgress& progress)>& work) {
    QEventLoop loop;
    QTimer refresh;
    refresh.setInterval(kRefreshInterval);
    QObject::connect(&refresh, &QTimer::timeout, this, [this]() noexcept {
        // Only the display of the progress can fail here (no memory for a widget); the work
        // goes on and ends as it would without it.
        try {
            Refresh();
        } catch (...) {
        }
    });
    refresh.start();
    Refresh();

    std::exception_ptr failure;
    // A thread of Qt's own: work that makes Qt objects (a text document laid out for printing)
    // finds what they expect of their thread, such as timers that can be started.
    const std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            if (workerStart) {
                workerStart(progress_);
            }
            work(progress_);
        } catch (...) {
            failure = std::current_exception();
        }
        // Delivered on the GUI thread, inside loop.exec: the loop ends even when the work ended
        // before the loop began.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    }));
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        refresh.stop();
        throw Exception("No thread could be started for the work");
    }
    loop.exec();
    worker->wait();
    refresh.stop();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool TLongWork::RunAbandonable(std::function<void()> work) {
    // What the work and the caller share: the work may outlive the caller's loop, which it then
    // must not touch.
    struct TShared {
        std::mutex mutex;
        QEventLoop* loop = nullptr;
        bool ended = false;
        std::exception_ptr failure;
    };
    const auto shared = std::make_shared<TShared>();
    QEventLoop loop;
    QTimer refresh;
    refresh.setInterval(kRefreshInterval);
    QObject::connect(&refresh, &QTimer::timeout, this, [this, &loop]() noexcept {
        if (Cancelled()) {
            loop.quit();
            return;
        }
        try {
            Refresh();
        } catch (...) {
        }
    });
    shared->loop = &loop;
    try {
        std::thread([shared, work = std::move(work)]() mutable {
            std::exception_ptr failure;
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            work = nullptr; // what it held goes now, on this thread
            const std::lock_guard lock(shared->mutex);
            shared->ended = true;
            shared->failure = failure;
            if (shared->loop != nullptr) {
                QMetaObject::invokeMethod(shared->loop, &QEventLoop::quit, Qt::QueuedConnection);
            }
        }).detach();
    } catch (const std::system_error&) {
        throw Exception("No thread could be started for the work");
    }
    refresh.start();
    Refresh();
    loop.exec();
    refresh.stop();
    const std::lock_guard lock(shared->mutex);
    shared->loop = nullptr;
    if (!shared->ended) {
        return false; // given up: the work ends on its own
    }
    if (shared->failure) {
        std::rethrow_exception(shared->failure);
    }
    return true;
}

bool TLongWork::Step(uint64_t done, uint64_t total) {
    progress_.Report(done, total);
    const int64_t now = clock_->elapsed();
    if (now >= delay_.count() && now - lastEvents_ >= kSliceMilliseconds) {
        Refresh();
        QCoreApplication::processEvents();
        lastEvents_ = clock_->elapsed();
    }
    return !Cancelled();
}

void TLongWork::ShowAhead() {
    if (panel_ || !workWindow || clock_->elapsed() < delay_.count() / 2) {
        return;
    }
    Show();
    Refresh();
    QCoreApplication::processEvents();
    lastEvents_ = clock_->elapsed();
}

void TLongWork::Cancel() {
    if (cancel_ == TCancel::Allowed) {
        progress_.cancelled_.store(true, std::memory_order_release);
        if (cancelButton_ != nullptr) {
            cancelButton_->setEnabled(false);
        }
    }
}

void TLongWork::RequestClose() {
    Cancel();
    closeAfter_ = true;
}

TLongWork* TLongWork::Running() {
    return running;
}

void TLongWork::SetWindow(QMainWindow* window) {
    workWindow = window;
}

void TLongWork::SetProgressDelay(std::chrono::milliseconds delay) {
    progressDelay = delay;
}

std::chrono::milliseconds TLongWork::ProgressDelay() {
    return progressDelay;
}

void TLongWork::SetWorkerStart(std::function<void(TWorkProgress&)> start) {
    workerStart = std::move(start);
}

void TLongWork::Refresh() {
    if (!panel_) {
        if (clock_->elapsed() < delay_.count() || !workWindow) {
            return;
        }
        Show();
    }
    const uint64_t total = progress_.total_.load(std::memory_order_relaxed);
    const uint64_t done = progress_.done_.load(std::memory_order_relaxed);
    if (total == 0) {
        bar_->setRange(0, 0); // busy
        return;
    }
    bar_->setRange(0, kBarSteps);
    const uint64_t clipped = std::min(done, total);
    // Without overflow for any total: whole steps first, then the rest.
    const uint64_t steps = total >= kBarSteps ? clipped / (total / kBarSteps) : clipped * kBarSteps / total;
    bar_->setValue(static_cast<int>(std::min<uint64_t>(steps, kBarSteps)));
}

void TLongWork::Show() {
    auto* panel = new QWidget;
    panel->setObjectName(kPanelName);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(Q(LanguageLocaler().GetMessage(messageKey_)), panel);
    label->setObjectName("Label_LongWork");
    layout->addWidget(label);
    bar_ = new QProgressBar(panel);
    bar_->setObjectName(kBarName);
    bar_->setTextVisible(false);
    bar_->setMaximumWidth(label->fontMetrics().averageCharWidth() * 30);
    layout->addWidget(bar_);
    if (cancel_ == TCancel::Allowed) {
        cancelButton_ = new QPushButton(Q(LanguageLocaler().GetMessage("Cancel")), panel);
        cancelButton_->setObjectName(kCancelName);
        cancelButton_->setFocusPolicy(Qt::NoFocus);
        cancelButton_->setEnabled(!Cancelled());
        ConnectCommand(cancelButton_, &QPushButton::clicked, this, [this] { Cancel(); });
        layout->addWidget(cancelButton_);
    }
    workWindow->statusBar()->addPermanentWidget(panel);
    panel->show();
    panel_ = panel;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    busyCursor_ = true;
}

bool TLongWork::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Shortcut) {
        return true; // no command starts by its key
    }
    // A window passes its input on to its widgets, where it is looked at.
    if (!IsBlockedInput(type) || !watched->isWidgetType()) {
        return QObject::eventFilter(watched, event);
    }
    if (cancelButton_ != nullptr && watched == cancelButton_) {
        return QObject::eventFilter(watched, event);
    }
    if ((type == QEvent::KeyPress || type == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        Cancel();
    }
    return true;
}

bool LongWorkRunning() noexcept {
    return running != nullptr;
}

void RunLongWork(const std::string& messageKey, TCancel cancel,
                 const std::function<void(TWorkProgress& progress)>& work) {
    if (TLongWork* current = TLongWork::Running()) {
        current->RunOnWorker(work);
        return;
    }
    TLongWork longWork(messageKey, cancel);
    longWork.RunOnWorker(work);
}

} // namespace ludex
