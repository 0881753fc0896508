#pragma once

#include "core/crypto/Secret.h"
#include "core/crypto/StrongCipher.h"
#include "core/document/DomService.h"
#include "core/text/CodePage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// Encryption of branch elements in memory. A branch element is plain (no "encryption"), unlocked
// encrypted ("encryption" and "password": memo and sub-branches plain) or locked ("encryption"
// without "password": "memo" holds Base64 of the enciphered memo, the content is at most one text
// node, the Base64 payload of the enciphered sub-branches). The payload's plain text is UTF-8
// XML: the sub-branch elements, each followed by CR LF, as the document writer produces them.
//
// Two schemes, told apart by the "encryption" value (StrongCipher.h), each branch in its own:
// - compatible: the MD5 stream cipher of earlier versions, byte for byte. Passwords and memos
//   enter it as bytes of the branch's code page: the one recorded in its "codepage" attribute,
//   or the current one (CurrentCodePage()) for a branch without that record. "password" holds
//   the password while the branch is unlocked; it is wiped from memory when the branch locks.
// - strong: Argon2id and XChaCha20-Poly1305 over UTF-8, so any text can be encrypted and damage
//   is detected. "password" holds the token of the derived key (BranchKeys.h), never the password.
//
// Every operation here works without recursion and either completes or changes nothing.

enum class TCipherScheme : uint8_t { Compatible, Strong };

// The scheme of new encryptions unless the user chooses the other.
inline constexpr TCipherScheme kDefaultCipherScheme = TCipherScheme::Strong;

// "compatible" and "strong", for settings and command lines; and back (nothing for other texts).
std::string_view CipherSchemeName(TCipherScheme scheme);
std::optional<TCipherScheme> CipherSchemeFromName(std::string_view name);

// The scheme of an encrypted branch.
TCipherScheme BranchCipherScheme(const TDomNode& element);

// The code page a compatible branch enciphers in: its recorded one, else the current one.
// Throws ECodePage when the record names a code page the system does not know.
const TCodePage& BranchCodePage(const TDomNode& element);

// Which text of a branch the compatible scheme cannot encipher.
enum class TCipherField : uint8_t { Password, Memo };

// A password or memo holds a character that the compatible scheme's code page cannot represent.
// The message names the field (and for a memo the branch's title) and the code page, never the
// text, comes from the language file and suggests the strong scheme.
class EUnencipherable : public ECodePage {
public:
    EUnencipherable(TCipherField field, std::string codePage, std::string_view branchTitle);
    TCipherField Field() const noexcept { return field_; }
    const std::string& CodePageName() const noexcept { return codePage_; }

private:
    TCipherField field_;
    std::string codePage_;
};

// The content of a strong branch fails authentication (damaged or tampered with), or its
// "encryption" value cannot be read. Nothing has been changed.
class EDamagedBranch : public Exception {
public:
    using Exception::Exception;
};

// Unlocking a strong branch would derive its key at a cost above IsCostlyKeyCost, which the
// caller did not allow. The message names the memory and about how long one attempt takes.
class ECostlyKey : public Exception {
public:
    explicit ECostlyKey(TKeyDerivationCost cost);
    TKeyDerivationCost Cost() const noexcept { return cost_; }

private:
    TKeyDerivationCost cost_;
};

// Whether a costly key derivation may be run.
enum class TCostlyKey : uint8_t { Refuse, Allow };

// The cost of deriving the key of a strong branch; nothing for a compatible one. Throws
// EDamagedBranch when the value cannot be read.
std::optional<TKeyDerivationCost> BranchKeyCost(const TDomNode& element);

// The text to show when asking whether to pay a costly derivation: the memory and about how long.
std::string CostlyKeyQuestion(TKeyDerivationCost cost);

// The code-page bytes of a compatible branch's password and memo. Throw EUnencipherable naming
// the field; the memo's message names the branch. The memo's bytes are as secret as the memo:
// hold them in the TSecret and let it wipe them.
TSecret CompatiblePasswordBytes(std::string_view password, const TCodePage& codePage);
TSecret CompatibleMemoBytes(const TDomNode& element, const TCodePage& codePage);

// The key of an unlocked strong branch. Throws Exception naming the branch when it is not held,
// which happens only to a "password" attribute that came from a file.
const TStrongKey& RequireHeldBranchKey(const TDomNode& element);

// Whether the password is the branch's. Throws Exception("The node is not encrypted") when the
// element has no "encryption", and EDamagedBranch when a strong value cannot be read. A password
// that the code page of a compatible branch cannot hold is not the branch's. For a strong branch
// this derives the key: about 0.4 s. To unlock afterwards, VerifyBranchPassword derives only once.
bool CheckBranchPassword(const TDomNode& element, std::string_view password,
                         TCostlyKey costly = TCostlyKey::Refuse);

// The compatible check value of a password given as UTF-8: the digest of its bytes in the current
// code page. Throws EUnencipherable when the code page cannot hold the password.
std::string BranchPasswordDigest(std::string_view password);

// Puts a branch under a password or takes it off. A non-empty password encrypts a plain branch
// or gives an unlocked one the new password, in `scheme`; nothing is enciphered here. A plain
// branch put under a password marks its document (TDomDocument::MarkPlainTextEnciphered). Compatible:
// "encryption" := the check value, "codepage" := the current code page, "password" := the
// password. Strong: derives a new key with a fresh salt (about 0.4 s), "encryption" := its
// value, "password" := the key's token, no "codepage". The empty password removes
// "encryption", "password" and "codepage": the branch is plain.
//
// Throws Exception for a locked branch (its content would stay enciphered), and, for the
// compatible scheme, EUnencipherable when the current code page cannot hold the password or the
// memo. Nothing is changed then.
void SetBranchPassword(const TDomNode& element, std::string_view password, TCipherScheme scheme);

// The compatible scheme as earlier versions set it, without recording the code page: the check
// value is made in the branch's code page (BranchCodePage) and the memo is not looked at. The
// empty password takes the encryption off as above.
void SetBranchPassword(const TDomNode& element, std::string_view password);

// Locks the element and every unlocked encrypted branch inside it, innermost first: each such
// branch loses "password" (a compatible password is wiped from memory), its "memo" becomes
// Base64 of the enciphered memo, and its children (already locked where encrypted) are replaced
// by one text node with the Base64 payload. Plain branches and locked ones are left as they are.
// Keys no longer in use are given up. Everything is checked before the first change: a comment,
// processing instruction or character-data section inside a branch to be locked throws
// Exception("Unsupported NodeType") (it could never be unlocked again), a compatible memo or
// password the code page cannot hold throws EUnencipherable, text that is not UTF-8 throws the
// writer's conversion error, and a strong branch whose key is not held throws Exception; the
// tree is then unchanged.
void EncipherBranch(const TDomNode& element);

// A branch that LockAllBranches could not lock, and why.
struct TLockFailure {
    TDomNode element;
    std::string message;
};

// Locks every unlocked encrypted branch at or below `root` that can be locked, innermost first.
// A branch that cannot be locked (see EncipherBranch) stays unlocked, and so do the encrypted
// branches around it, whose payload would have to hold it; the failures are returned, innermost
// first. Keys no longer in use are given up.
std::vector<TLockFailure> LockAllBranches(const TDomNode& root);

// What a verified password opens: for a compatible branch the password in its code page, for a
// strong one the derived key. Obtained once, it unlocks without deriving the key again.
class TBranchUnlockRequest;

class TBranchUnlockKey {
public:
    TBranchUnlockKey(TBranchUnlockKey&&) noexcept;
    TBranchUnlockKey& operator=(TBranchUnlockKey&&) noexcept;
    ~TBranchUnlockKey();
    TCipherScheme Scheme() const { return scheme_; }
    // Whether unlocking changes the branch's "encryption" value: a version-1 strong value becomes
    // version 2 (same key), and a key of a weak cost (IsWeakKeyCost) is replaced by a new one at
    // the raised cost, with a new salt. The branch then differs from its file until saved.
    bool Upgrades() const { return upgradedValue_.has_value(); }

private:
    friend std::optional<TBranchUnlockKey> VerifyBranchPassword(const TBranchUnlockRequest& request,
                                                                std::string_view password);
    friend bool DecipherBranchElement(const TDomNode& element, TBranchUnlockKey&& key,
                                      const std::function<void()>& beforeChange);
    TBranchUnlockKey() = default;

    TCipherScheme scheme_ = TCipherScheme::Compatible;
    std::string encryptionValue_; // the value the password was verified against
    TSecret password_;            // compatible: the password as typed (UTF-8)
    std::string codePage_;        // compatible: the code page it was verified in
    std::optional<TStrongKey> strongKey_;
    std::optional<std::string> upgradedValue_; // strong: the value the branch gets when unlocked
    std::optional<TStrongKey> raisedKey_;      // strong: the key of that value, when not strongKey_
};

// The key the password opens, or nothing when it is not the branch's password. Errors as for
// CheckBranchPassword; a strong value of a costly cost throws ECostlyKey unless `costly` allows
// it. For a weak stored cost a second key is derived, at the raised cost (see Upgrades).
std::optional<TBranchUnlockKey> VerifyBranchPassword(const TDomNode& element, std::string_view password,
                                                     TCostlyKey costly = TCostlyKey::Refuse);

// The same in two halves, for a caller that runs the slow one on a thread of its own and may
// give it up while it runs: what is needed of the element is read first, on the thread that owns
// its document (errors as above); the key is then derived from that alone, touching no document,
// on any thread.
class TBranchUnlockRequest {
private:
    friend TBranchUnlockRequest PrepareBranchUnlock(const TDomNode& element, TCostlyKey costly);
    friend std::optional<TBranchUnlockKey> VerifyBranchPassword(const TBranchUnlockRequest& request,
                                                                std::string_view password);
    TCipherScheme scheme_ = TCipherScheme::Compatible;
    std::string encryptionValue_;
    std::string codePage_;                         // compatible
    std::optional<TKeyDerivationCost> raisedCost_; // strong, of a weak cost: the cost it is raised to
};
TBranchUnlockRequest PrepareBranchUnlock(const TDomNode& element, TCostlyKey costly = TCostlyKey::Refuse);
std::optional<TBranchUnlockKey> VerifyBranchPassword(const TBranchUnlockRequest& request,
                                                     std::string_view password);

// Unlocks a locked branch: "password" is set (appended when absent), "memo" is deciphered, and
// when the element has content its payload is deciphered, parsed and its elements and texts, in
// order, replace the content. The deciphered texts are held only in the element (in buffers of its
// own, which locking wipes); every copy made on the way is wiped. A strong branch takes the value
// the key upgraded it to (TBranchUnlockKey::Upgrades). Returns true when the content was replaced (the tree
// nodes under the branch must then be rebuilt from the element), false for a branch without payload.
//
// All-or-nothing: on any failure the branch is still locked exactly as before. Failures: not
// encrypted ("The node is not encrypted"), not locked, a key verified against another
// "encryption" value; compatible: a Base64 text of the wrong length ("Uneven size in
// DecodeToStream."), content other than one text node, a deciphered memo with a byte the code
// page leaves undefined (ECodePage naming the byte and the code page); strong: content that
// fails authentication, a memo and payload that were not sealed together, or content that is not
// one text node (EDamagedBranch); both: a deciphered memo that
// holds NUL, which an attribute cannot keep (EDamagedBranch naming the branch), a fragment that
// does not parse (EDomError), a fragment holding a node other than element or text ("Unsupported
// NodeType"). An encrypted branch in the fragment arrives locked (ForgetStoredPasswords).
//
// `beforeChange`, when given, is called once everything is deciphered and parsed, just before the
// first change; what it throws (ECancelled when the user stops the unlock) leaves the branch
// locked as before, with the deciphered texts wiped.
bool DecipherBranchElement(const TDomNode& element, TBranchUnlockKey&& key,
                           const std::function<void()>& beforeChange = {});

// A "password" lives only in memory, while its branch is unlocked; one that arrives from a file
// would make a locked branch look unlocked, its cipher text shown and saved as its memo, or make
// the writer encipher a plain branch's memo. Removes every "password" attribute in and below
// `top` (values wiped), so that every encrypted branch of a document just loaded is locked.
// Returns how many were removed. Without recursion; `document` holds `top`, and a document whose
// text never names the attribute is not walked.
size_t ForgetStoredPasswords(const TDomDocument& document, const TDomNode& top);

// Has the next load of the document note a stored "password" while it checks the text, so that
// ForgetStoredPasswords then needs no pass over the text of its own to know there is none.
void WatchForStoredPasswords(TDomDocument& document);

// VerifyBranchPassword and the above; a wrong password throws Exception naming the password as
// wrong, and nothing is changed.
bool DecipherBranchElement(const TDomNode& element, std::string_view password);

} // namespace ludex
