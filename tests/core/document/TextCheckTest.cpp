#include "core/document/TextCheck.h"

#include "core/text/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ludex;

namespace {

// Fed in pieces cut at every point (and byte by byte), the incremental check must give the answers
// of the whole-text functions: the same first bad offset and the same verdict on references.
TEST(TextCheckTest, IncrementalCheckAgreesAtEveryCut) {
    const std::string texts[] = {
        "plain ascii text that is long enough to fill a block or two",
        "\xD0\x9F\xD1\x80\xD0\xB8 \xF0\x9F\x98\x80 \xE2\x9C\x93 end",
        "bad \xC3( here",
        "cut at the end \xE2\x9C",
        "ok &#x41; &#65; &amp; &#xD7FF;",
        "surrogate &#xD800; in the middle",
        "beyond &#x110000; and more",
        "decimal beyond &#1114112;",
        "many zeros &#x00000000000000000000D800;",
        "ends on an ampersand &",
        "ends in a reference &#xD80",
        "ends in a reference &#55296",
        "no digits &#x; &#; &#xZ;",
        "\xEF\xBB\xBF bom inside &#xDFFF;",
    };
    for (const std::string& text : texts) {
        size_t expectedOffset = 0;
        const bool expectedValid = IsValidUtf8(text, &expectedOffset);
        const bool expectedSuspect = HasSuspectReference(text);
        auto check = [&](const std::vector<size_t>& cuts, const std::string& how) {
            TIncrementalTextCheck incremental;
            for (size_t cut : cuts) {
                incremental.Advance(std::string_view(text).substr(0, cut), TInput::Partial);
            }
            incremental.Advance(text, TInput::Complete);
            EXPECT_EQ(!incremental.Utf8Failed(), expectedValid) << text << " " << how;
            if (!expectedValid && incremental.Utf8Failed()) {
                EXPECT_EQ(incremental.BadOffset(), expectedOffset) << text << " " << how;
            }
            EXPECT_EQ(incremental.SuspectReference(), expectedSuspect) << text << " " << how;
        };
        for (size_t cut = 0; cut <= text.size(); ++cut) {
            check({cut}, "cut at " + std::to_string(cut));
        }
        std::vector<size_t> every;
        for (size_t cut = 1; cut <= text.size(); ++cut) {
            every.push_back(cut);
        }
        check(every, "byte by byte");
    }
}

} // namespace
