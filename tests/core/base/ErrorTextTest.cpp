#include "core/base/ErrorText.h"
#include "core/base/Exception.h"

#include <gtest/gtest.h>

#include <string>

namespace ludex {
namespace {

const std::string kEllipsis = "\xE2\x80\xA6";

TEST(ErrorText, ShortMessagesAreShownWhole) {
    for (const std::string& message :
         {std::string(), std::string("Path \"/a\" not found"), std::string("no quotes at all"),
          std::string(300, 'x'), "\"" + std::string(kShownExcerptBytes, 'q') + "\" ends"}) {
        EXPECT_EQ(MessageForDisplay(message), message);
    }
}

TEST(ErrorText, LongExcerptsAreCutInsideTheirQuotes) {
    struct Case {
        std::string message;
        std::string shown;
    };
    const std::string head(kShownExcerptBytes, 'v');
    const Case cases[] = {
        {"Bad value \"" + head + "tail\" at 3", "Bad value \"" + head + kEllipsis + "\" at 3"},
        // An unclosed quote runs to the end of the message.
        {"Unclosed \"" + head + std::string(5'000'000, 'w'), "Unclosed \"" + head + kEllipsis},
        // Two excerpts, each cut on its own; the words between stay.
        {"\"" + head + "x\" and \"" + head + "y\"",
         "\"" + head + kEllipsis + "\" and \"" + head + kEllipsis + "\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageForDisplay(c.message), c.shown);
    }
}

TEST(ErrorText, CutsFallBetweenCharacters) {
    // Two-byte letters: the excerpt limit falls inside one when the quote starts one byte later.
    std::string letters;
    for (std::size_t i = 0; i < kShownExcerptBytes; ++i) {
        letters += "\xD0\x96";
    }
    const std::string shown = MessageForDisplay("\"x" + letters + "\"");
    const std::string excerpt = shown.substr(1, shown.size() - 1 - kEllipsis.size() - 1);
    EXPECT_EQ(excerpt.size() % 2, 1U); // "x" and whole letters only
    EXPECT_LE(excerpt.size(), kShownExcerptBytes);

    const std::string longText(kShownMessageBytes + 100, 'm');
    EXPECT_EQ(MessageForDisplay(longText), std::string(kShownMessageBytes, 'm') + kEllipsis);
}

TEST(ErrorText, NulBytesDoNotEndAMessage) {
    const std::string withNul("a\0b\"<\0r\0>\" end", 14);
    EXPECT_EQ(MessageForDisplay(withNul), "a\\0b\"<\\0r\\0>\" end");
    EXPECT_STREQ(Exception(withNul).what(), "a\\0b\"<\\0r\\0>\" end");
}

} // namespace
} // namespace ludex
