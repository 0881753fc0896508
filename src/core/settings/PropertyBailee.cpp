#include "core/settings/PropertyBailee.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/settings/PropertyFunctions.h"
#include "core/xml/VreltXMLDocument.h"
#include "core/xml/VreltXMLNode.h"

#include <algorithm>
#include <utility>

namespace ludex {

namespace {

// ---- The XML library boundary: loading a file or a text into a node tree, writing it. ----

// The adapter tree of the document's root element, or null when the document holds no element.
IXMLNodePtr AdapterTreeOf(const TVreltXMLDocument& document) {
    const TXMLTagElement* element = document.RootElement();
    if (element == nullptr) {
        return nullptr;
    }
    return MakeVreltXMLNode(element);
}

IXMLNodePtr LoadTreeFromFile(const std::string& fileName) {
    TVreltXMLDocument document;
    document.LoadFromFile(fileName);
    return AdapterTreeOf(document);
}

IXMLNodePtr LoadTreeFromXML(const std::string& text) {
    TVreltXMLDocument document;
    document.LoadFromXML(text);
    return AdapterTreeOf(document);
}

// ---- Helpers over the node interfaces ----

[[noreturn]] void ThrowPathNotFound(const std::string& path) {
    throw Exception("Path \"" + path + "\" not found");
}

bool IsElement(const IXMLNodePtr& node) {
    return node != nullptr && node->GetNodeType() == ntElement;
}

// The element children of a node, in order.
std::vector<IXMLNodePtr> ChildElements(const IXMLNodePtr& node) {
    std::vector<IXMLNodePtr> result;
    const IXMLNodeListPtr children = node ? node->GetChildNodes() : nullptr;
    if (!children) {
        return result;
    }
    const int count = children->GetCount();
    result.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        IXMLNodePtr child = children->Get(i);
        if (IsElement(child)) {
            result.push_back(std::move(child));
        }
    }
    return result;
}

// The attribute nodes of an element, in order (a snapshot: callers may set values meanwhile).
std::vector<IXMLNodePtr> Attributes(const IXMLNodePtr& node) {
    std::vector<IXMLNodePtr> result;
    const IXMLNodeListPtr attributes = node ? node->GetAttributeNodes() : nullptr;
    if (!attributes) {
        return result;
    }
    const int count = attributes->GetCount();
    result.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        result.push_back(attributes->Get(i));
    }
    return result;
}

IXMLNodePtr FirstChildElement(const IXMLNodePtr& node, const std::string& name) {
    const IXMLNodeListPtr children = node->GetChildNodes();
    if (!children) {
        return nullptr;
    }
    const int count = children->GetCount();
    for (int i = 0; i < count; ++i) {
        IXMLNodePtr child = children->Get(i);
        if (IsElement(child) && child->GetNodeName() == name) {
            return child;
        }
    }
    return nullptr;
}

// Whether the name can stand as an element or attribute name in a file that reads back: the
// writer puts names out as they are, so a name with markup characters or white space would make
// the settings file unreadable at the next start.
bool IsWritableName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    const unsigned char first = static_cast<unsigned char>(name.front());
    if (first == '-' || first == '.' || (first >= '0' && first <= '9')) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F || c == '<' || c == '>' || c == '&' || c == '"' || c == '\'' ||
               c == '/' || c == '=' || c == '?' || c == '!';
    });
}

// The segments of the path after its leading "/" (if any); a final "/" adds no empty segment.
std::vector<std::string> PathSegments(const std::string& path) {
    std::vector<std::string> segments;
    size_t pos = (!path.empty() && path.front() == '/') ? 1 : 0;
    while (pos < path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        segments.push_back(path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return segments;
}

// Whether resolving the segments from `node` with creation can succeed: no empty segment, no
// name that cannot be written, no ".." above the root. Checked before anything is created, so
// a path that fails halfway leaves no elements behind.
bool CanForcePath(const IXMLNodePtr& node, const std::vector<std::string>& segments) {
    int depth = 0; // depth of the start element below the root
    for (IXMLNodePtr parent = node->GetParentNode(); parent; parent = parent->GetParentNode()) {
        ++depth;
    }
    for (const std::string& segment : segments) {
        if (segment == "..") {
            if (--depth < 0) {
                return false;
            }
        } else if (!IsWritableName(segment)) {
            return false;
        } else {
            ++depth;
        }
    }
    return true;
}

// What FindPath does about an element of the path that is not there.
enum class TMissingElement { Fail, Create };

// Resolves `path` from `start` (relative paths) or `root` (paths beginning with "/").
IXMLNodePtr FindPath(const IXMLNodePtr& start, const IXMLNodePtr& root, const std::string& path,
                     TMissingElement missing) {
    const bool create = missing == TMissingElement::Create;
    IXMLNodePtr node = (!path.empty() && path.front() == '/') ? root : start;
    if (!node) {
        ThrowPathNotFound(path);
    }
    const std::vector<std::string> segments = PathSegments(path);
    if (create && !CanForcePath(node, segments)) {
        ThrowPathNotFound(path);
    }
    for (const std::string& segment : segments) {
        if (segment == "..") {
            node = node->GetParentNode();
            if (!node) {
                ThrowPathNotFound(path);
            }
            continue;
        }
        IXMLNodePtr child = segment.empty() ? nullptr : FirstChildElement(node, segment);
        if (!child) {
            if (!create) {
                ThrowPathNotFound(path);
            }
            child = node->AddChild(segment, -1);
        }
        node = std::move(child);
    }
    return node;
}

} // namespace

TPropertyBailee::TPropertyBailee() = default;
TPropertyBailee::~TPropertyBailee() = default;

void TPropertyBailee::InstallDocument(IXMLNodePtr root, const std::string& fileName) {
    root_ = std::move(root);
    current_ = root_;
    fileName_ = fileName;
}

void TPropertyBailee::Open(const std::string& settingsFileName, const std::string& stencilFileName) {
    LoadStencil(stencilFileName);
    IXMLNodePtr loaded;
    if (FileExists(settingsFileName)) {
        loaded = LoadTreeFromFile(settingsFileName);
    }
    if (loaded) {
        InstallDocument(std::move(loaded), settingsFileName);
    } else {
        // No settings yet (or a file without any element, which is no better): start from an
        // empty document shaped like the stencil. Nothing is written until Save.
        CreateEmpty(stencilRoot_->GetNodeName());
        fileName_ = settingsFileName;
    }
    NotifyLoaded();
}

void TPropertyBailee::LoadFromFile(const std::string& fileName) {
    IXMLNodePtr loaded = LoadTreeFromFile(fileName);
    if (!loaded) {
        throw Exception("File " + fileName + " holds no XML element");
    }
    InstallDocument(std::move(loaded), fileName);
    NotifyLoaded();
}

void TPropertyBailee::LoadStencil(const std::string& fileName) {
    IXMLNodePtr loaded = LoadTreeFromFile(fileName);
    if (!loaded) {
        throw Exception("Stencil file " + fileName + " holds no XML element");
    }
    stencilRoot_ = std::move(loaded);
    stencilFileName_ = fileName;
}

void TPropertyBailee::CreateEmpty(const std::string& rootName) {
    if (!IsWritableName(rootName)) {
        throw Exception("Can not create a settings document with the root element \"" + rootName + "\"");
    }
    IXMLNodePtr created = LoadTreeFromXML("<?xml version=\"1.0\" encoding=\"utf-8\"?><" + rootName + "/>");
    if (!created) {
        throw Exception("Can not create a settings document with the root element \"" + rootName + "\"");
    }
    root_ = std::move(created);
    current_ = root_;
}

void TPropertyBailee::Clear() {
    if (root_) {
        CreateEmpty(root_->GetNodeName());
    }
}

void TPropertyBailee::Save() {
    if (!root_) {
        throw Exception("TPropertyBailee.Save: there is no settings document to save");
    }
    // A copy, so that a client may register or remove clients while it is being asked.
    const std::vector<IPropertyBaileeClient*> clients = clients_;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        (*it)->SaveSettings(*this);
    }
    SaveXMLToFile(fileName_, root_, TXMLEncoding::Utf8);
}

void TPropertyBailee::OpenPath(const std::string& path) {
    current_ = FindPath(current_, root_, path, TMissingElement::Fail);
}

void TPropertyBailee::ForcePath(const std::string& path) {
    current_ = FindPath(current_, root_, path, TMissingElement::Create);
}

bool TPropertyBailee::HasValue(const std::string& name) const {
    return current_ && current_->HasAttribute(name);
}

std::string TPropertyBailee::ReadValue(const std::string& name) const {
    return HasValue(name) ? current_->GetAttribute(name) : std::string();
}

std::string TPropertyBailee::ReadValueDef(const std::string& name, const std::string& defaultValue) const {
    return HasValue(name) ? current_->GetAttribute(name) : defaultValue;
}

void TPropertyBailee::WriteValue(const std::string& name, const std::string& value) {
    if (!current_) {
        throw Exception("TPropertyBailee.WriteValue: there is no settings document");
    }
    if (!IsWritableName(name)) {
        throw Exception("Invalid value name \"" + name + "\"");
    }
    current_->SetAttribute(name, value);
}

void TPropertyBailee::AddClient(IPropertyBaileeClient& client) {
    clients_.push_back(&client);
}

void TPropertyBailee::RemoveClient(IPropertyBaileeClient& client) {
    std::erase(clients_, &client);
}

void TPropertyBailee::NotifyLoaded() {
    const std::vector<IPropertyBaileeClient*> clients = clients_;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        (*it)->LoadSettings(*this);
    }
}

std::string TPropertyBailee::CurrentPath() const {
    std::string path = "/";
    IXMLNodePtr node = current_;
    while (node) {
        IXMLNodePtr parent = node->GetParentNode();
        if (!parent) {
            break;
        }
        path = "/" + node->GetNodeName() + path;
        node = std::move(parent);
    }
    return path;
}

IXMLNodePtr TPropertyBailee::CopyFromStencil(const std::string& path) {
    if (!current_) {
        throw Exception("TPropertyBailee.CopyFromStencil: there is no settings document");
    }
    const IXMLNodePtr source = FindPath(stencilRoot_, stencilRoot_, path, TMissingElement::Fail);
    // Copy first (CopyNode checks the whole element before it appends anything), then drop the
    // previous copy: a stencil element that cannot be copied leaves the document as it was.
    IXMLNodePtr copy = CopyNode(source, current_);
    const IXMLNodePtr old = FirstChildElement(current_, source->GetNodeName());
    if (old && old != copy) {
        current_->GetChildNodes()->Remove(old.get());
    }
    return copy;
}

IXMLNodePtr TPropertyBailee::CopyNode(const IXMLNodePtr& source, const IXMLNodePtr& parent) {
    static const char* const kOnlyElements = "Only ntElement is supported at CopyNode";
    if (!IsElement(source) || !IsElement(parent)) {
        throw Exception(kOnlyElements);
    }
    // Take a snapshot of the source subtree in document order first (iteratively, so depth costs
    // no stack): every node is checked before anything is appended, and copying an element into
    // itself or below itself copies the subtree as it was instead of chasing its own copies.
    struct Entry {
        IXMLNodePtr node;
        size_t parentEntry; // index into `entries`, or npos for the source itself
    };
    constexpr size_t npos = static_cast<size_t>(-1);
    std::vector<Entry> entries;
    std::vector<Entry> pending{{source, npos}};
    while (!pending.empty()) {
        Entry entry = std::move(pending.back());
        pending.pop_back();
        if (!IsElement(entry.node)) {
            throw Exception(kOnlyElements);
        }
        const size_t index = entries.size();
        const IXMLNodeListPtr children = entry.node->GetChildNodes();
        entries.push_back(std::move(entry));
        if (children) {
            for (int i = children->GetCount() - 1; i >= 0; --i) {
                pending.push_back({children->Get(i), index});
            }
        }
    }
    std::vector<IXMLNodePtr> copies;
    copies.reserve(entries.size());
    for (const Entry& entry : entries) {
        const IXMLNodePtr& target = entry.parentEntry == npos ? parent : copies[entry.parentEntry];
        IXMLNodePtr copy = target->AddChild(entry.node->GetNodeName(), -1);
        for (const IXMLNodePtr& attribute : Attributes(entry.node)) {
            copy->SetAttribute(attribute->GetNodeName(), attribute->GetNodeValue());
        }
        copies.push_back(std::move(copy));
    }
    return copies.front();
}

// ---- Published properties ----

void TPropertyBailee::LoadComponentProperties(TPublishedObject& component) {
    if (!current_) {
        throw Exception("TPropertyBailee.LoadComponentProperties: there is no settings document");
    }
    const std::string ownName = component.GetName();
    for (const IXMLNodePtr& child : ChildElements(current_)) {
        const std::string name = child->GetNodeName();
        if (TPublishedObject* owned = component.FindComponent(name)) {
            LoadObjectProperties(*owned, child);
        } else if (name == ownName) {
            LoadObjectProperties(component, child);
        }
    }
}

void TPropertyBailee::LoadObjectProperties(TPublishedObject& object, const IXMLNodePtr& element) {
    LoadObjectPropertiesAt(object, element, 0);
}

void TPropertyBailee::LoadObjectPropertiesAt(TPublishedObject& object, const IXMLNodePtr& element,
                                             int depth) {
    if (depth > kMaxObjectDepth) {
        throw Exception("Properties of element " + element->GetNodeName() + " are nested deeper than " +
                        std::to_string(kMaxObjectDepth) + " levels");
    }
    for (const IXMLNodePtr& attribute : Attributes(element)) {
        try {
            SetPropertyFromString(object, attribute->GetNodeName(), attribute->GetNodeValue());
        } catch (const EInvalidProperty&) {
            // A property this object does not have (a misspelt name, an older file) or cannot
            // take as text: the rest of the element still applies.
        }
    }
    for (const IXMLNodePtr& child : ChildElements(element)) {
        const TPublishedProperty* property = object.FindProperty(child->GetNodeName());
        if (property == nullptr) {
            continue;
        }
        if (property->Kind == TPropertyKind::Object && property->GetObject) {
            if (TPublishedObject* sub = property->GetObject()) {
                LoadObjectPropertiesAt(*sub, child, depth + 1);
            }
        } else if (property->Kind == TPropertyKind::StringList && property->GetStrings) {
            if (IPublishedStrings* list = property->GetStrings()) {
                FillStrings(*list, child);
            }
        }
        // A child naming a property of another kind holds nothing that could apply: skipped.
    }
}

void TPropertyBailee::FillStrings(IPublishedStrings& list, const IXMLNodePtr& element) {
    const std::vector<IXMLNodePtr> items = ChildElements(element);
    if (element->GetAttribute("Mode") == "Replace") {
        if (static_cast<int>(items.size()) != list.Count()) {
            throw Exception(
                "TPropertyBailee.LoadObjectProperties.FillStrings - Replace mode are not allowed");
        }
        for (size_t i = 0; i < items.size(); ++i) {
            list.Put(static_cast<int>(i), items[i]->GetAttribute("Value"));
        }
        return;
    }
    list.Clear();
    for (const IXMLNodePtr& item : items) {
        list.Add(item->GetAttribute("Value"));
    }
}

void TPropertyBailee::SaveComponentProperties(TPublishedObject& form) {
    const std::string formName = form.GetName();
    const IXMLNodePtr formElement = CopyFromStencil(CurrentPath() + formName);
    for (const IXMLNodePtr& child : ChildElements(formElement)) {
        const std::string name = child->GetNodeName();
        TPublishedObject* component = form.FindComponent(name);
        if (component == nullptr && name == formName) {
            component = &form;
        }
        if (component == nullptr) {
            throw Exception("SaveComponentProperties: Component does not exist: " + name);
        }
        if (component->RestoredBounds().has_value() && child->HasAttribute("WindowPlacement")) {
            const IXMLNodeListPtr attributes = child->GetAttributeNodes();
            attributes->Delete(std::string("WindowPlacement"));
            SaveObjectProperties(*component, child);
            SaveWindowPlacement(*component, child);
        } else {
            SaveObjectProperties(*component, child);
        }
    }
}

void TPropertyBailee::SaveObjectProperties(TPublishedObject& object, const IXMLNodePtr& element) {
    SaveObjectPropertiesAt(object, element, 0);
}

void TPropertyBailee::SaveObjectPropertiesAt(TPublishedObject& object, const IXMLNodePtr& element,
                                             int depth) {
    if (depth > kMaxObjectDepth) {
        throw Exception("Properties of element " + element->GetNodeName() + " are nested deeper than " +
                        std::to_string(kMaxObjectDepth) + " levels");
    }
    for (const IXMLNodePtr& attribute : Attributes(element)) {
        attribute->SetNodeValue(GetPropertyAsString(object, attribute->GetNodeName()));
    }
    for (const IXMLNodePtr& child : ChildElements(element)) {
        const std::string name = child->GetNodeName();
        const TPublishedProperty* property = object.FindProperty(name);
        if (property == nullptr) {
            throw EInvalidProperty("Bad property: " + name);
        }
        if (property->Kind == TPropertyKind::StringList) {
            // A list of texts publishes no properties of its own: nothing can be named on it.
            const std::vector<IXMLNodePtr> attributes = Attributes(child);
            if (!attributes.empty()) {
                throw EInvalidProperty("Bad property: " + attributes.front()->GetNodeName());
            }
            const std::vector<IXMLNodePtr> inner = ChildElements(child);
            if (!inner.empty()) {
                throw EInvalidProperty("Bad property: " + inner.front()->GetNodeName());
            }
            continue;
        }
        if (TPublishedObject* sub = GetObjectProperty(object, name)) {
            SaveObjectPropertiesAt(*sub, child, depth + 1);
        }
    }
}

void TPropertyBailee::SaveWindowPlacement(TPublishedObject& form, const IXMLNodePtr& element) {
    const std::optional<TWindowBounds> bounds = form.RestoredBounds();
    if (!bounds) {
        throw Exception("SaveWindowPlacement: " + form.GetName() + " is not a window");
    }
    element->SetAttribute("Left", std::to_string(bounds->Left));
    element->SetAttribute("Top", std::to_string(bounds->Top));
    element->SetAttribute("Width", std::to_string(bounds->Right - bounds->Left));
    element->SetAttribute("Height", std::to_string(bounds->Bottom - bounds->Top));
    element->SetAttribute("WindowState", GetPropertyAsString(form, "WindowState"));
}

} // namespace ludex
