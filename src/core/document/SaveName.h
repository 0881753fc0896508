#pragma once

#include <string>
#include <string_view>

namespace ludex {

// The extension of a document file, without its dot.
inline constexpr std::string_view kDocumentExtension = "ldx";

// The file name the save dialog suggests for a document titled `title`: the title with every
// character a file name cannot hold ('/', NUL, other control characters) written as '_', without
// surrounding spaces and leading dots (which would hide the file), at most 200 bytes cut between
// UTF-8 characters, followed by ".ldx". A title that leaves nothing gives `fallback` + ".ldx".
std::string FileNameForTitle(std::string_view title, std::string_view fallback);

} // namespace ludex
