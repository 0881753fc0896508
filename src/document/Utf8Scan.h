#pragma once

#include <cstddef>
#include <string_view>

namespace ludex {

// The same answer as IsValidUtf8 (text/Utf8.h), with a fast path over runs of ASCII, which make up
// most of a document: loading and saving check every byte.
bool IsValidUtf8Scan(std::string_view text, size_t* badOffset = nullptr);

} // namespace ludex
