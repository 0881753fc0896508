#pragma once

#include "core/base/Exception.h"

#include <functional>
#include <string>

namespace ludex::testing {

// The message of the error of kind TError that the action throws, or "no error". An error of
// another kind is not caught, so that the test fails on it.
template <class TError = Exception>
std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const TError& e) {
        return e.Message();
    }
    return "no error";
}

} // namespace ludex::testing
