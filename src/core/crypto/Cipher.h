#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ludex {

// The branch cipher. Every string here is a byte string: passwords and memos arrive as
// code-page bytes (the caller converts), sub-branch payloads as UTF-8 bytes. Its exact output
// is a file format: text enciphered here must decipher byte for byte in every other version.

// Size of the random salt stored in front of every enciphered branch text.
constexpr size_t kBranchSaltLength = 4;

// MD5 (RFC 1321) of the bytes, as 16 raw bytes.
std::string MD5String(std::string_view bytes);

// n bytes from a cryptographic random source.
std::string RandomBytes(size_t n);

// The password check value: Base64 of MD5(password || MD5(password)); 24 characters.
std::string PasswordDigest(std::string_view password);

// Base64 with the standard alphabet and "=" padding, no line breaks.
std::string Base64Encode(std::string_view bytes);
// Decodes groups of four characters; a length that is not a multiple of 4 throws
// Exception("Uneven size in DecodeToStream."). Characters are not otherwise validated: a group
// whose third character is "=" gives 1 byte, else one whose fourth is "=" gives 2, any other 3,
// wherever the group stands; a character outside the alphabet (or "=" where a digit is read)
// counts as the digit 0.
std::string Base64Decode(std::string_view text);

// Salt of saltLength random bytes followed by the enciphered text; and back.
std::string EncryptString(std::string_view plain, std::string_view password, size_t saltLength);
std::string DecryptString(std::string_view enciphered, std::string_view password, size_t saltLength);

// The two above with the branch salt length.
std::string EncryptBranchText(std::string_view plain, std::string_view password);
std::string DecryptBranchText(std::string_view enciphered, std::string_view password);

} // namespace ludex
