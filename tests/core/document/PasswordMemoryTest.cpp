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

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

using namespace ludex;

namespace {

constexpr unsigned char kMask = 0x5A;

std::vector<unsigned char> Masked(std::string_view plain) {
    std::vector<unsigned char> masked;
    for (const char c : plain) {
        masked.push_back(static_cast<unsigned char>(c) ^ kMask);
    }
    return masked;
}

// The masked forms below were made by Masked() from the passwords in the comments.
// "Ёлка-strong-🔑-7f3a9c": Cyrillic, ASCII and an emoji, for the strong scheme.
const std::vector<unsigned char> kStrongPassword = {0x8a, 0xdb, 0x8a, 0xe1, 0x8a, 0xe0, 0x8a, 0xea, 0x77,
                                                    0x29, 0x2e, 0x28, 0x35, 0x34, 0x3d, 0x77, 0xaa, 0xc5,
                                                    0xce, 0xcb, 0x77, 0x6d, 0x3c, 0x69, 0x3b, 0x63, 0x39};
// "Пароль-compat-5b1e8d": Cyrillic that windows-1251 holds, for the compatible scheme.
const std::vector<unsigned char> kCompatiblePassword = {0x8a, 0xc5, 0x8a, 0xea, 0x8b, 0xda, 0x8a, 0xe4, 0x8a,
                                                        0xe1, 0x8b, 0xd6, 0x77, 0x39, 0x35, 0x37, 0x2a, 0x3b,
                                                        0x2e, 0x77, 0x6f, 0x38, 0x6b, 0x3f, 0x62, 0x3e};

TSecret Unmasked(const std::vector<unsigned char>& masked) {
    TSecret plain;
    for (const unsigned char m : masked) {
        const char c = static_cast<char>(m ^ kMask);
        plain.Append(std::string_view(&c, 1));
    }
    return plain;
}

std::vector<unsigned char> MaskedCodePageBytes(const std::vector<unsigned char>& masked) {
    const TSecret plain = Unmasked(masked);
    std::string bytes = CurrentCodePage().FromUtf8(plain.View());
    std::vector<unsigned char> result = Masked(bytes);
    WipeString(bytes);
    return result;
}

// How often the masked text stands in the readable memory of the process.
size_t CopiesInMemory(const std::vector<unsigned char>& masked) {
    std::ifstream maps("/proc/self/maps");
    const int mem = open("/proc/self/mem", O_RDONLY);
    EXPECT_GE(mem, 0);
    std::vector<unsigned char> chunk(1 << 20);
    size_t copies = 0;
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, path;
        fields >> range >> permissions >> offset >> device >> inode >> path;
        const size_t dash = range.find('-');
        const uint64_t begin = std::stoull(range.substr(0, dash), nullptr, 16);
        const uint64_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        // The sanitizers' shadow memory spans terabytes and holds no text.
        if (permissions[0] != 'r' || path == "[vvar]" || path == "[vsyscall]" || end - begin > (1ull << 32)) {
            continue;
        }
        // Pieces overlap by the text's length less one, so that no copy is cut in two.
        for (uint64_t at = begin; at < end;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), end - at));
            const ssize_t got = pread(mem, chunk.data(), want, static_cast<off_t>(at));
            if (got <= 0) {
                break; // a guard page: nothing readable beyond it in this range
            }
            const size_t n = static_cast<size_t>(got);
            for (size_t i = 0; i + masked.size() <= n; ++i) {
                size_t j = 0;
                while (j < masked.size() && (chunk[i + j] ^ kMask) == masked[j]) {
                    ++j;
                }
                copies += j == masked.size();
            }
            if (at + n >= end || n < masked.size()) {
                break;
            }
            at += n - (masked.size() - 1);
        }
    }
    close(mem);
    return copies;
}

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
