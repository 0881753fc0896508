#pragma once

#include "core/base/NonCopyable.h"

#include <csignal>

class QWidget;

namespace ludex {

// Turns SIGTERM, SIGINT and SIGHUP (the session ends, Ctrl+C in a terminal, the terminal goes) into
// a request to close the main window, the same as the Exit command: modified documents are asked
// about and the settings are written; when the user keeps the window open, the program goes on.
//
// The signals are caught from construction until destruction, which may come before the
// application object exists. The handler only writes to a pipe; the pipe is read on the event
// loop once Watch has named the window, so a signal that arrives during start-up closes the window
// as soon as the event loop runs. A signal that arrives while a close is already asking its
// questions is dropped. One object at a time in a process.
class TCloseOnSignal : private TNonCopyable {
public:
    TCloseOnSignal();
    ~TCloseOnSignal();

    // Reads the pipe on the window's thread for as long as the window exists.
    void Watch(QWidget& window);

private:
    struct sigaction previous_[3];
};

} // namespace ludex
