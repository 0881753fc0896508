#include "core/calc/Parsing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace ludex;

namespace {

// The evaluated text as the memo would receive it.
std::string Calc(const std::string& expression, char separator = '.') {
    return FormatCalcResult(EvaluateExpression(expression, separator), separator);
}

struct ValueCase {
    const char* expression;
    const char* result;
};

TEST(ParsingTest, EvaluatesExpressions) {
    const ValueCase cases[] = {
        {"2+3", "5"},
        {"12*3.5", "42"},
        {"2 * (3 + 4)", "14"},
        {"-(2+3)", "-5"},
        {"+(2+3)", "5"},
        {"2*-3", "-6"},
        {"2--3", "5"},
        {"2+-3", "-1"},
        {"-2^2", "-4"},  // the leading sign subtracts from an inserted 0
        {"2^3^2", "64"}, // left to right
        {"2*3^2", "36"}, // "^" binds like "*"
        {"2+3*4", "14"},
        {"8/2/2", "2"},
        {"10-4-3", "3"},
        {"1/3", "0.333333333333333"},
        {"2/3", "0.666666666666667"},
        {"PI", "3.14159265358979"},
        {"pi", "3.14159265358979"},
        {"E", "2.71828182845905"},
        {"E*2", "5.43656365691809"},
        {"EXP(1)", "2.71828182845905"},
        {"1e3", "1000"},
        {"1E+3", "1000"},
        {"1.5E-7", "1.5E-7"},
        {"2.E2", "200"}, // "E" right after the point gets a 0 between
        {".5", "0.5"},
        {"-.5", "-0.5"},
        {"3.", "3"},
        {"$FF", "255"},
        {"$ff", "255"},
        {"$FFFFFFFF", "-1"},
        {"$80000000", "-2147483648"},
        {"$7FFFFFFF", "2147483647"},
        {"$1E5", "485"}, // E is a hexadecimal digit here
        {"(2),5", "2"},  // what follows "," at the top level is ignored
        {"(7)=1", "7"},
        {"(1)<2", "1"},
        {"(1)>2", "1"},
        {"1+(2)", "3"},
        {"\t1\r\n+\n2", "3"}, // control characters are dropped like spaces
        {"1 2", "12"},        // blanks vanish before parsing
        {"((((1))))", "1"},
        {"1E-5000", "0"}, // a literal below the smallest number is 0
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Calc(c.expression), c.result) << c.expression;
    }
}

TEST(ParsingTest, EvaluatesFunctions) {
    const ValueCase cases[] = {
        {"sqrt(16)", "4"},
        {"SQR(3)", "9"},
        {"SQRT(2)^2", "2"},
        {"ABS(-2.5)", "2.5"},
        {"SIN(0)", "0"},
        {"COS(0)", "1"},
        {"TAN(0)", "0"},
        {"ARCTAN(1)*4", "3.14159265358979"},
        {"LN(E)", "1"},
        {"LOG(1000)", "3"},
        {"INT(2.7)", "3"},
        {"INT(2.5)", "2"},
        {"INT(3.5)", "4"},
        {"INT(-2.5)", "-2"},
        {"ROUND(2.5)", "2"},
        {"ROUND(-3.5)", "-4"},
        {"ROUND(0.4)", "0"},
        {"TRUNC(-2.7)", "-2"},
        {"TRUNC(2.7)", "2"},
        {"FRAC(-2.75)", "-0.75"},
        {"FRAC(2.25)", "0.25"},
        {"NOT(0)", "-1"},
        {"NOT(5.9)", "-6"},
        {"NOT(-1)", "0"},
        {"SIGN(-3)", "-1"},
        {"SIGN(0)", "0"},
        {"SIGN(0.001)", "1"},
        {"ARCSIN(1)", "1.5707963267949"},
        {"ARCSIN(0.5)*6", "3.14159265358979"},
        {"ARCCOS(1)", "0"},
        {"ARCCOS(0)", "1.5707963267949"},
        {"SIN(PI/2)", "1"},
        {"-SIN(1)", "-0.841470984807897"}, // works through the inserted 0
        {"EXP(LN(5))", "5"},
        {"SQRT(SQRT(16))", "2"},
        {"TRUNC(9.2E18)", "9.2E18"},
        {"NOT($FFFFFFFF)", "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Calc(c.expression), c.result) << c.expression;
    }
}

TEST(ParsingTest, ComputesPowers) {
    const ValueCase cases[] = {
        {"0^0", "1"},
        {"5^0", "1"},
        {"0^3", "0"},
        {"0^0.5", "0"},
        {"2^10", "1024"},
        {"2^-2", "0.25"},
        {"(0-2)^3", "-8"},
        {"(0-2)^-1", "-0.5"},
        {"4^0.5", "2"},
        {"2^0.5", "1.4142135623731"},
        {"10^-4931", "1E-4931"},                // the positive power is still in range
        {"2^-16383", "1.68105157155605E-4932"}, // 2^16383 is the largest power of 2 in range
        {"0.5^20000", "0"},
        {"1^2147483647", "1"},
        {"(0-1)^2147483647", "-1"},
        {"(0-1)^2147483646", "1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Calc(c.expression), c.result) << c.expression;
    }
}

TEST(ParsingTest, AcceptsTheSystemDecimalSeparator) {
    const struct {
        const char* expression;
        char separator;
        const char* result;
    } cases[] = {
        {"2,5*2", ',', "5"},  {"2.5*2", ',', "5"}, // "." always serves as well
        {",5", ',', "0,5"},                        // the result uses the separator
        {"1/4", ',', "0,25"}, {"2,5E1", ',', "25"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Calc(c.expression, c.separator), c.result) << c.expression;
    }
}

struct ErrorCase {
    const char* expression;
    TRxParserErrorId id;
};

TEST(ParsingTest, RaisesParserErrors) {
    const ErrorCase cases[] = {
        {"", rxeSyntax},
        {"   ", rxeSyntax},
        {"1/0", rxeDivideByZero},
        {"1/(1-1)", rxeDivideByZero},
        {"1/X", rxeDivideByZero}, // any failure of the divisor
        {"1/SQRT(-1)", rxeDivideByZero},
        {"1/(1E4000*1E4000)", rxeDivideByZero},
        {"1E4000/1E-4000", rxeDivideByZero}, // the quotient overflows
        {"LN(0)", rxeLogarithm},
        {"LOG(-1)", rxeLogarithm},
        {"SQRT(-1)", rxeSquareRoot},
        {"ARCSIN(-1)", rxeFunction},
        {"ARCSIN(2)", rxeFunction},
        {"ARCCOS(-1)", rxeFunction},
        {"ARCCOS(1.5)", rxeFunction},
        {"EXP(100000)", rxeFunction},
        {"SQR(1E3000)", rxeFunction},
        {"INT(1E19)", rxeFunction},
        {"ROUND(-1E19)", rxeFunction},
        {"TRUNC(9.3E18)", rxeFunction},
        {"NOT(1E300)", rxeFunction},
        {"SIN(1E4000*1E4000)", rxeFunction}, // overflow inside an argument
        {"SIN(2^(0-1))+SIN(0^(0-1))", rxeFunction},
        {"SIN(LN(0))", rxeLogarithm}, // the inner error keeps its message
        {"SQRT(SQRT(-4))", rxeSquareRoot},
        {"(2", rxeNoCramp},
        {"2)", rxeNoCramp},
        {")2(", rxeSyntax},         // balanced, but ")" is no factor
        {"SIN((1),2)", rxeNoCramp}, // "," ends the argument, ")" is missing
        {"((1),2)", rxeNoCramp},
        {"SIN(1,2)", rxeSyntax},       // "," does not end a number literal
        {"1/(2", rxeNoCramp},          // the balance is checked before parsing
        {"1/FOO(2)", rxeDivideByZero}, // any failure of the divisor, syntax included
        {"1/((1),2)", rxeDivideByZero},
        {"2*-(3)", rxeSyntax},
        {"2*-SIN(1)", rxeSyntax},
        {"$123456789", rxeSyntax},
        {"$", rxeSyntax},
        {"$G", rxeSyntax},
        {"2(3)", rxeSyntax},
        {"2,5", rxeSyntax}, // "," is no decimal point here
        {"1.2.3", rxeSyntax},
        {"2E", rxeSyntax},
        {"1E5000", rxeSyntax}, // a literal beyond the range is no number
        {"2A", rxeSyntax},
        {"(2)3", rxeSyntax},
        {"(2)(3)", rxeSyntax},
        {"PI(1)", rxeSyntax},
        {"PIE", rxeSyntax},
        {"E2", rxeSyntax},
        {"SIN()", rxeSyntax},
        {"SIN 1", rxeSyntax}, // blanks vanish: SIN1 is no name
        {"FOO(1)", rxeSyntax},
        {"1+", rxeSyntax},
        {"*2", rxeSyntax},
        {"2=", rxeSyntax},        // "=" does not end a number literal
        {"2\xC3\xA9", rxeSyntax}, // bytes above 127 are kept, and rejected
    };
    for (const auto& c : cases) {
        try {
            const long double value = EvaluateExpression(c.expression);
            ADD_FAILURE() << c.expression << " gave " << FormatCalcResult(value);
        } catch (const ERxParserError& e) {
            EXPECT_EQ(e.Id(), c.id) << c.expression << ": " << e.what();
            EXPECT_STREQ(e.what(), ERxParserError::MessageOf(c.id));
        }
    }
}

TEST(ParsingTest, MessagesOfTheIds) {
    const std::pair<TRxParserErrorId, const char*> cases[] = {
        {rxeFunction, "Invalid floating operation"},   {rxeLogarithm, "Invalid floating operation"},
        {rxeSquareRoot, "Invalid floating operation"}, {rxeDivideByZero, "Divide by zero"},
        {rxeNoCramp, "Invalid condition (no cramp)"},  {rxeSyntax, "Syntax error"},
    };
    for (auto [id, message] : cases) {
        EXPECT_STREQ(ERxParserError(id).what(), message);
        EXPECT_EQ(ERxParserError(id).Id(), id);
    }
}

// Faults outside a divisor or a function are the program's general error, not the evaluator's.
// A negative power is 1 over the positive power, which overflows first: also where that power
// fell below the smallest number (0.5^20000) or is subnormal (0.5^16400).
TEST(ParsingTest, RaisesArithmeticFaultsOfTheirKind) {
    const struct {
        const char* expression;
        const char* message;
    } cases[] = {
        {"1E4000*1E4000", "Floating point overflow"},      {"1E4932+1E4932", "Floating point overflow"},
        {"0-1E4932-1E4932", "Floating point overflow"},    {"10^5000", "Floating point overflow"},
        {"1E4000^1.5", "Floating point overflow"},         {"1E-3000^(0-2)", "Floating point overflow"},
        {"0^(0-1)", "Floating point division by zero"},    {"0^(0-0.5)", "Floating point division by zero"},
        {"(0-2)^0.5", "Invalid floating point operation"}, {"(0-8)^1E20", "Invalid floating point operation"},
        {"10^-5000", "Floating point overflow"},           {"2^-16445", "Floating point overflow"},
        {"2^-16384", "Floating point overflow"},           {"(0-10)^-5001", "Floating point overflow"},
        {"0.5^-20000", "Floating point overflow"},         {"0.5^-16400", "Floating point overflow"},
    };
    for (const auto& c : cases) {
        try {
            const long double value = EvaluateExpression(c.expression);
            ADD_FAILURE() << c.expression << " gave " << FormatCalcResult(value);
        } catch (const ERxParserError& e) {
            ADD_FAILURE() << c.expression << " raised the evaluator's " << e.what();
        } catch (const EArithmeticFault& e) {
            EXPECT_STREQ(e.what(), c.message) << c.expression;
        }
    }
}

// The nesting limit is the evaluator's own, not an error of the expression: it is reported with
// its message wherever it is reached, also where failures become "Divide by zero" or a function's
// error.
TEST(ParsingTest, RefusesNestingBeyondTheLimitTheSameWayEverywhere) {
    const int limit = TRxMathParser::kMaxNesting;
    auto parentheses = [](int depth, const std::string& inner) {
        return std::string(static_cast<size_t>(depth), '(') + inner +
               std::string(static_cast<size_t>(depth), ')');
    };
    auto functions = [](int depth, const std::string& inner) {
        std::string text;
        for (int i = 0; i < depth; ++i) {
            text += "ABS(";
        }
        return text + inner + std::string(static_cast<size_t>(depth), ')');
    };
    const struct {
        std::string expression;
        bool fits;
    } cases[] = {
        {parentheses(limit, "1"), true},
        {parentheses(limit + 1, "1"), false},
        {parentheses(100000, "1"), false},
        {functions(limit, "1"), true},
        {functions(limit + 1, "1"), false}, // inside a function argument
        {functions(100000, "1"), false},
        {"1/" + parentheses(limit, "1"), true},
        {"1/" + parentheses(limit + 1, "1"), false},       // inside a divisor
        {"1/" + functions(limit + 1, "1"), false},         // a function inside a divisor
        {"SIN(1/" + parentheses(limit, "1") + ")", false}, // a divisor inside a function
        {"2*" + parentheses(limit / 2, "1/" + functions(limit / 2, "2")) + "+1", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression.substr(0, 40));
        try {
            const long double value = EvaluateExpression(c.expression);
            EXPECT_TRUE(c.fits) << "gave " << FormatCalcResult(value);
        } catch (const ERxParserError& e) {
            ADD_FAILURE() << "raised the evaluator's " << e.what();
        } catch (const ERxNestingTooDeep& e) {
            EXPECT_FALSE(c.fits);
            EXPECT_STREQ(e.what(), "The expression is nested more than 256 levels deep");
        }
    }
}

TEST(ParsingTest, KeepsExtendedPrecision) {
    // 2^63 + 1 needs a 64-bit mantissa; in double precision the difference would be 0.
    EXPECT_EQ(EvaluateExpression("(2^63+1)-2^63"), 1.0L);
    EXPECT_EQ(EvaluateExpression("TRUNC(2^62+1)-2^62"), 1.0L);
}

TEST(ParsingTest, FormatsResultsAcrossTheRange) {
    const struct {
        long double value;
        const char* text;
    } cases[] = {
        {0.0L, "0"},
        {-0.0L, "0"},
        {42.0L, "42"},
        {-2.5L, "-2.5"},
        {1.0L / 3, "0.333333333333333"},
        {0.0001L, "0.0001"},
        {0.00012345L, "0.00012345"},
        {0.00001L, "1E-5"},
        {-0.00001L, "-1E-5"},
        {1.5e-7L, "1.5E-7"},
        {1e15L, "1E15"},
        {999999999999999.0L, "999999999999999"},
        {999999999999999.4L, "999999999999999"},
        {999999999999999.6L, "1E15"}, // rounding to 15 digits comes first
        {0.000099999999999999999L, "0.0001"},
        {123456789012345678.0L, "1.23456789012346E17"},
        {1e100L, "1E100"},
        {-1.25e-300L, "-1.25E-300"},
        {1e4000L, "1E4000"},
        {100.0L, "100"},
        {1234.5L, "1234.5"},
        {0.1L, "0.1"},
        {12345678901234.5L, "12345678901234.5"},
        {123456789012345.6L, "123456789012346"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatCalcResult(c.value), c.text) << static_cast<double>(c.value);
    }
    EXPECT_EQ(FormatCalcResult(1.5e-7L, ','), "1,5E-7");
    EXPECT_EQ(FormatCalcResult(-1234.5L, ','), "-1234,5");
}

} // namespace
