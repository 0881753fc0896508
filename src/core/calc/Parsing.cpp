#include "core/calc/Parsing.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace ludex {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr long double kE = 2.718281828459045235360287471352662498L;

// Messages of the faults that the hardware would trap on the original platform.
constexpr const char* kOverflow = "Floating point overflow";
constexpr const char* kInvalidOperation = "Invalid floating point operation";
constexpr const char* kZeroDivide = "Floating point division by zero";

// The built-in functions, searched in this order; the first name that matches wins.
enum TFunction {
    fnArcTan,
    fnCos,
    fnSin,
    fnTan,
    fnAbs,
    fnExp,
    fnLn,
    fnLog,
    fnSqrt,
    fnSqr,
    fnInt,
    fnFrac,
    fnTrunc,
    fnRound,
    fnArcSin,
    fnArcCos,
    fnSign,
    fnNot
};

constexpr std::array<std::string_view, 18> kFunctionNames = {
    "ARCTAN", "COS", "SIN",  "TAN",   "ABS",   "EXP",    "LN",     "LOG",  "SQRT",
    "SQR",    "INT", "FRAC", "TRUNC", "ROUND", "ARCSIN", "ARCCOS", "SIGN", "NOT",
};

// A result that is not finite is the fault the arithmetic would have trapped on.
long double Checked(long double value) {
    if (std::isnan(value)) {
        throw EArithmeticFault(TArithmeticFault::InvalidOperation);
    }
    if (std::isinf(value)) {
        throw EArithmeticFault(TArithmeticFault::Overflow);
    }
    return value;
}

long double CheckedDivide(long double dividend, long double divisor) {
    if (divisor == 0) {
        throw EArithmeticFault(TArithmeticFault::ZeroDivide);
    }
    return Checked(dividend / divisor);
}

long double CheckedSqrt(long double value) {
    if (value < 0) {
        throw EArithmeticFault(TArithmeticFault::InvalidOperation);
    }
    return std::sqrt(value);
}

// The value as a 64-bit integer; values outside its range are an invalid operation.
int64_t ToInt64(long double integral) {
    // 2^63 is exact in long double; every integral value in [-2^63, 2^63) fits.
    constexpr long double kLimit = 9223372036854775808.0L;
    if (!(integral >= -kLimit && integral < kLimit)) {
        throw EArithmeticFault(TArithmeticFault::InvalidOperation);
    }
    return static_cast<int64_t>(integral);
}

// Nearest integer, ties to the even neighbour.
long double RoundHalfEven(long double x) {
    const long double whole = std::trunc(x);
    const long double fraction = std::fabs(x - whole); // exact
    const long double away = whole + std::copysign(1.0L, x);
    if (fraction > 0.5L) {
        return away;
    }
    if (fraction < 0.5L) {
        return whole;
    }
    return std::fmod(whole, 2.0L) == 0 ? whole : away;
}

long double ArcTanOfSineRatio(long double x) {
    return std::atan(CheckedDivide(x, CheckedSqrt(1 - x * x)));
}

long double ComputeFunction(TFunction function, long double x) {
    switch (function) {
    case fnArcTan:
        return std::atan(x);
    case fnCos:
        return std::cos(x);
    case fnSin:
        return std::sin(x);
    case fnTan: {
        const long double cosine = std::cos(x);
        if (cosine == 0) {
            throw ERxParserError(rxeDivideByZero);
        }
        return std::sin(x) / cosine;
    }
    case fnAbs:
        return std::fabs(x);
    case fnExp:
        return std::exp(x);
    case fnLn:
    case fnLog:
        if (!(x > 0)) {
            throw ERxParserError(rxeLogarithm);
        }
        return function == fnLn ? std::log(x) : std::log(x) / std::log(10.0L);
    case fnSqrt:
        if (x < 0) {
            throw ERxParserError(rxeSquareRoot);
        }
        return std::sqrt(x);
    case fnSqr:
        return x * x;
    case fnInt:
    case fnRound:
        return static_cast<long double>(ToInt64(RoundHalfEven(x)));
    case fnFrac:
        return x - std::trunc(x);
    case fnTrunc:
        return static_cast<long double>(ToInt64(std::trunc(x)));
    case fnArcSin:
        return x == 1 ? kPi / 2 : ArcTanOfSineRatio(x);
    case fnArcCos:
        return x == 1 ? 0.0L : kPi / 2 - ArcTanOfSineRatio(x);
    case fnSign:
        return x > 0 ? 1.0L : (x < 0 ? -1.0L : 0.0L);
    case fnNot:
        return static_cast<long double>(~ToInt64(std::trunc(x)));
    }
    throw EArithmeticFault(TArithmeticFault::InvalidOperation);
}

// a raised to b. Integral exponents up to 2147483647 in magnitude are computed by repeated
// squaring, so that negative bases work; the rest through exp(b * ln a).
long double Power(long double a, long double b) {
    if (b == 0) {
        return 1;
    }
    if (a == 0 && b > 0) {
        return 0;
    }
    if (b == std::trunc(b) && std::fabs(b) <= 2147483647.0L) {
        uint64_t n = static_cast<uint64_t>(std::fabs(b));
        long double result = 1;
        long double base = a;
        for (;;) {
            if (n & 1) {
                result *= base;
            }
            n >>= 1;
            if (n == 0) {
                break;
            }
            base *= base;
        }
        // A negative exponent gives 1 over the positive power, so a positive power too large to
        // represent is an overflow even where its reciprocal would be a tiny number.
        Checked(result);
        if (b > 0) {
            return result;
        }
        if (result == 0) {
            // a^|b| is 0 either because a is 0 or because it fell below the smallest number,
            // in which case the reciprocal is too large.
            throw EArithmeticFault(a == 0 ? TArithmeticFault::ZeroDivide : TArithmeticFault::Overflow);
        }
        return Checked(1 / result); // a subnormal power has a reciprocal beyond the range
    }
    if (a < 0) {
        throw EArithmeticFault(TArithmeticFault::InvalidOperation); // logarithm of a negative base
    }
    if (a == 0) {
        throw EArithmeticFault(TArithmeticFault::ZeroDivide); // 0 raised to a negative power
    }
    return Checked(std::exp(b * std::log(a)));
}

// [+-]digits[.digits][E[+-]digits], the whole text.
bool IsDecimalLiteral(std::string_view s) {
    size_t i = 0;
    auto digits = [&] {
        const size_t from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            ++i;
        }
        return i > from;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        ++i;
    }
    if (!digits()) {
        return false;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (!digits()) {
            return false;
        }
    }
    if (i < s.size() && s[i] == 'E') {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            ++i;
        }
        if (!digits()) {
            return false;
        }
    }
    return i == s.size();
}

// Conversion independent of the process locale (the window toolkit may set LC_NUMERIC).
long double ConvertDecimal(const std::string& literal) {
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    if (cLocale == static_cast<locale_t>(nullptr)) {
        throw Exception("The number conversion of the C locale is not available");
    }
    return strtold_l(literal.c_str(), nullptr, cLocale);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Runs a step; any failure of it other than the evaluator's own becomes `id`. Nesting beyond the
// limit is no failure of the step and passes unchanged.
template <typename Step>
long double Guarded(TRxParserErrorId id, Step step) {
    try {
        return step();
    } catch (const ERxParserError&) {
        throw;
    } catch (const ERxNestingTooDeep&) {
        throw;
    } catch (const Exception&) {
        throw ERxParserError(id);
    }
}

// Runs a step; any failure of it at all, the evaluator's own included, becomes `id`. Nesting
// beyond the limit passes unchanged.
template <typename Step>
long double GuardedAll(TRxParserErrorId id, Step step) {
    try {
        return step();
    } catch (const ERxNestingTooDeep&) {
        throw;
    } catch (const Exception&) {
        throw ERxParserError(id);
    }
}

const char* FaultMessage(TArithmeticFault fault) {
    switch (fault) {
    case TArithmeticFault::Overflow:
        return kOverflow;
    case TArithmeticFault::ZeroDivide:
        return kZeroDivide;
    case TArithmeticFault::InvalidOperation:
        break;
    }
    return kInvalidOperation;
}

} // namespace

EArithmeticFault::EArithmeticFault(TArithmeticFault fault) : Exception(FaultMessage(fault)), fault_(fault) {}

ERxParserError::ERxParserError(TRxParserErrorId id) : Exception(MessageOf(id)), id_(id) {}

const char* ERxParserError::MessageOf(TRxParserErrorId id) {
    switch (id) {
    case rxeFunction:
    case rxeLogarithm:
    case rxeSquareRoot:
        return "Invalid floating operation";
    case rxeDivideByZero:
        return "Divide by zero";
    case rxeNoCramp:
        return "Invalid condition (no cramp)";
    case rxeSyntax:
        return "Syntax error";
    }
    return "Syntax error";
}

TRxMathParser::TRxMathParser(std::string_view text, char decimalSeparator) : separator_(decimalSeparator) {
    // Only the balance is checked here; the order of the parentheses is checked while parsing.
    long balance = 0;
    for (char c : text) {
        balance += c == '(' ? 1 : (c == ')' ? -1 : 0);
    }
    if (balance != 0) {
        throw ERxParserError(rxeNoCramp);
    }
    text_.reserve(text.size() + 2);
    for (char c : text) {
        if (static_cast<unsigned char>(c) > ' ') {
            text_ += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    if (!text_.empty() && (text_[0] == '+' || text_[0] == '-')) {
        text_.insert(text_.begin(), '0'); // a leading sign then works on any operand
    }
    text_ += '\0';
}

long double TRxMathParser::Evaluate() {
    position_ = 0;
    depth_ = 0;
    return Expression();
}

bool TRxMathParser::EndsOperand(char c) {
    switch (c) {
    case ')':
    case '*':
    case '+':
    case '-':
    case '/':
    case '^':
        return true;
    default:
        return static_cast<unsigned char>(c) <= ' '; // the end marker included
    }
}

long double TRxMathParser::Nested(long double (TRxMathParser::*parse)()) {
    if (depth_ >= kMaxNesting) {
        throw ERxNestingTooDeep("The expression is nested more than " + std::to_string(kMaxNesting) +
                                " levels deep");
    }
    struct Level {
        int& depth;
        explicit Level(int& d) : depth(d) { ++depth; }
        ~Level() { --depth; }
        Level(const Level&) = delete;
        Level& operator=(const Level&) = delete;
    } level(depth_);
    return (this->*parse)();
}

long double TRxMathParser::Expression() {
    auto term = [this] {
        const long double value = Term();
        switch (Current()) {
        case '+':
        case '-':
        case '\0':
        case ')':
        case ',':
        case '<':
        case '=':
        case '>':
            return value;
        default:
            throw ERxParserError(rxeSyntax);
        }
    };
    long double value = term();
    while (Current() == '+' || Current() == '-') {
        const bool add = Current() == '+';
        ++position_;
        const long double operand = term();
        value = Checked(add ? value + operand : value - operand);
    }
    return value;
}

long double TRxMathParser::Term() {
    long double value = Factor();
    for (;;) {
        const char op = Current();
        if (op == '*') {
            ++position_;
            value = Checked(value * Factor());
        } else if (op == '/') {
            ++position_;
            value = GuardedAll(rxeDivideByZero, [&] { return CheckedDivide(value, Factor()); });
        } else if (op == '^') {
            ++position_;
            value = Power(value, Factor());
        } else {
            return value;
        }
    }
}

long double TRxMathParser::Factor() {
    long double value = 0;
    if (Current() == '(') {
        ++position_;
        value = Nested(&TRxMathParser::Expression);
        if (Current() != ')') {
            throw ERxParserError(rxeNoCramp);
        }
        ++position_;
        return value;
    }
    if (TryNumber(value) || TryConstant(value) || TryFunction(value)) {
        return value;
    }
    throw ERxParserError(rxeSyntax);
}

bool TRxMathParser::TryNumber(long double& value) {
    const char c = Current();
    if (c == '$') {
        return TryHexadecimal(value);
    }
    if (c == '+' || c == '-' || (c >= '0' && c <= '9') || IsDecimalPoint(c)) {
        return TryDecimal(value);
    }
    return false;
}

bool TRxMathParser::TryDecimal(long double& value) {
    const size_t start = position_;
    std::string literal;
    if (Current() == '+' || Current() == '-') {
        literal += Current();
        ++position_;
    }
    for (;;) {
        const char c = Current();
        if (c >= '0' && c <= '9') {
            literal += c;
        } else if (IsDecimalPoint(c)) {
            if (literal.empty() || literal == "+" || literal == "-") {
                literal += '0';
            }
            literal += '.';
        } else if (c == 'E') {
            if (!literal.empty() && literal.back() == '.') {
                literal += '0';
            }
            literal += 'E';
            ++position_;
            if (Current() == '+' || Current() == '-') {
                literal += Current();
                ++position_;
            }
            continue;
        } else {
            break;
        }
        ++position_;
    }
    if (!literal.empty() && literal.back() == '.') {
        literal += '0';
    }
    if (IsDecimalLiteral(literal) && EndsOperand(Current())) {
        const long double converted = ConvertDecimal(literal);
        if (std::isfinite(converted)) { // a literal beyond the range does not convert
            value = converted;
            return true;
        }
    }
    position_ = start;
    return false;
}

bool TRxMathParser::TryHexadecimal(long double& value) {
    const size_t start = position_;
    ++position_; // "$"
    uint32_t bits = 0;
    size_t count = 0;
    while (IsHexDigit(Current())) {
        bits = (bits << 4) | static_cast<uint32_t>(HexValue(Current()));
        ++count;
        ++position_;
    }
    if (count == 0 || count > 8 || !EndsOperand(Current())) {
        position_ = start;
        return false;
    }
    value = static_cast<long double>(static_cast<int32_t>(bits));
    return true;
}

bool TRxMathParser::TryConstant(long double& value) {
    if (Current() == 'E' && EndsOperand(text_[position_ + 1])) {
        position_ += 1;
        value = kE;
        return true;
    }
    if (text_.compare(position_, 2, "PI") == 0 && EndsOperand(text_[position_ + 2])) {
        position_ += 2;
        value = kPi;
        return true;
    }
    return false;
}

bool TRxMathParser::TryFunction(long double& value) {
    for (size_t i = 0; i < kFunctionNames.size(); ++i) {
        const std::string_view name = kFunctionNames[i];
        // A match cannot reach the end marker, so the character after the name exists.
        if (text_.compare(position_, name.size(), name) != 0 || text_[position_ + name.size()] != '(') {
            continue;
        }
        position_ += name.size() + 1;
        value = Guarded(rxeFunction, [&] {
            const long double argument = Nested(&TRxMathParser::Expression);
            if (Current() != ')') {
                throw ERxParserError(rxeNoCramp);
            }
            ++position_;
            return Checked(ComputeFunction(static_cast<TFunction>(i), argument));
        });
        return true;
    }
    return false;
}

long double EvaluateExpression(std::string_view text, char decimalSeparator) {
    TRxMathParser parser(text, decimalSeparator);
    return parser.Evaluate();
}

std::string FormatCalcResult(long double value, char decimalSeparator) {
    if (value == 0) {
        return "0";
    }
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    // d.dddddddddddddde[+-]x: 15 significant digits, correctly rounded.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14Le", value);
    std::string digits;
    const char* p = buffer;
    const bool negative = *p == '-';
    for (; *p != '\0' && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits += *p; // skips the locale's decimal point, whatever it is
        }
    }
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }

    std::string out = negative ? "-" : "";
    if (exponent >= -4 && exponent <= 14) {
        if (exponent < 0) {
            out += '0';
            out += decimalSeparator;
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += digits;
        } else {
            const size_t whole = static_cast<size_t>(exponent) + 1;
            if (digits.size() <= whole) {
                out += digits;
                out.append(whole - digits.size(), '0');
            } else {
                out.append(digits, 0, whole);
                out += decimalSeparator;
                out.append(digits, whole, std::string::npos);
            }
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        if (exponent < 0) {
            out += '-';
        }
        out += std::to_string(exponent < 0 ? -exponent : exponent);
    }
    return out;
}

} // namespace ludex
