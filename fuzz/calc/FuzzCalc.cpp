#include "core/calc/Parsing.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Any byte sequence is a possible selected memo text: evaluating it must end in a finite value
// or in one of the program's own errors, never in a crash, a hang or undefined behaviour. An
// infinite or undefined value would be an arithmetic fault that escaped its check.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (char separator : {'.', ','}) {
        try {
            const long double value = ludex::EvaluateExpression(text, separator);
            if (!std::isfinite(value)) {
                __builtin_trap();
            }
            (void)ludex::FormatCalcResult(value, separator);
        } catch (const ludex::Exception&) {
            // rejected expressions and arithmetic faults are expected outcomes
        }
    }
    return 0;
}
