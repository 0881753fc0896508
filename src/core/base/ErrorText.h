#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ludex {

// Longest quoted excerpt an error box shows, and the longest message, in bytes of UTF-8.
inline constexpr std::size_t kShownExcerptBytes = 300;
inline constexpr std::size_t kShownMessageBytes = 2000;

// The message as an error box shows it. A quoted excerpt ("...") longer than kShownExcerptBytes,
// or a quote that is never closed, is cut there and ends with an ellipsis; a message still longer
// than kShownMessageBytes is cut the same way. Cuts fall between UTF-8 characters. NUL bytes are
// shown as "\0" so that nothing after them is lost. A short message comes back unchanged.
std::string MessageForDisplay(std::string_view message);

// The text with each NUL byte written as "\0".
std::string WithoutNul(std::string_view text);

} // namespace ludex
