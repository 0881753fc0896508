#pragma once

#include "core/base/Exception.h"
#include "core/base/FileIdentity.h"
#include "core/base/NonCopyable.h"
#include "core/document/DocumentDecoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pugi {
class xml_document;
struct xml_node_struct;
struct xml_attribute_struct;
} // namespace pugi

namespace ludex {

class TCheckFollower;

// The document DOM: holds the element trees of document files, new documents and deciphered
// branch contents. This unit is the only one that knows the XML parser behind it.
//
// Texts in and out are UTF-8. Parsing keeps elements, text, comments, processing instructions and
// character-data sections (the last three as TDomNodeKind::Other, so that saving can refuse them);
// it drops the XML declaration, a document type declaration and comments and processing
// instructions outside the document element, does no DTD processing and expands no entities
// besides the five predefined ones and character references. Only well-formed XML 1.0 loads
// (see FindMalformation): nothing is kept as text that the file did not say. Text nodes are trimmed of
// spaces, tabs, CR and LF at both ends and white-space-only text is not kept, so the line breaks a saved file
// puts around every child never come back as text. The parser works without recursion: any nesting depth
// loads.

enum class TDomNodeKind : uint8_t {
    Null,    // the empty handle
    Element, //
    Text,    // character data outside markup
    Other,   // comment, processing instruction, character-data section, anything else
};

class TDomNode;

// One attribute of an element, as a small handle. Views returned by Name and Value stay valid
// until the attribute is changed or removed.
class TDomAttribute {
public:
    TDomAttribute() = default;
    explicit operator bool() const { return attr_ != nullptr; }
    std::string_view Name() const;
    // Whether the name is `name`; compared in place, without first measuring the stored name.
    bool NameIs(std::string_view name) const;
    std::string_view Value() const;
    // The next attribute of the same element in order, or the empty handle.
    TDomAttribute Next() const;

private:
    friend class TDomNode;
    explicit TDomAttribute(pugi::xml_attribute_struct* attr) : attr_(attr) {}
    pugi::xml_attribute_struct* attr_ = nullptr;
};

// A node of a TDomDocument, as a small value handle (a pointer in size). A handle stays valid
// while its node belongs to the document: removing the node (or an ancestor), loading another
// text into the document or destroying the document invalidates it. The empty handle is false
// and answers every query with an empty result; changing it throws.
//
// Changing operations need an element; called on another kind of node they throw Exception.
class TDomNode {
public:
    TDomNode() = default;
    explicit operator bool() const { return node_ != nullptr; }
    friend bool operator==(const TDomNode& a, const TDomNode& b) { return a.node_ == b.node_; }
    // An identity usable as a hash key; equal handles give equal ids.
    uintptr_t Id() const { return reinterpret_cast<uintptr_t>(node_); }

    TDomNodeKind Kind() const;
    bool IsElement() const { return Kind() == TDomNodeKind::Element; }
    bool IsText() const { return Kind() == TDomNodeKind::Text; }

    // The element name as written in the file; empty for other kinds. The view stays valid
    // until the node is removed.
    std::string_view Name() const;
    // The text of a text node (references resolved), the content of a comment, a character-data
    // section or a processing instruction; empty for an element. Valid until the node changes.
    std::string_view Text() const;
    // The parser's own serialisation of the node with its attributes and descendants, without
    // any added white space.
    std::string XML() const;

    // Navigation. Parent of the document element is the empty handle.
    TDomNode Parent() const;
    TDomNode FirstChild() const;
    TDomNode LastChild() const;
    TDomNode NextSibling() const;
    TDomNode PreviousSibling() const;

    // The child list: ordered as in the file or as appended.
    bool HasChildNodes() const { return static_cast<bool>(FirstChild()); }
    size_t ChildCount() const;
    // The child at the 0-based index, or the empty handle past the end. Linear in the index.
    TDomNode Child(size_t index) const;
    // A snapshot of the child list.
    std::vector<TDomNode> ChildNodes() const;
    // Removes a child with all its descendants; throws Exception when it is not a child of this
    // node. The removed texts and attribute values are wiped from memory first.
    void RemoveChild(const TDomNode& child) const;
    void RemoveAllChildren() const;
    // Appends a new element with the name as the last child and returns it.
    TDomNode AddChildElement(std::string_view name) const;
    // Appends a new text node as the last child and returns it.
    TDomNode AddChildText(std::string_view text) const;
    // Appends a deep copy of `source` (any kind, from this or another document) as the last
    // child and returns the copy. The copy's values are its own (never shared with the source),
    // so that removing or changing either wipes what it held. A node copied into itself or into its own
    // descendant is copied as it was before the call. The source must not be a document or an attribute.
    TDomNode AppendCopy(const TDomNode& source) const;
    // As AppendCopy, but the copy goes before `before`, a child of this node; the empty handle
    // appends. Throws Exception when `before` is not a child of this node.
    TDomNode InsertCopyBefore(const TDomNode& source, const TDomNode& before) const;

    // Keeping an element aside: it leaves its parent, with all its descendants, and stays in its
    // document outside the document element, where nothing that reads the document from its
    // element (writers, walks, searches) meets it. Nothing is copied and the handle stays valid,
    // so a history can hold a removed branch and put it back at no cost. Every element set aside
    // must in the end be put back or discarded; the document wipes any left when it goes.
    //
    // Sets this element aside; throws Exception for the document element, an element already
    // aside and any other kind of node.
    void SetAside() const;
    // Whether this element is kept aside.
    bool IsSetAside() const;
    // Puts `moved`, an element kept aside in this element's document, back as a child of this
    // element before `before` (a child of this element; the empty handle appends). Throws
    // Exception, changing nothing, when either does not fit.
    void PutBackBefore(const TDomNode& moved, const TDomNode& before) const;
    // Removes this element, kept aside, for good, its texts and values wiped first as RemoveChild
    // wipes them; throws Exception when it is not kept aside.
    void DiscardSetAside() const;

    // The size in bytes of the text the node's document was last loaded from; 0 for the empty
    // handle and a document never loaded. A guess at the size of the document's written form, so
    // that a writer can make room for all of it at once.
    size_t LoadedTextSize() const;

    // Attributes, in the element's order.
    TDomAttribute FirstAttribute() const;
    // Replaces the contents of `out` by the names and values of the attributes, in order: one call
    // for a serialiser that reads every attribute. The views stay valid until the element changes.
    void ReadAttributes(std::vector<std::pair<std::string_view, std::string_view>>& out) const;
    std::vector<std::pair<std::string, std::string>> Attributes() const;
    // The value; the empty text when the attribute is absent, never an error.
    std::string GetAttribute(std::string_view name) const;
    // Whether the element carries it; an empty value counts as present.
    bool HasAttribute(std::string_view name) const;
    // An existing attribute takes the value and keeps its place, its old value wiped from memory;
    // a new one is appended last. A value holding NUL is refused (Exception naming the
    // character), as AddChildText does.
    void SetAttribute(std::string_view name, std::string_view value) const;
    // Removes the attribute, its value wiped from memory first; nothing happens when it is absent.
    void RemoveAttribute(std::string_view name) const;
    // The value as a view, valid until the element changes; empty when the attribute is absent.
    // For values that must not be copied into memory that nobody wipes (passwords).
    std::string_view AttributeView(std::string_view name) const;

private:
    friend class TDomDocument;
    friend class TAttributeSeeker;
    explicit TDomNode(pugi::xml_node_struct* node) : node_(node) {}
    void RequireElement(const char* operation) const;
    pugi::xml_node_struct* node_ = nullptr;
};

// Whether any of a chain of elements carries an attribute of a name, the elements given one by
// one as a walk reaches them (up through the ancestors of a branch deep in a document). Each
// element's attributes are read a few elements after it is given, while the walk waits for the
// next one: their fetch from memory overlaps that wait, and no element is visited twice.
class TAttributeSeeker {
public:
    // `name` must outlive the seeker.
    explicit TAttributeSeeker(std::string_view name) : name_(name) {}
    // The element the walk has just reached, its own data at hand.
    void Add(const TDomNode& element) noexcept;
    // Whether any element given carries the attribute.
    bool Found() noexcept;

private:
    static constexpr size_t kLag = 8;
    void Look(pugi::xml_attribute_struct* first) noexcept;

    std::string_view name_;
    std::array<pugi::xml_attribute_struct*, kLag> pending_{}; // first attributes not looked at yet
    size_t added_ = 0;
    bool found_ = false;
};

// An XML document in memory. Not copyable or movable, so that node handles stay attached;
// hold it by std::unique_ptr where it must move. Its texts and values are wiped from memory when
// it is loaded anew or destroyed, so that what unlocked branches held does not outlive it.
class TDomDocument : private TNonCopyable {
public:
    // An empty document (no document element).
    TDomDocument();
    ~TDomDocument();

    // Loads and parses a file, decoding its bytes as described at LoadBytes. A file that
    // cannot be read throws EInOutError; one that cannot be decoded or parsed throws EDomError
    // naming the file. On failure the document is empty.
    void Load(const std::string& fileName);
    // The same, and returns the identity of the bytes it parsed (FileIdentity.h), read with them.
    TFileIdentity LoadIdentified(const std::string& fileName);

    // Decodes the bytes of a document by its byte-order mark and XML declaration and parses them:
    // UTF-8 with or without byte-order mark, UTF-16 (either byte order) with byte-order mark,
    // and single-byte encodings named in the declaration (windows-1251, windows-1252,
    // ISO-8859-1, KOI8-R, ... anything the system converter knows as single-byte). An unknown
    // or multi-byte encoding, bytes that are not valid in the encoding, a character reference to
    // a character XML does not allow (NUL, other control characters, surrogates, beyond
    // U+10FFFF), and text that is not well-formed XML (FindMalformation) are errors (EDomError,
    // naming `sourceName`, with line and column). A byte-order mark wins over the declaration.
    // On failure the document is empty.
    void LoadBytes(std::string_view bytes, std::string_view sourceName);

    // Parses a UTF-8 character string; an encoding named in its declaration plays no part.
    // Errors as for LoadBytes, named "XML text".
    void LoadXML(std::string_view text);

    // The root element, or the empty handle when the document is empty.
    TDomNode DocumentElement() const;

    // From the next load on, the well-formedness check notes whether an attribute of this name
    // stands in the text (it reads every attribute anyway), so that MayHoldAttribute answers for
    // it without a pass of its own over the text.
    void WatchAttribute(std::string_view name);
    // Whether an attribute of that name may stand in the text last loaded, a quick test before a
    // walk that looks for it: false only when none does. Attributes set since are not looked at.
    // For the watched name the check's answer; for another, whether the text holds its bytes.
    bool MayHoldAttribute(std::string_view name) const;
    // The elements kept aside (TDomNode::SetAside), in the order they were set aside.
    std::vector<TDomNode> SetAsideElements() const;

    // Whether a branch whose plain text the last saved file may hold has been put under a
    // password since the mark was last cleared: the next successful save leaves that text only
    // enciphered, and backups of the file may still hold it. Loading keeps the mark.
    bool PlainTextEnciphered() const { return plainTextEnciphered_; }
    void MarkPlainTextEnciphered() { plainTextEnciphered_ = true; }
    void ClearPlainTextEnciphered() { plainTextEnciphered_ = false; }
    // The live document that holds the node, or nullptr.
    static TDomDocument* DocumentOf(const TDomNode& node);

private:
    friend class TDomNode;
    // The parsed text of the document that holds the node. Values that stand in it belong to one
    // node alone, as every other value does: a copy within the document gets values of its own.
    static std::string_view ParsedTextOf(pugi::xml_node_struct* node);
    void Clear();
    struct TTextCheck;
    // The well-formedness check of the text, watching for the watched attribute; finished by
    // `followed` when given, which has followed the text as it was read.
    TTextCheck CheckText(std::string_view text, TCheckFollower* followed = nullptr) const;
    // Load and LoadIdentified: the file read, checked as it arrives and parsed; with `status`,
    // that of the file read and the digest of its bytes (none without).
    TFileDigest LoadFile(const std::string& fileName, TFileStatus* status);
    // The same, begun on a thread of its own when the text is large: none otherwise. The text
    // must stay until the result is taken (or the future is gone).
    std::future<TTextCheck> CheckBeside(std::string_view text) const;
    // Parses UTF-8 text in place; the document keeps it. `original` gives the text again as it
    // was before parsing, for the position of an error. `beforeChange`, when given, is called
    // once the text is checked and before anything changes it, whether or not it is well-formed.
    // `checking`, when it holds one, is the check of the same text, begun elsewhere.
    void Parse(TDecodedDocument decoded, std::string_view sourceName,
               const std::function<std::string()>& original, const std::function<void()>& beforeChange = {},
               std::future<TTextCheck>* checking = nullptr);

    std::string text_;          // the parsed text, which holds the document's names and values
    std::string watched_;       // the attribute name the check looks out for; empty for none
    bool watchedSeen_ = false;  // whether the last load's check found it
    bool watchedKnown_ = false; // whether the text was checked with it watched
    bool plainTextEnciphered_ = false;
    std::unique_ptr<pugi::xml_document> doc_;
};

// Reading documents aside: work on another thread reads documents (a recovery snapshot's text)
// while the thread that changes them goes on with other things. For the lifetime of a
// TReadingAside, every change of any document (TDomNode's changing members, a load) and every
// document's making and destruction waits, on whatever thread, until no reading runs. Made by the
// thread that changes the documents, while it is changing none, before the reading starts; ended
// (destroyed) by the reading, on its own thread, which changes no document meanwhile (it would
// wait for itself). Readings may overlap.
class TReadingAside : private TNonCopyable {
public:
    TReadingAside() noexcept;
    ~TReadingAside();
};
void AwaitReadingsAside() noexcept;

// Every TDomDocument alive in the process, in the order they were made. For the few questions
// that concern all open documents at once, such as whether an unlocked branch anywhere still
// refers to a key held in memory. The visitor must neither make nor destroy documents.
void ForEachLiveDocument(const std::function<void(const TDomDocument&)>& visit);

// Called once a TDomDocument has been destroyed (it is no longer among the live documents).
// One observer at most; nullptr removes it. The observer must not throw.
void SetDocumentDisposalObserver(void (*observer)());

} // namespace ludex
