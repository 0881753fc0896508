#include "core/xml/VreltXMLNode.h"

#include "core/base/Exception.h"

#include <utility>

namespace ludex {

namespace {

[[noreturn]] void NodeNotImplemented() {
    throw Exception("TVreltXMLNode method is not implemented");
}

[[noreturn]] void ListNotImplemented() {
    throw Exception("TVreltXMLNodeList method is not implemented");
}

[[noreturn]] void IndexOutOfBounds(int index) {
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TVreltXMLNode

TVreltXMLNode::TVreltXMLNode(TPasskey, TNodeType type, std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)), type_(type) {}

void TVreltXMLNode::MakeElement() {
    type_ = ntElement;
    childNodes_ = std::make_shared<TVreltXMLNodeList>();
    attributeNodes_ = std::make_shared<TVreltXMLNodeList>();
}

std::shared_ptr<TVreltXMLNode> TVreltXMLNode::CreateElement(std::string name) {
    auto node = std::make_shared<TVreltXMLNode>(TPasskey{}, ntElement, std::move(name), std::string());
    node->MakeElement();
    return node;
}

std::shared_ptr<TVreltXMLNode> TVreltXMLNode::CreateAttribute(std::string name, std::string value) {
    return std::make_shared<TVreltXMLNode>(TPasskey{}, ntAttribute, std::move(name), std::move(value));
}

std::shared_ptr<TVreltXMLNode> TVreltXMLNode::Create(const TXMLTagBasic* tag) {
    // Copies one tree node without its children; elements get their attributes and empty lists.
    auto copyNode = [](const TXMLTagBasic* source) -> std::shared_ptr<TVreltXMLNode> {
        if (auto* element = dynamic_cast<const TXMLTagElement*>(source)) {
            auto node = CreateElement(std::string(element->Name()));
            const TAttributes& attributes = element->Attributes();
            auto& items = node->attributeNodes_->items_;
            items.reserve(static_cast<size_t>(attributes.Count()));
            for (int i = 0; i < attributes.Count(); ++i) {
                items.push_back(
                    CreateAttribute(std::string(attributes.Name(i)), std::string(attributes.Value(i))));
            }
            return node;
        }
        if (auto* comment = dynamic_cast<const TXMLTagComment*>(source)) {
            return std::make_shared<TVreltXMLNode>(TPasskey{}, ntComment, std::string(),
                                                   std::string(comment->Text()));
        }
        if (auto* text = dynamic_cast<const TXMLTagText*>(source)) {
            return std::make_shared<TVreltXMLNode>(TPasskey{}, ntText, std::string(),
                                                   std::string(text->Text()));
        }
        if (dynamic_cast<const TXMLTagPI*>(source) != nullptr) {
            return std::make_shared<TVreltXMLNode>(TPasskey{}, ntProcessingInstr, std::string(),
                                                   std::string());
        }
        return std::make_shared<TVreltXMLNode>(TPasskey{}, ntReserved, std::string(), std::string());
    };

    std::shared_ptr<TVreltXMLNode> root = copyNode(tag);
    // Elements whose children are still to be copied, with their copies.
    std::vector<std::pair<const TXMLTagElement*, TVreltXMLNode*>> pending;
    if (auto* element = dynamic_cast<const TXMLTagElement*>(tag)) {
        pending.emplace_back(element, root.get());
    }
    while (!pending.empty()) {
        auto [source, target] = pending.back();
        pending.pop_back();
        const TXMLElementList& children = source->Children();
        auto& items = target->childNodes_->items_;
        items.reserve(static_cast<size_t>(children.Count()));
        for (int i = 0; i < children.Count(); ++i) {
            const TXMLTagBasic* child = children.Items(i);
            std::shared_ptr<TVreltXMLNode> copy = copyNode(child);
            copy->parent_ = target->weak_from_this();
            if (auto* element = dynamic_cast<const TXMLTagElement*>(child)) {
                pending.emplace_back(element, copy.get());
            }
            items.push_back(std::move(copy));
        }
    }
    return root;
}

TVreltXMLNode::~TVreltXMLNode() {
    // Nodes held only by this subtree have their children moved out before they die, so that
    // freeing a deep tree never nests destructors more than one level.
    if (!childNodes_ || childNodes_.use_count() != 1 || childNodes_->items_.empty()) {
        return;
    }
    std::vector<IXMLNodePtr> pending = std::move(childNodes_->items_);
    childNodes_->items_.clear();
    while (!pending.empty()) {
        IXMLNodePtr node = std::move(pending.back());
        pending.pop_back();
        if (node.use_count() != 1) {
            continue; // someone else still holds it
        }
        auto* own = dynamic_cast<TVreltXMLNode*>(node.get());
        if (own != nullptr && own->childNodes_ && own->childNodes_.use_count() == 1) {
            auto& items = own->childNodes_->items_;
            for (auto& child : items) {
                pending.push_back(std::move(child));
            }
            items.clear();
        }
    }
}

std::string TVreltXMLNode::GetAttribute(const std::string& name) const {
    if (!attributeNodes_) {
        return std::string();
    }
    IXMLNodePtr attribute = attributeNodes_->FindNode(name);
    return attribute ? attribute->GetNodeValue() : std::string();
}

IXMLNodeListPtr TVreltXMLNode::GetAttributeNodes() const {
    return attributeNodes_;
}

IXMLNodeListPtr TVreltXMLNode::GetChildNodes() const {
    return childNodes_;
}

bool TVreltXMLNode::GetHasChildNodes() const {
    return childNodes_ && childNodes_->GetCount() > 0;
}

std::string TVreltXMLNode::GetNodeName() const {
    return name_;
}

TNodeType TVreltXMLNode::GetNodeType() const {
    return type_;
}

std::string TVreltXMLNode::GetNodeValue() const {
    return value_;
}

IXMLNodePtr TVreltXMLNode::GetParentNode() const {
    return parent_.lock();
}

std::string TVreltXMLNode::GetText() const {
    return value_;
}

std::string TVreltXMLNode::GetXML() const {
    return IXMLNodeToXML(*this, TXMLEncoding::CodePage, 0);
}

void TVreltXMLNode::RequireElement(const char* operation) const {
    if (!childNodes_ || !attributeNodes_) {
        throw Exception(std::string("TVreltXMLNode.") + operation + " needs an element node");
    }
}

void TVreltXMLNode::SetAttribute(const std::string& name, const std::string& value) {
    RequireElement("SetAttribute");
    IXMLNodePtr attribute = attributeNodes_->FindNode(name);
    if (attribute) {
        attribute->SetNodeValue(value);
    } else {
        attributeNodes_->Add(CreateAttribute(name, value));
    }
}

void TVreltXMLNode::SetNodeValue(const std::string& value) {
    value_ = value;
}

void TVreltXMLNode::SetText(const std::string& text) {
    value_ = text;
}

IXMLNodePtr TVreltXMLNode::AddChild(const std::string& tagName, int index) {
    RequireElement("AddChild");
    auto child = CreateElement(tagName);
    child->parent_ = weak_from_this();
    if (index == -1) {
        childNodes_->Add(child);
    } else {
        childNodes_->Insert(index, child);
    }
    return child;
}

bool TVreltXMLNode::HasAttribute(const std::string& name) const {
    return attributeNodes_ && attributeNodes_->IndexOf(name) != -1;
}

IXMLNodePtr TVreltXMLNode::AddChild(const std::string&, const std::string&, bool, int) {
    throw Exception("TVreltXMLNode.AddChild method is not implemented");
}

IXMLNodePtr TVreltXMLNode::CloneNode(bool) const {
    throw Exception("TVreltXMLNode.CloneNode method is not implemented");
}

IXMLNodePtr TVreltXMLNode::NextSibling() const {
    NodeNotImplemented();
}

IXMLNodePtr TVreltXMLNode::PreviousSibling() const {
    NodeNotImplemented();
}

bool TVreltXMLNode::HasAttribute(const std::string&, const std::string&) const {
    NodeNotImplemented();
}

void TVreltXMLNode::Normalize() {
    NodeNotImplemented();
}

IXMLNodePtr MakeVreltXMLNode(const TXMLTagBasic* tag) {
    return TVreltXMLNode::Create(tag);
}

// ---------------------------------------------------------------------------------------------
// TVreltXMLNodeList

int TVreltXMLNodeList::GetCount() const {
    return static_cast<int>(items_.size());
}

int TVreltXMLNodeList::Add(const IXMLNodePtr& node) {
    items_.push_back(node);
    return static_cast<int>(items_.size()) - 1;
}

void TVreltXMLNodeList::Clear() {
    // Released outside the list, so that a node's destructor never sees a half-cleared list.
    std::vector<IXMLNodePtr> released = std::move(items_);
    items_.clear();
}

int TVreltXMLNodeList::Delete(int index) {
    if (index < 0 || index >= GetCount()) {
        IndexOutOfBounds(index);
    }
    IXMLNodePtr released = std::move(items_[static_cast<size_t>(index)]);
    items_.erase(items_.begin() + index);
    return index;
}

int TVreltXMLNodeList::Delete(const std::string& name) {
    int index = IndexOf(name);
    if (index >= 0) {
        Delete(index);
    }
    return index;
}

IXMLNodePtr TVreltXMLNodeList::First() const {
    return Get(0);
}

IXMLNodePtr TVreltXMLNodeList::FindNode(const std::string& name) const {
    int index = IndexOf(name);
    return index >= 0 ? items_[static_cast<size_t>(index)] : nullptr;
}

IXMLNodePtr TVreltXMLNodeList::Get(int index) const {
    if (index < 0 || index >= GetCount()) {
        IndexOutOfBounds(index);
    }
    return items_[static_cast<size_t>(index)];
}

int TVreltXMLNodeList::IndexOf(const IXMLNode* node) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == node) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int TVreltXMLNodeList::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] && items_[i]->GetNodeName() == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TVreltXMLNodeList::Insert(int index, const IXMLNodePtr& node) {
    if (index < 0 || index > GetCount()) {
        IndexOutOfBounds(index);
    }
    items_.insert(items_.begin() + index, node);
}

IXMLNodePtr TVreltXMLNodeList::Last() const {
    return Get(GetCount() - 1);
}

int TVreltXMLNodeList::Remove(const IXMLNode* node) {
    int index = IndexOf(node);
    if (index >= 0) {
        Delete(index);
    }
    return index;
}

IXMLNodePtr TVreltXMLNodeList::GetNode(int) const {
    ListNotImplemented();
}

IXMLNodePtr TVreltXMLNodeList::GetNode(const std::string&) const {
    ListNotImplemented();
}

void TVreltXMLNodeList::BeginUpdate() {
    ListNotImplemented();
}

void TVreltXMLNodeList::EndUpdate() {
    ListNotImplemented();
}

IXMLNodePtr TVreltXMLNodeList::ReplaceNode(const IXMLNodePtr&, const IXMLNodePtr&) {
    ListNotImplemented();
}

} // namespace ludex
