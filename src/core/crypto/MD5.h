#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ludex {

// MD5 (RFC 1321). The key chain of the branch cipher hashes one short message per 16 bytes of
// text; through libcrypto's digest interface each of those calls costs about as much again in
// set-up as the hash itself, which halves the cipher's speed. The chain therefore uses this
// implementation, which hashes a short message with a single compression and no set-up.
// Whole messages elsewhere go through libcrypto.
class TMD5 {
public:
    using TDigest = std::array<unsigned char, 16>;

    TMD5() { Reset(); }
    // Wipes the buffered message bytes, which may be part of a password.
    ~TMD5();
    TMD5(const TMD5&) = default;
    TMD5& operator=(const TMD5&) = default;

    // Starts a new message.
    void Reset() noexcept;
    // Appends bytes to the message.
    void Update(const unsigned char* data, size_t size) noexcept;
    void Update(std::string_view bytes) noexcept {
        Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    // The digest of the message so far (A, B, C, D, each little-endian); then starts a new one.
    TDigest Final() noexcept;

    // The digest of one message.
    static TDigest Digest(const unsigned char* data, size_t size) noexcept;
    static TDigest Digest(std::string_view bytes) noexcept {
        return Digest(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }

    // The digest of the first size bytes of a 16-byte block (size at most 16): the key chain's
    // step, one compression without copying or padding through a buffer.
    static TDigest DigestPrefix(const TDigest& block, size_t size) noexcept;

private:
    std::array<uint32_t, 4> state_;
    std::array<unsigned char, 64> buffer_;
    uint64_t length_; // bytes of the message so far
};

} // namespace ludex
