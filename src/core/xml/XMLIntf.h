#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ludex {

class IXMLNode;
class IXMLNodeList;

// Counted references: whoever holds a node keeps it and everything below it alive. Counted
// references run downwards only (node -> its lists -> their nodes); the parent link is plain.
using IXMLNodePtr = std::shared_ptr<IXMLNode>;
using IXMLNodeListPtr = std::shared_ptr<IXMLNodeList>;

// Node type codes.
enum TNodeType : uint8_t {
    ntReserved = 0,
    ntElement = 1,
    ntAttribute = 2,
    ntText = 3,
    ntProcessingInstr = 7,
    ntComment = 8,
};

// The XML node interface the settings store is written against. Texts are UTF-8. Operations
// an implementation does not support throw ludex::Exception saying so.
class IXMLNode {
public:
    virtual ~IXMLNode() = default;

    // The value of the attribute with exactly this name; the empty text when absent.
    virtual std::string GetAttribute(const std::string& name) const = 0;
    // The attribute list and the child list; null for nodes that have none (non-elements).
    virtual IXMLNodeListPtr GetAttributeNodes() const = 0;
    virtual IXMLNodeListPtr GetChildNodes() const = 0;
    virtual bool GetHasChildNodes() const = 0;
    virtual std::string GetNodeName() const = 0;
    virtual TNodeType GetNodeType() const = 0;
    virtual std::string GetNodeValue() const = 0;
    // The parent element, or null for a root and for attribute nodes.
    virtual IXMLNodePtr GetParentNode() const = 0;
    virtual std::string GetText() const = 0;
    virtual std::string GetXML() const = 0;
    // Changes the value of the attribute with exactly this name in place, or appends it.
    virtual void SetAttribute(const std::string& name, const std::string& value) = 0;
    virtual void SetNodeValue(const std::string& value) = 0;
    virtual void SetText(const std::string& text) = 0;
    // A new empty element appended (index -1) or inserted at the index of the child list.
    virtual IXMLNodePtr AddChild(const std::string& tagName, int index = -1) = 0;
    virtual bool HasAttribute(const std::string& name) const = 0;

    // Part of the interface but not supported by the program's own adapter.
    virtual IXMLNodePtr AddChild(const std::string& tagName, const std::string& namespaceURI,
                                 bool generatePrefix, int index) = 0;
    virtual IXMLNodePtr CloneNode(bool deep) const = 0;
    virtual IXMLNodePtr NextSibling() const = 0;
    virtual IXMLNodePtr PreviousSibling() const = 0;
    virtual bool HasAttribute(const std::string& name, const std::string& namespaceURI) const = 0;
    virtual void Normalize() = 0;
};

// An ordered list of counted node references.
class IXMLNodeList {
public:
    virtual ~IXMLNodeList() = default;

    virtual int GetCount() const = 0;
    // Appends; returns the 0-based index.
    virtual int Add(const IXMLNodePtr& node) = 0;
    virtual void Clear() = 0;
    // Removes the node at the index; returns the index. Throws for an index out of range.
    virtual int Delete(int index) = 0;
    // Removes the first node with exactly this name; returns its index or -1.
    virtual int Delete(const std::string& name) = 0;
    virtual IXMLNodePtr First() const = 0;
    // The first node with exactly this name, or null.
    virtual IXMLNodePtr FindNode(const std::string& name) const = 0;
    // The node at the 0-based index. Throws for an index out of range.
    virtual IXMLNodePtr Get(int index) const = 0;
    // Position of that very node object, or -1.
    virtual int IndexOf(const IXMLNode* node) const = 0;
    // Position of the first node with exactly this name, or -1.
    virtual int IndexOf(const std::string& name) const = 0;
    virtual void Insert(int index, const IXMLNodePtr& node) = 0;
    virtual IXMLNodePtr Last() const = 0;
    // Removes that very node object; returns its former index or -1.
    virtual int Remove(const IXMLNode* node) = 0;

    // Part of the interface but not supported by the program's own adapter.
    virtual IXMLNodePtr GetNode(int index) const = 0;
    virtual IXMLNodePtr GetNode(const std::string& name) const = 0;
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    virtual IXMLNodePtr ReplaceNode(const IXMLNodePtr& oldNode, const IXMLNodePtr& newNode) = 0;
};

} // namespace ludex
