#include "core/document/BranchCipher.h"

#include "core/crypto/Cipher.h"
#include "core/document/BranchCopy.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"
#include "core/text/Utf8.h"

#include <string>
#include <vector>

namespace ludex {

namespace {

// The bytes that enter the cipher for a memo or password.
std::string CodePageBytes(std::string_view utf8) {
    return CurrentCodePage().FromUtf8(utf8);
}

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

// The unlocked encrypted branches in and below `top`, innermost first (children before their
// parent, siblings in order), after checking that each can be locked.
std::vector<TDomNode> BranchesToLock(const TDomNode& top) {
    std::vector<TDomNode> order;
    size_t lockDepth = 0; // how many branches to lock enclose the current node
    auto enter = [&](const TDomNode& node) {
        TDomNodeKind kind = node.Kind();
        bool toLock = kind == TDomNodeKind::Element && !PasswordAccess.Read(node).empty();
        if (toLock) {
            CodePageBytes(PasswordAccess.Read(node));
            CodePageBytes(MemoAccess.Read(node));
            ++lockDepth;
        }
        if (lockDepth == 0) {
            return;
        }
        if (kind == TDomNodeKind::Text) {
            RequireUtf8(node.Text());
        } else if (kind == TDomNodeKind::Element) {
            RequireUtf8(node.Name());
            for (TDomAttribute a = node.FirstAttribute(); a; a = a.Next()) {
                RequireUtf8(a.Name());
                RequireUtf8(a.Value());
            }
        } else {
            throw Exception("Unsupported NodeType");
        }
    };
    auto leave = [&](const TDomNode& node) {
        if (node.IsElement() && !PasswordAccess.Read(node).empty()) {
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

// Locks one unlocked encrypted branch whose encrypted descendants are locked already. Everything
// is computed before the element is changed.
void LockOne(const TDomNode& element) {
    const std::string password = CodePageBytes(PasswordAccess.Read(element));
    const std::string memo =
        Base64Encode(EncryptBranchText(CodePageBytes(MemoAccess.Read(element)), password));
    const bool hasContent = element.HasChildNodes();
    std::string payload;
    if (hasContent) {
        payload = Base64Encode(EncryptBranchText(ChildrenToText(element), password));
    }
    PasswordAccess.Delete(element);
    MemoAccess.Write(element, memo);
    if (hasContent) {
        element.RemoveAllChildren();
        AppendTextNode(element, payload);
    }
}

} // namespace

std::string BranchPasswordDigest(std::string_view password) {
    return PasswordDigest(CodePageBytes(password));
}

bool CheckBranchPassword(const TDomNode& element, std::string_view password) {
    if (!EncryptionAccess.Exists(element)) {
        throw Exception("The node is not encrypted");
    }
    if (!CurrentCodePage().CanRepresent(password)) {
        return false;
    }
    return BranchPasswordDigest(password) == EncryptionAccess.Read(element);
}

void SetBranchPassword(const TDomNode& element, std::string_view password) {
    if (IsBranchLocked(element)) {
        throw Exception("The branch is locked");
    }
    if (password.empty()) {
        PasswordAccess.Delete(element);
        EncryptionAccess.Delete(element);
        return;
    }
    const std::string digest = BranchPasswordDigest(password);
    PasswordAccess.Write(element, password);
    EncryptionAccess.Write(element, digest);
}

void EncipherBranch(const TDomNode& element) {
    for (const TDomNode& branch : BranchesToLock(element)) {
        LockOne(branch);
    }
}

bool DecipherBranchElement(const TDomNode& element, std::string_view password) {
    if (!EncryptionAccess.Exists(element)) {
        throw Exception("The node is not encrypted");
    }
    if (!IsBranchLocked(element)) {
        throw Exception("The branch is not locked");
    }
    if (!CheckBranchPassword(element, password)) {
        throw Exception("The password is not the branch's password");
    }
    const std::string key = CodePageBytes(password);
    const std::string memo =
        CurrentCodePage().ToUtf8(DecryptBranchText(Base64Decode(MemoAccess.Read(element)), key));

    const bool hasContent = element.HasChildNodes();
    TDomDocument fragment;
    if (hasContent) {
        TDomNode payload = element.FirstChild();
        if (!payload.IsText() || payload.NextSibling()) {
            throw Exception("The enciphered content of the branch is damaged: it is not a single text");
        }
        std::string plain = DecryptBranchText(Base64Decode(TrimControls(payload.Text())), key);
        fragment.LoadXML(std::string(kDocumentDeclaration) + "<x>" + plain + "</x>");
        RequireElementsAndText(fragment.DocumentElement());
    }

    // Nothing below can fail for a reason of the data.
    PasswordAccess.Write(element, password);
    MemoAccess.Write(element, memo);
    if (hasContent) {
        element.RemoveAllChildren();
        for (TDomNode child = fragment.DocumentElement().FirstChild(); child; child = child.NextSibling()) {
            element.AppendCopy(child);
        }
    }
    return hasContent;
}

} // namespace ludex
