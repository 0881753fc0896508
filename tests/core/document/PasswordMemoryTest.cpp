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

} // namespace
