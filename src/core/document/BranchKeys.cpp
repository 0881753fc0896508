#include "core/document/BranchKeys.h"

#include "core/crypto/Cipher.h"
#include "core/document/DomService.h"
#include "core/document/XMLNodeAccess.h"

#include <map>
#include <set>

namespace ludex {

namespace {

// Tokens are this prefix and 32 hexadecimal digits of random bytes; a password is free to look
// the same, since the scheme of a branch is told by its "encryption" value alone.
constexpr std::string_view kTokenPrefix = "strong-key:";

struct THeldKey {
    std::string encryptionValue;
    TStrongKey key;
};

using TKeys = std::map<std::string, THeldKey, std::less<>>;

TKeys& Keys() {
    // Never destroyed: documents destroyed late in the process's exit still look here.
    static auto* keys = new TKeys;
    return *keys;
}

std::string NewToken() {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token(kTokenPrefix);
    for (const char byte : RandomBytes(16)) {
        token += kHex[static_cast<unsigned char>(byte) >> 4];
        token += kHex[static_cast<unsigned char>(byte) & 0x0F];
    }
    return token;
}

// Adds to `used` the tokens in `keys` that an element at or below `top` names, until all are.
void CollectUsedTokens(const TDomNode& top, const TKeys& keys, std::set<std::string_view>& used) {
    TDomNode current = top;
    while (current && used.size() < keys.size()) {
        if (current.IsElement()) {
            const std::string_view token = current.AttributeView(PasswordAccess.Name());
            if (const auto it = keys.find(token); it != keys.end()) {
                used.insert(it->first);
            }
        }
        if (TDomNode child = current.FirstChild()) {
            current = child;
            continue;
        }
        while (current && current != top && !current.NextSibling()) {
            current = current.Parent();
        }
        current = current && current != top ? current.NextSibling() : TDomNode();
    }
}

} // namespace

std::string HoldBranchKey(TStrongKey key, std::string_view encryptionValue) {
    AwaitReadingsAside(); // a document's text being made aside looks keys up
    std::string token = NewToken();
    Keys().emplace(token, THeldKey{std::string(encryptionValue), std::move(key)});
    SetDocumentDisposalObserver(&ForgetUnusedBranchKeys);
    return token;
}

const TStrongKey* HeldBranchKey(std::string_view token, std::string_view encryptionValue) {
    if (!IsBranchKeyToken(token)) {
        return nullptr;
    }
    const auto it = Keys().find(token);
    if (it == Keys().end() || it->second.encryptionValue != encryptionValue) {
        return nullptr;
    }
    return &it->second.key;
}

const TStrongKey* HeldBranchKey(const TDomNode& element) {
    return HeldBranchKey(element.AttributeView(PasswordAccess.Name()),
                         element.AttributeView(EncryptionAccess.Name()));
}

bool IsBranchKeyToken(std::string_view value) {
    return value.size() == kTokenPrefix.size() + 32 && value.substr(0, kTokenPrefix.size()) == kTokenPrefix;
}

void ForgetUnusedBranchKeys() noexcept {
    AwaitReadingsAside();
    TKeys& keys = Keys();
    if (keys.empty()) {
        return;
    }
    try {
        std::set<std::string_view> used;
        // A branch kept aside (by the history, to be put back) still needs its key.
        ForEachLiveDocument([&](const TDomDocument& document) {
            CollectUsedTokens(document.DocumentElement(), keys, used);
            for (const TDomNode& aside : document.SetAsideElements()) {
                CollectUsedTokens(aside, keys, used);
            }
        });
        std::erase_if(keys, [&](const auto& entry) { return used.count(entry.first) == 0; });
    } catch (...) {
        // Out of memory while looking: every key stays until the next time.
    }
}

size_t HeldBranchKeyCount() {
    return Keys().size();
}

} // namespace ludex
