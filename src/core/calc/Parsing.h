#pragma once

#include "core/base/Exception.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace ludex {

// Identifiers of the evaluator's errors. Each has a fixed English message (ERxParserError).
enum TRxParserErrorId : int {
    rxeFunction = 61150,     // a built-in function failed while computing its value
    rxeLogarithm = 61151,    // LN or LOG of a value that is not greater than 0
    rxeSquareRoot = 61152,   // SQRT of a negative value
    rxeDivideByZero = 61153, // TAN at a zero cosine; any failure in or of a divisor
    rxeNoCramp = 61154,      // unbalanced parentheses or a missing ")"
    rxeSyntax = 61155,       // a character or factor that cannot continue the expression
};

// An expression the evaluator rejects. Its message is the fixed text of its identifier.
class ERxParserError : public Exception {
public:
    explicit ERxParserError(TRxParserErrorId id);
    TRxParserErrorId Id() const noexcept { return id_; }

    // The message of an identifier: "Invalid floating operation", "Divide by zero",
    // "Invalid condition (no cramp)" or "Syntax error".
    static const char* MessageOf(TRxParserErrorId id);

private:
    TRxParserErrorId id_;
};

// A fault of the arithmetic that the evaluator does not turn into an ERxParserError (outside a
// divisor or a function argument): a result too large, an operation without a value, or a
// division by zero in a power. Its message is the English text of its kind ("Floating point
// overflow", "Invalid floating point operation", "Floating point division by zero"); the kind lets
// an interface say it in its own language.
enum class TArithmeticFault { Overflow, InvalidOperation, ZeroDivide };
class EArithmeticFault : public Exception {
public:
    explicit EArithmeticFault(TArithmeticFault fault);
    TArithmeticFault Fault() const noexcept { return fault_; }

private:
    TArithmeticFault fault_;
};

// An expression nested deeper than TRxMathParser::kMaxNesting. It is a limit of this evaluator,
// not an error of the expression: it is never turned into an ERxParserError, not even inside a
// divisor or a function argument, so it always reaches the caller with its own message.
class ERxNestingTooDeep : public Exception {
public:
    using Exception::Exception;
};

// Evaluates one arithmetic expression in extended precision (long double).
//
// Grammar, by recursive descent over the prepared text (every byte above space, a-z raised to
// A-Z, a NUL end marker; a leading sign gets a "0" in front):
//   Expression := Term { ("+" | "-") Term }
//   Term       := Factor { ("*" | "/" | "^") Factor }        all three left-associative
//   Factor     := "(" Expression ")" | Number | "E" | "PI" | Name "(" Expression ")"
// What follows the top-level expression after ")", ",", "<", "=" or ">" is ignored.
//
// Floating-point faults do not trap in C++; every intermediate result is checked instead. A
// fault inside a divisor becomes rxeDivideByZero, inside a function call rxeFunction; elsewhere
// it is a plain Exception (overflow, invalid operation, 0 raised to a negative power). A negative
// power is 1 over the positive one, so it overflows when the positive power does.
class TRxMathParser {
public:
    // Prepares the text; throws ERxParserError(rxeNoCramp) when the parentheses do not balance.
    // decimalSeparator is accepted as a decimal point in addition to ".".
    explicit TRxMathParser(std::string_view text, char decimalSeparator = '.');

    // Evaluates the prepared text from its start. Throws ERxParserError, ERxNestingTooDeep or
    // Exception.
    long double Evaluate();

    // Nesting of parentheses and function calls beyond this depth is refused with
    // ERxNestingTooDeep wherever it is reached, so that no input can exhaust the stack.
    static constexpr int kMaxNesting = 256;

private:
    long double Expression();
    long double Term();
    long double Factor();
    long double Divisor();
    bool TryNumber(long double& value);
    bool TryDecimal(long double& value);
    bool TryHexadecimal(long double& value);
    bool TryConstant(long double& value);
    bool TryFunction(long double& value);
    long double Nested(long double (TRxMathParser::*parse)());

    char Current() const { return text_[position_]; }
    bool IsDecimalPoint(char c) const { return c == '.' || c == separator_; }
    static bool EndsOperand(char c);

    // Index of the current character in text_ (0-based here; text_ always ends with NUL, and
    // the position never moves past it).
    size_t position_ = 0;
    std::string text_;
    char separator_;
    int depth_ = 0;
};

// Evaluates an expression with a fresh TRxMathParser. Throws ERxParserError or Exception.
long double EvaluateExpression(std::string_view text, char decimalSeparator = '.');

// The result text of the memo calculator: rounded to 15 significant digits; fixed notation for
// magnitudes from 0.0001 to below 1E15, scientific otherwise ("1.5E-7", "1E15"); no trailing
// zeros; zero is "0". decimalSeparator replaces the decimal point.
std::string FormatCalcResult(long double value, char decimalSeparator = '.');

} // namespace ludex
