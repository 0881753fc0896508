#include "core/crypto/MD5.h"

#include "core/crypto/Secret.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ludex {

namespace {

constexpr std::array<uint32_t, 4> kInitialState = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

constexpr uint32_t RotateLeft(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

uint32_t LoadLittleEndian(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void StoreLittleEndian(uint32_t value, unsigned char* p) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

constexpr uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
    return z ^ (x & (y ^ z));
}
// (x & z) | (y & ~z) with an addition in place of the "or" (the two terms share no bit): the term
// without x can be computed before x is known, which shortens the chain of dependent operations.
constexpr uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
    return (x & z) + (y & ~z);
}
constexpr uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}
constexpr uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (x | ~z);
}

#define LUDEX_MD5_STEP(f, a, b, c, d, x, t, s)                                                               \
    a += f(b, c, d) + (x) + (t);                                                                             \
    a = RotateLeft(a, s) + b;

// One compression of a block of 16 message words into the state (RFC 1321, section 3.4).
// Always inlined, so that in DigestPrefix, whose words are mostly known zeros, the words stay in
// registers and the zero ones drop out: the key chain runs one compression after another, and
// every cycle on that chain counts.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void
CompressWords(std::array<uint32_t, 4>& state, const uint32_t* x) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    LUDEX_MD5_STEP(F, a, b, c, d, x[0], 0xd76aa478, 7)
    LUDEX_MD5_STEP(F, d, a, b, c, x[1], 0xe8c7b756, 12)
    LUDEX_MD5_STEP(F, c, d, a, b, x[2], 0x242070db, 17)
    LUDEX_MD5_STEP(F, b, c, d, a, x[3], 0xc1bdceee, 22)
    LUDEX_MD5_STEP(F, a, b, c, d, x[4], 0xf57c0faf, 7)
    LUDEX_MD5_STEP(F, d, a, b, c, x[5], 0x4787c62a, 12)
    LUDEX_MD5_STEP(F, c, d, a, b, x[6], 0xa8304613, 17)
    LUDEX_MD5_STEP(F, b, c, d, a, x[7], 0xfd469501, 22)
    LUDEX_MD5_STEP(F, a, b, c, d, x[8], 0x698098d8, 7)
    LUDEX_MD5_STEP(F, d, a, b, c, x[9], 0x8b44f7af, 12)
    LUDEX_MD5_STEP(F, c, d, a, b, x[10], 0xffff5bb1, 17)
    LUDEX_MD5_STEP(F, b, c, d, a, x[11], 0x895cd7be, 22)
    LUDEX_MD5_STEP(F, a, b, c, d, x[12], 0x6b901122, 7)
    LUDEX_MD5_STEP(F, d, a, b, c, x[13], 0xfd987193, 12)
    LUDEX_MD5_STEP(F, c, d, a, b, x[14], 0xa679438e, 17)
    LUDEX_MD5_STEP(F, b, c, d, a, x[15], 0x49b40821, 22)

    LUDEX_MD5_STEP(G, a, b, c, d, x[1], 0xf61e2562, 5)
    LUDEX_MD5_STEP(G, d, a, b, c, x[6], 0xc040b340, 9)
    LUDEX_MD5_STEP(G, c, d, a, b, x[11], 0x265e5a51, 14)
    LUDEX_MD5_STEP(G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
    LUDEX_MD5_STEP(G, a, b, c, d, x[5], 0xd62f105d, 5)
    LUDEX_MD5_STEP(G, d, a, b, c, x[10], 0x02441453, 9)
    LUDEX_MD5_STEP(G, c, d, a, b, x[15], 0xd8a1e681, 14)
    LUDEX_MD5_STEP(G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
    LUDEX_MD5_STEP(G, a, b, c, d, x[9], 0x21e1cde6, 5)
    LUDEX_MD5_STEP(G, d, a, b, c, x[14], 0xc33707d6, 9)
    LUDEX_MD5_STEP(G, c, d, a, b, x[3], 0xf4d50d87, 14)
    LUDEX_MD5_STEP(G, b, c, d, a, x[8], 0x455a14ed, 20)
    LUDEX_MD5_STEP(G, a, b, c, d, x[13], 0xa9e3e905, 5)
    LUDEX_MD5_STEP(G, d, a, b, c, x[2], 0xfcefa3f8, 9)
    LUDEX_MD5_STEP(G, c, d, a, b, x[7], 0x676f02d9, 14)
    LUDEX_MD5_STEP(G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

    LUDEX_MD5_STEP(H, a, b, c, d, x[5], 0xfffa3942, 4)
    LUDEX_MD5_STEP(H, d, a, b, c, x[8], 0x8771f681, 11)
    LUDEX_MD5_STEP(H, c, d, a, b, x[11], 0x6d9d6122, 16)
    LUDEX_MD5_STEP(H, b, c, d, a, x[14], 0xfde5380c, 23)
    LUDEX_MD5_STEP(H, a, b, c, d, x[1], 0xa4beea44, 4)
    LUDEX_MD5_STEP(H, d, a, b, c, x[4], 0x4bdecfa9, 11)
    LUDEX_MD5_STEP(H, c, d, a, b, x[7], 0xf6bb4b60, 16)
    LUDEX_MD5_STEP(H, b, c, d, a, x[10], 0xbebfbc70, 23)
    LUDEX_MD5_STEP(H, a, b, c, d, x[13], 0x289b7ec6, 4)
    LUDEX_MD5_STEP(H, d, a, b, c, x[0], 0xeaa127fa, 11)
    LUDEX_MD5_STEP(H, c, d, a, b, x[3], 0xd4ef3085, 16)
    LUDEX_MD5_STEP(H, b, c, d, a, x[6], 0x04881d05, 23)
    LUDEX_MD5_STEP(H, a, b, c, d, x[9], 0xd9d4d039, 4)
    LUDEX_MD5_STEP(H, d, a, b, c, x[12], 0xe6db99e5, 11)
    LUDEX_MD5_STEP(H, c, d, a, b, x[15], 0x1fa27cf8, 16)
    LUDEX_MD5_STEP(H, b, c, d, a, x[2], 0xc4ac5665, 23)

    LUDEX_MD5_STEP(I, a, b, c, d, x[0], 0xf4292244, 6)
    LUDEX_MD5_STEP(I, d, a, b, c, x[7], 0x432aff97, 10)
    LUDEX_MD5_STEP(I, c, d, a, b, x[14], 0xab9423a7, 15)
    LUDEX_MD5_STEP(I, b, c, d, a, x[5], 0xfc93a039, 21)
    LUDEX_MD5_STEP(I, a, b, c, d, x[12], 0x655b59c3, 6)
    LUDEX_MD5_STEP(I, d, a, b, c, x[3], 0x8f0ccc92, 10)
    LUDEX_MD5_STEP(I, c, d, a, b, x[10], 0xffeff47d, 15)
    LUDEX_MD5_STEP(I, b, c, d, a, x[1], 0x85845dd1, 21)
    LUDEX_MD5_STEP(I, a, b, c, d, x[8], 0x6fa87e4f, 6)
    LUDEX_MD5_STEP(I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
    LUDEX_MD5_STEP(I, c, d, a, b, x[6], 0xa3014314, 15)
    LUDEX_MD5_STEP(I, b, c, d, a, x[13], 0x4e0811a1, 21)
    LUDEX_MD5_STEP(I, a, b, c, d, x[4], 0xf7537e82, 6)
    LUDEX_MD5_STEP(I, d, a, b, c, x[11], 0xbd3af235, 10)
    LUDEX_MD5_STEP(I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
    LUDEX_MD5_STEP(I, b, c, d, a, x[9], 0xeb86d391, 21)

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef LUDEX_MD5_STEP

// One compression of a 64-byte block.
void Compress(std::array<uint32_t, 4>& state, const unsigned char* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = LoadLittleEndian(block + 4 * i);
    }
    CompressWords(state, x);
    // The block may hold a password: leave no copy of it on the stack.
    WipeMemory(x, sizeof x);
}

TMD5::TDigest StateToDigest(const std::array<uint32_t, 4>& state) {
    TMD5::TDigest digest;
    if constexpr (std::endian::native == std::endian::little) {
        // Two 64-bit halves in one copy: byte-wise stores read back as wider words would stall
        // the key chain, which feeds every digest straight into the next one.
        const uint64_t halves[2] = {state[0] | (uint64_t{state[1]} << 32),
                                    state[2] | (uint64_t{state[3]} << 32)};
        std::memcpy(digest.data(), halves, sizeof halves);
    } else {
        for (int i = 0; i < 4; ++i) {
            StoreLittleEndian(state[i], digest.data() + 4 * i);
        }
    }
    return digest;
}

// Writes the message length in bits, little-endian, into the last 8 bytes of the block.
void StoreBitLength(uint64_t bytes, unsigned char* block) {
    const uint64_t bits = bytes << 3;
    StoreLittleEndian(static_cast<uint32_t>(bits), block + 56);
    StoreLittleEndian(static_cast<uint32_t>(bits >> 32), block + 60);
}

} // namespace

TMD5::~TMD5() {
    WipeMemory(buffer_.data(), buffer_.size());
    WipeMemory(state_.data(), sizeof state_);
}

void TMD5::Reset() noexcept {
    state_ = kInitialState;
    length_ = 0;
}

void TMD5::Update(const unsigned char* data, size_t size) noexcept {
    size_t filled = static_cast<size_t>(length_ % 64);
    length_ += size;
    if (filled > 0) {
        const size_t take = std::min(size, 64 - filled);
        std::memcpy(buffer_.data() + filled, data, take);
        data += take;
        size -= take;
        filled += take;
        if (filled < 64) {
            return;
        }
        Compress(state_, buffer_.data());
    }
    for (; size >= 64; data += 64, size -= 64) {
        Compress(state_, data);
    }
    if (size > 0) {
        std::memcpy(buffer_.data(), data, size);
    }
}

TMD5::TDigest TMD5::Final() noexcept {
    const uint64_t length = length_;
    const size_t filled = static_cast<size_t>(length % 64);
    // Padding: one 0x80 byte, zeros up to 56 bytes into a block, then the bit length.
    buffer_[filled] = 0x80;
    if (filled >= 56) {
        std::memset(buffer_.data() + filled + 1, 0, 63 - filled);
        Compress(state_, buffer_.data());
        std::memset(buffer_.data(), 0, 56);
    } else {
        std::memset(buffer_.data() + filled + 1, 0, 55 - filled);
    }
    StoreBitLength(length, buffer_.data());
    Compress(state_, buffer_.data());
    const TDigest digest = StateToDigest(state_);
    WipeMemory(buffer_.data(), buffer_.size()); // the message's last bytes
    Reset();
    return digest;
}

TMD5::TDigest TMD5::Digest(const unsigned char* data, size_t size) noexcept {
    if (size < 56) {
        // The whole padded message fits one block; build its words directly.
        uint32_t x[16] = {};
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(x, data, size);
        } else {
            for (size_t i = 0; i < size; ++i) {
                x[i / 4] |= uint32_t{data[i]} << (8 * (i % 4));
            }
        }
        x[size / 4] |= uint32_t{0x80} << (8 * (size % 4));
        x[14] = static_cast<uint32_t>(size << 3);
        std::array<uint32_t, 4> state = kInitialState;
        CompressWords(state, x);
        return StateToDigest(state);
    }
    TMD5 md5;
    md5.Update(data, size);
    return md5.Final();
}

TMD5::TDigest TMD5::DigestPrefix(const TDigest& block, size_t size) noexcept {
    size = std::min(size, block.size());
    uint32_t x[16] = {};
    for (size_t w = 0; w < 4; ++w) {
        const uint32_t word = LoadLittleEndian(block.data() + 4 * w);
        const size_t kept = size > 4 * w ? std::min<size_t>(size - 4 * w, 4) : 0;
        x[w] = kept == 4 ? word : word & ((uint32_t{1} << (8 * kept)) - 1);
    }
    x[size / 4] |= uint32_t{0x80} << (8 * (size % 4));
    x[14] = static_cast<uint32_t>(size << 3);
    std::array<uint32_t, 4> state = kInitialState;
    CompressWords(state, x);
    return StateToDigest(state);
}

} // namespace ludex
