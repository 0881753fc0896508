// Arbitrary bytes through Base64Decode, DecryptBranchText and an encrypt/decrypt round trip.
// The first input byte chooses the password length; the password follows, the rest is the text.
// The same bytes as a strong encryption value, and as a sealed text opened and sealed again.
#include "core/base/Exception.h"
#include "core/crypto/Cipher.h"
#include "core/crypto/Cryptographer.h"
#include "core/crypto/StrongCipher.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace ludex;

namespace {

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Bytes a well-formed decode yields: 1, 2 or 3 per group depending on where its pad stands.
size_t DecodedSize(std::string_view text) {
    size_t size = 0;
    for (size_t i = 0; i + 3 < text.size(); i += 4) {
        size += text[i + 2] == '=' ? 1 : text[i + 3] == '=' ? 2 : 3;
    }
    return size;
}

void FuzzBase64(std::string_view text) {
    try {
        const std::string bytes = Base64Decode(text);
        Check(text.size() % 4 == 0);
        Check(bytes.size() == DecodedSize(text));
        const std::string again = Base64Encode(bytes);
        Check(again.size() == (bytes.size() + 2) / 3 * 4);
        Check(Base64Decode(again) == bytes);
    } catch (const Exception& e) {
        Check(text.size() % 4 != 0);
        Check(e.Message() == "Uneven size in DecodeToStream.");
    }
}

void FuzzCipher(std::string_view password, std::string_view text) {
    const std::string plain = DecryptBranchText(text, password);
    Check(plain.size() == (text.size() > kBranchSaltLength ? text.size() - kBranchSaltLength : 0));

    const std::string enciphered = EncryptBranchText(text, password);
    Check(enciphered.size() == text.size() + kBranchSaltLength);
    Check(DecryptBranchText(enciphered, password) == text);

    // With the salt taken from the input the result is reproducible and deciphers alike.
    const std::string_view salt = password.substr(0, std::min(password.size(), kBranchSaltLength));
    const std::string fixed = TCryptographer().EncryptWithSalt(text, password, salt);
    Check(fixed == TCryptographer().EncryptWithSalt(text, password, salt));
    Check(TCryptographer().Decrypt(fixed, password, salt.size()) == text);
}

// A value is read only in the exact form it is written in, and only with a cost in bounds.
void FuzzStrongValue(std::string_view value) {
    try {
        const TStrongHeader header = ParseStrongHeader(value);
        Check(FormatStrongHeader(header) == value);
        Check(header.cost.passes >= kLeastKeyCost.passes && header.cost.passes <= kGreatestKeyCost.passes);
        Check(header.cost.memoryKiB >= kLeastKeyCost.memoryKiB &&
              header.cost.memoryKiB <= kGreatestKeyCost.memoryKiB);
    } catch (const EStrongValue&) {
    }
}

// Nothing but a sealed text opens, every sealed text opens to what was sealed, and a memo and a
// payload of version 2 open only together.
void FuzzSealed(std::string_view bytes) {
    static const TStrongKey key =
        TStrongKey::Derive("fuzz", std::string(kStrongSaltSize, 's'), kLeastKeyCost);
    for (const TStrongVersion version : {TStrongVersion::V1, TStrongVersion::V2}) {
        const TSealBinding binding = NewSealBinding(version, true);
        Check(!key.Open(bytes, TSealedPart::Memo, binding).has_value() ||
              bytes.size() >= kStrongNonceSize + kStrongTagSize);
        std::string sealed = key.Seal(bytes, TSealedPart::Payload, binding);
        Check(key.Open(sealed, TSealedPart::Payload, binding) == bytes);
        Check(!key.Open(sealed, TSealedPart::Memo, binding).has_value());
        if (version == TStrongVersion::V2) {
            Check(!key.Open(sealed, TSealedPart::Payload, NewSealBinding(version, true)).has_value());
            const std::string memo = key.Seal(bytes, TSealedPart::Memo, binding);
            Check(SealedMemoIdentity(memo) == binding.identity);
            Check(key.Open(memo, TSealedPart::Memo, binding) == bytes);
            Check(!key.Open(memo, TSealedPart::Memo, NewSealBinding(version, false)).has_value());
        }
        sealed[bytes.size() % sealed.size()] ^= 1;
        Check(!key.Open(sealed, TSealedPart::Payload, binding).has_value());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    FuzzBase64(input);
    FuzzStrongValue(input);
    FuzzSealed(input);
    if (size == 0) {
        return 0;
    }
    const size_t passwordLength = std::min<size_t>(data[0] % 32, size - 1);
    FuzzCipher(input.substr(1, passwordLength), input.substr(1 + passwordLength));
    return 0;
}
