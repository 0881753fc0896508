#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ludex {

// Strict UTF-8 as XML 1.0 files use it: no overlong forms, no surrogates, nothing above U+10FFFF.
// Every check of UTF-8 in the program comes down to IsTwoByteSequence and Utf8LongSequenceLength,
// so all of them agree.

// Whether a two-byte sequence starts at text[pos] (pos < text.size()): a lead byte from 0xC2
// (0xC0 and 0xC1 would start overlong forms) to 0xDF, then a continuation byte. Nearly every
// character outside ASCII in a text is one; inline, so that loops which check, copy or escape
// text pay no call for them.
inline bool IsTwoByteSequence(std::string_view text, size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    return lead >= 0xC2 && lead <= 0xDF && pos + 1 < text.size() &&
           (static_cast<unsigned char>(text[pos + 1]) & 0xC0) == 0x80;
}

// The length (3 or 4) of the well-formed sequence of three or four bytes that starts at
// text[pos] (pos < text.size()); 0 when none starts there, also when the text ends before the
// sequence would. Out of line: such characters are rare.
size_t Utf8LongSequenceLength(std::string_view text, size_t pos);

// The length (1 to 4) of the well-formed sequence that starts at text[pos] (pos < text.size());
// 0 when none starts there, also when the text ends before the sequence would.
inline size_t Utf8SequenceLength(std::string_view text, size_t pos) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
        return 1;
    }
    return IsTwoByteSequence(text, pos) ? 2 : Utf8LongSequenceLength(text, pos);
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

// The code point as messages name it: "U+00A0", "U+1F600".
std::string CodePointText(char32_t codePoint);

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
