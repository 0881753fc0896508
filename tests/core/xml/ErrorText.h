#pragma once

#include "core/base/Exception.h"

#include <functional>
#include <string>

namespace ludex::testing {

// The message of the Exception the action throws, or "no error".
inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no error";
}

} // namespace ludex::testing
