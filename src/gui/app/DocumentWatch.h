#pragma once

#include "core/base/FileIdentity.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace ludex {

// Notices when the documents' files may have been changed by another program and then asks for a
// check of them, once things have settled: a writer that takes several steps (a sync client that
// writes a temporary file and renames it over the document) causes one check, not one per step.
//
// It watches each file and the folder it is in. The folder is watched because a replacement by
// rename gives the name another file: the watch on the old file ends with it, and only the
// folder sees the new one arrive. Every Follow therefore renews the file watches. It also asks
// for a check whenever the window is activated, for changes made while no watch could see them
// (a network share, a file system without notifications).
class TDocumentWatch : public QObject {
    Q_OBJECT

public:
    // How long a change must be quiet before the check runs, in milliseconds.
    static constexpr int kSettleDelay = 150;

    // `check` runs as a command of `window`, with the depth the changes seen call for: Contents
    // after a change of a file itself (which may keep its size and time), Status otherwise.
    TDocumentWatch(QWidget& window, std::function<void(TCheckDepth)> check);

    // Watches these files (existing or not) and their folders, and nothing else.
    void Follow(const std::vector<std::string>& files) noexcept;
    // Asks for a check after the settling delay.
    void Schedule(TCheckDepth depth) noexcept;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    QFileSystemWatcher watcher_;
    QTimer timer_;
    TCheckDepth pending_ = TCheckDepth::Status;
};

} // namespace ludex
