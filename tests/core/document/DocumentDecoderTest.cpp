#include "core/document/DocumentDecoder.h"

#include <gtest/gtest.h>

#include <string>

using namespace ludex;

namespace {

// The text (or the error) a decoder gives for the bytes, handed over whole or cut into pieces.
std::string Outcome(const std::string& bytes, size_t pieceSize) {
    TDocumentDecoder decoder("doc.ldx");
    std::string received;
    if (pieceSize != 0) {
        for (size_t at = 0; at < bytes.size(); at += pieceSize) {
            received.append(bytes, at, pieceSize);
            decoder.Received(received);
        }
    } else {
        received = bytes;
    }
    try {
        TDecodedDocument decoded = decoder.Finish(std::move(received));
        return (decoded.suspectReference ? "suspect: " : "text: ") + decoded.text;
    } catch (const EDomError& e) {
        return "error: " + e.Message();
    }
}

// Whatever the pieces, the decision on the encoding waits for the byte-order mark and the whole
// declaration, and the check of UTF-8 reports the first bad byte where the whole text has it.
TEST(DocumentDecoderTest, PiecesGiveTheSameOutcomeAsTheWhole) {
    struct Case {
        std::string name;
        std::string bytes;
        std::string expected;
    };
    const std::string body = "<a title=\"\xC3\x9C\"/>";
    const Case cases[] = {
        {"empty", "", "text: "},
        {"one byte", "<", "text: <"},
        {"plain utf-8", body, "text: " + body},
        {"utf-8 with BOM", "\xEF\xBB\xBF" + body, "text: " + body},
        {"declared utf-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + body,
         "text: <?xml version=\"1.0\" encoding=\"utf-8\"?>" + body},
        {"declared windows-1251", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a t=\"\xC6\"/>",
         "text: <?xml version=\"1.0\" encoding=\"windows-1251\"?><a t=\"\xD0\x96\"/>"},
        {"utf-16le with BOM", std::string("\xFF\xFE<\0a\0/\0>\0", 10), "text: <a/>"},
        {"utf-16 without BOM", std::string("<\0a\0/\0>\0", 8),
         "error: \"doc.ldx\": UTF-16 text without a byte-order mark is not supported"},
        {"utf-16 declared", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>",
         "error: \"doc.ldx\": the declared encoding \"UTF-16\" needs a byte-order mark"},
        {"bad utf-8 after BOM", "\xEF\xBB\xBF<a>\n\xC3(</a>",
         "error: \"doc.ldx\", line 2, column 1: invalid UTF-8 byte sequence"},
        {"cut character at the end", "<a/>\xE2\x9C",
         "error: \"doc.ldx\", line 1, column 5: invalid UTF-8 byte sequence"},
        {"surrogate reference", "<a>&#xD800;</a>", "suspect: <a>&#xD800;</a>"},
        {"unfinished declaration", "<?xml version=\"1.0\" encoding=\"utf-8\"",
         "text: <?xml version=\"1.0\" encoding=\"utf-8\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome(c.bytes, 0), c.expected) << c.name;
        for (size_t piece = 1; piece <= c.bytes.size(); ++piece) {
            EXPECT_EQ(Outcome(c.bytes, piece), c.expected) << c.name << ", pieces of " << piece;
        }
    }
}

} // namespace
