#include "core/document/BranchCipher.h"

#include "core/crypto/Cipher.h"
#include "core/crypto/Secret.h"
#include "core/document/BranchCopy.h"
#include "core/document/BranchKeys.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/settings/LX_Localer.h"
#include "core/text/CodePage.h"
#include "core/text/Utf8.h"

#include <cstdio>
#include <string>
#include <vector>

namespace ludex {

namespace {

// The messages of this unit: the key in the language files and the English text used when no
// language file is loaded. The two must read the same (a test holds them together).
struct TMessage {
    const char* key;
    const char* english;
};

constexpr TMessage kPasswordOutsideCodePage{
    "PasswordOutsideCodePage",
    "The password holds a character that code page {0} cannot represent, so the compatible encryption "
    "scheme cannot use it. Choose another password, or encrypt with the strong scheme, which takes any "
    "text."};
constexpr TMessage kMemoOutsideCodePage{
    "MemoOutsideCodePage",
    "The memo of branch \xE2\x80\x9C{0}\xE2\x80\x9D holds a character that code page {1} cannot represent, "
    "so "
    "the compatible encryption scheme cannot encipher it. Remove the character, or encrypt the branch "
    "with the strong scheme, which takes any text."};
constexpr TMessage kBranchContentDamaged{
    "BranchContentDamaged", "The encrypted content of branch \xE2\x80\x9C{0}\xE2\x80\x9D is damaged and "
                            "cannot be deciphered. Nothing was changed."};
constexpr TMessage kBranchEncryptionUnreadable{
    "BranchEncryptionUnreadable", "Branch \xE2\x80\x9C{0}\xE2\x80\x9D is encrypted in a form this version "
                                  "cannot read ({1}). Nothing was changed."};
constexpr TMessage kBranchKeyUnavailable{
    "BranchKeyUnavailable",
    "The key of branch \xE2\x80\x9C{0}\xE2\x80\x9D is not in memory, so the branch cannot be enciphered. "
    "Close the document without saving and open it again."};
constexpr TMessage kDecipheredByteUndefined{
    "DecipheredByteUndefined",
    "The memo of branch \xE2\x80\x9C{0}\xE2\x80\x9D deciphers to the byte {1}, which code page {2} does not "
    "define: the branch was probably encrypted under another code page. Choose that code page and unlock "
    "it again. Nothing was changed."};

std::string Text(const TMessage& message, const std::vector<std::string>& arguments) {
    return LocalizedMessage(message.key, arguments, message.english);
}

constexpr TMessage kDecipheredMemoHoldsNul{
    "DecipheredMemoHoldsNul",
    "The memo of branch \xE2\x80\x9C{0}\xE2\x80\x9D deciphers to a text holding the character NUL, "
    "which a memo cannot keep: the memo would be cut short. The branch stays locked. Nothing was changed."};

constexpr TMessage kCostlyKey{
    "CostlyKeyDerivation",
    "This branch asks for an unusually costly key derivation: {0} of memory and about {1} s for each "
    "attempt. A file made to tie the computer up could ask for this. Derive the key all the same?"};

constexpr std::string_view kWrongPassword = "The password is not the branch's password";

std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) {
        text.remove_suffix(1);
    }
    return text;
}

void RequireUtf8(std::string_view text) {
    if (!IsValidUtf8(text)) {
        ToUTF8(EscapeText(text)); // throws the writer's conversion error
    }
}

std::string_view PasswordOf(const TDomNode& element) {
    return element.AttributeView(PasswordAccess.Name());
}

bool IsToLock(const TDomNode& node) {
    return node.IsElement() && !PasswordOf(node).empty();
}

// Checks that one unlocked encrypted branch can be enciphered as it stands.
void RequireLockable(const TDomNode& element) {
    if (BranchCipherScheme(element) == TCipherScheme::Strong) {
        RequireHeldBranchKey(element);
        return;
    }
    const TCodePage& page = BranchCodePage(element);
    CompatiblePasswordBytes(PasswordOf(element), page);
    CompatibleMemoBytes(element, page);
}

// The unlocked encrypted branches in and below `top`, innermost first (children before their
// parent, siblings in order). With `check`, after checking that each can be locked.
std::vector<TDomNode> BranchesToLock(const TDomNode& top, bool check) {
    std::vector<TDomNode> order;
    size_t lockDepth = 0; // how many branches to lock enclose the current node
    auto enter = [&](const TDomNode& node) {
        const bool toLock = IsToLock(node);
        if (toLock) {
            if (check) {
                RequireLockable(node);
            }
            ++lockDepth;
        }
        if (lockDepth == 0 || !check) {
            return;
        }
        switch (node.Kind()) {
        case TDomNodeKind::Text:
            RequireUtf8(node.Text());
            break;
        case TDomNodeKind::Element:
            RequireUtf8(node.Name());
            for (TDomAttribute a = node.FirstAttribute(); a; a = a.Next()) {
                RequireUtf8(a.Name());
                RequireUtf8(a.Value());
            }
            break;
        default:
            throw Exception("Unsupported NodeType");
        }
    };
    auto leave = [&](const TDomNode& node) {
        if (IsToLock(node)) {
            --lockDepth;
            order.push_back(node);
        }
    };
    TDomNode current = top;
    while (current) {
        enter(current);
        if (TDomNode child = current.FirstChild()) {
            current = child;
            continue;
        }
        for (;;) {
            leave(current);
            if (current == top) {
                current = TDomNode();
                break;
            }
            if (TDomNode next = current.NextSibling()) {
                current = next;
                break;
            }
            current = current.Parent();
        }
    }
    return order;
}

// The value a strong branch is enciphered under: a version-1 value is written as version 2, the
// same key.
std::string SealingValue(const TDomNode& element) {
    const std::string_view value = element.AttributeView(EncryptionAccess.Name());
    const TStrongHeader header = ParseStrongHeader(value);
    return header.version == kNewestStrongVersion ? std::string(value)
                                                  : StrongValueInVersion(value, kNewestStrongVersion);
}

// Locks one unlocked encrypted branch whose encrypted descendants are locked already. Everything
// is computed before the element is changed; the plain texts made on the way are wiped.
void LockOne(const TDomNode& element) {
    const bool hasContent = element.HasChildNodes();
    std::string memo;
    std::string payload;
    std::string value; // strong: the "encryption" value the branch is sealed under
    std::string plain;
    try {
        if (BranchCipherScheme(element) == TCipherScheme::Strong) {
            const TStrongKey& key = RequireHeldBranchKey(element);
            value = SealingValue(element);
            const TSealBinding binding = NewSealBinding(kNewestStrongVersion, hasContent);
            memo =
                Base64Encode(key.Seal(element.AttributeView(MemoAccess.Name()), TSealedPart::Memo, binding));
            if (hasContent) {
                plain = ChildrenToText(element);
                payload = Base64Encode(key.Seal(plain, TSealedPart::Payload, binding));
            }
        } else {
            const TCodePage& page = BranchCodePage(element);
            const TSecret password = CompatiblePasswordBytes(PasswordOf(element), page);
            memo =
                Base64Encode(EncryptBranchText(CompatibleMemoBytes(element, page).View(), password.View()));
            if (hasContent) {
                plain = ChildrenToText(element);
                payload = Base64Encode(EncryptBranchText(plain, password.View()));
            }
        }
    } catch (...) {
        WipeString(plain);
        throw;
    }
    WipeString(plain);
    PasswordAccess.Delete(element);  // wiped
    MemoAccess.Write(element, memo); // the plain memo wiped
    if (!value.empty() && value != element.AttributeView(EncryptionAccess.Name())) {
        EncryptionAccess.Write(element, value);
    }
    if (hasContent) {
        element.RemoveAllChildren(); // their texts wiped
        AppendTextNode(element, payload);
    }
}

void LockBranches(const TDomNode& element) {
    for (const TDomNode& branch : BranchesToLock(element, true)) {
        LockOne(branch);
    }
}

void RemoveEncryption(const TDomNode& element) {
    PasswordAccess.Delete(element); // wiped
    EncryptionAccess.Delete(element);
    CodePageAccess.Delete(element);
}

// The deciphered memo of a compatible branch as UTF-8.
std::string DecipheredMemo(std::string_view bytes, const TCodePage& page, const TDomNode& element) {
    try {
        return page.ToUtf8(bytes);
    } catch (const ECodePage&) {
        std::string ignored;
        ignored.reserve(bytes.size() * 3);
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            if (!page.AppendByteAsUtf8(ignored, byte)) {
                WipeString(ignored);
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", byte);
                throw ECodePage(
                    Text(kDecipheredByteUndefined, {TitleAccess.Read(element), hex, page.Name()}));
            }
        }
        throw;
    }
}

[[noreturn]] void FailDamaged(const TDomNode& element) {
    throw EDamagedBranch(Text(kBranchContentDamaged, {TitleAccess.Read(element)}));
}

// A sealed text of a strong branch, opened; damage is EDamagedBranch.
std::string OpenSealed(const TStrongKey& key, std::string_view base64, TSealedPart part,
                       const TSealBinding& binding, const TDomNode& element) {
    if (base64.size() % 4 != 0) {
        FailDamaged(element);
    }
    std::optional<std::string> plain = key.Open(Base64Decode(base64), part, binding);
    if (!plain) {
        FailDamaged(element);
    }
    if (!IsValidUtf8(*plain)) {
        WipeString(*plain);
        FailDamaged(element);
    }
    return std::move(*plain);
}

} // namespace

std::string_view CipherSchemeName(TCipherScheme scheme) {
    return scheme == TCipherScheme::Strong ? "strong" : "compatible";
}

std::optional<TCipherScheme> CipherSchemeFromName(std::string_view name) {
    for (TCipherScheme scheme : {TCipherScheme::Compatible, TCipherScheme::Strong}) {
        if (name == CipherSchemeName(scheme)) {
            return scheme;
        }
    }
    return std::nullopt;
}

TCipherScheme BranchCipherScheme(const TDomNode& element) {
    return IsStrongEncryptionValue(element.AttributeView(EncryptionAccess.Name()))
               ? TCipherScheme::Strong
               : TCipherScheme::Compatible;
}

const TCodePage& BranchCodePage(const TDomNode& element) {
    const std::string_view recorded = element.AttributeView(CodePageAccess.Name());
    return recorded.empty() ? CurrentCodePage() : TCodePage::Get(std::string(recorded));
}

const TStrongKey& RequireHeldBranchKey(const TDomNode& element) {
    const TStrongKey* key = HeldBranchKey(element);
    if (key == nullptr) {
        throw Exception(Text(kBranchKeyUnavailable, {TitleAccess.Read(element)}));
    }
    return *key;
}

EUnencipherable::EUnencipherable(TCipherField field, std::string codePage, std::string_view branchTitle)
    : ECodePage(field == TCipherField::Password
                    ? Text(kPasswordOutsideCodePage, {codePage})
                    : Text(kMemoOutsideCodePage, {std::string(branchTitle), codePage})),
      field_(field), codePage_(std::move(codePage)) {}

TSecret CompatiblePasswordBytes(std::string_view password, const TCodePage& codePage) {
    if (!codePage.CanRepresent(password)) {
        throw EUnencipherable(TCipherField::Password, codePage.Name(), {});
    }
    std::string bytes = codePage.FromUtf8(password); // reserved to its final size: never moved
    return TSecret::Adopt(bytes);
}

TSecret CompatibleMemoBytes(const TDomNode& element, const TCodePage& codePage) {
    const std::string_view memo = element.AttributeView(MemoAccess.Name());
    if (!codePage.CanRepresent(memo)) {
        throw EUnencipherable(TCipherField::Memo, codePage.Name(), TitleAccess.Read(element));
    }
    std::string bytes = codePage.FromUtf8(memo); // reserved to its final size: never moved
    return TSecret::Adopt(bytes);
}

ECostlyKey::ECostlyKey(TKeyDerivationCost cost) : Exception(CostlyKeyQuestion(cost)), cost_(cost) {}

std::string CostlyKeyQuestion(TKeyDerivationCost cost) {
    const auto seconds = (EstimatedDerivationTime(cost).count() + 500) / 1000;
    return Text(kCostlyKey, {DerivationMemoryText(cost), std::to_string(seconds)});
}

std::optional<TKeyDerivationCost> BranchKeyCost(const TDomNode& element) {
    const std::string_view value = element.AttributeView(EncryptionAccess.Name());
    if (!IsStrongEncryptionValue(value)) {
        return std::nullopt;
    }
    try {
        return ParseStrongHeader(value).cost;
    } catch (const EStrongValue& e) {
        if (e.Reason() == EStrongValue::Malformed) {
            FailDamaged(element);
        }
        throw EDamagedBranch(Text(kBranchEncryptionUnreadable, {TitleAccess.Read(element), e.Detail()}));
    }
}

std::string BranchPasswordDigest(std::string_view password) {
    return PasswordDigest(CompatiblePasswordBytes(password, CurrentCodePage()).View());
}

TBranchUnlockKey::TBranchUnlockKey(TBranchUnlockKey&&) noexcept = default;
TBranchUnlockKey& TBranchUnlockKey::operator=(TBranchUnlockKey&&) noexcept = default;
TBranchUnlockKey::~TBranchUnlockKey() = default;

TBranchUnlockRequest PrepareBranchUnlock(const TDomNode& element, TCostlyKey costly) {
    if (!EncryptionAccess.Exists(element)) {
        throw Exception("The node is not encrypted");
    }
    TBranchUnlockRequest request;
    request.encryptionValue_ = EncryptionAccess.Read(element);
    if (const std::optional<TKeyDerivationCost> cost = BranchKeyCost(element)) {
        if (IsCostlyKeyCost(*cost) && costly == TCostlyKey::Refuse) {
            throw ECostlyKey(*cost);
        }
        request.scheme_ = TCipherScheme::Strong;
        if (IsWeakKeyCost(*cost)) {
            request.raisedCost_ = RaisedKeyCost(*cost);
        }
    } else {
        request.codePage_ = BranchCodePage(element).Name();
    }
    return request;
}

std::optional<TBranchUnlockKey> VerifyBranchPassword(const TBranchUnlockRequest& request,
                                                     std::string_view password) {
    TBranchUnlockKey key;
    key.encryptionValue_ = request.encryptionValue_;
    key.scheme_ = request.scheme_;
    if (request.scheme_ == TCipherScheme::Strong) {
        key.strongKey_ = OpenStrongKey(password, key.encryptionValue_);
        if (!key.strongKey_) {
            return std::nullopt;
        }
        if (request.raisedCost_) {
            TNewStrongKey raised = CreateStrongKey(password, *request.raisedCost_);
            key.raisedKey_ = std::move(raised.key);
            key.upgradedValue_ = std::move(raised.encryptionValue);
        } else if (ParseStrongHeader(key.encryptionValue_).version != kNewestStrongVersion) {
            key.upgradedValue_ = StrongValueInVersion(key.encryptionValue_, kNewestStrongVersion);
        }
        return key;
    }
    const TCodePage& page = TCodePage::Get(request.codePage_);
    if (!page.CanRepresent(password)) {
        return std::nullopt;
    }
    if (PasswordDigest(CompatiblePasswordBytes(password, page).View()) != key.encryptionValue_) {
        return std::nullopt;
    }
    key.password_ = TSecret(password);
    key.codePage_ = page.Name();
    return key;
}

std::optional<TBranchUnlockKey> VerifyBranchPassword(const TDomNode& element, std::string_view password,
                                                     TCostlyKey costly) {
    return VerifyBranchPassword(PrepareBranchUnlock(element, costly), password);
}

bool CheckBranchPassword(const TDomNode& element, std::string_view password, TCostlyKey costly) {
    return VerifyBranchPassword(element, password, costly).has_value();
}

namespace {

// A password is set on an unlocked branch only; an empty one removes the encryption. Says
// whether it did, so that nothing is left for the caller to do.
bool RemovedForEmptyPassword(const TDomNode& element, std::string_view password) {
    if (IsBranchLocked(element)) {
        throw Exception("The branch is locked");
    }
    if (!password.empty()) {
        return false;
    }
    RemoveEncryption(element);
    ForgetUnusedBranchKeys();
    return true;
}

} // namespace

namespace {

// A plain branch that gets a password: what its plain text was may stand in the file and its
// backups.
void NotePlainTextEnciphered(const TDomNode& element, bool wasPlain) {
    if (wasPlain) {
        if (TDomDocument* document = TDomDocument::DocumentOf(element)) {
            document->MarkPlainTextEnciphered();
        }
    }
}

} // namespace

void SetBranchPassword(const TDomNode& element, std::string_view password, TCipherScheme scheme) {
    if (RemovedForEmptyPassword(element, password)) {
        return;
    }
    const bool wasPlain = !EncryptionAccess.Exists(element);
    if (scheme == TCipherScheme::Compatible) {
        const TCodePage& page = CurrentCodePage();
        const std::string digest = PasswordDigest(CompatiblePasswordBytes(password, page).View());
        CompatibleMemoBytes(element, page);
        PasswordAccess.Delete(element); // wiped
        EncryptionAccess.Write(element, digest);
        CodePageAccess.Write(element, page.Name());
        PasswordAccess.Write(element, password);
    } else {
        TNewStrongKey created = CreateStrongKey(password);
        const std::string token = HoldBranchKey(std::move(created.key), created.encryptionValue);
        PasswordAccess.Delete(element); // wiped
        EncryptionAccess.Write(element, created.encryptionValue);
        CodePageAccess.Delete(element);
        PasswordAccess.Write(element, token);
    }
    NotePlainTextEnciphered(element, wasPlain);
    ForgetUnusedBranchKeys(); // the key of a strong password replaced here
}

void SetBranchPassword(const TDomNode& element, std::string_view password) {
    if (RemovedForEmptyPassword(element, password)) {
        return;
    }
    const bool wasPlain = !EncryptionAccess.Exists(element);
    const std::string digest =
        PasswordDigest(CompatiblePasswordBytes(password, BranchCodePage(element)).View());
    PasswordAccess.Delete(element); // wiped
    PasswordAccess.Write(element, password);
    EncryptionAccess.Write(element, digest);
    NotePlainTextEnciphered(element, wasPlain);
    ForgetUnusedBranchKeys();
}

void EncipherBranch(const TDomNode& element) {
    LockBranches(element);
    ForgetUnusedBranchKeys();
}

std::vector<TLockFailure> LockAllBranches(const TDomNode& root) {
    std::vector<TLockFailure> failures;
    for (const TDomNode& branch : BranchesToLock(root, false)) {
        // The branches inside are locked already, or failed and fail this one again.
        try {
            LockBranches(branch);
        } catch (const Exception& e) {
            failures.push_back({branch, e.Message()});
        }
    }
    ForgetUnusedBranchKeys();
    return failures;
}

bool DecipherBranchElement(const TDomNode& element, TBranchUnlockKey&& key,
                           const std::function<void()>& beforeChange) {
    if (!EncryptionAccess.Exists(element)) {
        throw Exception("The node is not encrypted");
    }
    if (!IsBranchLocked(element)) {
        throw Exception("The branch is not locked");
    }
    if (EncryptionAccess.Read(element) != key.encryptionValue_) {
        throw Exception(std::string(kWrongPassword));
    }
    const bool strong = key.scheme_ == TCipherScheme::Strong;
    const std::string_view storedMemo = element.AttributeView(MemoAccess.Name());
    // The deciphered texts, wiped whichever way this ends.
    struct TPlainTexts {
        std::string memo;
        std::string payload;
        TSecret fragment;
        ~TPlainTexts() {
            WipeString(memo);
            WipeString(payload);
        }
    } plain;
    const bool hasContent = element.HasChildNodes();
    TDomNode payload = element.FirstChild();
    if (hasContent && (!payload.IsText() || payload.NextSibling())) {
        if (strong) {
            FailDamaged(element);
        }
        throw Exception("The enciphered content of the branch is damaged: it is not a single text");
    }
    if (strong) {
        TSealBinding binding{ParseStrongHeader(key.encryptionValue_).version, {}, hasContent};
        plain.memo = OpenSealed(*key.strongKey_, storedMemo, TSealedPart::Memo, binding, element);
        if (hasContent) {
            if (binding.version != TStrongVersion::V1) {
                binding.identity = SealedMemoIdentity(Base64Decode(storedMemo)).value_or(std::string());
            }
            plain.payload = OpenSealed(*key.strongKey_, TrimControls(payload.Text()), TSealedPart::Payload,
                                       binding, element);
        }
    } else {
        const TCodePage& page = TCodePage::Get(key.codePage_);
        const TSecret password = CompatiblePasswordBytes(key.password_.View(), page);
        std::string bytes = DecryptBranchText(Base64Decode(storedMemo), password.View());
        try {
            plain.memo = DecipheredMemo(bytes, page, element);
        } catch (...) {
            WipeString(bytes);
            throw;
        }
        WipeString(bytes);
        if (hasContent) {
            plain.payload = DecryptBranchText(Base64Decode(TrimControls(payload.Text())), password.View());
        }
    }
    if (plain.memo.find('\0') != std::string::npos) {
        throw EDamagedBranch(Text(kDecipheredMemoHoldsNul, {TitleAccess.Read(element)}));
    }
    TDomDocument fragment; // wipes what it holds when it goes
    if (hasContent) {
        WatchForStoredPasswords(fragment);
        constexpr std::string_view kOpen = "<x>";
        constexpr std::string_view kClose = "</x>";
        plain.fragment.Reserve(kDocumentDeclaration.size() + kOpen.size() + plain.payload.size() +
                               kClose.size());
        plain.fragment.Append(kDocumentDeclaration);
        plain.fragment.Append(kOpen);
        plain.fragment.Append(plain.payload);
        plain.fragment.Append(kClose);
        WipeString(plain.payload);
        fragment.LoadXML(plain.fragment.View());
        RequireElementsAndText(fragment.DocumentElement());
        ForgetStoredPasswords(fragment, fragment.DocumentElement());
    }
    if (beforeChange) {
        beforeChange();
    }

    // Nothing below can fail for a reason of the data.
    if (strong) {
        if (key.upgradedValue_) {
            EncryptionAccess.Write(element, *key.upgradedValue_);
            key.encryptionValue_ = *key.upgradedValue_;
            if (key.raisedKey_) {
                key.strongKey_ = std::move(key.raisedKey_);
            }
        }
        PasswordAccess.Write(element, HoldBranchKey(std::move(*key.strongKey_), key.encryptionValue_));
    } else {
        PasswordAccess.Write(element, key.password_.View());
    }
    MemoAccess.Write(element, plain.memo);
    if (hasContent) {
        element.RemoveAllChildren();
        for (TDomNode child = fragment.DocumentElement().FirstChild(); child; child = child.NextSibling()) {
            element.AppendCopy(child);
        }
    }
    return hasContent;
}

bool DecipherBranchElement(const TDomNode& element, std::string_view password) {
    if (!EncryptionAccess.Exists(element)) {
        throw Exception("The node is not encrypted");
    }
    if (!IsBranchLocked(element)) {
        throw Exception("The branch is not locked");
    }
    std::optional<TBranchUnlockKey> key = VerifyBranchPassword(element, password);
    if (!key) {
        throw Exception(std::string(kWrongPassword));
    }
    return DecipherBranchElement(element, std::move(*key));
}

void WatchForStoredPasswords(TDomDocument& document) {
    document.WatchAttribute(PasswordAccess.Name());
}

size_t ForgetStoredPasswords(const TDomDocument& document, const TDomNode& top) {
    if (!top || !document.MayHoldAttribute(PasswordAccess.Name())) {
        return 0;
    }
    size_t removed = 0;
    TDomNode node = top;
    while (node) {
        while (node.HasAttribute(PasswordAccess.Name())) { // every one, should an element carry two
            node.RemoveAttribute(PasswordAccess.Name());
            ++removed;
        }
        if (TDomNode child = node.FirstChild(); child && node.IsElement()) {
            node = child;
            continue;
        }
        while (node != top && !node.NextSibling()) {
            node = node.Parent();
        }
        node = node == top ? TDomNode() : node.NextSibling();
    }
    return removed;
}

} // namespace ludex
