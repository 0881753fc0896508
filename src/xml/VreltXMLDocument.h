#pragma once

#include "xml/VreltSAX.h"
#include "xml/XMLIntf.h"

#include <cstdint>
#include <istream>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

namespace ludex {

// The layout of the tree's own writer (BuildXML / AsXML).
struct TXMLOutputFormat {
    bool AttributesOnSeparateLines = false;
    uint16_t IndentWidth = 2; // spaces per nesting level
    uint16_t LineBreaks = 1;  // how many "\r\n" separate siblings and surround an element's children
    bool UTF8 = false;
};

// The library's default layout. Every new node and list copies it, with UTF8 set to false.
TXMLOutputFormat& DefaultXMLOutputFormat();

// The writers refuse trees nested deeper than this: the indentation alone would make the text
// grow with the square of the depth. Settings files are a few levels deep.
constexpr int kMaxXMLWriteDepth = 1000;

class TXMLElementList;
class TXMLTagElement;
class TXMLTagBasic;

// Destroys a node; frees its memory unless it lives in a document's node arena, which releases
// its memory as a whole.
struct TXMLNodeDeleter {
    void operator()(TXMLTagBasic* node) const noexcept;
};
using TXMLNodePtr = std::unique_ptr<TXMLTagBasic, TXMLNodeDeleter>;

// A node of the element tree. A node belongs to at most one list, which owns it.
class TXMLTagBasic {
public:
    TXMLTagBasic();
    virtual ~TXMLTagBasic() = default;
    TXMLTagBasic(const TXMLTagBasic&) = delete;
    TXMLTagBasic& operator=(const TXMLTagBasic&) = delete;

    // The list that holds this node, or null.
    TXMLElementList* ParentList() const { return parentList_; }
    // The layout used while the node belongs to no list.
    TXMLOutputFormat& Format() { return format_; }
    const TXMLOutputFormat& Format() const { return format_; }

    // The children of an element; null for every other kind of node.
    virtual TXMLElementList* ChildList() { return nullptr; }

    // Appends the XML text of this node (and its descendants) at the nesting level.
    virtual void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const = 0;
    // BuildXML with the layout of the parent list (or the node's own) and that layout's UTF8 field.
    void AsXML(int level, std::string& out) const;
    std::string AsXML(int level = 0) const;

private:
    friend class TXMLElementList;
    friend class TVreltXMLDocument;
    friend struct TXMLNodeDeleter;
    TXMLElementList* parentList_ = nullptr;
    TXMLOutputFormat format_;
    bool inArena_ = false;
};

// An ordered list of tree nodes that owns them. Destroying or clearing it destroys the whole
// subtree below, iteratively, so arbitrarily deep trees are freed without deep recursion.
class TXMLElementList {
public:
    explicit TXMLElementList(TXMLTagElement* owner = nullptr);
    ~TXMLElementList();
    TXMLElementList(const TXMLElementList&) = delete;
    TXMLElementList& operator=(const TXMLElementList&) = delete;

    // Appends the node; the list owns it from now on. Returns the node.
    TXMLTagBasic& Add(std::unique_ptr<TXMLTagBasic> node);
    template <class T, class... Args>
    T& Append(Args&&... args) {
        auto node = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *node;
        Add(std::move(node));
        return ref;
    }
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    // The item at a 0-based index; throws ludex::Exception for an index out of range.
    TXMLTagBasic* Items(int index) const;

    // The element whose children these are; null for a document's top level.
    TXMLTagElement* Owner() const { return owner_; }
    TXMLOutputFormat& Format() { return format_; }
    const TXMLOutputFormat& Format() const { return format_; }

    // The items' texts at the level, separated by the layout's line breaks.
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const;

private:
    friend class TVreltXMLDocument;
    TXMLTagBasic& Add(TXMLNodePtr node);

    std::vector<TXMLNodePtr> items_;
    TXMLTagElement* owner_;
    TXMLOutputFormat format_;
};

class TXMLTagElement : public TXMLTagBasic {
public:
    explicit TXMLTagElement(std::string name = {}, const TAttributes& attributes = {});

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TAttributes& Attributes() { return attributes_; }
    const TAttributes& Attributes() const { return attributes_; }
    TXMLElementList& Children() { return children_; }
    const TXMLElementList& Children() const { return children_; }

    TXMLElementList* ChildList() override { return &children_; }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::string name_;
    TAttributes attributes_;
    TXMLElementList children_;
};

class TXMLTagText : public TXMLTagBasic {
public:
    explicit TXMLTagText(std::string text = {}) : text_(std::move(text)) {}
    const std::string& Text() const { return text_; }
    void SetText(std::string text) { text_ = std::move(text); }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::string text_;
};

class TXMLTagComment : public TXMLTagBasic {
public:
    explicit TXMLTagComment(std::string text = {}) : text_(std::move(text)) {}
    const std::string& Text() const { return text_; }
    void SetText(std::string text) { text_ = std::move(text); }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::string text_;
};

// A processing instruction; its name is kept without the leading "?".
class TXMLTagPI : public TXMLTagBasic {
public:
    explicit TXMLTagPI(std::string name = {}) : name_(std::move(name)) {}
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TAttributes& Attributes() { return attributes_; }
    const TAttributes& Attributes() const { return attributes_; }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::string name_;
    TAttributes attributes_;
};

// An XML text loaded into a tree that mirrors it: elements, texts, comments and processing
// instructions where they stood, also at the top level. Reusable: every load first discards
// the previous tree. A failed load keeps what was built before the error until the next load.
class TVreltXMLDocument {
public:
    // The code page is the one of files without a UTF-8 declaration.
    explicit TVreltXMLDocument(const TCodePage& codePage = CurrentCodePage());
    TVreltXMLDocument(const TVreltXMLDocument&) = delete;
    TVreltXMLDocument& operator=(const TVreltXMLDocument&) = delete;

    // Each passes the tokenizer's EVreltSAX on unchanged; LoadFromFile and LoadFromStream also
    // pass EInOutError for a file or stream that cannot be read.
    void LoadFromXML(std::string_view text);
    void LoadFromStream(std::istream& stream);
    void LoadFromFile(const std::string& path);

    // The first element of the top level, or null.
    TXMLTagElement* RootElement() const;
    // The first item of the top level that is a T (or derived from it), or null.
    template <class T>
    T* FindFirst() const {
        for (int i = 0; i < topLevel_.Count(); ++i) {
            if (auto* node = dynamic_cast<T*>(topLevel_.Items(i))) {
                return node;
            }
        }
        return nullptr;
    }
    TXMLElementList& TopLevel() { return topLevel_; }
    const TXMLElementList& TopLevel() const { return topLevel_; }

private:
    template <class T, class... Args>
    T& AddNode(Args&&... args);
    void BeginLoad();
    void OnStartTag(const std::string& name, const TAttributes& attributes);
    void OnEndTag(const std::string& name);
    void OnText(const std::string& text);
    void OnComment(const std::string& text);

    // Memory of the nodes built by loading, released as a whole by the next load. Declared
    // before the tree so that it outlives it.
    std::pmr::monotonic_buffer_resource arena_;
    TXMLElementList topLevel_;
    TXMLElementList* insertion_;
    TVreltSAX tokenizer_;
};

// Replaces "&", "<", ">", the double quote and the apostrophe by their entities and every byte
// 0x00..0x1F by "&#x" + its upper-case hexadecimal value + ";". Other bytes pass unchanged.
std::string EscapeXMLText(std::string_view text);

// With utf8 set: the text (UTF-8 in memory) unchanged; malformed UTF-8 fails with
// "Can not convert <text> to UTF-8". With utf8 clear: the text as bytes of the code page; a
// character the code page cannot hold fails with an error naming the code page. Never
// substitutes.
std::string ConvertToUTF8(std::string_view text, bool utf8, const TCodePage& codePage = CurrentCodePage());

// 2 x level spaces.
std::string IndentString(int level);

// The XML text of an element, text or comment node and its descendants, children indented by
// two spaces per level, each on a line of its own. Other node kinds fail with
// "IXMLNodeToXML: Unsupported NodeType". Names are written as they are.
std::string IXMLNodeToXML(const IXMLNode& node, bool utf8, int level,
                          const TCodePage& codePage = CurrentCodePage());

// The declaration (with encoding="utf-8" when utf8 is set), "\r\n", then the node's XML text.
std::string XMLDocumentText(const IXMLNode& node, bool utf8, const TCodePage& codePage = CurrentCodePage());

// Builds the whole text first, then replaces the file atomically: on any failure the old file
// stays and EInOutError names the file and the reason; a conversion or node error leaves the
// file untouched.
void SaveXMLToFile(const std::string& path, const IXMLNode& node, bool utf8,
                   const TCodePage& codePage = CurrentCodePage());
void SaveXMLToFile(const std::string& path, const IXMLNodePtr& node, bool utf8,
                   const TCodePage& codePage = CurrentCodePage());

} // namespace ludex
