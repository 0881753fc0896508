// Loads arbitrary bytes as a document and writes it. Whatever the writer produces must load again,
// and writing that must be stable: the same text on every further round.
#include "base/Exception.h"
#include "document/DocumentWriter.h"
#include "document/DomService.h"
#include "document/XMLNodeAccess.h"
#include "text/CodePage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace ludex;

namespace {

[[noreturn]] void Crash(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

// Whether any element carries a non-empty "password": such branches are enciphered on the way out,
// so the first written text differs from later ones (no line breaks around a fresh payload).
bool HasUnlockedBranch(const TDomNode& root) {
    TDomNode n = root;
    while (n) {
        if (n.IsElement() && !PasswordAccess.Read(n).empty()) {
            return true;
        }
        if (TDomNode c = n.FirstChild()) {
            n = c;
            continue;
        }
        while (n != root && !n.NextSibling()) {
            n = n.Parent();
        }
        n = n == root ? TDomNode() : n.NextSibling();
    }
    return false;
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool initialised = (SetCurrentCodePage("windows-1252"), true);
    (void)initialised;
    std::string first;
    bool unlocked = false;
    {
        TDomDocument doc;
        try {
            doc.LoadBytes(std::string(reinterpret_cast<const char*>(data), size), "input");
        } catch (const Exception&) {
            return 0;
        }
        if (!doc.DocumentElement()) {
            Crash("loaded without a document element", "");
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
