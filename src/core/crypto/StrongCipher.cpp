#include "core/crypto/StrongCipher.h"

#include "core/crypto/Cipher.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <vector>

namespace ludex {

namespace {

constexpr std::string_view kMarker = "$ludex-strong$";
constexpr std::string_view kAlgorithm = "argon2id";
// The context of the two derivations from the Argon2id output: exactly crypto_kdf_CONTEXTBYTES.
constexpr char kDerivationContext[crypto_kdf_CONTEXTBYTES] = {'L', 'u', 'd', 'e', 'x', 'K', 'e', 'y'};
constexpr uint64_t kCipherKeyId = 1;
constexpr uint64_t kCheckId = 2;
constexpr std::string_view kMemoData = "ludex-strong-v1 memo";
constexpr std::string_view kPayloadData = "ludex-strong-v1 payload";
constexpr std::string_view kBoundMemoData = "ludex-strong-v2 memo";
constexpr std::string_view kBoundPayloadData = "ludex-strong-v2 payload";

static_assert(kStrongKeySize == crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
static_assert(kStrongNonceSize == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
static_assert(kStrongTagSize == crypto_aead_xchacha20poly1305_ietf_ABYTES);
static_assert(kStrongSaltSize == crypto_pwhash_SALTBYTES);
static_assert(kStrongCheckSize >= crypto_kdf_BYTES_MIN);

std::optional<TKeyDerivationCost> gTestCost;
std::atomic<uint64_t> gDerivations{0};
// Time per KiB and pass of the derivations run so far, in nanoseconds; 0 before the first.
std::atomic<double> gNanosecondsPerKiBPass{0};

// 0.4 s for kStrongKeyCost, the figure measured on the machine the program is developed on.
constexpr double kAssumedNanosecondsPerKiBPass =
    0.4e9 / (double{kStrongKeyCost.memoryKiB} * double{kStrongKeyCost.passes});

std::string_view VersionText(TStrongVersion version) {
    return version == TStrongVersion::V1 ? "v=1" : "v=2";
}

bool WithinBounds(TKeyDerivationCost cost) {
    return cost.passes >= kLeastKeyCost.passes && cost.passes <= kGreatestKeyCost.passes &&
           cost.memoryKiB >= kLeastKeyCost.memoryKiB && cost.memoryKiB <= kGreatestKeyCost.memoryKiB;
}

std::string CostText(TKeyDerivationCost cost) {
    return "m=" + std::to_string(cost.memoryKiB) + ",t=" + std::to_string(cost.passes) + ",p=1";
}

// What a part authenticates besides its own bytes. Version 2: the kind, the identity and, for
// the memo, whether a payload goes with it.
std::string AssociatedData(TSealedPart part, const TSealBinding& binding, std::string_view identity) {
    if (binding.version == TStrongVersion::V1) {
        return std::string(part == TSealedPart::Memo ? kMemoData : kPayloadData);
    }
    std::string data(part == TSealedPart::Memo ? kBoundMemoData : kBoundPayloadData);
    data += identity;
    if (part == TSealedPart::Memo) {
        data += binding.hasPayload ? '\1' : '\0';
    }
    return data;
}

// Whether a sealed text of this part carries the identity in front.
bool CarriesIdentity(TSealedPart part, const TSealBinding& binding) {
    return part == TSealedPart::Memo && binding.version == TStrongVersion::V2;
}

const unsigned char* Bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// "name=digits" with the decimal value in 1..UINT32_MAX and no leading zero.
std::optional<uint32_t> NamedNumber(std::string_view text, std::string_view name) {
    if (text.size() <= name.size() + 1 || text.substr(0, name.size()) != name || text[name.size()] != '=') {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(name.size() + 1);
    if (digits[0] == '0') {
        return std::nullopt;
    }
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

// Base64 exactly as Base64Encode writes it for `size` bytes.
std::optional<std::string> ExactBase64(std::string_view text, size_t size) {
    if (text.size() != (size + 2) / 3 * 4) {
        return std::nullopt;
    }
    std::string bytes = Base64Decode(text);
    if (bytes.size() != size || Base64Encode(bytes) != text) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace

EStrongValue::EStrongValue(TReason reason, std::string detail)
    : Exception(reason == Malformed
                    ? std::string("The strong encryption value is malformed")
                    : "The strong encryption value names parameters this version does not accept: " + detail),
      reason_(reason), detail_(std::move(detail)) {}

TKeyDerivationCost NewStrongKeyCost() {
    return gTestCost.value_or(kStrongKeyCost);
}

TStrongKeyCostForTests::TStrongKeyCostForTests(TKeyDerivationCost cost) : previous_(NewStrongKeyCost()) {
    if (!WithinBounds(cost)) {
        throw Exception("Key derivation cost out of bounds: " + CostText(cost));
    }
    gTestCost = cost;
}

TStrongKeyCostForTests::~TStrongKeyCostForTests() {
    if (previous_ == kStrongKeyCost) {
        gTestCost.reset();
    } else {
        gTestCost = previous_;
    }
}

uint64_t StrongKeyDerivationCount() {
    return gDerivations.load();
}

bool IsCostlyKeyCost(TKeyDerivationCost cost) {
    return uint64_t{cost.memoryKiB} > 4 * uint64_t{kStrongKeyCost.memoryKiB} ||
           uint64_t{cost.passes} > 4 * uint64_t{kStrongKeyCost.passes};
}

bool IsWeakKeyCost(TKeyDerivationCost cost) {
    const TKeyDerivationCost present = NewStrongKeyCost();
    return cost.memoryKiB < present.memoryKiB || cost.passes < present.passes;
}

TKeyDerivationCost RaisedKeyCost(TKeyDerivationCost cost) {
    const TKeyDerivationCost present = NewStrongKeyCost();
    return {std::max(cost.passes, present.passes), std::max(cost.memoryKiB, present.memoryKiB)};
}

std::chrono::milliseconds EstimatedDerivationTime(TKeyDerivationCost cost) {
    const double measured = gNanosecondsPerKiBPass.load();
    const double perKiBPass = measured > 0 ? measured : kAssumedNanosecondsPerKiBPass;
    const double nanoseconds =
        perKiBPass * static_cast<double>(cost.memoryKiB) * static_cast<double>(cost.passes);
    return std::chrono::milliseconds(static_cast<int64_t>(nanoseconds / 1e6));
}

std::string DerivationMemoryText(TKeyDerivationCost cost) {
    return cost.memoryKiB % 1024 == 0 ? std::to_string(cost.memoryKiB / 1024) + " MiB"
                                      : std::to_string(cost.memoryKiB) + " KiB";
}

bool IsStrongEncryptionValue(std::string_view value) {
    return value.substr(0, kMarker.size()) == kMarker;
}

std::string FormatStrongHeader(const TStrongHeader& header) {
    std::string text(kMarker);
    text.append(VersionText(header.version)).append("$").append(kAlgorithm).append("$");
    text.append(CostText(header.cost)).append("$");
    text.append(Base64Encode(header.salt)).append("$").append(Base64Encode(header.check));
    return text;
}

TStrongHeader ParseStrongHeader(std::string_view value) {
    if (!IsStrongEncryptionValue(value)) {
        throw EStrongValue(EStrongValue::Malformed, {});
    }
    // version, algorithm, parameters, salt, check
    const std::vector<std::string_view> fields = Split(value.substr(kMarker.size()), '$');
    if (fields.size() != 5) {
        throw EStrongValue(EStrongValue::Malformed, {});
    }
    TStrongHeader header;
    if (fields[0] == VersionText(TStrongVersion::V1)) {
        header.version = TStrongVersion::V1;
    } else if (fields[0] == VersionText(TStrongVersion::V2)) {
        header.version = TStrongVersion::V2;
    } else if (NamedNumber(fields[0], "v")) {
        throw EStrongValue(EStrongValue::Unsupported, std::string(fields[0]));
    } else {
        throw EStrongValue(EStrongValue::Malformed, {});
    }
    if (fields[1] != kAlgorithm) {
        throw EStrongValue(EStrongValue::Malformed, {});
    }
    const std::vector<std::string_view> parameters = Split(fields[2], ',');
    if (parameters.size() != 3) {
        throw EStrongValue(EStrongValue::Malformed, {});
    }
    const auto memory = NamedNumber(parameters[0], "m");
    const auto passes = NamedNumber(parameters[1], "t");
    const auto lanes = NamedNumber(parameters[2], "p");
    if (!memory || !passes || !lanes) {
        throw EStrongValue(EStrongValue::Malformed, {});
    }
    header.cost = {*passes, *memory};
    if (*lanes != 1 || !WithinBounds(header.cost)) {
        throw EStrongValue(EStrongValue::Unsupported, std::string(fields[2]));
    }
    auto salt = ExactBase64(fields[3], kStrongSaltSize);
    auto check = ExactBase64(fields[4], kStrongCheckSize);
    if (!salt || !check) {
        throw EStrongValue(EStrongValue::Malformed, {});
    }
    header.salt = std::move(*salt);
    header.check = std::move(*check);
    return header;
}

TStrongKey TStrongKey::Derive(std::string_view password, std::string_view salt, TKeyDerivationCost cost) {
    RequireSodium();
    if (salt.size() != kStrongSaltSize) {
        throw Exception("A strong key needs a salt of " + std::to_string(kStrongSaltSize) + " bytes");
    }
    if (!WithinBounds(cost)) {
        throw EStrongValue(EStrongValue::Unsupported, CostText(cost));
    }
    static const char kNothing = '\0';
    const char* passwordBytes = password.empty() ? &kNothing : password.data();
    const auto start = std::chrono::steady_clock::now();
    const TGuardedBytes master(crypto_kdf_KEYBYTES, [&](unsigned char* out) {
        if (crypto_pwhash(out, crypto_kdf_KEYBYTES, passwordBytes, password.size(), Bytes(salt), cost.passes,
                          size_t{cost.memoryKiB} * 1024, crypto_pwhash_ALG_ARGON2ID13) != 0) {
            throw Exception("There is not enough memory to derive the key (" + CostText(cost) + ")");
        }
    });
    ++gDerivations;
    // Derivations of a mebibyte or more say how fast this machine is; smaller ones are all set-up.
    if (cost.memoryKiB >= 1024) {
        const double elapsed =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        gNanosecondsPerKiBPass.store(
            elapsed / (static_cast<double>(cost.memoryKiB) * static_cast<double>(cost.passes)));
    }
    const TGuardedBytes::TReading reading(master);
    TGuardedBytes bytes(kStrongKeySize + kStrongCheckSize, [&](unsigned char* out) {
        crypto_kdf_derive_from_key(out, kStrongKeySize, kCipherKeyId, kDerivationContext, reading.Data());
        crypto_kdf_derive_from_key(out + kStrongKeySize, kStrongCheckSize, kCheckId, kDerivationContext,
                                   reading.Data());
    });
    return TStrongKey(std::move(bytes));
}

bool TStrongKey::Matches(std::string_view check) const {
    if (check.size() != kStrongCheckSize) {
        return false;
    }
    const TGuardedBytes::TReading reading(bytes_);
    return sodium_memcmp(reading.Data() + kStrongKeySize, check.data(), kStrongCheckSize) == 0;
}

std::string TStrongKey::CheckValue() const {
    const TGuardedBytes::TReading reading(bytes_);
    return std::string(reinterpret_cast<const char*>(reading.Data()) + kStrongKeySize, kStrongCheckSize);
}

std::string TStrongKey::Seal(std::string_view plain, TSealedPart part, const TSealBinding& binding) const {
    const bool carries = CarriesIdentity(part, binding);
    if (binding.version == TStrongVersion::V2 && binding.identity.size() != kStrongIdentitySize) {
        throw Exception("A version-2 sealing needs an identity of " + std::to_string(kStrongIdentitySize) +
                        " bytes");
    }
    const size_t prefix = carries ? kStrongIdentitySize : 0;
    std::string sealed(prefix + kStrongNonceSize + plain.size() + kStrongTagSize, '\0');
    auto* out = reinterpret_cast<unsigned char*>(sealed.data());
    if (carries) {
        std::copy(binding.identity.begin(), binding.identity.end(), sealed.begin());
    }
    unsigned char* nonce = out + prefix;
    randombytes_buf(nonce, kStrongNonceSize);
    const std::string data = AssociatedData(part, binding, binding.identity);
    unsigned long long length = 0;
    const TGuardedBytes::TReading reading(bytes_);
    crypto_aead_xchacha20poly1305_ietf_encrypt(nonce + kStrongNonceSize, &length, Bytes(plain), plain.size(),
                                               Bytes(data), data.size(), nullptr, nonce, reading.Data());
    return sealed;
}

std::optional<std::string> TStrongKey::Open(std::string_view sealed, TSealedPart part,
                                            const TSealBinding& binding) const {
    std::string_view identity = binding.identity;
    if (CarriesIdentity(part, binding)) {
        if (sealed.size() < kStrongIdentitySize) {
            return std::nullopt;
        }
        identity = sealed.substr(0, kStrongIdentitySize);
        sealed.remove_prefix(kStrongIdentitySize);
    }
    if (sealed.size() < kStrongNonceSize + kStrongTagSize) {
        return std::nullopt;
    }
    const std::string_view body = sealed.substr(kStrongNonceSize);
    std::string plain(body.size() - kStrongTagSize, '\0');
    const std::string data = AssociatedData(part, binding, identity);
    unsigned long long length = 0;
    const TGuardedBytes::TReading reading(bytes_);
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char*>(plain.data()), &length,
                                                   nullptr, Bytes(body), body.size(), Bytes(data),
                                                   data.size(), Bytes(sealed), reading.Data()) != 0) {
        return std::nullopt; // libsodium leaves nothing of the plain text when it refuses
    }
    return plain;
}

TSealBinding NewSealBinding(TStrongVersion version, bool hasPayload) {
    TSealBinding binding{version, {}, hasPayload};
    if (version == TStrongVersion::V2) {
        RequireSodium();
        binding.identity.resize(kStrongIdentitySize);
        randombytes_buf(binding.identity.data(), binding.identity.size());
    }
    return binding;
}

std::optional<std::string> SealedMemoIdentity(std::string_view sealedMemo) {
    if (sealedMemo.size() < kStrongIdentitySize + kStrongNonceSize + kStrongTagSize) {
        return std::nullopt;
    }
    return std::string(sealedMemo.substr(0, kStrongIdentitySize));
}

std::string StrongValueInVersion(std::string_view value, TStrongVersion version) {
    TStrongHeader header = ParseStrongHeader(value);
    header.version = version;
    return FormatStrongHeader(header);
}

TNewStrongKey CreateStrongKey(std::string_view password) {
    return CreateStrongKey(password, NewStrongKeyCost());
}

TNewStrongKey CreateStrongKey(std::string_view password, TKeyDerivationCost cost) {
    RequireSodium();
    TStrongHeader header;
    header.version = kNewestStrongVersion;
    header.cost = cost;
    header.salt.resize(kStrongSaltSize);
    randombytes_buf(header.salt.data(), header.salt.size());
    TStrongKey key = TStrongKey::Derive(password, header.salt, header.cost);
    header.check = key.CheckValue();
    return {std::move(key), FormatStrongHeader(header)};
}

std::optional<TStrongKey> OpenStrongKey(std::string_view password, std::string_view encryptionValue) {
    const TStrongHeader header = ParseStrongHeader(encryptionValue);
    TStrongKey key = TStrongKey::Derive(password, header.salt, header.cost);
    if (!key.Matches(header.check)) {
        return std::nullopt;
    }
    return key;
}

} // namespace ludex
