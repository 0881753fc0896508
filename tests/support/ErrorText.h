#pragma once

#include "core/base/Exception.h"
#include "core/document/DomService.h"

#include <gtest/gtest.h>

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

// The error of loading `bytes` as the document file `fileName`, or "(loaded)"; a failed load must
// leave the document empty.
inline std::string LoadErrorOf(const std::string& bytes, const std::string& fileName = "test.ldx") {
    TDomDocument doc;
    try {
        doc.LoadBytes(bytes, fileName);
    } catch (const EDomError& e) {
        EXPECT_FALSE(doc.DocumentElement()) << "a failed load leaves the document empty";
        return e.Message();
    }
    return "(loaded)";
}

} // namespace ludex::testing
