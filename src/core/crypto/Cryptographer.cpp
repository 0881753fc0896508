#include "core/crypto/Cryptographer.h"

#include "core/crypto/Cipher.h"
#include "core/crypto/Secret.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace ludex {

namespace {
// Index of the first zero byte of the key, or 16 when there is none.
size_t FirstZeroByte(const TCryptographer::TKey& key) {
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time: the lowest byte flagged by (v - 0x01..01) & ~v & 0x80..80 is
        // the first zero byte (a borrow can only flag bytes above a zero byte).
        constexpr uint64_t kOnes = 0x0101010101010101u;
        constexpr uint64_t kHighs = 0x8080808080808080u;
        uint64_t halves[2];
        std::memcpy(halves, key.data(), sizeof halves);
        for (size_t h = 0; h < 2; ++h) {
            const uint64_t flags = (halves[h] - kOnes) & ~halves[h] & kHighs;
            if (flags != 0) {
                return 8 * h + static_cast<size_t>(std::countr_zero(flags)) / 8;
            }
        }
        return key.size();
    } else {
        return static_cast<size_t>(std::find(key.begin(), key.end(), 0) - key.begin());
    }
}

// Combines up to 16 data bytes with a key. The key is a local copy, so the compiler knows that
// the stores into the data cannot change it.
template <TCryptographer::TByteOperation Operation>
void CombineBlock(unsigned char* block, size_t size, const TCryptographer::TKey key) {
    for (size_t j = 0; j < size; ++j) {
        if constexpr (Operation == TCryptographer::TByteOperation::Add) {
            block[j] = static_cast<unsigned char>(block[j] + key[j]);
        } else {
            block[j] = static_cast<unsigned char>(block[j] - key[j]);
        }
    }
}

template <TCryptographer::TByteOperation Operation>
void TransformWith(TCryptographer& cryptographer, unsigned char* data, size_t n) {
    const size_t blockSize = cryptographer.Key().size();
    for (size_t i = 0; i < n; i += blockSize) {
        cryptographer.NextKey();
        CombineBlock<Operation>(data + i, std::min(n - i, blockSize), cryptographer.Key());
    }
}

} // namespace

TCryptographer::TCryptographer() = default;

TCryptographer::~TCryptographer() {
    WipeMemory(key_.data(), key_.size());
}

void TCryptographer::SetKey(std::string_view text) {
    md5_.Update(text);
    key_ = md5_.Final();
}

void TCryptographer::NextKey() {
    key_ = TMD5::DigestPrefix(key_, FirstZeroByte(key_));
}

void TCryptographer::Transform(std::string& data, TByteOperation operation) {
    TransformBytes(reinterpret_cast<unsigned char*>(data.data()), data.size(), operation);
}

void TCryptographer::TransformBytes(unsigned char* data, size_t n, TByteOperation operation) {
    if (operation == TByteOperation::Add) {
        TransformWith<TByteOperation::Add>(*this, data, n);
    } else {
        TransformWith<TByteOperation::Subtract>(*this, data, n);
    }
}

void TCryptographer::SetKeyFromParts(std::string_view password, std::string_view salt, size_t length) {
    // MD5(password || salt || decimal length), fed in parts.
    char digits[24];
    const auto [end, ec] = std::to_chars(std::begin(digits), std::end(digits), length);
    (void)ec; // 24 characters hold every size_t
    md5_.Update(password);
    md5_.Update(salt);
    md5_.Update(std::string_view(digits, static_cast<size_t>(end - digits)));
    key_ = md5_.Final();
}

std::string TCryptographer::Encrypt(std::string_view plain, std::string_view password, size_t saltLength) {
    return EncryptWithSalt(plain, password, RandomBytes(saltLength));
}

std::string TCryptographer::EncryptWithSalt(std::string_view plain, std::string_view password,
                                            std::string_view salt) {
    SetKeyFromParts(password, salt, plain.size());
    std::string result;
    result.reserve(salt.size() + plain.size());
    result.append(salt).append(plain);
    TransformBytes(reinterpret_cast<unsigned char*>(result.data()) + salt.size(), plain.size(),
                   TByteOperation::Add);
    return result;
}

std::string TCryptographer::Decrypt(std::string_view enciphered, std::string_view password,
                                    size_t saltLength) {
    const size_t split = std::min(saltLength, enciphered.size());
    const std::string_view salt = enciphered.substr(0, split);
    std::string result(enciphered.substr(split));
    SetKeyFromParts(password, salt, result.size());
    Transform(result, TByteOperation::Subtract);
    return result;
}

} // namespace ludex
