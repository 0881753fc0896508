#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/base/NonCopyable.h"
#include "core/crypto/MD5.h"

namespace ludex {

// The branch cipher engine: an additive byte stream cipher whose key stream is a chain of MD5
// digests. A key is set from password, salt and length; every further 16-byte block of key
// stream is the MD5 of the previous block, cut at its first zero byte. The byte layout it
// produces (salt, then exactly as many cipher bytes as plain bytes) is stored in documents, so
// every detail here, the cut at the zero byte included, is fixed for good.
//
// An object is meant for one operation and holds no state worth keeping between calls.
class TCryptographer : private TNonCopyable {
public:
    using TKey = std::array<unsigned char, 16>;

    // How Transform combines a data byte x with a key byte k.
    enum class TByteOperation {
        Add,      // (x + k) mod 256: enciphering
        Subtract, // (x - k) mod 256: deciphering
    };

    TCryptographer();
    ~TCryptographer();

    // Key state := MD5(text).
    void SetKey(std::string_view text);
    // Key state := MD5 of the key bytes before the first zero byte (all 16 if none is zero).
    void NextKey();
    // Combines the data with the key stream in place: block b (bytes 16b..16b+15) uses the key
    // state after b+1 calls of NextKey; a short last block uses the first bytes of its key.
    void Transform(std::string& data, TByteOperation operation);

    // A fresh random salt of saltLength bytes followed by the enciphered text.
    std::string Encrypt(std::string_view plain, std::string_view password, size_t saltLength);
    // Encrypt with the given salt instead of a random one. Only for reproducible results (tests,
    // known vectors): a document must never store two texts under the same salt and password.
    std::string EncryptWithSalt(std::string_view plain, std::string_view password, std::string_view salt);
    // The inverse of Encrypt. Input shorter than the salt gives an empty text. There is no
    // integrity check: a wrong password gives bytes of the right length that are not the plain text.
    std::string Decrypt(std::string_view enciphered, std::string_view password, size_t saltLength);

    // The current key state (the last digest computed).
    const TKey& Key() const noexcept { return key_; }

private:
    void TransformBytes(unsigned char* data, size_t size, TByteOperation operation);
    void SetKeyFromParts(std::string_view password, std::string_view salt, size_t length);

    TMD5 md5_;
    TKey key_{};
};

} // namespace ludex
