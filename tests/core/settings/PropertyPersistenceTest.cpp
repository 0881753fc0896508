#include "core/settings/PropertyBailee.h"
#include "core/settings/PropertyFunctions.h"

#include "FakePublished.h"
#include "core/base/Exception.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ludex;
using namespace ludex::testing;

namespace {

std::vector<std::string> AttributeNames(const IXMLNodePtr& node) {
    std::vector<std::string> names;
    const IXMLNodeListPtr list = node->GetAttributeNodes();
    for (int i = 0; i < list->GetCount(); ++i) {
        names.push_back(list->Get(i)->GetNodeName());
    }
    return names;
}

class PropertyPersistenceTest : public ::testing::Test {
protected:
    TempDir dir;
    TPropertyBailee bailee;
    FakeMainWindow window;

    // Loads the text as the document and puts the cursor on the form's element.
    void LoadForm(const std::string& formXml) {
        bailee.LoadFromFile(
            dir.Write("settings.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?><S>" + formXml + "</S>"));
        bailee.OpenPath("/" + window.GetName());
    }

    // Opens an empty settings document with the stencil text and the cursor on the root.
    void OpenWithStencil(const std::string& stencilXml) {
        bailee.Open(dir.File("settings.xml"), dir.Write("stencil.xml", stencilXml));
        bailee.OpenPath("/");
    }
};

TEST_F(PropertyPersistenceTest, LoadsComponentsTheFormAndSubObjects) {
    LoadForm("<Form_Ludex Caption=\"ignored: the form element's own attributes\">"
             "<Form_Ludex MemoWordWrap=\"False\" Left=\"5\" Top=\"6\" Width=\"300\" Height=\"200\" "
             "WindowState=\"wsMaximized\">"
             "<MainMenuCoolBand Index=\"1\"/><CommonToolsCoolBand Index=\"0\"/></Form_Ludex>"
             "<treeview><Font Name=\"Mono\" Style=\"fsBold,fsItalic\" Height=\"-11\"/></treeview>"
             "<NoSuchComponent Caption=\"x\"/>"
             "<Memo Captoin=\"misspelt\" Width=\"77\" OnClick=\"x\" Tag=\"9\" Caption=\"memo\"/>"
             "<form_ludex Caption=\"not the form: its name differs in case\"/>"
             "<Panel_TreeView Width=\"249\"><Caption/><PopupMenu Caption=\"absent object\"/>"
             "<Nope/><Font Charset=\"204\"/></Panel_TreeView>"
             "</Form_Ludex>");
    bailee.LoadComponentProperties(window);
    EXPECT_EQ(window.caption, "Ludex");
    EXPECT_FALSE(window.memoWordWrap);
    EXPECT_EQ(window.bounds.Left, 5);
    EXPECT_EQ(window.bounds.Top, 6);
    EXPECT_EQ(window.bounds.Right, 305);
    EXPECT_EQ(window.bounds.Bottom, 206);
    EXPECT_EQ(window.windowState, 2);
    EXPECT_EQ(window.mainMenuBand.index, 1);
    EXPECT_EQ(window.commonToolsBand.index, 0);
    EXPECT_EQ(window.treeView.font.name, "Mono");
    EXPECT_EQ(window.treeView.font.style, fsBold | fsItalic);
    EXPECT_EQ(window.treeView.font.height, -11);
    EXPECT_EQ(window.memo.width, 77);
    EXPECT_EQ(window.memo.caption, "memo");
    EXPECT_EQ(window.panelTreeView.width, 249);
    EXPECT_EQ(window.panelTreeView.font.charset, 204);
    EXPECT_EQ(bailee.CurrentPath(), "/Form_Ludex/");
}

TEST_F(PropertyPersistenceTest, AValueThatDoesNotConvertEndsTheLoad) {
    LoadForm("<Form_Ludex><Form_Ludex Left=\"5\" MemoWordWrap=\"Maybe\" Top=\"6\"/><Memo "
             "Width=\"1\"/></Form_Ludex>");
    try {
        bailee.LoadComponentProperties(window);
        FAIL() << "no error";
    } catch (const EInvalidProperty&) {
        FAIL() << "reported as an invalid property";
    } catch (const EConvertError& e) {
        EXPECT_NE(std::string(e.what()).find("Maybe"), std::string::npos) << e.what();
    }
    EXPECT_EQ(window.bounds.Left, 5); // applied before the error
    EXPECT_EQ(window.bounds.Top, 20); // not reached
    EXPECT_TRUE(window.memoWordWrap);
    EXPECT_EQ(window.memo.width, 100);
}

TEST_F(PropertyPersistenceTest, FillsStringLists) {
    struct Case {
        std::string itemsXml;
        std::vector<std::string> expected; // empty with error set: the replace-mode error
        bool error;
        int selected; // selection afterwards (a fill empties the list, which drops it)
    };
    const Case cases[] = {
        {"<Items Mode=\"Replace\"><i Value=\"One\"/><i Value=\"Two\"/></Items>", {"One", "Two"}, false, 1},
        {"<Items Mode=\"Replace\"><i Value=\"One\"/><!-- no item --><j Value=\"Two\"/></Items>",
         {"One", "Two"},
         false,
         1},
        {"<Items Mode=\"Replace\"><i Value=\"1\"/><i Value=\"2\"/><i Value=\"3\"/></Items>",
         {"a", "b"},
         true,
         1},
        {"<Items Mode=\"Replace\"><i Value=\"1\"/></Items>", {"a", "b"}, true, 1},
        {"<Items><i Value=\"1\"/><i Value=\"2\"/><i Value=\"3\"/></Items>", {"1", "2", "3"}, false, -1},
        {"<Items Mode=\"replace\"><i Value=\"1\"/></Items>", {"1"}, false, -1},
        {"<Items><i/><i Value=\"x\"/></Items>", {"", "x"}, false, -1},
        {"<Items/>", {}, false, -1},
    };
    for (const Case& c : cases) {
        FakeControl& group = window.others.empty() ? window.Add("RadioGroup_Scope") : *window.others.front();
        group.items = TPublishedStringList({"a", "b"});
        group.selected = 1;
        // A fake whose Clear drops the selection, as a real list control does.
        struct SelectionKeeper : IPublishedStrings {
            FakeControl* control;
            int Count() const override { return control->items.Count(); }
            std::string Get(int i) const override { return control->items.Get(i); }
            void Put(int i, const std::string& t) override { control->items.Put(i, t); }
            void Clear() override {
                control->items.Clear();
                control->selected = -1;
            }
            void Add(const std::string& t) override { control->items.Add(t); }
        } keeper;
        keeper.control = &group;
        TPublishedBase holder("Holder");
        holder.AddStringList("Items", [&] { return &keeper; });

        const std::string xml = "<?xml version=\"1.0\"?><S><Holder>" + c.itemsXml + "</Holder></S>";
        bailee.LoadFromFile(dir.Write("items.xml", xml));
        bailee.OpenPath("/Holder");
        if (c.error) {
            try {
                bailee.LoadObjectProperties(holder, bailee.Current());
                ADD_FAILURE() << c.itemsXml;
            } catch (const Exception& e) {
                EXPECT_EQ(std::string(e.what()),
                          "TPropertyBailee.LoadObjectProperties.FillStrings - Replace mode are not allowed");
            }
        } else {
            bailee.LoadObjectProperties(holder, bailee.Current());
        }
        EXPECT_EQ(group.items.Items(), c.expected) << c.itemsXml;
        EXPECT_EQ(group.selected, c.selected) << c.itemsXml;
    }
}

TEST_F(PropertyPersistenceTest, SavesWhatTheStencilNamesWithThePlacementLast) {
    OpenWithStencil("<S><Form_Ludex>"
                    "<Form_Ludex WindowPlacement=\"\" MemoWordWrap=\"True\" Top=\"0\">"
                    "<MainMenuCoolBand Index=\"\"/><CommonToolsCoolBand Index=\"\"/></Form_Ludex>"
                    "<TreeView><Font Name=\"\" Style=\"\" Color=\"\"/></TreeView>"
                    "<memo Caption=\"\"/>"
                    "</Form_Ludex></S>");
    window.windowState = 2; // maximised: the restored rectangle is saved
    window.bounds = {-4, 8, 796, 608};
    window.memoWordWrap = false;
    window.mainMenuBand.index = 1;
    window.commonToolsBand.index = 0;
    window.treeView.font.style = fsBold | fsItalic;
    window.treeView.font.name = "Liberation Sans";
    window.memo.caption = "a \"quoted\" <text> & more";

    for (int round = 0; round < 2; ++round) {
        bailee.SaveComponentProperties(window);
        EXPECT_EQ(bailee.Root()->GetChildNodes()->GetCount(), 1) << "saving twice leaves one element";
    }
    bailee.OpenPath("/Form_Ludex/Form_Ludex");
    EXPECT_EQ(AttributeNames(bailee.Current()),
              (std::vector<std::string>{"MemoWordWrap", "Top", "Left", "Width", "Height", "WindowState"}));
    EXPECT_EQ(bailee.ReadValue("MemoWordWrap"), "False");
    EXPECT_EQ(bailee.ReadValue("Left"), "-4");
    EXPECT_EQ(bailee.ReadValue("Top"), "8");
    EXPECT_EQ(bailee.ReadValue("Width"), "800");
    EXPECT_EQ(bailee.ReadValue("Height"), "600");
    EXPECT_EQ(bailee.ReadValue("WindowState"), "wsMaximized");
    bailee.OpenPath("MainMenuCoolBand");
    EXPECT_EQ(bailee.ReadValue("Index"), "1");
    bailee.OpenPath("/Form_Ludex/TreeView/Font");
    EXPECT_EQ(bailee.ReadValue("Style"), "fsBold,fsItalic");
    EXPECT_EQ(bailee.ReadValue("Name"), "Liberation Sans");
    EXPECT_EQ(bailee.ReadValue("Color"), "0");
    bailee.OpenPath("/Form_Ludex/memo");
    EXPECT_EQ(bailee.ReadValue("Caption"), "a \"quoted\" <text> & more");

    // An empty style saves as an empty value.
    window.treeView.font.style = 0;
    bailee.OpenPath("/");
    bailee.SaveComponentProperties(window);
    bailee.OpenPath("/Form_Ludex/TreeView/Font");
    EXPECT_TRUE(bailee.HasValue("Style"));
    EXPECT_EQ(bailee.ReadValue("Style"), "");
}

TEST_F(PropertyPersistenceTest, SavingReportsWhatTheStencilGetsWrong) {
    struct Case {
        std::string formXml;
        std::string message;
    };
    const Case cases[] = {
        {"<Form_Ludex><Ghost/></Form_Ludex>", "SaveComponentProperties: Component does not exist: Ghost"},
        {"<Form_Ludex><form_ludex/></Form_Ludex>",
         "SaveComponentProperties: Component does not exist: form_ludex"},
        {"<Other/>", "Path \"/Form_Ludex\" not found"},
        {"<Form_Ludex><Memo Colour=\"\"/></Form_Ludex>", "Bad property: Colour"},
        {"<Form_Ludex><Memo Font=\"\"/></Form_Ludex>", "Unsupported property: Font"},
        {"<Form_Ludex><Memo><Fnt/></Memo></Form_Ludex>", "Bad property: Fnt"},
        {"<Form_Ludex><Memo><Caption/></Memo></Form_Ludex>", "Unsupported property: Caption"},
        {"<Form_Ludex><Memo><Items Mode=\"Replace\"/></Memo></Form_Ludex>", "Bad property: Mode"},
        {"<Form_Ludex><Memo><Items><i Value=\"\"/></Items></Memo></Form_Ludex>", "Bad property: i"},
        // Only a window has a placement; on a component the marker is an unknown property.
        {"<Form_Ludex><Memo WindowPlacement=\"\"/></Form_Ludex>", "Bad property: WindowPlacement"},
    };
    for (const Case& c : cases) {
        TPropertyBailee store;
        store.Open(dir.File("settings.xml"), dir.Write("stencil.xml", "<S>" + c.formXml + "</S>"));
        store.OpenPath("/");
        try {
            store.SaveComponentProperties(window);
            ADD_FAILURE() << c.formXml;
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.formXml;
        }
    }
    // An absent sub-object has nothing to save; an empty string list element is fine.
    OpenWithStencil("<S><Form_Ludex><Memo><PopupMenu Caption=\"\"/><Items/></Memo></Form_Ludex></S>");
    EXPECT_NO_THROW(bailee.SaveComponentProperties(window));
}

TEST_F(PropertyPersistenceTest, RefusesSubObjectsNestedBeyondTheLimit) {
    // An object that is its own sub-object: a file can nest it as deep as it likes.
    TPublishedBase loop("Form_Ludex");
    int32_t value = 0;
    loop.AddObject("Self", [&] { return &loop; });
    loop.AddInteger(
        "V", [&] { return value; }, [&](int32_t v) { value = v; });
    std::string inner = "<Form_Ludex>";
    for (int i = 0; i < 100; ++i) {
        inner += "<Self V=\"" + std::to_string(i) + "\">";
    }
    for (int i = 0; i < 100; ++i) {
        inner += "</Self>";
    }
    inner += "</Form_Ludex>";
    bailee.LoadFromFile(dir.Write("deep.xml", "<S><Form_Ludex>" + inner + "</Form_Ludex></S>"));
    bailee.OpenPath("/Form_Ludex");
    EXPECT_THROW(bailee.LoadComponentProperties(loop), Exception);
    EXPECT_EQ(value, TPropertyBailee::kMaxObjectDepth - 1);
}

} // namespace
