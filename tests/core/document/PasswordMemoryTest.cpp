// After every encrypted branch has been locked, no copy of a password is left anywhere in the
// process's memory: heap, stack, the documents' own memory, libraries' buffers.
//
// The test must itself never hold a password in plain where it could linger: the passwords are
// kept masked (each byte XOR kMask) and unmasked only into wiping buffers, and the memory is
// searched byte by byte against the masked form.
#include "core/crypto/Secret.h"
#include "core/document/BranchCipher.h"
#include "core/document/BranchCopy.h"
#include "core/document/BranchKeys.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"

#include "support/MaskedSecret.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace ludex;
using namespace ludex::testing;

namespace {

// The masked forms below were made by Masked() from the passwords in the comments.
// "Ёлка-strong-🔑-7f3a9c": Cyrillic, ASCII and an emoji, for the strong scheme.
const std::vector<unsigned char> kStrongPassword = {0x8a, 0xdb, 0x8a, 0xe1, 0x8a, 0xe0, 0x8a, 0xea, 0x77,
                                                    0x29, 0x2e, 0x28, 0x35, 0x34, 0x3d, 0x77, 0xaa, 0xc5,
                                                    0xce, 0xcb, 0x77, 0x6d, 0x3c, 0x69, 0x3b, 0x63, 0x39};
// "Пароль-compat-5b1e8d": Cyrillic that windows-1251 holds, for the compatible scheme.
const std::vector<unsigned char> kCompatiblePassword = {0x8a, 0xc5, 0x8a, 0xea, 0x8b, 0xda, 0x8a, 0xe4, 0x8a,
                                                        0xe1, 0x8b, 0xd6, 0x77, 0x39, 0x35, 0x37, 0x2a, 0x3b,
                                                        0x2e, 0x77, 0x6f, 0x38, 0x6b, 0x3f, 0x62, 0x3e};

TEST(PasswordMemoryTest, NoPasswordIsLeftAfterEveryBranchIsLocked) {
    const TStrongKeyCostForTests cheap({1, 8});
    SetCurrentCodePage("windows-1251");
    const std::vector<unsigned char> compatibleBytes = MaskedCodePageBytes(kCompatiblePassword);

    TDomDocument doc;
    doc.LoadXML("<ludex title=\"root\"><s title=\"strong\" memo=\"first\"><n title=\"under strong\"/></s>"
                "<c title=\"compatible\" memo=\"second\"><n title=\"under compatible\"/></c></ludex>");
    const TDomNode s = doc.DocumentElement().FirstChild();
    const TDomNode c = s.NextSibling();
    SetBranchPassword(s, Unmasked(kStrongPassword).View(), TCipherScheme::Strong);
    SetBranchPassword(c, Unmasked(kCompatiblePassword).View(), TCipherScheme::Compatible);
    const std::string file = DocumentToText(doc.DocumentElement());
    ASSERT_TRUE(LockAllBranches(doc.DocumentElement()).empty());

    // Unlocked again in both ways the window and the command line use, edited and saved.
    {
        const TSecret password = Unmasked(kStrongPassword);
        std::optional<TBranchUnlockKey> key = VerifyBranchPassword(s, password.View());
        ASSERT_TRUE(key.has_value());
        DecipherBranchElement(s, std::move(*key));
    }
    {
        const TSecret password = Unmasked(kCompatiblePassword);
        ASSERT_TRUE(CheckBranchPassword(c, password.View()));
        DecipherBranchElement(c, password.View());
    }
    MemoAccess.Write(s, "first, edited");
    MemoAccess.Write(c, "second, edited");
    DocumentToText(doc.DocumentElement());

    // The saved file opened as a second document, its branches unlocked there too.
    TDomDocument second;
    second.LoadBytes(file, "saved");
    for (const auto& [branch, masked] :
         {std::pair{second.DocumentElement().FirstChild(), &kStrongPassword},
          std::pair{second.DocumentElement().LastChild(), &kCompatiblePassword}}) {
        const TSecret password = Unmasked(*masked);
        DecipherBranchElement(branch, password.View());
    }
    // The search finds what is there: the compatible password stands in both unlocked branches.
    ASSERT_GE(CopiesInMemory(kCompatiblePassword), 2u);

    // An unlocked branch cut from one document and pasted into the other; a third document
    // closed while its branch is unlocked.
    CopyBranch(second.DocumentElement(), c);
    doc.DocumentElement().RemoveChild(c);
    {
        TDomDocument third;
        third.LoadBytes(file, "saved");
        const TSecret password = Unmasked(kCompatiblePassword);
        DecipherBranchElement(third.DocumentElement().LastChild(), password.View());
    }

    ASSERT_TRUE(LockAllBranches(doc.DocumentElement()).empty());
    ASSERT_TRUE(LockAllBranches(second.DocumentElement()).empty());
    EXPECT_EQ(HeldBranchKeyCount(), 0u);
    EXPECT_EQ(CopiesInMemory(kStrongPassword), 0u);
    EXPECT_EQ(CopiesInMemory(kCompatiblePassword), 0u);
    EXPECT_EQ(CopiesInMemory(compatibleBytes), 0u);
}

// "Memo-7d1c-Тайна-🗝" and "Child-memo-4b8e-Ёжик": the memo of an encrypted branch and of its
// plain sub-branches (and of a compatible branch), held masked as the passwords are.
const std::vector<unsigned char> kMemo = {0x17, 0x3f, 0x37, 0x35, 0x77, 0x6d, 0x3e, 0x6b, 0x39,
                                          0x77, 0x8a, 0xf8, 0x8a, 0xea, 0x8a, 0xe3, 0x8a, 0xe7,
                                          0x8a, 0xea, 0x77, 0xaa, 0xc5, 0xcd, 0xc7};
const std::vector<unsigned char> kChildMemo = {0x19, 0x32, 0x33, 0x36, 0x3e, 0x77, 0x37, 0x3f,
                                               0x37, 0x35, 0x77, 0x6e, 0x38, 0x62, 0x3f, 0x77,
                                               0x8a, 0xdb, 0x8a, 0xec, 0x8a, 0xe2, 0x8a, 0xe0};

// After a branch is locked, or its document is gone, no copy of what its unlocking deciphered
// stays: not in the document's parsed text, not in the strings made to decipher, save, copy or
// lock it. While it is unlocked the search finds the memos (so that it can find them at all).
TEST(PasswordMemoryTest, NoDecipheredMemoIsLeftAfterTheBranchIsLocked) {
    const TStrongKeyCostForTests cheap({1, 8});
    SetCurrentCodePage("windows-1251");
    std::string file;
    {
        TDomDocument doc;
        doc.LoadXML("<ludex title=\"root\"><s title=\"strong\"><n title=\"child\"/></s>"
                    "<c title=\"compatible\"><n title=\"child\"/></c></ludex>");
        // The compatible branch's memo must fit windows-1251: it is the child memo again.
        for (const TDomNode& branch : doc.DocumentElement().ChildNodes()) {
            MemoAccess.Write(branch, Unmasked(branch.Name() == "s" ? kMemo : kChildMemo).View());
            MemoAccess.Write(branch.FirstChild(), Unmasked(kChildMemo).View());
        }
        SetBranchPassword(doc.DocumentElement().FirstChild(), "pw", TCipherScheme::Strong);
        SetBranchPassword(doc.DocumentElement().LastChild(), "pw", TCipherScheme::Compatible);
        file = DocumentToText(doc.DocumentElement());
    }
    ASSERT_EQ(CopiesInMemory(kMemo), 0u);
    const std::vector<unsigned char> memoBytes = MaskedCodePageBytes(kChildMemo);
    using TLock = std::function<void(std::unique_ptr<TDomDocument>&)>;
    const struct {
        const char* what;
        TLock lock;
    } paths[] = {
        {"each branch locked",
         [](auto& doc) {
             for (const TDomNode& branch : doc->DocumentElement().ChildNodes()) {
                 EncipherBranch(branch);
             }
         }},
        {"every branch locked at once",
         [](auto& doc) { ASSERT_TRUE(LockAllBranches(doc->DocumentElement()).empty()); }},
        {"the document closed", [](auto& doc) { doc.reset(); }},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.what);
        auto doc = std::make_unique<TDomDocument>();
        doc->LoadBytes(file, "saved");
        for (const TDomNode& branch : doc->DocumentElement().ChildNodes()) {
            ASSERT_TRUE(DecipherBranchElement(branch, "pw"));
        }
        // Saved twice, a branch copied within the document and the copy removed, an edit.
        DocumentToText(doc->DocumentElement());
        CopyBranch(doc->DocumentElement(), doc->DocumentElement().FirstChild());
        DocumentToText(doc->DocumentElement());
        doc->DocumentElement().RemoveChild(doc->DocumentElement().LastChild());
        MemoAccess.Write(doc->DocumentElement().FirstChild().FirstChild(), Unmasked(kChildMemo).View());
        EXPECT_GE(CopiesInMemory(kMemo), 1u);
        EXPECT_GE(CopiesInMemory(kChildMemo), 1u);
        path.lock(doc);
        EXPECT_EQ(CopiesInMemory(kMemo), 0u);
        EXPECT_EQ(CopiesInMemory(kChildMemo), 0u);
        EXPECT_EQ(CopiesInMemory(memoBytes), 0u);
    }
}

} // namespace
