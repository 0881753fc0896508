// ludex-cli leaves no copy of a password, or of the bytes its key set-up made from it, in its
// memory, whichever way a command ends. The commands run in this process, so that its whole
// memory (heap, stack, library buffers) can be searched afterwards; the password is held here
// only masked, and the password file is written without a buffer of the standard library.
#include "cli/Commands.h"
#include "core/crypto/StrongCipher.h"
#include "core/text/CodePage.h"

#include "support/MaskedSecret.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

using namespace ludex;
using namespace ludex::testing;

namespace {

// "Пароль-cli-3e9d0b": Cyrillic that windows-1251 holds, so that both schemes take it.
const std::vector<unsigned char> kPassword = {0x8a, 0xc5, 0x8a, 0xea, 0x8b, 0xda, 0x8a, 0xe4,
                                              0x8a, 0xe1, 0x8b, 0xd6, 0x77, 0x39, 0x36, 0x33,
                                              0x77, 0x69, 0x3f, 0x63, 0x3e, 0x6a, 0x38};

void WriteMasked(const std::string& path, const std::vector<unsigned char>& masked, std::string_view tail) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const TSecret plain = Unmasked(masked);
    ASSERT_EQ(::write(fd, plain.View().data(), plain.Size()), static_cast<ssize_t>(plain.Size()));
    ASSERT_EQ(::write(fd, tail.data(), tail.size()), static_cast<ssize_t>(tail.size()));
    ::close(fd);
}

int RunInProcess(const std::vector<std::string>& arguments) {
    std::ostringstream out;
    std::ostringstream err;
    return cli::RunCli(arguments, out, err);
}

TEST(CliMemoryTest, NoPasswordIsLeftWhicheverWayACommandEnds) {
    const TStrongKeyCostForTests cheap({1, 8});
    SetCurrentCodePage("windows-1251");
    const std::vector<unsigned char> codePageBytes = MaskedCodePageBytes(kPassword);
    TempDir folder;
    const std::string pw = folder.File("pw");
    WriteMasked(pw, kPassword, "\n");
    const std::string wrong = folder.File("wrong");
    WriteMasked(wrong, Masked("not it"), "\n");
    const std::string doc =
        folder.Write("doc.ldx", "<ludex title=\"Doc\"><note title=\"strong\" memo=\"s\">"
                                "<note title=\"in strong\"/></note><note title=\"compatible\" "
                                "memo=\"c\"/><note title=\"plain\"/></ludex>");
    struct TCase {
        const char* what;
        std::vector<std::string> arguments;
        int status;
    };
    const TCase cases[] = {
        {"encrypt strong", {"encrypt", doc, "strong", "--password-file", pw}, 0},
        {"encrypt compatible",
         {"encrypt", doc, "compatible", "--password-file", pw, "--cipher", "compatible"},
         0},
        {"cat strong", {"cat", doc, "strong", "--password-file", pw}, 0},
        {"cat compatible", {"cat", doc, "compatible", "--password-file", pw}, 0},
        {"cat through a locked branch", {"cat", doc, "strong/in strong", "--password-file", pw}, 0},
        {"find", {"find", doc, "s", "--password-file", pw}, 0},
        {"export", {"export", doc, "--password-file", pw, "-o", folder.File("out.txt")}, 0},
        {"a wrong password", {"cat", doc, "strong", "--password-file", wrong}, 4},
        {"a branch that is not there", {"cat", doc, "strong/none", "--password-file", pw}, 3},
        {"a usage error after the password is read",
         {"encrypt", doc, "plain", "--password-file", pw, "--cipher", "x"},
         2},
        {"a file that is no document", {"cat", pw, "x", "--password-file", pw}, 1},
        {"decrypt compatible", {"decrypt", doc, "compatible", "--password-file", pw}, 0},
        {"decrypt strong", {"decrypt", doc, "strong", "--password-file", pw}, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunInProcess(c.arguments), c.status);
        EXPECT_EQ(CopiesInMemory(kPassword), 0u);
        EXPECT_EQ(CopiesInMemory(codePageBytes), 0u);
    }
}

} // namespace
