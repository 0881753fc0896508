#pragma once

#include <QApplication>

namespace ludex {

// The application object. Every command of the program catches its own errors (CommandConnection.h);
// notify is the last net for an error that leaves an event handler any other way: its message is
// shown in an error box titled "Ludex" (through the modal-question seam) and the program goes on.
class TLudexApplication : public QApplication {
public:
    TLudexApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the message of the exception being handled in the general error box. Call it from a
// catch block only.
void ShowCurrentException();

} // namespace ludex
