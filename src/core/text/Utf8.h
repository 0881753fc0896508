#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ludex {

// Strict UTF-8 as XML 1.0 files use it: no overlong forms, no surrogates, nothing above U+10FFFF.
// Every check of UTF-8 in the program comes down to Utf8SequenceLength, so all of them agree.

// The length (1 to 4) of the well-formed sequence that starts at text[pos]; 0 when none starts
// there, also when the text ends before the sequence would. pos must lie inside the text.
// Inline, so that loops which copy or escape text while they check it pay no call per character.
inline size_t Utf8SequenceLength(std::string_view text, size_t pos) {
    const auto* b = reinterpret_cast<const unsigned char*>(text.data()) + pos;
    const size_t available = text.size() - pos;
    const unsigned char lead = b[0];
    auto follows = [b, available](size_t k, unsigned char low, unsigned char high) {
        return k < available && b[k] >= low && b[k] <= high;
    };
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) { // two bytes, by far the most common outside ASCII
        return follows(1, 0x80, 0xBF) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
        return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
        return follows(1, low, high) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0; // a continuation byte, an overlong lead (0xC0, 0xC1) or a byte never used (0xF5 up)
}

// Returns true when the whole text is well-formed; otherwise false, with the byte offset of the
// first byte that does not start or continue a valid sequence in *badOffset (when given).
// Runs of ASCII, most of any document, are passed sixteen bytes at a time.
bool IsValidUtf8(std::string_view text, size_t* badOffset = nullptr);

// Decodes one well-formed sequence starting at text[pos]; advances pos past it. Returns false
// (pos unchanged) when no well-formed sequence starts there.
bool DecodeUtf8(std::string_view text, size_t& pos, char32_t& codePoint);

// Appends the UTF-8 form of a code point (which must be a Unicode scalar value).
void AppendUtf8(std::string& out, char32_t codePoint);

// Whether a text handed over piece by piece has arrived whole, or more bytes may still follow.
enum class TInput { Partial, Complete };

// IsValidUtf8 over a text that arrives piece by piece, with the same verdict and offset. Each piece
// is checked right after it has arrived, while it is still in the processor's cache; a character
// cut by the end of a piece is taken up again with the next one.
class TUtf8Scanner {
public:
    // Checks what `text` holds beyond what earlier calls have checked; `text` is the whole text
    // received so far and begins as it began before.
    void Advance(std::string_view text, TInput input);

    bool Failed() const { return failed_; }
    // The offset of the first byte that does not belong to a UTF-8 character, once Failed().
    size_t BadOffset() const { return badOffset_; }

private:
    size_t from_ = 0;
    size_t badOffset_ = 0;
    bool failed_ = false;
};

} // namespace ludex
