#include "gui/app/LudexApplication.h"

#include "gui/app/ModalQuestions.h"
#include "gui/app/QtText.h"

#include <exception>

namespace ludex {

TLudexApplication::TLudexApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(kApplicationTitle);
    // No display name: Qt would append it to every window title, and the captions are the
    // language file's texts exactly.
}

bool TLudexApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

void ShowCurrentException() {
    QString message;
    try {
        throw;
    } catch (const std::exception& e) {
        message = Q(e.what());
    } catch (...) {
        message = "Unknown error";
    }
    ModalQuestions().ShowError(QApplication::activeWindow(), message);
}

} // namespace ludex
