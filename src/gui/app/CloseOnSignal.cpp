#include "gui/app/CloseOnSignal.h"

#include "core/base/Exception.h"
#include "gui/app/CommandConnection.h"

#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace ludex {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe from the handler to the event loop; one pair for the process, like the handlers.
int pipeEnds[2] = {-1, -1};

extern "C" void WriteSignalToPipe(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    // A full pipe already holds a request to close; losing this one changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

TCloseOnSignal::TCloseOnSignal() {
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw Exception(std::string("Cannot prepare for signals: ") + std::strerror(errno));
    }
    struct sigaction action {};
    action.sa_handler = WriteSignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &previous_[i]);
    }
}

TCloseOnSignal::~TCloseOnSignal() {
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
    for (int& end : pipeEnds) {
        ::close(end);
        end = -1;
    }
}

void TCloseOnSignal::Watch(QWidget& window) {
    // Owned by the window, so it is gone before the window and the application are.
    auto* notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, &window);
    // A signal that arrives while the close question is open must not ask again.
    auto closing = std::make_shared<bool>(false);
    ConnectCommand(notifier, &QSocketNotifier::activated, notifier, [&window, closing] {
        char bytes[64];
        while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        if (*closing) {
            return;
        }
        *closing = true;
        const auto reset = [&] { *closing = false; };
        try {
            window.close();
        } catch (...) {
            reset();
            throw;
        }
        reset();
    });
}

} // namespace ludex
