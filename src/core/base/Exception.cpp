#include "core/base/Exception.h"

#include "core/base/ErrorText.h"

#include <utility>

namespace ludex {

// A NUL byte (a message quoting a UTF-16 file) would end what() there: it is written out instead.
Exception::Exception(std::string message)
    : message_(message.find('\0') == std::string::npos ? std::move(message) : WithoutNul(message)) {}

const char* Exception::what() const noexcept {
    return message_.c_str();
}

ECancelled::ECancelled() : Exception("The command was cancelled") {}

} // namespace ludex
