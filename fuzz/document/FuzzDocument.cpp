// Loads arbitrary bytes as a document and writes it. Whatever the writer produces must load again,
// and writing that must be stable: the same text on every further round. Decoding the bytes in
// pieces, as they arrive from a file, must give what decoding them at once gives; and when the
// well-formedness check finds no character reference in text, the loaded tree must indeed have
// nothing for the skipped walk.
#include "core/base/Exception.h"
#include "core/document/DocumentDecoder.h"
#include "core/document/DocumentWriter.h"
#include "core/document/DomService.h"
#include "core/document/WellFormed.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace ludex;

namespace {

[[noreturn]] void Crash(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

// The node after `n` in document order within the tree of `root`; the empty handle after the last.
TDomNode NextInDocumentOrder(const TDomNode& root, TDomNode n) {
    if (TDomNode c = n.FirstChild()) {
        return c;
    }
    while (n != root && !n.NextSibling()) {
        n = n.Parent();
    }
    return n == root ? TDomNode() : n.NextSibling();
}

// Whether any element carries a non-empty "password": such branches are enciphered on the way out,
// so the first written text differs from later ones (no line breaks around a fresh payload).
bool HasUnlockedBranch(const TDomNode& root) {
    TDomNode n = root;
    while (n) {
        if (n.IsElement() && !PasswordAccess.Read(n).empty()) {
            return true;
        }
        n = NextInDocumentOrder(root, n);
    }
    return false;
}

// The decoded text and reference flag, or the error, for bytes handed over in pieces of the size
// (0: at once).
std::string DecodeOutcome(const std::string& bytes, size_t pieceSize) {
    TDocumentDecoder decoder("input");
    std::string received;
    if (pieceSize == 0) {
        received = bytes;
    } else {
        for (size_t at = 0; at < bytes.size(); at += pieceSize) {
            received.append(bytes, at, pieceSize);
            decoder.Received(received);
        }
    }
    try {
        TDecodedDocument decoded = decoder.Finish(std::move(received));
        return (decoded.suspectReference ? "suspect " : "text ") + decoded.text;
    } catch (const Exception& e) {
        return "error " + e.Message();
    }
}

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// What the walk after parsing would have refused or repaired: a repeated attribute name, an XML
// declaration, a text node with white space at an end. Empty when there is nothing.
std::string WalkFinding(const TDomNode& root) {
    std::vector<std::pair<std::string_view, std::string_view>> attributes;
    TDomNode n = root;
    while (n) {
        if (n.IsElement()) {
            n.ReadAttributes(attributes);
            for (size_t i = 0; i < attributes.size(); ++i) {
                for (size_t j = i + 1; j < attributes.size(); ++j) {
                    if (attributes[i].first == attributes[j].first) {
                        return "repeated attribute " + std::string(attributes[i].first);
                    }
                }
            }
        } else if (n.IsText()) {
            const std::string_view text = n.Text();
            if (text.empty() || IsXmlSpace(text.front()) || IsXmlSpace(text.back())) {
                return "untrimmed text";
            }
        } else if (n.Kind() == TDomNodeKind::Other && n.Name().size() == 3 && (n.Name()[0] | 0x20) == 'x' &&
                   (n.Name()[1] | 0x20) == 'm' && (n.Name()[2] | 0x20) == 'l') {
            return "declaration";
        }
        n = NextInDocumentOrder(root, n);
    }
    return {};
}

std::string Rewrite(const std::string& text) {
    TDomDocument doc;
    try {
        doc.LoadBytes(text, "written");
    } catch (const Exception& e) {
        Crash("written text does not load", e.Message());
    }
    try {
        return DocumentToText(doc.DocumentElement());
    } catch (const Exception& e) {
        Crash("loaded written text does not write", e.Message());
    }
}

// The check of a text split in two, its parts on two threads, finds what the whole check finds.
void CompareSplitCheck(const std::string& text, size_t split) {
    bool wholeReference = false;
    TAttributeWatch wholeWatch{.name = "password"};
    const auto whole = FindMalformation(text, &wholeReference, &wholeWatch);
    bool reference = false;
    TAttributeWatch watch{.name = "password"};
    const auto found = FindMalformationSplitAt(text, split, &reference, &watch);
    const bool same = whole ? found && found->offset == whole->offset && found->reason == whole->reason
                            : !found && reference == wholeReference && watch.seen == wholeWatch.seen;
    if (!same) {
        Crash("the split check differs",
              "at " + std::to_string(split) + ": " + (whole ? whole->reason : "well-formed"));
    }
}

// The check of a text that follows it as it arrives, in pieces of `piece` bytes, finds what the
// whole check finds.
void CompareFollowingCheck(const std::string& text, size_t piece) {
    bool wholeReference = false;
    TAttributeWatch wholeWatch{.name = "password"};
    const auto whole = FindMalformation(text, &wholeReference, &wholeWatch);
    TGrowingCheck check("password");
    const std::string_view all(text);
    for (size_t k = piece; k < text.size(); k += piece) {
        check.Advance(all.substr(0, k));
    }
    bool reference = false;
    TAttributeWatch watch{.name = "password"};
    const auto found = check.Finish(all, &reference, &watch);
    const bool same = whole ? found && found->offset == whole->offset && found->reason == whole->reason
                            : !found && reference == wholeReference && watch.seen == wholeWatch.seen;
    if (!same) {
        Crash("the check that follows the text differs",
              "in pieces of " + std::to_string(piece) + ": " + (whole ? whole->reason : "well-formed"));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool initialised = (SetCurrentCodePage("windows-1252"), true);
    (void)initialised;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string whole = DecodeOutcome(bytes, 0);
    const size_t pieceSize = size == 0 ? 1 : 1 + data[0] % 7;
    if (DecodeOutcome(bytes, pieceSize) != whole) {
        Crash("decoding in pieces differs", whole);
    }
    if (size > 1) {
        // One split an input (each costs a thread): at the first '<' from the middle on, where a
        // large text is split, or where the input's last byte says.
        const size_t middle = bytes.find('<', size / 2);
        CompareSplitCheck(bytes, data[size - 1] % 2 == 0 && middle != std::string::npos
                                     ? middle
                                     : data[size - 1] * size / 256);
        CompareFollowingCheck(bytes, pieceSize);
    }
    std::string first;
    bool unlocked = false;
    {
        TDomDocument doc;
        try {
            doc.LoadBytes(bytes, "input");
        } catch (const Exception&) {
            return 0;
        }
        if (!doc.DocumentElement()) {
            Crash("loaded without a document element", "");
        }
        // The walk after parsing runs only where the check found a character reference in text:
        // without one, the tree must hold nothing the walk would have refused or repaired.
        bool referenceInText = true;
        try {
            const std::string text = TDocumentDecoder("input").Finish(std::string(bytes)).text;
            if (const auto fault = FindMalformation(text, &referenceInText)) {
                Crash("loaded but is not well-formed", fault->reason);
            }
        } catch (const Exception& e) {
            Crash("loaded but does not decode", e.Message());
        }
        if (!referenceInText) {
            if (const std::string finding = WalkFinding(doc.DocumentElement()); !finding.empty()) {
                Crash("no reference in text, but the tree has", finding);
            }
        }
        unlocked = HasUnlockedBranch(doc.DocumentElement());
        try {
            first = DocumentToText(doc.DocumentElement());
        } catch (const Exception&) {
            return 0; // unsupported node kinds, text the code page cannot hold
        }
    }
    const std::string second = Rewrite(first);
    if (!unlocked && second != first) {
        Crash("second write differs", first + "\n---\n" + second);
    }
    const std::string third = Rewrite(second);
    if (third != second) {
        Crash("third write differs", second + "\n---\n" + third);
    }
    return 0;
}
