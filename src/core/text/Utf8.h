#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ludex {

// Strict UTF-8 as XML 1.0 files use it: no overlong forms, no surrogates, nothing above U+10FFFF.
// Returns true when the whole text is well-formed; otherwise false, with the byte offset of the
// first byte that does not start or continue a valid sequence in *badOffset (when given).
bool IsValidUtf8(std::string_view text, size_t* badOffset = nullptr);

// Decodes one well-formed sequence starting at text[pos]; advances pos past it. Returns false
// (pos unchanged) when no well-formed sequence starts there.
bool DecodeUtf8(std::string_view text, size_t& pos, char32_t& codePoint);

// Appends the UTF-8 form of a code point (which must be a Unicode scalar value).
void AppendUtf8(std::string& out, char32_t codePoint);

} // namespace ludex
