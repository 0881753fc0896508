#include "core/xml/VreltXMLDocument.h"

#include "core/base/Exception.h"
#include "core/base/FileIO.h"
#include "core/text/Utf8.h"

#include <algorithm>

namespace ludex {

namespace {

const char* const kCrLf = "\r\n";

TXMLOutputFormat NewNodeFormat() {
    TXMLOutputFormat format = DefaultXMLOutputFormat();
    format.UTF8 = false;
    return format;
}

void CheckWriteDepth(int level) {
    if (level > kMaxXMLWriteDepth) {
        throw Exception("XML nested deeper than " + std::to_string(kMaxXMLWriteDepth) +
                        " levels cannot be written");
    }
}

void AppendIndent(std::string& out, const TXMLOutputFormat& layout, int level) {
    out.append(static_cast<size_t>(layout.IndentWidth) * static_cast<size_t>(level), ' ');
}

void AppendLineBreaks(std::string& out, const TXMLOutputFormat& layout) {
    for (int i = 0; i < layout.LineBreaks; ++i) {
        out.append(kCrLf);
    }
}

void AppendAttributeValue(std::string& out, std::string_view value, bool utf8) {
    out.push_back('"');
    out.append(ConvertToUTF8(EscapeXMLText(value), utf8));
    out.push_back('"');
}

} // namespace

TXMLOutputFormat& DefaultXMLOutputFormat() {
    static TXMLOutputFormat format;
    return format;
}

// ---------------------------------------------------------------------------------------------
// Tree nodes

TXMLTagBasic::TXMLTagBasic() : format_(NewNodeFormat()) {}

void TXMLTagBasic::AsXML(int level, std::string& out) const {
    const TXMLOutputFormat& layout = parentList_ != nullptr ? parentList_->Format() : format_;
    BuildXML(layout, layout.UTF8, level, out);
}

std::string TXMLTagBasic::AsXML(int level) const {
    std::string out;
    AsXML(level, out);
    return out;
}

TXMLElementList::TXMLElementList(TXMLTagElement* owner, TXMLAllocator allocator)
    : items_(allocator), owner_(owner), format_(NewNodeFormat()) {}

TXMLElementList::~TXMLElementList() {
    Clear();
}

void TXMLNodeDeleter::operator()(TXMLTagBasic* node) const noexcept {
    if (node->inArena_) {
        node->~TXMLTagBasic();
    } else {
        delete node;
    }
}

TXMLTagBasic& TXMLElementList::Add(std::unique_ptr<TXMLTagBasic> node) {
    // A heap node inside a document's tree must be destroyed properly when the tree goes.
    if (auto* arena = dynamic_cast<TXMLArena*>(items_.get_allocator().resource())) {
        arena->MarkForeignMemory();
    }
    return Add(TXMLNodePtr(node.release()));
}

TXMLTagBasic& TXMLElementList::Add(TXMLNodePtr node) {
    node->parentList_ = this;
    if (items_.empty()) {
        items_.reserve(4);
    }
    items_.push_back(std::move(node));
    return *items_.back();
}

void TXMLElementList::Clear() {
    // Nested lists are destroyed recursively only up to a fixed depth; below that the children
    // of an element are moved out before the element dies, so that no destructor has more than
    // one level below it and a tree of any depth is freed with bounded stack.
    constexpr int kRecursiveDepth = 64;
    static thread_local int depth = 0;
    if (depth < kRecursiveDepth) {
        ++depth;
        struct TLeave {
            ~TLeave() { --depth; }
        } leave;
        std::pmr::vector<TXMLNodePtr> items = std::move(items_);
        items_.clear();
        items.clear();
        return;
    }
    std::vector<TXMLNodePtr> pending;
    for (auto& item : items_) {
        pending.push_back(std::move(item));
    }
    items_.clear();
    while (!pending.empty()) {
        TXMLNodePtr node = std::move(pending.back());
        pending.pop_back();
        if (TXMLElementList* list = node->ChildList()) {
            auto& children = list->items_;
            for (auto& child : children) {
                pending.push_back(std::move(child));
            }
            children.clear();
        }
    }
}

TXMLTagBasic* TXMLElementList::Items(int index) const {
    if (index < 0 || index >= Count()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    return items_[static_cast<size_t>(index)].get();
}

void TXMLElementList::BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (i > 0) {
            AppendLineBreaks(out, layout);
        }
        items_[i]->BuildXML(layout, utf8, level, out);
    }
}

TXMLTagElement::TXMLTagElement(std::string_view name, TXMLAllocator allocator)
    : name_(name, allocator), attributes_(allocator), children_(this, allocator) {}

TXMLTagElement::TXMLTagElement(std::string_view name, const TAttributes& attributes, TXMLAllocator allocator)
    : name_(name, allocator), attributes_(attributes, allocator), children_(this, allocator) {}

void TXMLTagElement::BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const {
    CheckWriteDepth(level);
    AppendIndent(out, layout, level);
    out.push_back('<');
    out.append(name_);
    for (int i = 0; i < attributes_.Count(); ++i) {
        if (layout.AttributesOnSeparateLines) {
            out.append(kCrLf);
            AppendIndent(out, layout, level + 1);
        } else {
            out.push_back(' ');
        }
        out.append(attributes_.Name(i));
        out.push_back('=');
        AppendAttributeValue(out, attributes_.Value(i), utf8);
    }
    if (children_.Count() == 0) {
        out.append("/>");
        return;
    }
    out.push_back('>');
    AppendLineBreaks(out, layout);
    children_.BuildXML(layout, utf8, level + 1, out);
    AppendLineBreaks(out, layout);
    AppendIndent(out, layout, level);
    out.append("</");
    out.append(name_);
    out.push_back('>');
}

void TXMLTagText::BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const {
    AppendIndent(out, layout, level);
    out.append(ConvertToUTF8(EscapeXMLText(text_), utf8));
}

void TXMLTagComment::BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const {
    AppendIndent(out, layout, level);
    out.append("<!--");
    out.append(ConvertToUTF8(text_, utf8));
    out.append("-->");
}

void TXMLTagPI::BuildXML(const TXMLOutputFormat& layout, bool utf8, int level, std::string& out) const {
    AppendIndent(out, layout, level);
    out.append("<?");
    out.append(name_);
    for (int i = 0; i < attributes_.Count(); ++i) {
        out.push_back(' ');
        out.append(attributes_.Name(i));
        out.push_back('=');
        AppendAttributeValue(out, attributes_.Value(i), utf8);
    }
    out.append("?>");
}

// ---------------------------------------------------------------------------------------------
// TXMLArena

void TXMLArena::Rewind() {
    current_ = 0;
    used_ = 0;
    foreign_ = false;
}

void* TXMLArena::do_allocate(size_t bytes, size_t alignment) {
    constexpr size_t kFirstBlock = 64 * 1024;
    if (alignment > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
        throw std::bad_alloc(); // blocks are aligned for fundamental types only
    }
    for (;;) {
        if (current_ < blocks_.size()) {
            TBlock& block = blocks_[current_];
            size_t start = (used_ + alignment - 1) & ~(alignment - 1);
            if (start <= block.size && bytes <= block.size - start) {
                used_ = start + bytes;
                return block.data.get() + start;
            }
            if (current_ + 1 < blocks_.size()) {
                ++current_;
                used_ = 0;
                continue;
            }
        }
        // No kept block has room: a new one, twice the size of the last (new[] aligns it for
        // any fundamental type).
        size_t size = blocks_.empty() ? kFirstBlock : blocks_.back().size * 2;
        size = std::max(size, bytes + alignment);
        blocks_.push_back(TBlock{std::make_unique<std::byte[]>(size), size});
        current_ = blocks_.size() - 1;
        used_ = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// TVreltXMLDocument

TVreltXMLDocument::TVreltXMLDocument(const TCodePage& codePage)
    : insertion_(&topLevel_),
      tokenizer_(
          [this](const std::string& name, const TAttributes& attributes) { OnStartTag(name, attributes); },
          [this](const std::string& name) { OnEndTag(name); },
          [this](const std::string& text) { OnText(text); },
          [this](const std::string& text) { OnComment(text); }, codePage) {}

TVreltXMLDocument::~TVreltXMLDocument() {
    DiscardTree();
}

void TVreltXMLDocument::DiscardTree() {
    if (arena_.HoldsForeignMemory()) {
        topLevel_.Clear();
    } else {
        // Every node below the top level, with its texts and lists, lives in the arena and holds
        // nothing else: the tree is abandoned as a whole instead of being destroyed node by node.
        for (auto& item : topLevel_.items_) {
            if (item->inArena_) {
                (void)item.release();
            }
        }
        topLevel_.Clear(); // nodes the caller put at the top level
    }
    arena_.Rewind();
}

void TVreltXMLDocument::BeginLoad() {
    DiscardTree();
    insertion_ = &topLevel_;
}

template <class T, class... Args>
T& TVreltXMLDocument::AddNode(Args&&... args) {
    void* memory = arena_.allocate(sizeof(T), alignof(T));
    TXMLNodePtr node(::new (memory) T(std::forward<Args>(args)..., TXMLAllocator(&arena_)));
    node->inArena_ = true;
    return static_cast<T&>(insertion_->Add(std::move(node)));
}

void TVreltXMLDocument::LoadFromXML(std::string_view text) {
    BeginLoad();
    tokenizer_.Parse(text);
}

void TVreltXMLDocument::LoadFromStream(std::istream& stream) {
    BeginLoad();
    tokenizer_.ParseStream(stream);
}

void TVreltXMLDocument::LoadFromFile(const std::string& path) {
    // Reading the whole file first gives the same tree as streaming it and a precise error
    // for a file that cannot be opened or read.
    std::string bytes = ReadFileBytes(path);
    LoadFromXML(bytes);
}

TXMLTagElement* TVreltXMLDocument::RootElement() const {
    return FindFirst<TXMLTagElement>();
}

void TVreltXMLDocument::OnStartTag(const std::string& name, const TAttributes& attributes) {
    if (!name.empty() && name[0] == '?') {
        AddNode<TXMLTagPI>(std::string_view(name).substr(1), attributes);
        return;
    }
    auto& element = AddNode<TXMLTagElement>(name, attributes);
    insertion_ = &element.Children();
}

void TVreltXMLDocument::OnEndTag(const std::string& name) {
    if (!name.empty() && name[0] == '?') {
        return;
    }
    if (TXMLTagElement* owner = insertion_->Owner()) {
        insertion_ = owner->ParentList();
    }
}

void TVreltXMLDocument::OnText(const std::string& text) {
    AddNode<TXMLTagText>(text);
}

void TVreltXMLDocument::OnComment(const std::string& text) {
    AddNode<TXMLTagComment>(text);
}

// ---------------------------------------------------------------------------------------------
// Writer

std::string EscapeXMLText(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '"':
            out.append("&quot;");
            break;
        case '\'':
            out.append("&apos;");
            break;
        default:
            if (b < 0x20) {
                out.append("&#x");
                if (b >= 0x10) {
                    out.push_back(kHex[b >> 4]);
                }
                out.push_back(kHex[b & 0x0F]);
                out.push_back(';');
            } else {
                out.push_back(c);
            }
        }
    }
    return out;
}

std::string ConvertToUTF8(std::string_view text, bool utf8, const TCodePage& codePage) {
    if (utf8) {
        if (!IsValidUtf8(text)) {
            throw Exception("Can not convert " + std::string(text) + " to UTF-8");
        }
        return std::string(text);
    }
    try {
        return codePage.FromUtf8(text);
    } catch (const ECodePage& e) {
        throw Exception("Can not convert " + std::string(text) + " to code page " + codePage.Name() + ": " +
                        e.Message());
    }
}

std::string IndentString(int level) {
    return std::string(level > 0 ? static_cast<size_t>(level) * 2 : 0, ' ');
}

namespace {

void NodeToXML(const IXMLNode& node, bool utf8, int level, const TCodePage& codePage, std::string& out) {
    CheckWriteDepth(level);
    switch (node.GetNodeType()) {
    case ntElement: {
        out.append(IndentString(level));
        out.push_back('<');
        const std::string name = node.GetNodeName();
        out.append(name);
        if (IXMLNodeListPtr attributes = node.GetAttributeNodes()) {
            for (int i = 0; i < attributes->GetCount(); ++i) {
                IXMLNodePtr attribute = attributes->Get(i);
                out.push_back(' ');
                out.append(attribute->GetNodeName());
                out.append("=\"");
                out.append(ConvertToUTF8(EscapeXMLText(attribute->GetNodeValue()), utf8, codePage));
                out.push_back('"');
            }
        }
        if (!node.GetHasChildNodes()) {
            out.append("/>");
            return;
        }
        out.append(">\r\n");
        IXMLNodeListPtr children = node.GetChildNodes();
        for (int i = 0; i < children->GetCount(); ++i) {
            NodeToXML(*children->Get(i), utf8, level + 1, codePage, out);
            out.append(kCrLf);
        }
        out.append(IndentString(level));
        out.append("</");
        out.append(name);
        out.push_back('>');
        return;
    }
    case ntText:
        out.append(IndentString(level));
        out.append(ConvertToUTF8(EscapeXMLText(node.GetText()), utf8, codePage));
        return;
    case ntComment:
        out.append("<!--");
        out.append(ConvertToUTF8(node.GetText(), utf8, codePage));
        out.append("-->");
        return;
    default:
        throw Exception("IXMLNodeToXML: Unsupported NodeType");
    }
}

} // namespace

std::string IXMLNodeToXML(const IXMLNode& node, TXMLEncoding encoding, int level, const TCodePage& codePage) {
    std::string out;
    NodeToXML(node, encoding == TXMLEncoding::Utf8, level, codePage, out);
    return out;
}

std::string XMLDocumentText(const IXMLNode& node, TXMLEncoding encoding, const TCodePage& codePage) {
    const bool utf8 = encoding == TXMLEncoding::Utf8;
    std::string out = "<?xml version=\"1.0\"";
    if (utf8) {
        out.append(" encoding=\"utf-8\"");
    }
    out.append("?>\r\n");
    NodeToXML(node, utf8, 0, codePage, out);
    return out;
}

void SaveXMLToFile(const std::string& path, const IXMLNode& node, TXMLEncoding encoding,
                   const TCodePage& codePage) {
    std::string text = XMLDocumentText(node, encoding, codePage);
    WriteFileAtomically(path, text);
}

void SaveXMLToFile(const std::string& path, const IXMLNodePtr& node, TXMLEncoding encoding,
                   const TCodePage& codePage) {
    if (!node) {
        throw Exception("IXMLNodeToXML: Unsupported NodeType");
    }
    SaveXMLToFile(path, *node, encoding, codePage);
}

} // namespace ludex
