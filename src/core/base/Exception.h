#pragma once

#include <exception>
#include <string>

namespace ludex {

// The program's general error: carries a message text that is shown to the user as it is.
// Every error class of the program derives from it; there are no error codes.
class Exception : public std::exception {
public:
    explicit Exception(std::string message);
    const char* what() const noexcept override;
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// An input/output failure: a file that cannot be opened, read, created or written.
// The message names the file and the system's reason.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// The user stopped a command before it changed anything. It ends the command like an error does,
// but there is nothing to report: it is never shown.
class ECancelled : public Exception {
public:
    ECancelled();
};

} // namespace ludex
