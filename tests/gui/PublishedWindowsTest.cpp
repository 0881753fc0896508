// The real windows publish every component and property that the language files and the stencil
// name, and an error that leaves an event handler is shown while the program goes on.
#include "GuiTestSupport.h"

#include "core/settings/PropertyBailee.h"
#include "core/settings/PropertyFunctions.h"
#include "core/text/CodePage.h"
#include "gui/app/LudexApplication.h"
#include "gui/tree/BranchTree.h"

#include <QCoreApplication>
#include <QEvent>

namespace ludex::test {
namespace {

// Every element below a form element names a component (or the form itself), and every
// attribute a property of it; child elements name object-valued properties, recursively.
void ExpectPublished(TPublishedObject& object, const IXMLNodePtr& element, const std::string& where) {
    IXMLNodeListPtr attributes = element->GetAttributeNodes();
    for (int i = 0; attributes && i < attributes->GetCount(); ++i) {
        const std::string name = attributes->Get(i)->GetNodeName();
        if (name == "Mode" || name == "WindowPlacement") {
            continue;
        }
        EXPECT_TRUE(HasProperty(object, name)) << where << " has no property " << name;
    }
    IXMLNodeListPtr children = element->GetChildNodes();
    for (int i = 0; children && i < children->GetCount(); ++i) {
        IXMLNodePtr child = children->Get(i);
        if (child->GetNodeType() != ntElement) {
            continue;
        }
        const std::string name = child->GetNodeName();
        const TPublishedProperty* property = object.FindProperty(name);
        ASSERT_NE(property, nullptr) << where << " has no property " << name;
        if (property->Kind == TPropertyKind::Object) {
            TPublishedObject* sub = property->GetObject();
            ASSERT_NE(sub, nullptr) << where << "." << name;
            ExpectPublished(*sub, child, where + "." + name);
        } else {
            EXPECT_EQ(property->Kind, TPropertyKind::StringList) << where << "." << name;
        }
    }
}

void ExpectFormPublished(TPublishedObject& form, const IXMLNodePtr& formElement, const std::string& file) {
    IXMLNodeListPtr components = formElement->GetChildNodes();
    for (int i = 0; i < components->GetCount(); ++i) {
        IXMLNodePtr element = components->Get(i);
        if (element->GetNodeType() != ntElement) {
            continue;
        }
        const std::string name = element->GetNodeName();
        TPublishedObject* component = name == form.GetName() ? &form : form.FindComponent(name);
        ASSERT_NE(component, nullptr) << file << ": " << form.GetName() << " has no component " << name;
        ExpectPublished(*component, element, file + ": " + name);
    }
}

class PublishedWindowsTest : public TProgramTest {};

TEST_F(PublishedWindowsTest, LanguageFilesAndStencilNameOnlyWhatTheWindowsPublish) {
    Start();
    for (const char* file : {"Language.ENG.xml", "Language.RUS.xml", "ludex_Settings_Stencil.xml"}) {
        TPropertyBailee bailee;
        bailee.LoadFromFile(PathOf(file));
        int formsFound = 0;
        for (TPublishedObject* form : Windows().LocalizedForms()) {
            IXMLNodeListPtr top = bailee.Root()->GetChildNodes();
            IXMLNodePtr formElement = top->FindNode(form->GetName());
            if (formElement) {
                ++formsFound;
                ExpectFormPublished(*form, formElement, file);
            }
        }
        EXPECT_GT(formsFound, 0) << file;
    }
}

TEST_F(PublishedWindowsTest, CodePageComesFromTheSettingsAndIsWrittenBack) {
    WriteFile("ludex_Settings.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LudexSettings CodePage=\"KOI8-R\"/>");
    Start();
    EXPECT_EQ(CurrentCodePage().Name(), "KOI8-R");
    ASSERT_TRUE(Close());
    EXPECT_NE(ReadFile(SettingsFile()).find("CodePage=\"KOI8-R\""), std::string::npos);
    // An unknown code page, or one that is not ASCII-compatible, is reported and the default stays.
    for (const std::string bad : {"no-such-page", "IBM037"}) {
        SCOPED_TRACE(bad);
        SetCurrentCodePage("windows-1252");
        Questions().Errors.clear();
        WriteFile("ludex_Settings.xml",
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LudexSettings CodePage=\"" + bad + "\"/>");
        Start();
        EXPECT_EQ(CurrentCodePage().Name(), "windows-1252");
        ASSERT_EQ(Questions().Errors.size(), 1u);
        EXPECT_TRUE(Questions().Errors[0].contains(QString::fromStdString(bad)))
            << Questions().Errors[0].toStdString();
    }
}

// An object whose event handler fails.
class TFailingObject : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            throw Exception("the command failed");
        }
        return QObject::event(e);
    }
};

TEST_F(PublishedWindowsTest, AnErrorInAHandlerIsShownAndTheProgramGoesOn) {
    Start();
    TFailingObject failing;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&failing, &event);
    ASSERT_EQ(Questions().Errors.size(), 1u);
    EXPECT_EQ(Questions().Errors[0].toStdString(), "the command failed");
    Window().MI_New->trigger(); // still working
    EXPECT_EQ(Window().Tree().TopLevelCount(), 1);
}

} // namespace
} // namespace ludex::test
