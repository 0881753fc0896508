#include "core/settings/PropertyBailee.h"

#include "core/base/Exception.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

using namespace ludex;
using namespace ludex::testing;

namespace {

const char* const kDocument = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                              "<r top=\"1\">"
                              "<a><b x=\"1\"/><b x=\"2\"/></a>"
                              "<messages k=\"v\"><child c=\"3\"/></messages>"
                              "<A upper=\"yes\"/>"
                              "</r>";

std::vector<std::string> Names(const IXMLNodeListPtr& list) {
    std::vector<std::string> names;
    for (int i = 0; list && i < list->GetCount(); ++i) {
        names.push_back(list->Get(i)->GetNodeName());
    }
    return names;
}

std::string Message(const std::exception& e) {
    return e.what();
}

// Records the order in which the store calls its clients.
struct LoggingClient : IPropertyBaileeClient {
    std::string name;
    std::vector<std::string>* log;
    LoggingClient(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
    void LoadSettings(TPropertyBailee&) override { log->push_back(name + ".load"); }
    void SaveSettings(TPropertyBailee&) override { log->push_back(name + ".save"); }
};

// Writes the document list as the main window does.
struct DocumentsClient : IPropertyBaileeClient {
    std::vector<std::string> files;
    int loads = 0;
    void LoadSettings(TPropertyBailee&) override { ++loads; }
    void SaveSettings(TPropertyBailee& bailee) override {
        bailee.ForcePath("/documents");
        bailee.Current()->GetChildNodes()->Clear();
        for (const std::string& file : files) {
            bailee.Current()->AddChild("document", -1)->SetAttribute("file", file);
        }
    }
};

class PropertyBaileeTest : public ::testing::Test {
protected:
    TempDir dir;
    TPropertyBailee bailee;

    void LoadText(const std::string& xml) { bailee.LoadFromFile(dir.Write("doc.xml", xml)); }
};

TEST_F(PropertyBaileeTest, ResolvesPaths) {
    LoadText(kDocument);
    struct Case {
        std::string from; // OpenPath first, "" for none
        std::string path;
        std::string expectedPath; // empty: not found
        std::string attribute;
        std::string value;
    };
    const Case cases[] = {
        {"", "/", "/", "top", "1"},
        {"", "/a/b", "/a/b/", "x", "1"}, // the first of two namesakes
        {"", "/a/b/", "/a/b/", "x", "1"},
        {"", "/A", "/A/", "upper", "yes"}, // letter case is part of the name
        {"/messages", "child", "/messages/child/", "c", "3"},
        {"/messages/child", "..", "/messages/", "k", "v"},
        {"/messages/child", "../child/", "/messages/child/", "c", "3"},
        {"", "/a/../messages", "/messages/", "k", "v"},
        {"/a", "", "/a/", "", ""},
        {"/a", "b", "/a/b/", "x", "1"},
        {"", "/missing", "", "", ""},
        {"", "/a/missing", "", "", ""},
        {"", "/a//b", "", "", ""},
        {"", "//a", "", "", ""},
        {"", "/..", "", "", ""},
        {"", "/messages/k", "", "", ""}, // an attribute is no element
        {"/a", "a", "", "", ""},         // relative paths start at the cursor
    };
    for (const Case& c : cases) {
        bailee.OpenPath(c.from.empty() ? "/" : c.from);
        const std::string before = bailee.CurrentPath();
        if (c.expectedPath.empty()) {
            try {
                bailee.OpenPath(c.path);
                ADD_FAILURE() << c.path << " was found";
            } catch (const Exception& e) {
                EXPECT_EQ(Message(e), "Path \"" + c.path + "\" not found");
            }
            EXPECT_EQ(bailee.CurrentPath(), before) << "cursor moved by failed " << c.path;
            continue;
        }
        bailee.OpenPath(c.path);
        EXPECT_EQ(bailee.CurrentPath(), c.expectedPath) << c.path;
        if (!c.attribute.empty()) {
            EXPECT_EQ(bailee.ReadValue(c.attribute), c.value) << c.path;
        }
    }
}

TEST_F(PropertyBaileeTest, ForcePathCreatesOnceAndNeverHalfway) {
    bailee.CreateEmpty("settings");
    bailee.ForcePath("/documents");
    bailee.ForcePath("/documents");
    EXPECT_EQ(Names(bailee.Root()->GetChildNodes()), (std::vector<std::string>{"documents"}));
    EXPECT_EQ(bailee.CurrentPath(), "/documents/");

    bailee.ForcePath("x/y/");
    EXPECT_EQ(bailee.CurrentPath(), "/documents/x/y/");
    bailee.ForcePath("../z");
    EXPECT_EQ(bailee.CurrentPath(), "/documents/x/z/");

    const char* const refused[] = {"/p//q", "/p/../../q", "/p/bad name", "/p/<q>", "/p/=", "/..", "//"};
    for (const char* path : refused) {
        bailee.OpenPath("/documents");
        EXPECT_THROW(bailee.ForcePath(path), Exception) << path;
        EXPECT_EQ(bailee.CurrentPath(), "/documents/") << path;
        EXPECT_EQ(Names(bailee.Root()->GetChildNodes()), (std::vector<std::string>{"documents"})) << path;
    }
    bailee.ForcePath("/p/");
    EXPECT_EQ(bailee.CurrentPath(), "/p/");

    // A root name that is no XML name cannot smuggle markup into the new document.
    for (const char* name : {"", "x/><y", "a b", "<r>"}) {
        EXPECT_THROW(bailee.CreateEmpty(name), Exception) << name;
        EXPECT_EQ(bailee.Root()->GetNodeName(), "settings");
    }
}

TEST_F(PropertyBaileeTest, ValuesAreAttributesOfTheCursor) {
    LoadText(kDocument);
    bailee.OpenPath("/messages");
    EXPECT_TRUE(bailee.HasValue("k"));
    EXPECT_FALSE(bailee.HasValue("K"));
    EXPECT_EQ(bailee.ReadValue("absent"), "");
    EXPECT_EQ(bailee.ReadValueDef("absent", "dflt"), "dflt");
    EXPECT_EQ(bailee.ReadValueDef("k", "dflt"), "v");

    bailee.WriteValue("n", "1");
    bailee.WriteValue("k", "changed"); // in place
    bailee.WriteValue("o", "");
    EXPECT_EQ(Names(bailee.Current()->GetAttributeNodes()), (std::vector<std::string>{"k", "n", "o"}));
    EXPECT_EQ(bailee.ReadValue("k"), "changed");
    EXPECT_TRUE(bailee.HasValue("o"));
    EXPECT_EQ(bailee.ReadValueDef("o", "dflt"), ""); // present but empty is not absent

    for (const char* bad : {"", "a b", "a\"b", "a<b", "a=b", "1a"}) {
        EXPECT_THROW(bailee.WriteValue(bad, "x"), Exception) << bad;
    }
    EXPECT_EQ(Names(bailee.Current()->GetAttributeNodes()).size(), 3u);
}

TEST_F(PropertyBaileeTest, ClientsAreToldLastRegisteredFirst) {
    std::vector<std::string> log;
    LoggingClient a("A", &log), b("B", &log), c("C", &log);
    bailee.AddClient(a);
    bailee.AddClient(b);
    bailee.AddClient(c);
    bailee.RemoveClient(c);
    const std::string stencil = dir.Write("stencil.xml", "<Stencil><Form_Ludex/></Stencil>");
    bailee.Open(dir.File("settings.xml"), stencil);
    bailee.Save();
    EXPECT_EQ(log, (std::vector<std::string>{"B.load", "A.load", "B.save", "A.save"}));
}

TEST_F(PropertyBaileeTest, OpenWithoutSettingsStartsEmptyAndWritesOnlyOnSave) {
    DocumentsClient client;
    client.files = {"/home/u/a.ldx", ""};
    bailee.AddClient(client);
    const std::string stencil =
        dir.Write("stencil.xml", "<?xml version=\"1.0\"?><LudexSettings a=\"1\"><x/></LudexSettings>");
    const std::string settings = dir.File("settings.xml");
    bailee.Open(settings, stencil);
    EXPECT_EQ(client.loads, 1);
    EXPECT_EQ(bailee.Root()->GetNodeName(), "LudexSettings");
    EXPECT_FALSE(bailee.Root()->GetHasChildNodes());
    EXPECT_FALSE(bailee.Root()->HasAttribute("a"));
    EXPECT_FALSE(std::filesystem::exists(settings));
    EXPECT_EQ(bailee.FileName(), settings);
    EXPECT_EQ(bailee.StencilFileName(), stencil);

    bailee.Save();
    EXPECT_EQ(ReadAll(settings), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                 "<LudexSettings>\r\n"
                                 "  <documents>\r\n"
                                 "    <document file=\"/home/u/a.ldx\"/>\r\n"
                                 "    <document file=\"\"/>\r\n"
                                 "  </documents>\r\n"
                                 "</LudexSettings>");

    // The file written is read back by the next start.
    TPropertyBailee next;
    next.Open(settings, stencil);
    next.OpenPath("/documents");
    EXPECT_EQ(next.Current()->GetChildNodes()->GetCount(), 2);
}

TEST_F(PropertyBaileeTest, SettingsFileWithoutAnElementCountsAsMissing) {
    const std::string stencil = dir.Write("stencil.xml", "<S/>");
    const char* const empties[] = {"", "  \r\n", "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
                                   "<!-- nothing -->"};
    for (const char* text : empties) {
        TPropertyBailee store;
        DocumentsClient client;
        store.AddClient(client);
        const std::string settings = dir.Write("settings.xml", text);
        store.Open(settings, stencil);
        EXPECT_EQ(store.Root()->GetNodeName(), "S") << text;
        EXPECT_EQ(client.loads, 1);
        EXPECT_EQ(store.FileName(), settings);
        // Loading such a file directly is refused, keeping what was there.
        EXPECT_THROW(store.LoadFromFile(settings), Exception);
        EXPECT_EQ(store.Root()->GetNodeName(), "S");
    }
}

TEST_F(PropertyBaileeTest, BrokenFilesStopOpenAndKeepTheLoadedDocument) {
    const std::string stencil = dir.Write("stencil.xml", "<S/>");
    const std::string broken = dir.Write("broken.xml", "<S><a></S>");
    EXPECT_THROW(bailee.Open(dir.File("settings.xml"), dir.File("no-stencil.xml")), EInOutError);
    EXPECT_THROW(bailee.Open(broken, stencil), Exception);
    EXPECT_THROW(bailee.Open(dir.File("settings.xml"), dir.Write("empty.xml", "")), Exception);
    EXPECT_THROW(bailee.Open(dir.File("settings.xml"), broken), Exception);

    LoadText(kDocument);
    bailee.OpenPath("/messages");
    const std::string good = bailee.FileName();
    EXPECT_THROW(bailee.LoadFromFile(broken), Exception);
    EXPECT_THROW(bailee.LoadFromFile(dir.File("missing.xml")), EInOutError);
    EXPECT_EQ(bailee.FileName(), good);
    EXPECT_EQ(bailee.CurrentPath(), "/messages/");
    EXPECT_EQ(bailee.ReadValue("k"), "v");
}

TEST_F(PropertyBaileeTest, ClearKeepsOnlyTheRootName) {
    DocumentsClient client;
    bailee.Clear(); // nothing loaded yet: nothing happens
    EXPECT_EQ(bailee.Root(), nullptr);
    LoadText(kDocument);
    bailee.AddClient(client);
    const std::string settings = dir.File("out.xml");
    bailee.LoadFromFile(dir.Write("out.xml", kDocument));
    EXPECT_EQ(client.loads, 1);
    bailee.OpenPath("/a/b");
    bailee.Clear();
    EXPECT_EQ(client.loads, 1);
    EXPECT_EQ(bailee.Root()->GetNodeName(), "r");
    EXPECT_FALSE(bailee.Root()->HasAttribute("top"));
    EXPECT_FALSE(bailee.Root()->GetHasChildNodes());
    EXPECT_EQ(bailee.CurrentPath(), "/");
    bailee.Save();
    EXPECT_EQ(ReadAll(settings),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r>\r\n  <documents/>\r\n</r>");
}

TEST_F(PropertyBaileeTest, FailedSaveKeepsTheOldFileAndTheDocument) {
    LoadText(kDocument);
    const std::string original = ReadAll(bailee.FileName());
    std::filesystem::permissions(dir.File(""),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    bailee.OpenPath("/");
    bailee.WriteValue("Locale", "langRussian");
    const bool canStillWrite = ::access(dir.File("").c_str(), W_OK) == 0; // true when running as root
    if (!canStillWrite) {
        EXPECT_THROW(bailee.Save(), EInOutError);
        EXPECT_EQ(ReadAll(bailee.FileName()), original);
        EXPECT_EQ(bailee.ReadValue("Locale"), "langRussian");
    }
    std::filesystem::permissions(dir.File(""), std::filesystem::perms::owner_all);

    // A settings file in a folder that does not exist cannot be written; nothing is created.
    TPropertyBailee elsewhere;
    DocumentsClient client;
    elsewhere.AddClient(client);
    const std::string unreachable = dir.File("no-such-folder/settings.xml");
    elsewhere.Open(unreachable, dir.Write("stencil.xml", "<S/>"));
    EXPECT_THROW(elsewhere.Save(), EInOutError);
    EXPECT_FALSE(std::filesystem::exists(unreachable));
    EXPECT_EQ(Names(elsewhere.Root()->GetChildNodes()), (std::vector<std::string>{"documents"}));

    TPropertyBailee nothing;
    EXPECT_THROW(nothing.Save(), Exception);
}

TEST_F(PropertyBaileeTest, CopyFromStencilReplacesThePreviousCopy) {
    const std::string stencil =
        dir.Write("stencil.xml", "<S><Form a=\"1\" b=\"2\"><C x=\"\"><D/></C><E/></Form>"
                                 "<Bad><!-- c --></Bad><Text>t</Text></S>");
    bailee.Open(dir.File("settings.xml"), stencil);
    bailee.ForcePath("/Other");
    bailee.OpenPath("/");
    for (int round = 0; round < 2; ++round) {
        const IXMLNodePtr copy = bailee.CopyFromStencil("/Form");
        EXPECT_EQ(copy->GetNodeName(), "Form");
        EXPECT_EQ(copy->GetParentNode().get(), bailee.Root().get());
        EXPECT_EQ(Names(copy->GetAttributeNodes()), (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(copy->GetAttribute("b"), "2");
        EXPECT_EQ(Names(copy->GetChildNodes()), (std::vector<std::string>{"C", "E"}));
        EXPECT_EQ(Names(copy->GetChildNodes()->Get(0)->GetChildNodes()), (std::vector<std::string>{"D"}));
        copy->SetAttribute("a", "changed"); // the stencil is not touched
        EXPECT_EQ(Names(bailee.Root()->GetChildNodes()), (std::vector<std::string>{"Other", "Form"}));
    }
    EXPECT_EQ(bailee.StencilRoot()->GetChildNodes()->Get(0)->GetAttribute("a"), "1");

    // A stencil element that cannot be copied does not cost the previous copy.
    bailee.ForcePath("/Bad");
    bailee.WriteValue("keep", "1");
    bailee.OpenPath("/");

    for (const char* path : {"/Bad", "/Text"}) {
        try {
            bailee.CopyFromStencil(path);
            ADD_FAILURE() << path;
        } catch (const Exception& e) {
            EXPECT_EQ(Message(e), "Only ntElement is supported at CopyNode");
        }
    }
    try {
        bailee.CopyFromStencil("/Missing");
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(Message(e), "Path \"/Missing\" not found");
    }
    EXPECT_EQ(Names(bailee.Root()->GetChildNodes()), (std::vector<std::string>{"Other", "Form", "Bad"}));
    bailee.OpenPath("/Bad");
    EXPECT_EQ(bailee.ReadValue("keep"), "1");
}

TEST_F(PropertyBaileeTest, CopyNodeChecksEveryNodeFirstAndCopiesItselfOnce) {
    LoadText("<r><a k=\"1\"><b/></a><c>text<d/></c></r>");
    const IXMLNodePtr root = bailee.Root();
    const IXMLNodePtr a = root->GetChildNodes()->Get(0);
    const IXMLNodePtr c = root->GetChildNodes()->Get(1);

    EXPECT_THROW(TPropertyBailee::CopyNode(c, a), Exception);
    EXPECT_EQ(Names(a->GetChildNodes()), (std::vector<std::string>{"b"})); // nothing appended
    EXPECT_THROW(TPropertyBailee::CopyNode(a, c->GetChildNodes()->Get(0)), Exception);
    EXPECT_THROW(TPropertyBailee::CopyNode(nullptr, a), Exception);

    // An element copied into itself copies what it held before.
    const IXMLNodePtr copy = TPropertyBailee::CopyNode(a, a);
    EXPECT_EQ(Names(a->GetChildNodes()), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(Names(copy->GetChildNodes()), (std::vector<std::string>{"b"}));
    EXPECT_EQ(copy->GetAttribute("k"), "1");
}

TEST_F(PropertyBaileeTest, DeepStencilElementsCopyWithoutDeepRecursion) {
    std::string xml = "<S>";
    const int depth = 5000;
    for (int i = 0; i < depth; ++i) {
        xml += "<e>";
    }
    for (int i = 0; i < depth; ++i) {
        xml += "</e>";
    }
    xml += "</S>";
    bailee.Open(dir.File("settings.xml"), dir.Write("stencil.xml", xml));
    IXMLNodePtr node = bailee.CopyFromStencil("/e");
    int levels = 1;
    while (node->GetHasChildNodes()) {
        node = node->GetChildNodes()->Get(0);
        ++levels;
    }
    EXPECT_EQ(levels, depth);
}

TEST_F(PropertyBaileeTest, CurrentPathNamesEveryAncestor) {
    LoadText(kDocument);
    const char* const paths[] = {"/", "/a/", "/a/b/", "/messages/child/", "/A/"};
    for (const char* path : paths) {
        bailee.OpenPath(path);
        EXPECT_EQ(bailee.CurrentPath(), path);
        // Appending a name gives the absolute path of a child.
        bailee.OpenPath(bailee.CurrentPath());
        EXPECT_EQ(bailee.CurrentPath(), path);
    }
}

} // namespace
