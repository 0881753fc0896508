#pragma once

#include "core/xml/VreltSAX.h"
#include "core/xml/XMLIntf.h"

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
    uint16_t IndentWidth = 2; // spaces per nesting level
    uint16_t LineBreaks = 1;  // how many "\r\n" separate siblings and surround an element's children
    bool AttributesOnSeparateLines = false;
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

// The allocator of a node's texts and lists: the default heap, or the arena of the document
// that loaded the node.
using TXMLAllocator = std::pmr::polymorphic_allocator<std::byte>;

// An ordered list of tree nodes that owns them. Destroying or clearing it destroys the whole
// subtree below, iteratively, so arbitrarily deep trees are freed without deep recursion.
class TXMLElementList {
public:
    explicit TXMLElementList(TXMLTagElement* owner = nullptr, TXMLAllocator allocator = {});
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

    std::pmr::vector<TXMLNodePtr> items_;
    TXMLTagElement* owner_;
    TXMLOutputFormat format_;
};

class TXMLTagElement : public TXMLTagBasic {
public:
    explicit TXMLTagElement(std::string_view name = {}, TXMLAllocator allocator = {});
    TXMLTagElement(std::string_view name, const TAttributes& attributes, TXMLAllocator allocator = {});

    std::string_view Name() const { return name_; }
    void SetName(std::string_view name) { name_.assign(name); }
    TAttributes& Attributes() { return attributes_; }
    const TAttributes& Attributes() const { return attributes_; }
    TXMLElementList& Children() { return children_; }
    const TXMLElementList& Children() const { return children_; }

    TXMLElementList* ChildList() override { return &children_; }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::pmr::string name_;
    TAttributes attributes_;
    TXMLElementList children_;
};

class TXMLTagText : public TXMLTagBasic {
public:
    explicit TXMLTagText(std::string_view text = {}, TXMLAllocator allocator = {}) : text_(text, allocator) {}
    std::string_view Text() const { return text_; }
    void SetText(std::string_view text) { text_.assign(text); }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::pmr::string text_;
};

class TXMLTagComment : public TXMLTagBasic {
public:
    explicit TXMLTagComment(std::string_view text = {}, TXMLAllocator allocator = {})
        : text_(text, allocator) {}
    std::string_view Text() const { return text_; }
    void SetText(std::string_view text) { text_.assign(text); }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::pmr::string text_;
};

// A processing instruction; its name is kept without the leading "?".
class TXMLTagPI : public TXMLTagBasic {
public:
    explicit TXMLTagPI(std::string_view name = {}, TXMLAllocator allocator = {})
        : name_(name, allocator), attributes_(allocator) {}
    TXMLTagPI(std::string_view name, const TAttributes& attributes, TXMLAllocator allocator = {})
        : name_(name, allocator), attributes_(attributes, allocator) {}
    std::string_view Name() const { return name_; }
    void SetName(std::string_view name) { name_.assign(name); }
    TAttributes& Attributes() { return attributes_; }
    const TAttributes& Attributes() const { return attributes_; }
    void BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const override;

private:
    std::pmr::string name_;
    TAttributes attributes_;
};

// The memory of a loaded tree: a bump allocator whose blocks are kept when it is rewound, so that
// loading again reuses them instead of asking the system for fresh pages. Deallocation does
// nothing; everything is freed when the arena is.
class TXMLArena : public std::pmr::memory_resource {
public:
    TXMLArena() = default;
    TXMLArena(const TXMLArena&) = delete;
    TXMLArena& operator=(const TXMLArena&) = delete;
    // Makes all memory available again. Whatever was allocated must be gone by then.
    void Rewind();
    // Whether objects in the arena may hold memory outside it (a node from the heap was put into
    // one of its lists), so that they must be destroyed one by one rather than abandoned.
    bool HoldsForeignMemory() const { return foreign_; }
    void MarkForeignMemory() { foreign_ = true; }

private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void*, size_t, size_t) override {}
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    struct TBlock {
        std::unique_ptr<std::byte[]> data;
        size_t size;
    };
    std::vector<TBlock> blocks_;
    size_t current_ = 0; // the block being filled
    size_t used_ = 0;    // bytes used in it
    bool foreign_ = false;
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
    ~TVreltXMLDocument();

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
    void DiscardTree();
    void OnStartTag(const std::string& name, const TAttributes& attributes);
    void OnEndTag(const std::string& name);
    void OnText(const std::string& text);
    void OnComment(const std::string& text);

    // Memory of the nodes built by loading and of their texts and lists, released as a whole
    // by the next load. Declared before the tree so that it outlives it.
    TXMLArena arena_;
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

// How the XML writer stores text: as UTF-8, or as bytes of the code page.
enum class TXMLEncoding { CodePage, Utf8 };

// 2 x level spaces.
std::string IndentString(int level);

// The XML text of an element, text or comment node and its descendants, children indented by
// two spaces per level, each on a line of its own. Other node kinds fail with
// "IXMLNodeToXML: Unsupported NodeType". Names are written as they are.
std::string IXMLNodeToXML(const IXMLNode& node, TXMLEncoding encoding, int level,
                          const TCodePage& codePage = CurrentCodePage());

// The declaration (with encoding="utf-8" for TXMLEncoding::Utf8), "\r\n", then the node's XML text.
std::string XMLDocumentText(const IXMLNode& node, TXMLEncoding encoding,
                            const TCodePage& codePage = CurrentCodePage());

// Builds the whole text first, then replaces the file atomically: on any failure the old file
// stays and EInOutError names the file and the reason; a conversion or node error leaves the
// file untouched.
void SaveXMLToFile(const std::string& path, const IXMLNode& node, TXMLEncoding encoding,
                   const TCodePage& codePage = CurrentCodePage());
void SaveXMLToFile(const std::string& path, const IXMLNodePtr& node, TXMLEncoding encoding,
                   const TCodePage& codePage = CurrentCodePage());

} // namespace ludex
