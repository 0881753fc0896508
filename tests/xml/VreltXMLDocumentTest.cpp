#include "xml/VreltXMLDocument.h"
#include "xml/VreltXMLNode.h"

#include "base/FileIO.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace ludex;

namespace {

const TCodePage& Cp1252() {
    return TCodePage::Get("windows-1252");
}

// A compact picture of a tree: E(name[attrs]{children}), T(text), C(text), P(name[attrs]).
std::string Describe(const TXMLElementList& list);

std::string DescribeAttributes(const TAttributes& attributes) {
    std::string s;
    for (int i = 0; i < attributes.Count(); ++i) {
        s += (i == 0 ? "[" : "|") + attributes.Strings(i);
    }
    return attributes.Empty() ? s : s + "]";
}

std::string Describe(const TXMLTagBasic* node) {
    if (auto* e = dynamic_cast<const TXMLTagElement*>(node)) {
        std::string s = "E(" + e->Name() + DescribeAttributes(e->Attributes());
        if (e->Children().Count() > 0) {
            s += "{" + Describe(e->Children()) + "}";
        }
        return s + ")";
    }
    if (auto* t = dynamic_cast<const TXMLTagText*>(node)) {
        return "T(" + t->Text() + ")";
    }
    if (auto* c = dynamic_cast<const TXMLTagComment*>(node)) {
        return "C(" + c->Text() + ")";
    }
    if (auto* p = dynamic_cast<const TXMLTagPI*>(node)) {
        return "P(" + p->Name() + DescribeAttributes(p->Attributes()) + ")";
    }
    return "?";
}

std::string Describe(const TXMLElementList& list) {
    std::string s;
    for (int i = 0; i < list.Count(); ++i) {
        s += (i == 0 ? "" : ",") + Describe(list.Items(i));
    }
    return s;
}

class TempDir {
public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("ludex_xml_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

TEST(VreltXMLDocumentTest, BuildsATreeThatMirrorsTheInput) {
    struct Case {
        const char* label;
        std::string input;
        std::string tree;
        std::string root; // name of RootElement, "-" for none
    };
    const Case cases[] = {
        {"declaration and content", "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"1\"><!--c--><x/>t</r>",
         "P(xml[version=1.0|encoding=utf-8]),E(r[a=1]{C(c),E(x),T(t)})", "r"},
        {"instruction inside an element keeps what follows inside", "<r><?pi a=\"1\"?><x/></r>",
         "E(r{P(pi[a=1]),E(x)})", "r"},
        {"no element at the top level", "<!--c-->text<?pi?>", "C(c),T(text),P(pi)", "-"},
        {"first element is the root", "x<a/><b/>", "T(x),E(a),E(b)", "a"},
        {"empty input", "", "", "-"},
        {"code-page bytes arrive as UTF-8", "<r v=\"\xE9\">\xE9&#xE9;</r>",
         "E(r[v=\xC3\xA9]{T(\xC3\xA9\xC3\xA9)})", "r"},
        {"byte-order mark is top-level text", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><r/>",
         "T(\xC3\xAF\xC2\xBB\xC2\xBF),P(xml[version=1.0|encoding=utf-8]),E(r)", "r"},
    };
    for (const auto& c : cases) {
        TVreltXMLDocument document(Cp1252());
        document.LoadFromXML(c.input);
        EXPECT_EQ(Describe(document.TopLevel()), c.tree) << c.label;
        TXMLTagElement* root = document.RootElement();
        EXPECT_EQ(root ? root->Name() : "-", c.root) << c.label;
        EXPECT_EQ(document.FindFirst<TXMLTagBasic>() == nullptr, c.tree.empty()) << c.label;
    }
}

TEST(VreltXMLDocumentTest, ReloadReplacesAndFailedLoadKeepsThePartialTree) {
    TVreltXMLDocument document(Cp1252());
    document.LoadFromXML("<a><b/></a>");
    document.LoadFromXML("<c/>");
    EXPECT_EQ(Describe(document.TopLevel()), "E(c)");
    EXPECT_THROW(document.LoadFromXML("<r><x/><y></r>"), EVreltSAX);
    EXPECT_EQ(Describe(document.TopLevel()), "E(r{E(x),E(y)})");
    ASSERT_NE(document.RootElement(), nullptr);
    EXPECT_EQ(document.RootElement()->Name(), "r");
}

TEST(VreltXMLDocumentTest, StreamAndFileGiveTheSameTreeAsText) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"\xC3\xA9\"><x>y</x></r>";
    TempDir dir;
    {
        std::string path = dir.File("in.xml");
        WriteFileAtomically(path, text);
        TVreltXMLDocument fromText(Cp1252()), fromStream(Cp1252()), fromFile(Cp1252());
        fromText.LoadFromXML(text);
        std::istringstream stream(text);
        fromStream.LoadFromStream(stream);
        fromFile.LoadFromFile(path);
        EXPECT_EQ(Describe(fromStream.TopLevel()), Describe(fromText.TopLevel()));
        EXPECT_EQ(Describe(fromFile.TopLevel()), Describe(fromText.TopLevel()));
    }
    TVreltXMLDocument document(Cp1252());
    try {
        document.LoadFromFile(dir.File("missing.xml"));
        FAIL() << "expected an error";
    } catch (const EInOutError& e) {
        EXPECT_NE(e.Message().find("missing.xml"), std::string::npos) << e.Message();
    }
}

} // namespace
