#include "core/document/DomService.h"

#include "core/base/DigestFollower.h"
#include "core/base/FileIO.h"
#include "core/base/FileSystem.h"
#include "core/crypto/Secret.h"
#include "core/document/CheckFollower.h"
#include "core/document/WellFormed.h"
#include "core/text/Utf8.h"

#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>

namespace ludex {

namespace {

// Reading aside (TReadingAside): how many readings run now, and what a change that must wait
// for them waits on.
std::atomic<int> gReadingsAside{0};
std::mutex gReadingsMutex;
std::condition_variable gReadingsEnded;

} // namespace

// Called first by everything that changes a document or destroys one.
void AwaitReadingsAside() noexcept {
    if (gReadingsAside.load(std::memory_order_acquire) == 0) {
        return;
    }
    std::unique_lock lock(gReadingsMutex);
    gReadingsEnded.wait(lock, [] { return gReadingsAside.load(std::memory_order_acquire) == 0; });
}

TReadingAside::TReadingAside() noexcept {
    gReadingsAside.fetch_add(1, std::memory_order_acq_rel);
}

TReadingAside::~TReadingAside() {
    {
        const std::lock_guard lock(gReadingsMutex);
        gReadingsAside.fetch_sub(1, std::memory_order_acq_rel);
    }
    gReadingsEnded.notify_all();
}

namespace {

// Elements, text, comments, processing instructions and character-data sections are kept (and
// declarations, to refuse one inside the document element);
// references are resolved, line ends normalised, attribute white space normalised as XML
// requires, and text nodes trimmed at both ends (white-space-only text is dropped).
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                   pugi::parse_escapes | pugi::parse_eol | pugi::parse_wconv_attribute |
                                   pugi::parse_trim_pcdata | pugi::parse_declaration;

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

// Overwrites a text the document keeps (in its parsed text or in memory the parser allocated; both
// writable) with zeros. Every value belongs to one node alone (see UnshareValues), so wiping it
// takes nothing from another node.
void WipeValue(const char* value) {
    WipeMemory(const_cast<char*>(value), std::strlen(value));
}

// Wipes every attribute value and every text of the node and its descendants, without recursion.
void WipeValues(pugi::xml_node top) {
    pugi::xml_node n = top;
    while (n) {
        WipeValue(n.value());
        for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
            WipeValue(a.value());
        }
        if (pugi::xml_node child = n.first_child()) {
            n = child;
            continue;
        }
        while (n != top && !n.next_sibling()) {
            n = n.parent();
        }
        n = n == top ? pugi::xml_node() : n.next_sibling();
    }
}

// A copy made within one document shares the source's values that stand in the parsed text (the
// parser's economy). Each of them is given a buffer of its own here, so that every value
// belongs to one node and can be wiped when that node lets it go. Names are left shared: they
// hold nothing secret. Without recursion.
void UnshareValues(pugi::xml_node top, std::string_view parsed) {
    const auto inParsed = [parsed](const char* value) {
        return std::less_equal<>()(parsed.data(), value) &&
               std::less<>()(value, parsed.data() + parsed.size());
    };
    pugi::xml_node n = top;
    while (n) {
        if (inParsed(n.value()) && !n.set_value(n.value())) {
            throw std::bad_alloc();
        }
        for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
            if (inParsed(a.value()) && !a.set_value(a.value())) {
                throw std::bad_alloc();
            }
        }
        if (pugi::xml_node child = n.first_child()) {
            n = child;
            continue;
        }
        while (n != top && !n.next_sibling()) {
            n = n.parent();
        }
        n = n == top ? pugi::xml_node() : n.next_sibling();
    }
}

// A NUL would end the stored value there: such a value is refused, never cut.
void RequireNoNul(std::string_view value) {
    if (const size_t at = value.find('\0'); at != std::string_view::npos) {
        throw Exception(UnstorableCharacterMessage(value, at));
    }
}

// Whether the NUL-terminated `candidate` is exactly `name`, compared in place: attribute names are
// looked up once per ancestor in walks up deep documents and once per branch on open, where a
// library call per attribute (measuring or comparing) was the larger part of the work.
bool SameName(const char* candidate, std::string_view name) {
    for (const char c : name) {
        if (c == '\0' || *candidate != c) {
            return false; // stops at the candidate's end: there it differs from every other character
        }
        ++candidate;
    }
    return *candidate == '\0';
}

bool HasOnlyScalarValues(const char* s) {
    return s == nullptr || IsValidUtf8(s);
}

} // namespace

// ---- TDomAttribute ----------------------------------------------------------------------------

bool TDomAttribute::NameIs(std::string_view name) const {
    return SameName(pugi::xml_attribute(attr_).name(), name);
}

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
    AwaitReadingsAside();
    if (!node_ || !child.node_ || P(child.node_).parent() != P(node_)) {
        throw Exception("The node to remove is not a child of this node");
    }
    WipeValues(P(child.node_));
    P(node_).remove_child(P(child.node_));
}

void TDomNode::RemoveAllChildren() const {
    AwaitReadingsAside();
    if (node_) {
        for (pugi::xml_node child = P(node_).first_child(); child; child = child.next_sibling()) {
            WipeValues(child);
        }
        P(node_).remove_children();
    }
}

TDomNode TDomNode::AddChildElement(std::string_view name) const {
    AwaitReadingsAside();
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
    AwaitReadingsAside();
    RequireElement("Adding a text node");
    RequireNoNul(text);
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
    AwaitReadingsAside();
    RequireElement("Appending a copy");
    if (!source.node_) {
        throw Exception("Appending a copy needs a node to copy");
    }
    pugi::xml_node n = P(node_).append_copy(P(source.node_));
    if (!n) {
        throw Exception("This kind of node cannot be copied into an element");
    }
    if (n.root() == P(source.node_).root()) {
        UnshareValues(n, TDomDocument::ParsedTextOf(node_));
    }
    return TDomNode(n.internal_object());
}

TDomNode TDomNode::InsertCopyBefore(const TDomNode& source, const TDomNode& before) const {
    AwaitReadingsAside();
    if (!before) {
        return AppendCopy(source);
    }
    RequireElement("Inserting a copy");
    if (!source.node_) {
        throw Exception("Inserting a copy needs a node to copy");
    }
    if (!(before.Parent() == *this)) {
        throw Exception("A copy can be inserted only before a child of the element");
    }
    pugi::xml_node n = P(node_).insert_copy_before(P(source.node_), P(before.node_));
    if (!n) {
        throw Exception("This kind of node cannot be copied into an element");
    }
    if (n.root() == P(source.node_).root()) {
        UnshareValues(n, TDomDocument::ParsedTextOf(node_));
    }
    return TDomNode(n.internal_object());
}

namespace {
// The document element of the document holding `node` (its first element at the top level).
pugi::xml_node DocumentElementOf(pugi::xml_node node) {
    for (pugi::xml_node top = node.root().first_child(); top; top = top.next_sibling()) {
        if (top.type() == pugi::node_element) {
            return top;
        }
    }
    return {};
}
} // namespace

void TDomNode::SetAside() const {
    AwaitReadingsAside();
    RequireElement("Setting an element aside");
    const pugi::xml_node n = P(node_);
    if (n.parent().type() != pugi::node_element) {
        throw Exception("Only an element inside the document element can be set aside");
    }
    if (!n.root().append_move(n)) {
        throw Exception("The element cannot be set aside");
    }
}

bool TDomNode::IsSetAside() const {
    const pugi::xml_node n = P(node_);
    return n.type() == pugi::node_element && n.parent().type() == pugi::node_document &&
           n != DocumentElementOf(n);
}

void TDomNode::PutBackBefore(const TDomNode& moved, const TDomNode& before) const {
    AwaitReadingsAside();
    RequireElement("Putting an element back");
    if (!moved.IsSetAside() || P(moved.node_).root() != P(node_).root()) {
        throw Exception("Only an element set aside in the same document can be put back");
    }
    if (before && !(before.Parent() == *this)) {
        throw Exception("An element can be put back only before a child of the element");
    }
    const pugi::xml_node n = before ? P(node_).insert_move_before(P(moved.node_), P(before.node_))
                                    : P(node_).append_move(P(moved.node_));
    if (!n) {
        throw Exception("The element cannot be put back");
    }
}

void TDomNode::DiscardSetAside() const {
    AwaitReadingsAside();
    if (!IsSetAside()) {
        throw Exception("Only an element set aside can be discarded");
    }
    WipeValues(P(node_));
    P(node_).root().remove_child(P(node_));
}

size_t TDomNode::LoadedTextSize() const {
    return node_ != nullptr ? TDomDocument::ParsedTextOf(node_).size() : 0;
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
        if (SameName(a.name(), name)) {
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
    AwaitReadingsAside();
    RequireElement("Setting an attribute");
    RequireNoNul(value);
    pugi::xml_attribute a = FindAttribute(P(node_), name);
    if (a) {
        // The old value is wiped first, so that none of it stays where the new one does not reach
        // (a shorter value written over it, or a buffer given back). A new value taken from the old
        // one is moved to a buffer of its own first.
        // The old value is kept aside until the new one stands, so that a failure changes nothing.
        const std::string_view old = a.value();
        const bool overlaps = !value.empty() &&
                              std::less_equal<>()(old.data(), value.data() + value.size()) &&
                              std::less_equal<>()(value.data(), old.data() + old.size());
        TSecret copy;
        if (overlaps) {
            copy = TSecret(value);
            value = copy.View();
        }
        const TSecret previous(old);
        WipeValue(a.value());
        if (!a.set_value(value.data(), value.size())) {
            // The attribute still has its old buffer, which the old value fills again.
            std::memcpy(const_cast<char*>(old.data()), previous.View().data(), previous.Size());
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
    AwaitReadingsAside();
    pugi::xml_attribute a = FindAttribute(P(node_), name);
    if (a) {
        WipeValue(a.value());
        P(node_).remove_attribute(a);
    }
}

std::string_view TDomNode::AttributeView(std::string_view name) const {
    return FindAttribute(P(node_), name).value();
}

// ---- TDomDocument -----------------------------------------------------------------------------

namespace {

// Never destroyed, so that a document destroyed late in the process's exit still finds it.
std::vector<const TDomDocument*>& LiveDocuments() {
    static auto* documents = new std::vector<const TDomDocument*>;
    return *documents;
}

void (*gDisposalObserver)() = nullptr;

} // namespace

void ForEachLiveDocument(const std::function<void(const TDomDocument&)>& visit) {
    for (const TDomDocument* document : LiveDocuments()) {
        visit(*document);
    }
}

void SetDocumentDisposalObserver(void (*observer)()) {
    gDisposalObserver = observer;
}

TDomDocument::TDomDocument() : doc_(std::make_unique<pugi::xml_document>()) {
    AwaitReadingsAside(); // a reading looks through the live documents (ParsedTextOf)
    LiveDocuments().push_back(this);
}

std::string_view TDomDocument::ParsedTextOf(pugi::xml_node_struct* node) {
    const pugi::xml_node root = pugi::xml_node(node).root();
    for (const TDomDocument* document : LiveDocuments()) {
        if (static_cast<const pugi::xml_node&>(*document->doc_) == root) {
            return document->text_;
        }
    }
    return {};
}

TDomDocument* TDomDocument::DocumentOf(const TDomNode& node) {
    if (!node) {
        return nullptr;
    }
    const pugi::xml_node root = pugi::xml_node(node.node_).root();
    for (const TDomDocument* document : LiveDocuments()) {
        if (static_cast<const pugi::xml_node&>(*document->doc_) == root) {
            return const_cast<TDomDocument*>(document);
        }
    }
    return nullptr;
}

TDomDocument::~TDomDocument() {
    AwaitReadingsAside();
    std::erase(LiveDocuments(), this);
    Clear();
    doc_.reset();
    if (gDisposalObserver != nullptr) {
        gDisposalObserver();
    }
}

void TDomDocument::Clear() {
    AwaitReadingsAside();
    WipeValues(*doc_);
    doc_->reset();
    WipeString(text_);
    std::string().swap(text_);
    watchedKnown_ = false;
}

// What the well-formedness check found in a text.
struct TDomDocument::TTextCheck {
    std::optional<TMalformation> fault;
    bool referenceInText = false;
    bool watchedSeen = false;
};

void TAttributeSeeker::Add(const TDomNode& element) noexcept {
    pugi::xml_attribute_struct* const first = P(element.node_).first_attribute().internal_object();
    if (first != nullptr) {
        __builtin_prefetch(first);
    }
    // Halfway through the lag, an element's first attribute has arrived: its name is fetched.
    if (added_ >= kLag / 2) {
        if (pugi::xml_attribute_struct* const half = pending_[(added_ - kLag / 2) % kLag]) {
            __builtin_prefetch(pugi::xml_attribute(half).name());
        }
    }
    pugi::xml_attribute_struct*& slot = pending_[added_ % kLag];
    if (added_ >= kLag) {
        Look(slot);
    }
    slot = first;
    ++added_;
}

bool TAttributeSeeker::Found() noexcept {
    const size_t waiting = std::min(added_, kLag);
    for (size_t i = added_ - waiting; i < added_; ++i) {
        Look(pending_[i % kLag]);
        pending_[i % kLag] = nullptr;
    }
    added_ = 0;
    return found_;
}

void TAttributeSeeker::Look(pugi::xml_attribute_struct* first) noexcept {
    for (pugi::xml_attribute a(first); a && !found_; a = a.next_attribute()) {
        found_ = SameName(a.name(), name_);
    }
}

void TDomDocument::Load(const std::string& fileName) {
    LoadFile(fileName, nullptr);
}

TFileIdentity TDomDocument::LoadIdentified(const std::string& fileName) {
    TFileStatus status;
    const TFileDigest digest = LoadFile(fileName, &status);
    return IdentityOfRead(status, digest);
}

TFileDigest TDomDocument::LoadFile(const std::string& fileName, TFileStatus* status) {
    Clear();
    TDocumentDecoder decoder(fileName, TUtf8Check::ByCaller);
    TFileStatus readStatus;
    std::string bytes;
    // The digest that identifies the bytes (when asked for) follows them on a thread of its own
    // as they are read, and goes on while the well-formedness check reads them; the parser, which
    // changes them, waits for it. Bytes the decoder changes or replaces are digested in full
    // first. The followers are declared after the bytes: whatever is thrown, their threads are
    // done before they go.
    TDigestFollower digest;
    const bool identify = status != nullptr;
    // So does the well-formedness check, so that when the read ends only the rest is left to
    // check (on both cores).
    TCheckFollower check(watched_);
    ReadFileInto(
        fileName, bytes,
        [&](std::string_view read) {
            decoder.Received(read);
            if (identify) {
                digest.Received(read);
            }
            check.Received(read);
        },
        [&] {
            digest.Pause();
            check.Abandon();
        },
        identify ? *status : readStatus);
    std::optional<TFileDigest> digested;
    std::future<TTextCheck> checked;
    if (!decoder.PassesBytesOn()) {
        if (identify) {
            digested = digest.Finish(bytes);
        }
        check.Abandon(); // it followed bytes that are not the text
    } else {
        // Passed on, the bytes become the document's text in the same place: the check of the
        // bytes is the check of the text.
        std::promise<TTextCheck> done;
        done.set_value(CheckText(bytes, &check));
        checked = done.get_future();
    }
    Parse(
        decoder.Finish(std::move(bytes)), fileName,
        [&] { return DecodeDocument(ReadFileBytes(fileName), fileName); },
        [&] {
            if (identify && !digested) {
                digested = digest.Finish(text_);
            }
        },
        &checked);
    return digested.value_or(TFileDigest{});
}

void TDomDocument::LoadBytes(std::string_view bytes, std::string_view sourceName) {
    Clear();
    // The well-formedness check before parsing also checks UTF-8, in the same pass.
    TDocumentDecoder decoder(sourceName, TUtf8Check::ByCaller);
    decoder.Received(bytes);
    // Bytes the decoder passes on are checked where they are, while the copy that the parser
    // changes is made. The bytes are the caller's: they outlive the future, which waits for its
    // thread when it goes.
    std::future<TTextCheck> checking = CheckBeside(decoder.PassesBytesOn() ? bytes : std::string_view());
    Parse(
        decoder.Finish(std::string(bytes)), sourceName,
        [&] { return DecodeDocument(std::string(bytes), sourceName); }, {}, &checking);
}

void TDomDocument::LoadXML(std::string_view text) {
    Clear();
    // The well-formedness check before parsing also checks UTF-8.
    std::future<TTextCheck> checking = CheckBeside(text);
    Parse(
        {.text = std::string(text), .suspectReference = false}, "XML text", [&] { return std::string(text); },
        {}, &checking);
}

TDomDocument::TTextCheck TDomDocument::CheckText(std::string_view text, TCheckFollower* followed) const {
    TTextCheck check;
    TAttributeWatch watch{.name = watched_};
    TAttributeWatch* watching = watched_.empty() ? nullptr : &watch;
    check.fault = followed != nullptr ? followed->Finish(text, &check.referenceInText, watching)
                                      : FindMalformation(text, &check.referenceInText, watching);
    check.watchedSeen = watch.seen;
    return check;
}

std::future<TDomDocument::TTextCheck> TDomDocument::CheckBeside(std::string_view text) const {
    // Below this, the copy costs less than a thread.
    constexpr size_t kCheckBesideFrom = size_t{1} << 20;
    if (text.size() >= kCheckBesideFrom) {
        try {
            return std::async(std::launch::async, [this, text] { return CheckText(text); });
        } catch (const std::system_error&) {
            // No thread to be had: the text is checked after it is copied.
        }
    }
    return {};
}

void TDomDocument::Parse(TDecodedDocument decoded, std::string_view sourceName,
                         const std::function<std::string()>& original,
                         const std::function<void()>& beforeChange, std::future<TTextCheck>* checking) {
    AwaitReadingsAside();
    auto fail = [&](size_t offset, std::string_view what) {
        Clear();
        std::string message;
        try {
            message = LocatedMessage(sourceName, original(), offset, what);
        } catch (const std::exception&) {
            // The source changed or vanished since it was parsed: the position cannot be given.
            message = "\"" + std::string(sourceName) + "\": " + std::string(what);
        }
        throw EDomError(message);
    };
    // The document's names and values point into the text, so it lives as long as the tree.
    text_ = std::move(decoded.text);
    // The parser accepts some text that is not XML and would change it on the next save (an
    // undefined entity kept as text, "&#0;" cutting a value): only well-formed UTF-8 text is parsed.
    TTextCheck check;
    try {
        check = checking != nullptr && checking->valid() ? checking->get() : CheckText(text_);
    } catch (...) {
        Clear();
        throw;
    }
    const std::optional<TMalformation>& fault = check.fault;
    const bool referenceInText = check.referenceInText;
    if (beforeChange) {
        try {
            beforeChange();
        } catch (...) {
            Clear();
            throw;
        }
    }
    if (fault) {
        const std::string message = LocatedMessage(sourceName, text_, fault->offset, fault->reason);
        Clear();
        throw EDomError(message);
    }
    watchedSeen_ = check.watchedSeen;
    watchedKnown_ = !watched_.empty();
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
    // turns into bytes that are not UTF-8; such text must not enter memory. (The well-formedness
    // check refuses such references already; the walk makes sure where the decoder saw one.)
    const bool checkReferences = decoded.suspectReference;
    // Walk without recursion. Text nodes are trimmed after references are resolved and dropped
    // when nothing is left, so that what the writer produces reads back to the same tree. The
    // well-formedness check has told whether a reference in text can have left anything to trim;
    // a repeated attribute name or a declaration inside the document element it refuses.
    pugi::xml_node node = checkReferences || referenceInText ? root : pugi::xml_node();
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

std::vector<TDomNode> TDomDocument::SetAsideElements() const {
    std::vector<TDomNode> aside;
    const pugi::xml_node element = doc_->document_element();
    for (pugi::xml_node top = doc_->first_child(); top; top = top.next_sibling()) {
        if (top.type() == pugi::node_element && top != element) {
            aside.push_back(TDomNode(top.internal_object()));
        }
    }
    return aside;
}

void TDomDocument::WatchAttribute(std::string_view name) {
    watched_ = name;
}

bool TDomDocument::MayHoldAttribute(std::string_view name) const {
    if (watchedKnown_ && name == watched_) {
        return watchedSeen_;
    }
    // glibc's memmem looks at the text many bytes at a time; a search for the needle's first byte
    // stops at every letter it shares with the text.
    return name.empty() || ::memmem(text_.data(), text_.size(), name.data(), name.size()) != nullptr;
}

} // namespace ludex
