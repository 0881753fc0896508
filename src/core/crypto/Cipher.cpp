#include "core/crypto/Cipher.h"

#include "core/base/Exception.h"
#include "core/crypto/Cryptographer.h"
#include "core/crypto/Secret.h"

#include <algorithm>
#include <array>
#include <climits>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace ludex {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64Pad = '=';

// Value of every byte as a Base64 digit. Characters outside the alphabet, "=" among them when
// it stands where a digit is expected, count as 0: the decoder never diagnoses them, and a fixed
// value keeps its result well defined for any input.
constexpr std::array<unsigned char, 256> kBase64Values = [] {
    std::array<unsigned char, 256> values{};
    for (unsigned char v = 0; v < 64; ++v) {
        values[static_cast<unsigned char>(kBase64Alphabet[v])] = v;
    }
    return values;
}();

// The libcrypto error queue as text, emptied; for the messages of our errors.
std::string TakeLibraryError() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        if (!text.empty()) {
            text += "; ";
        }
        text += buffer;
    }
    return text.empty() ? std::string("no further detail") : text;
}

} // namespace

std::string MD5String(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1 || length != 16) {
        throw Exception("MD5 computation failed: " + TakeLibraryError());
    }
    return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string RandomBytes(size_t n) {
    std::string bytes(n, '\0');
    size_t done = 0;
    while (done < n) {
        const int chunk = static_cast<int>(std::min<size_t>(n - done, INT_MAX));
        if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data() + done), chunk) != 1) {
            throw Exception("The random number generator failed: " + TakeLibraryError());
        }
        done += static_cast<size_t>(chunk);
    }
    return bytes;
}

std::string PasswordDigest(std::string_view password) {
    TSecret text(password);
    std::string inner = MD5String(password);
    text.Append(inner);
    WipeString(inner);
    return Base64Encode(MD5String(text.View()));
}

std::string Base64Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t whole = bytes.size() / 3 * 3;
    for (size_t i = 0; i < whole; i += 3) {
        const unsigned group = (unsigned{data[i]} << 16) | (unsigned{data[i + 1]} << 8) | data[i + 2];
        text += kBase64Alphabet[group >> 18];
        text += kBase64Alphabet[(group >> 12) & 63];
        text += kBase64Alphabet[(group >> 6) & 63];
        text += kBase64Alphabet[group & 63];
    }
    const size_t rest = bytes.size() - whole;
    if (rest > 0) {
        const unsigned group =
            (unsigned{data[whole]} << 16) | (rest == 2 ? unsigned{data[whole + 1]} << 8 : 0u);
        text += kBase64Alphabet[group >> 18];
        text += kBase64Alphabet[(group >> 12) & 63];
        text += rest == 2 ? kBase64Alphabet[(group >> 6) & 63] : kBase64Pad;
        text += kBase64Pad;
    }
    return text;
}

std::string Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        throw Exception("Uneven size in DecodeToStream.");
    }
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const unsigned group = (unsigned{kBase64Values[static_cast<unsigned char>(text[i])]} << 18) |
                               (unsigned{kBase64Values[static_cast<unsigned char>(text[i + 1])]} << 12) |
                               (unsigned{kBase64Values[static_cast<unsigned char>(text[i + 2])]} << 6) |
                               kBase64Values[static_cast<unsigned char>(text[i + 3])];
        // Each group stands alone: a pad in the third place gives one byte, else a pad in the
        // fourth place gives two, anything else three, wherever the group stands in the text.
        bytes += static_cast<char>(group >> 16);
        if (text[i + 2] == kBase64Pad) {
            continue;
        }
        bytes += static_cast<char>((group >> 8) & 0xFF);
        if (text[i + 3] == kBase64Pad) {
            continue;
        }
        bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

std::string EncryptString(std::string_view plain, std::string_view password, size_t saltLength) {
    return TCryptographer().Encrypt(plain, password, saltLength);
}

std::string DecryptString(std::string_view enciphered, std::string_view password, size_t saltLength) {
    return TCryptographer().Decrypt(enciphered, password, saltLength);
}

std::string EncryptBranchText(std::string_view plain, std::string_view password) {
    return EncryptString(plain, password, kBranchSaltLength);
}

std::string DecryptBranchText(std::string_view enciphered, std::string_view password) {
    return DecryptString(enciphered, password, kBranchSaltLength);
}

} // namespace ludex
