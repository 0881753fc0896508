// Passwords that a test holds without leaving a plain copy of its own in memory, and a scan of the
// process's memory for copies that the program left.
//
// A password is kept masked (each byte XOR kMask) and unmasked only into wiping buffers; the memory
// is searched byte by byte against the masked form, so the search itself never writes the text.
#pragma once

#include "core/crypto/Secret.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace ludex::testing {

inline constexpr unsigned char kMask = 0x5A;

std::vector<unsigned char> Masked(std::string_view plain);

// The plain text of a masked password, in a buffer wiped when it goes.
TSecret Unmasked(const std::vector<unsigned char>& masked);

// The masked code-page bytes (as the compatible cipher takes them) of a masked UTF-8 password.
std::vector<unsigned char> MaskedCodePageBytes(const std::vector<unsigned char>& masked);

// How often the masked text stands in the readable memory of the process.
size_t CopiesInMemory(const std::vector<unsigned char>& masked);
// The same for several texts, in one pass over the memory.
std::vector<size_t> CopiesInMemory(const std::vector<std::vector<unsigned char>>& masked);

} // namespace ludex::testing
