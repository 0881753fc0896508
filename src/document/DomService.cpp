#include "document/DomService.h"

#include "base/FileIO.h"
#include "document/Utf8Scan.h"
#include "text/CodePage.h"
#include "text/Iconv.h"
#include "text/Utf8.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

namespace ludex {

namespace {

// Elements, text, comments, processing instructions and character-data sections are kept (and
// declarations, to refuse one inside the document element);
// references are resolved, line ends normalised, attribute white space normalised as XML
// requires, and text nodes trimmed at both ends (white-space-only text is dropped).
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_escapes | pugi::parse_eol | pugi::parse_wconv_attribute |
                                   pugi::parse_trim_pcdata | pugi::parse_declaration;

std::string Located(std::string_view source, std::string_view text, size_t offset, std::string_view what) {
    auto [line, column] = LineAndColumnOf(text, offset);
    return "\"" + std::string(source) + "\", line " + std::to_string(line) + ", column " +
           std::to_string(column) + ": " + std::string(what);
}

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// The encoding named in the XML declaration at the start of the bytes; empty when there is no
// declaration or it names none.
std::string DeclaredEncoding(std::string_view bytes) {
    if (!StartsWith(bytes, "<?xml")) {
        return {};
    }
    size_t end = bytes.find("?>");
    if (end == std::string_view::npos) {
        return {};
    }
    std::string_view decl = bytes.substr(0, end);
    size_t key = decl.find("encoding");
    if (key == std::string_view::npos) {
        return {};
    }
    size_t pos = key + 8;
    auto skipBlanks = [&] {
        while (pos < decl.size() &&
               (decl[pos] == ' ' || decl[pos] == '\t' || decl[pos] == '\r' || decl[pos] == '\n')) {
            ++pos;
        }
    };
    skipBlanks();
    if (pos >= decl.size() || decl[pos] != '=') {
        return {};
    }
    ++pos;
    skipBlanks();
    if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) {
        return {};
    }
    char quote = decl[pos++];
    size_t close = decl.find(quote, pos);
    if (close == std::string_view::npos) {
        return {};
    }
    return std::string(decl.substr(pos, close - pos));
}

std::string Utf16ToUtf8(std::string_view bytes, const char* encoding, std::string_view source) {
    TIconv cd("UTF-8", encoding);
    if (!cd.Valid()) {
        throw EDomError("\"" + std::string(source) + "\": the system cannot convert " + encoding);
    }
    std::string out(bytes.size() * 3 / 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    if (iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        // The output is large enough for any UTF-16 text, so this is a bad or truncated sequence.
        size_t produced = out.size() - outLeft;
        out.resize(produced);
        throw EDomError(Located(source, out, produced, std::string("invalid ") + encoding + " sequence"));
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string SingleByteToUtf8(std::string_view bytes, const std::string& encoding, std::string_view source) {
    const TCodePage* page = nullptr;
    try {
        page = &TCodePage::Get(encoding);
    } catch (const ECodePage& e) {
        throw EDomError("\"" + std::string(source) + "\": unsupported encoding \"" + encoding + "\" (" +
                        e.Message() + ")");
    }
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char c : bytes) {
        if (!page->AppendByteAsUtf8(out, static_cast<unsigned char>(c))) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(c));
            throw EDomError(Located(source, out, out.size(),
                                    std::string("the byte ") + hex + " is not defined in " + encoding));
        }
    }
    return out;
}

// The document text as UTF-8 without byte-order mark.
std::string DecodeDocument(std::string&& bytes, std::string_view source) {
    const std::string_view head = std::string_view(bytes).substr(0, 3);
    auto u = [head](size_t i) {
        return i < head.size() ? static_cast<unsigned>(static_cast<unsigned char>(head[i])) : 0x100u;
    };
    if (u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) {
        bytes.erase(0, 3);
    } else if (u(0) == 0xFF && u(1) == 0xFE) {
        return Utf16ToUtf8(std::string_view(bytes).substr(2), "UTF-16LE", source);
    } else if (u(0) == 0xFE && u(1) == 0xFF) {
        return Utf16ToUtf8(std::string_view(bytes).substr(2), "UTF-16BE", source);
    } else if ((u(0) == 0 && u(1) == '<') || (u(0) == '<' && u(1) == 0)) {
        throw EDomError("\"" + std::string(source) +
                        "\": UTF-16 text without a byte-order mark is not supported");
    } else {
        const std::string encoding = DeclaredEncoding(bytes);
        const std::string lower = AsciiLower(encoding);
        if (!lower.empty() && lower != "utf-8" && lower != "utf8") {
            if (StartsWith(lower, "utf-") || StartsWith(lower, "ucs-") || StartsWith(lower, "utf1")) {
                throw EDomError("\"" + std::string(source) + "\": the declared encoding \"" + encoding +
                                "\" needs a byte-order mark");
            }
            return SingleByteToUtf8(bytes, encoding, source);
        }
    }
    size_t bad = 0;
    if (!IsValidUtf8Scan(bytes, &bad)) {
        throw EDomError(Located(source, bytes, bad, "invalid UTF-8 byte sequence"));
    }
    return bytes;
}

// Whether the text holds a character reference to a surrogate or beyond U+10FFFF (possibly inside
// a comment or character-data section, where it means nothing: the caller then checks the parsed
// values themselves). A reference to NUL ends the text it stands in, as the parser reads it.
bool HasSuspectReference(std::string_view text) {
    for (size_t at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
        size_t pos = at + 2;
        const bool hex = pos < text.size() && text[pos] == 'x';
        pos += hex ? 1 : 0;
        uint64_t value = 0;
        size_t digits = 0;
        for (; pos < text.size(); ++pos, ++digits) {
            char c = text[pos];
            int d = c >= '0' && c <= '9'          ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
            if (d < 0) {
                break;
            }
            value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        }
        if (digits > 0 && (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))) {
            return true;
        }
    }
    return false;
}

std::string_view TrimXmlSpace(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool HasOnlyScalarValues(const char* s) {
    return s == nullptr || IsValidUtf8Scan(s);
}

} // namespace

std::pair<size_t, size_t> LineAndColumnOf(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    size_t column = 1;
    for (size_t i = lineStart; i < offset; ++i) {
        // Count characters: every byte that does not continue a UTF-8 sequence.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
}

// ---- TDomAttribute ----------------------------------------------------------------------------

std::string_view TDomAttribute::Name() const {
    return pugi::xml_attribute(attr_).name();
}

std::string_view TDomAttribute::Value() const {
    return pugi::xml_attribute(attr_).value();
}

TDomAttribute TDomAttribute::Next() const {
    return TDomAttribute(pugi::xml_attribute(attr_).next_attribute().internal_object());
}

// ---- TDomNode ---------------------------------------------------------------------------------

namespace {
pugi::xml_node P(pugi::xml_node_struct* n) {
    return pugi::xml_node(n);
}
} // namespace

TDomNodeKind TDomNode::Kind() const {
    switch (P(node_).type()) {
    case pugi::node_null:
        return TDomNodeKind::Null;
    case pugi::node_element:
        return TDomNodeKind::Element;
    case pugi::node_pcdata:
        return TDomNodeKind::Text;
    default:
        return TDomNodeKind::Other;
    }
}

void TDomNode::RequireElement(const char* operation) const {
    if (P(node_).type() != pugi::node_element) {
        throw Exception(std::string(operation) + " needs an element");
    }
}

std::string_view TDomNode::Name() const {
    return IsElement() ? std::string_view(P(node_).name()) : std::string_view();
}

std::string_view TDomNode::Text() const {
    return IsElement() ? std::string_view() : std::string_view(P(node_).value());
}

std::string TDomNode::XML() const {
    if (!node_) {
        return {};
    }
    std::ostringstream out;
    P(node_).print(out, "", pugi::format_raw, pugi::encoding_utf8);
    return std::move(out).str();
}

TDomNode TDomNode::Parent() const {
    pugi::xml_node p = P(node_).parent();
    return p.type() == pugi::node_element ? TDomNode(p.internal_object()) : TDomNode();
}

TDomNode TDomNode::FirstChild() const {
    return TDomNode(P(node_).first_child().internal_object());
}

TDomNode TDomNode::LastChild() const {
    return TDomNode(P(node_).last_child().internal_object());
}

TDomNode TDomNode::NextSibling() const {
    return TDomNode(P(node_).next_sibling().internal_object());
}

TDomNode TDomNode::PreviousSibling() const {
    return TDomNode(P(node_).previous_sibling().internal_object());
}

size_t TDomNode::ChildCount() const {
    size_t n = 0;
    for (pugi::xml_node c = P(node_).first_child(); c; c = c.next_sibling()) {
        ++n;
    }
    return n;
}

TDomNode TDomNode::Child(size_t index) const {
    pugi::xml_node c = P(node_).first_child();
    for (; c && index > 0; --index) {
        c = c.next_sibling();
    }
    return TDomNode(c.internal_object());
}

std::vector<TDomNode> TDomNode::ChildNodes() const {
    std::vector<TDomNode> out;
    for (pugi::xml_node c = P(node_).first_child(); c; c = c.next_sibling()) {
        out.push_back(TDomNode(c.internal_object()));
    }
    return out;
}

void TDomNode::RemoveChild(const TDomNode& child) const {
    if (!node_ || !child.node_ || P(child.node_).parent() != P(node_)) {
        throw Exception("The node to remove is not a child of this node");
    }
    P(node_).remove_child(P(child.node_));
}

void TDomNode::RemoveAllChildren() const {
    if (node_) {
        P(node_).remove_children();
    }
}

TDomNode TDomNode::AddChildElement(std::string_view name) const {
    RequireElement("Adding a child element");
    pugi::xml_node n = P(node_).append_child(pugi::node_element);
    if (!n || !n.set_name(std::string(name).c_str())) {
        if (n) {
            P(node_).remove_child(n);
        }
        throw std::bad_alloc();
    }
    return TDomNode(n.internal_object());
}

TDomNode TDomNode::AddChildText(std::string_view text) const {
    RequireElement("Adding a text node");
    pugi::xml_node n = P(node_).append_child(pugi::node_pcdata);
    if (!n || !n.set_value(text.data(), text.size())) {
        if (n) {
            P(node_).remove_child(n);
        }
        throw std::bad_alloc();
    }
    return TDomNode(n.internal_object());
}

TDomNode TDomNode::AppendCopy(const TDomNode& source) const {
    RequireElement("Appending a copy");
    if (!source.node_) {
        throw Exception("Appending a copy needs a node to copy");
    }
    pugi::xml_node n = P(node_).append_copy(P(source.node_));
    if (!n) {
        throw Exception("This kind of node cannot be copied into an element");
    }
    return TDomNode(n.internal_object());
}

TDomAttribute TDomNode::FirstAttribute() const {
    return TDomAttribute(P(node_).first_attribute().internal_object());
}

void TDomNode::ReadAttributes(std::vector<std::pair<std::string_view, std::string_view>>& out) const {
    out.clear();
    for (pugi::xml_attribute a = P(node_).first_attribute(); a; a = a.next_attribute()) {
        out.emplace_back(a.name(), a.value());
    }
}

std::vector<std::pair<std::string, std::string>> TDomNode::Attributes() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (pugi::xml_attribute a = P(node_).first_attribute(); a; a = a.next_attribute()) {
        out.emplace_back(a.name(), a.value());
    }
    return out;
}

namespace {
pugi::xml_attribute FindAttribute(pugi::xml_node node, std::string_view name) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const char* candidate = a.name();
        if (std::strncmp(candidate, name.data(), name.size()) == 0 && candidate[name.size()] == '\0') {
            return a;
        }
    }
    return {};
}
} // namespace

std::string TDomNode::GetAttribute(std::string_view name) const {
    return FindAttribute(P(node_), name).value();
}

bool TDomNode::HasAttribute(std::string_view name) const {
    return static_cast<bool>(FindAttribute(P(node_), name));
}

void TDomNode::SetAttribute(std::string_view name, std::string_view value) const {
    RequireElement("Setting an attribute");
    pugi::xml_attribute a = FindAttribute(P(node_), name);
    if (a) {
        if (!a.set_value(value.data(), value.size())) {
            throw std::bad_alloc();
        }
        return;
    }
    a = P(node_).append_attribute(std::string(name).c_str());
    if (!a || !a.set_value(value.data(), value.size())) {
        if (a) {
            P(node_).remove_attribute(a);
        }
        throw std::bad_alloc();
    }
}

void TDomNode::RemoveAttribute(std::string_view name) const {
    pugi::xml_attribute a = FindAttribute(P(node_), name);
    if (a) {
        P(node_).remove_attribute(a);
    }
}

// ---- TDomDocument -----------------------------------------------------------------------------

TDomDocument::TDomDocument() : doc_(std::make_unique<pugi::xml_document>()) {}

TDomDocument::~TDomDocument() = default;

void TDomDocument::Clear() {
    doc_->reset();
    std::string().swap(text_);
}

void TDomDocument::Load(const std::string& fileName) {
    Clear();
    std::string text = DecodeDocument(ReadFileBytes(fileName), fileName);
    // Parsing overwrites the text; an error position is found in the file read again.
    Parse(std::move(text), fileName, [&] { return DecodeDocument(ReadFileBytes(fileName), fileName); });
}

void TDomDocument::LoadBytes(std::string_view bytes, std::string_view sourceName) {
    Clear();
    std::string text = DecodeDocument(std::string(bytes), sourceName);
    Parse(std::move(text), sourceName, [&] { return DecodeDocument(std::string(bytes), sourceName); });
}

void TDomDocument::LoadXML(std::string_view text) {
    Clear();
    size_t bad = 0;
    if (!IsValidUtf8Scan(text, &bad)) {
        throw EDomError(Located("XML text", text, bad, "invalid UTF-8 byte sequence"));
    }
    Parse(std::string(text), "XML text", [&] { return std::string(text); });
}

void TDomDocument::Parse(std::string text, std::string_view sourceName,
                         const std::function<std::string()>& original) {
    auto fail = [&](size_t offset, std::string_view what) {
        Clear();
        std::string message;
        try {
            message = Located(sourceName, original(), offset, what);
        } catch (const std::exception&) {
            // The source changed or vanished since it was parsed: the position cannot be given.
            message = "\"" + std::string(sourceName) + "\": " + std::string(what);
        }
        throw EDomError(message);
    };
    // A reference to a surrogate or beyond Unicode must be looked for before the parser resolves
    // references in place.
    const bool checkReferences = HasSuspectReference(text);
    // The document's names and values point into the text, so it lives as long as the tree.
    text_ = std::move(text);
    pugi::xml_parse_result result =
        doc_->load_buffer_inplace(text_.data(), text_.size(), kParseOptions, pugi::encoding_utf8);
    if (!result) {
        fail(static_cast<size_t>(result.offset), result.description());
    }
    pugi::xml_node root;
    for (pugi::xml_node top = doc_->first_child(); top; top = top.next_sibling()) {
        if (top.type() != pugi::node_element) {
            continue;
        }
        if (root) {
            fail(static_cast<size_t>(top.offset_debug()), "only one top-level element is allowed");
        }
        root = top;
    }
    // A character reference can name a surrogate or a number beyond Unicode, which the parser
    // turns into bytes that are not UTF-8; such text must not enter memory.
    // Walk without recursion. Text nodes are trimmed after references are resolved and dropped
    // when nothing is left, so that what the writer produces reads back to the same tree.
    pugi::xml_node node = root;
    while (node) {
        pugi::xml_node next;
        if (node.type() == pugi::node_element && node.first_child()) {
            next = node.first_child();
        } else {
            pugi::xml_node up = node;
            while (up != root && !up.next_sibling()) {
                up = up.parent();
            }
            next = up == root ? pugi::xml_node() : up.next_sibling();
        }
        if (node.type() == pugi::node_declaration) {
            // Dropping it would join the texts around it into one on the next load.
            fail(static_cast<size_t>(node.offset_debug()), "XML declaration inside the document element");
        }
        if (checkReferences) {
            if (!HasOnlyScalarValues(node.value())) {
                fail(static_cast<size_t>(node.offset_debug()), "character reference to an invalid character");
            }
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                if (!HasOnlyScalarValues(a.value())) {
                    fail(static_cast<size_t>(node.offset_debug()),
                         "character reference to an invalid character");
                }
            }
        }
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute()) {
                if (std::strcmp(a.name(), b.name()) == 0) {
                    fail(static_cast<size_t>(node.offset_debug()),
                         "duplicate attribute \"" + std::string(a.name()) + "\"");
                }
            }
        }
        if (node.type() == pugi::node_pcdata) {
            // The parser trims before it resolves references; trim what references produced too.
            std::string_view value = node.value();
            std::string_view trimmed = TrimXmlSpace(value);
            if (trimmed.empty()) {
                node.parent().remove_child(node);
            } else if (trimmed.size() != value.size()) {
                node.set_value(std::string(trimmed).c_str());
            }
        }
        node = next;
    }
}

TDomNode TDomDocument::DocumentElement() const {
    return TDomNode(doc_->document_element().internal_object());
}

} // namespace ludex
