#pragma once

#include "core/base/NonCopyable.h"
#include "core/xml/VreltXMLDocument.h"
#include "core/xml/XMLIntf.h"

#include <memory>
#include <string>
#include <vector>

namespace ludex {

class TVreltXMLNodeList;

// A node of an adapter tree: a copy of an element tree (or one node of it) offered through the
// IXMLNode interface. Counted references run downwards only: a node holds its two lists, a list
// holds its nodes. The parent link does not own; a node whose parent is gone answers null.
//
// Nodes are created through the Create functions, which return counted references; the tree
// below a node is freed iteratively when its last reference goes, however deep it is.
class TVreltXMLNode : public IXMLNode,
                      public std::enable_shared_from_this<TVreltXMLNode>,
                      private TNonCopyable {
    struct TPasskey {};

public:
    // A copy of a tree node: an element with its attributes and all its descendants, a text, a
    // comment, or a processing instruction (type 7, without name and value). Anything else, null
    // included, gives a node of type 0 without lists. Works iteratively at any depth.
    static std::shared_ptr<TVreltXMLNode> Create(const TXMLTagBasic* tag);
    // An attribute node (type 2) without lists and without parent.
    static std::shared_ptr<TVreltXMLNode> CreateAttribute(std::string name, std::string value);
    // An element (type 1) with empty attribute and child lists.
    static std::shared_ptr<TVreltXMLNode> CreateElement(std::string name);

    TVreltXMLNode(TPasskey, TNodeType type, std::string name, std::string value);
    ~TVreltXMLNode() override;

    std::string GetAttribute(const std::string& name) const override;
    IXMLNodeListPtr GetAttributeNodes() const override;
    IXMLNodeListPtr GetChildNodes() const override;
    bool GetHasChildNodes() const override;
    std::string GetNodeName() const override;
    TNodeType GetNodeType() const override;
    std::string GetNodeValue() const override;
    IXMLNodePtr GetParentNode() const override;
    std::string GetText() const override;
    // The node's XML text as written to a file without encoding declaration: code-page bytes.
    std::string GetXML() const override;
    // SetAttribute and AddChild need an element; other nodes raise ludex::Exception.
    void SetAttribute(const std::string& name, const std::string& value) override;
    void SetNodeValue(const std::string& value) override;
    void SetText(const std::string& text) override;
    IXMLNodePtr AddChild(const std::string& tagName, int index = -1) override;
    bool HasAttribute(const std::string& name) const override;

    IXMLNodePtr AddChild(const std::string& tagName, const std::string& namespaceURI, bool generatePrefix,
                         int index) override;
    IXMLNodePtr CloneNode(bool deep) const override;
    IXMLNodePtr NextSibling() const override;
    IXMLNodePtr PreviousSibling() const override;
    bool HasAttribute(const std::string& name, const std::string& namespaceURI) const override;
    void Normalize() override;

private:
    void MakeElement();
    void RequireElement(const char* operation) const;

    std::string name_;
    std::string value_;
    std::shared_ptr<TVreltXMLNodeList> childNodes_;
    std::shared_ptr<TVreltXMLNodeList> attributeNodes_;
    TNodeType type_;
    std::weak_ptr<TVreltXMLNode> parent_;
};

// An ordered list of counted node references. Name lookups compare exactly and take the first
// match. Index errors raise ludex::Exception "List index out of bounds (<index>)".
class TVreltXMLNodeList : public IXMLNodeList {
public:
    int GetCount() const override;
    int Add(const IXMLNodePtr& node) override;
    void Clear() override;
    int Delete(int index) override;
    int Delete(const std::string& name) override;
    IXMLNodePtr First() const override;
    IXMLNodePtr FindNode(const std::string& name) const override;
    IXMLNodePtr Get(int index) const override;
    int IndexOf(const IXMLNode* node) const override;
    int IndexOf(const std::string& name) const override;
    void Insert(int index, const IXMLNodePtr& node) override;
    IXMLNodePtr Last() const override;
    int Remove(const IXMLNode* node) override;

    IXMLNodePtr GetNode(int index) const override;
    IXMLNodePtr GetNode(const std::string& name) const override;
    void BeginUpdate() override;
    void EndUpdate() override;
    IXMLNodePtr ReplaceNode(const IXMLNodePtr& oldNode, const IXMLNodePtr& newNode) override;

private:
    friend class TVreltXMLNode;
    std::vector<IXMLNodePtr> items_;
};

// The adapter tree of a tree node (TVreltXMLNode::Create) as an interface reference.
IXMLNodePtr MakeVreltXMLNode(const TXMLTagBasic* tag);

} // namespace ludex
