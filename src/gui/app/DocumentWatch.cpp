#include "gui/app/DocumentWatch.h"

#include "gui/app/CommandConnection.h"
#include "gui/app/LongWork.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QSet>
#include <QWidget>

namespace ludex {

TDocumentWatch::TDocumentWatch(QWidget& window, std::function<void(TCheckDepth)> check) : window_(window) {
    timer_.setSingleShot(true);
    timer_.setInterval(kSettleDelay);
    // The watcher's signals only start the timer, which cannot fail; the check is the command.
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this,
            [this](const QString&) noexcept { Schedule(TCheckDepth::Contents); });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
            [this](const QString&) noexcept { Schedule(TCheckDepth::Status); });
    ConnectCommand(&timer_, &QTimer::timeout, this, [this, check = std::move(check)] {
        // A modal question (a save's, say) or long work ends first: the documents must not change
        // under it. The check comes once it is gone.
        if (QApplication::activeModalWidget() != nullptr || LongWorkRunning()) {
            timer_.start();
            return;
        }
        const TCheckDepth depth = pending_;
        pending_ = TCheckDepth::Status;
        check(depth);
    });
    window_.installEventFilter(this);
}

void TDocumentWatch::Follow(const std::vector<std::string>& files) noexcept {
    QSet<QString> wantedFiles;
    QSet<QString> wantedFolders;
    for (const std::string& file : files) {
        const QString path = QString::fromStdString(file);
        wantedFiles.insert(path);
        wantedFolders.insert(QFileInfo(path).absolutePath());
    }
    // A file watch may still follow a file that another has replaced under its name.
    if (!watcher_.files().isEmpty()) {
        watcher_.removePaths(watcher_.files());
    }
    QStringList oldFolders;
    for (const QString& folder : watcher_.directories()) {
        if (!wantedFolders.contains(folder)) {
            oldFolders << folder;
        }
    }
    if (!oldFolders.isEmpty()) {
        watcher_.removePaths(oldFolders);
    }
    QStringList add;
    for (const QString& file : wantedFiles) {
        if (QFileInfo::exists(file)) {
            add << file;
        }
    }
    for (const QString& folder : wantedFolders) {
        if (!watcher_.directories().contains(folder) && QFileInfo::exists(folder)) {
            add << folder;
        }
    }
    if (!add.isEmpty()) {
        watcher_.addPaths(add);
    }
}

void TDocumentWatch::Schedule(TCheckDepth depth) noexcept {
    if (depth == TCheckDepth::Contents) {
        pending_ = TCheckDepth::Contents;
    }
    timer_.start();
}

bool TDocumentWatch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::WindowActivate) {
        Schedule(TCheckDepth::Status);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ludex
