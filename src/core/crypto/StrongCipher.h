#pragma once

#include "core/base/Exception.h"
#include "core/base/NonCopyable.h"
#include "core/crypto/Secret.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ludex {

// The strong branch cipher. A password (UTF-8, any text) becomes a key through Argon2id with a
// random salt; memo and payload are sealed with XChaCha20-Poly1305 under that key and a fresh
// random nonce for every sealing, so damage and tampering are detected when they are opened.
//
// The branch's "encryption" value describes the key completely apart from the password:
//   $ludex-strong$v=<version>$argon2id$m=<KiB>,t=<passes>,p=1$<salt>$<check>
// with salt and check in Base64. Version 2 binds the memo and the payload of one encipherment
// to each other (TSealBinding); version 1, which sealed each alone, is still read. A compatible check value
// is 24 Base64 characters, which never hold "$", so the two can never be mistaken for each other: a program
// that knows only the compatible scheme finds that no password matches and leaves the branch alone.
//
// From the Argon2id output two independent values are derived (BLAKE2b key derivation): the
// cipher key and the check value. The check tells a wrong password (check differs) from damaged
// content (check matches, authentication fails), and reveals nothing about the cipher key.

// The cost of one Argon2id derivation: passes over the memory (t) and memory in KiB (m).
struct TKeyDerivationCost {
    uint32_t passes = 0;
    uint32_t memoryKiB = 0;
    friend bool operator==(const TKeyDerivationCost&, const TKeyDerivationCost&) = default;
};

// The cost of every new key: 256 MiB and 2 passes, which takes 0.4 s of one core of the machine
// the program is developed on (bench/crypto measures it). It is stored with each key, so a later
// version can raise it and still read what this one wrote.
inline constexpr TKeyDerivationCost kStrongKeyCost{2, 256 * 1024};

// The costs a stored value may name: from libsodium's minimum up to limits that keep a crafted
// file from asking for more memory or time than a desktop machine has to give.
inline constexpr TKeyDerivationCost kLeastKeyCost{1, 8};
inline constexpr TKeyDerivationCost kGreatestKeyCost{64, 4 * 1024 * 1024};

// Whether a stored cost asks for more than four times the memory or the passes of new keys. A
// crafted file can name up to kGreatestKeyCost (minutes of work and gigabytes of memory per
// attempt), so such a cost is paid only when the user agrees to it.
bool IsCostlyKeyCost(TKeyDerivationCost cost);
// Whether a stored cost is below the cost of new keys in memory or in passes: such a key is
// replaced by one at the present cost when its branch is unlocked.
bool IsWeakKeyCost(TKeyDerivationCost cost);
// The cost a weak key is raised to: the greater memory and the greater passes of the two.
TKeyDerivationCost RaisedKeyCost(TKeyDerivationCost cost);
// About how long one derivation at `cost` takes: the time measured for the derivations this
// process has run, scaled by memory times passes, or 0.4 s per kStrongKeyCost before any.
std::chrono::milliseconds EstimatedDerivationTime(TKeyDerivationCost cost);
// "1024 MiB" or "512 KiB": the memory of a cost for a message.
std::string DerivationMemoryText(TKeyDerivationCost cost);

inline constexpr size_t kStrongSaltSize = 16;
inline constexpr size_t kStrongKeySize = 32;
inline constexpr size_t kStrongCheckSize = 16;
inline constexpr size_t kStrongNonceSize = 24;
inline constexpr size_t kStrongTagSize = 16;
inline constexpr size_t kStrongIdentitySize = 16;

// The versions of the strong scheme: new values are written in the newest.
enum class TStrongVersion : uint8_t { V1 = 1, V2 = 2 };
inline constexpr TStrongVersion kNewestStrongVersion = TStrongVersion::V2;

// The cost new keys are derived with: kStrongKeyCost, unless a TStrongKeyCostForTests is alive.
TKeyDerivationCost NewStrongKeyCost();

// Test hook: while it lives, new keys are derived at `cost` instead of kStrongKeyCost, so that a
// test suite that derives hundreds of keys stays fast. Values written meanwhile name that cost,
// and every reader honours the cost a value names. Throws Exception for a cost out of bounds.
class TStrongKeyCostForTests : private TNonCopyable {
public:
    explicit TStrongKeyCostForTests(TKeyDerivationCost cost);
    ~TStrongKeyCostForTests();

private:
    TKeyDerivationCost previous_;
};

// How many Argon2id derivations this process has run. Saving, locking and copying unlocked
// branches must never add to it; tests and benchmarks check that they do not.
uint64_t StrongKeyDerivationCount();

// A value that claims the strong scheme but cannot be read: malformed, or naming a version or a
// cost this program does not accept. Detail() is the offending part as it stands in the value
// ("v=3", "m=8388608,t=3,p=1"), empty for a malformed value.
class EStrongValue : public Exception {
public:
    enum TReason : uint8_t { Malformed, Unsupported };
    EStrongValue(TReason reason, std::string detail);
    TReason Reason() const noexcept { return reason_; }
    const std::string& Detail() const noexcept { return detail_; }

private:
    TReason reason_;
    std::string detail_;
};

// The parts of a strong "encryption" value.
struct TStrongHeader {
    TStrongVersion version = kNewestStrongVersion;
    TKeyDerivationCost cost;
    std::string salt;  // kStrongSaltSize bytes
    std::string check; // kStrongCheckSize bytes
};

// Whether the value claims the strong scheme: it starts with "$ludex-strong$".
bool IsStrongEncryptionValue(std::string_view value);
std::string FormatStrongHeader(const TStrongHeader& header);
// Reads a value that claims the strong scheme. Only the exact form FormatStrongHeader writes is
// accepted. Throws EStrongValue.
TStrongHeader ParseStrongHeader(std::string_view value);

// The same value in another version: the key it describes is the same.
std::string StrongValueInVersion(std::string_view value, TStrongVersion version);

// What a sealed text is: the part it stands for enters the authentication, so a memo cannot be
// passed off as a payload or the other way round.
enum class TSealedPart : uint8_t { Memo, Payload };

// What the parts of one encipherment of a branch are bound to.
//
// Version 1 authenticates each part with its kind alone: under one key, any memo and any payload
// ever sealed pass, so parts of older copies could be spliced in unnoticed.
//
// Version 2 draws a fresh random identity for every encipherment (every lock and every save).
// The sealed memo is identity || nonce || cipher text || tag and authenticates the identity and
// whether a payload goes with it; the payload authenticates the same identity. A memo and a
// payload therefore open only together, as sealed together: a part of another copy, of a backup
// or of another encipherment of the same branch, and a payload added or taken away, fail.
struct TSealBinding {
    TStrongVersion version = kNewestStrongVersion;
    std::string identity; // version 2: kStrongIdentitySize bytes
    bool hasPayload = false;
};

// A binding for a new encipherment: a fresh identity in version 2.
TSealBinding NewSealBinding(TStrongVersion version, bool hasPayload);
// The identity a sealed version-2 memo carries; nothing when it is too short to carry one.
std::optional<std::string> SealedMemoIdentity(std::string_view sealedMemo);

// A key derived from a password: the cipher key and the check value, in guarded memory. The
// password itself is not kept.
class TStrongKey {
public:
    // Runs Argon2id (the slow step) and the derivation of key and check. Throws Exception when
    // the memory for the cost cannot be had, and for a salt of the wrong size.
    static TStrongKey Derive(std::string_view password, std::string_view salt, TKeyDerivationCost cost);

    // Whether `check` is this key's check value (compared in constant time).
    bool Matches(std::string_view check) const;
    std::string CheckValue() const;

    // nonce || cipher text || tag: the plain text's size plus 40 bytes; a version-2 memo has the
    // binding's identity in front.
    std::string Seal(std::string_view plain, TSealedPart part, const TSealBinding& binding) const;
    // The plain text, or nothing when the sealed text fails authentication: it was damaged, or
    // sealed under another key, as the other part or under another binding. A version-2 memo
    // brings its own identity (the binding's is not looked at); a payload needs the memo's.
    // The plain text is in a buffer of its own; the caller wipes it when done.
    std::optional<std::string> Open(std::string_view sealed, TSealedPart part,
                                    const TSealBinding& binding) const;

private:
    explicit TStrongKey(TGuardedBytes bytes) : bytes_(std::move(bytes)) {}
    TGuardedBytes bytes_; // the cipher key, then the check value
};

// A key for a new encryption: a random salt, NewStrongKeyCost() or `cost`, the newest version.
struct TNewStrongKey {
    TStrongKey key;
    std::string encryptionValue;
};
TNewStrongKey CreateStrongKey(std::string_view password);
TNewStrongKey CreateStrongKey(std::string_view password, TKeyDerivationCost cost);

// The key of an "encryption" value when the password is right; nothing when it is wrong.
// Throws EStrongValue for a value that cannot be read.
std::optional<TStrongKey> OpenStrongKey(std::string_view password, std::string_view encryptionValue);

} // namespace ludex
