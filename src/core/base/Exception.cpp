#include "core/base/Exception.h"

#include <utility>

namespace ludex {

Exception::Exception(std::string message) : message_(std::move(message)) {}

const char* Exception::what() const noexcept {
    return message_.c_str();
}

} // namespace ludex
