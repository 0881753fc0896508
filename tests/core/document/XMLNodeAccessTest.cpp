#include "core/document/XMLNodeAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ludex;

namespace {

TEST(XMLNodeAccessTest, EncryptionStates) {
    struct Case {
        std::string xml;
        bool encrypted, locked;
    };
    const Case cases[] = {
        {"<note title=\"plain\"/>", false, false},
        {"<note encryption=\"x\"/>", true, true},
        {"<note encryption=\"\"/>", true, true}, // presence counts, not the value
        {"<note encryption=\"x\" password=\"p\"/>", true, false},
        {"<note encryption=\"x\" password=\"\"/>", true, false},
        {"<note password=\"p\"/>", false, false},
    };
    for (const auto& c : cases) {
        TDomDocument doc;
        doc.LoadXML(c.xml);
        EXPECT_EQ(IsBranchEncrypted(doc.DocumentElement()), c.encrypted) << c.xml;
        EXPECT_EQ(IsBranchLocked(doc.DocumentElement()), c.locked) << c.xml;
    }
}

TEST(XMLNodeAccessTest, ReadWriteExistsDelete) {
    TDomDocument doc;
    doc.LoadXML("<note memo=\"\" title=\"t\" other=\"o\"/>");
    TDomNode e = doc.DocumentElement();
    EXPECT_TRUE(MemoAccess.Exists(e));
    EXPECT_EQ(MemoAccess.Read(e), "");
    EXPECT_FALSE(PasswordAccess.Exists(e));
    EXPECT_EQ(PasswordAccess.Read(e), "");
    TitleAccess.Write(e, "new");        // in place
    EncryptionAccess.Write(e, "check"); // appended
    MemoAccess.Delete(e);
    PasswordAccess.Delete(e); // absent: no effect
    using Attrs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(e.Attributes(), (Attrs{{"title", "new"}, {"other", "o"}, {"encryption", "check"}}));
    EXPECT_EQ(TitleAccess.Name(), "title");
    EXPECT_EQ(MemoAccess.Name(), "memo");
    EXPECT_EQ(PasswordAccess.Name(), "password");
    EXPECT_EQ(EncryptionAccess.Name(), "encryption");
}

TEST(XMLNodeAccessTest, AddBranchElementAppendsABareNote) {
    TDomDocument doc;
    doc.LoadXML("<ludex><x/></ludex>");
    TDomNode note = AddBranchElement(doc.DocumentElement());
    EXPECT_EQ(note.Name(), "note");
    EXPECT_FALSE(note.FirstAttribute());
    EXPECT_EQ(doc.DocumentElement().LastChild(), note);
    EXPECT_EQ(doc.DocumentElement().ChildCount(), 2u);
}

} // namespace
