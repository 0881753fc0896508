// Fuzzes the XML tokenizer, the element tree, the node adapter and both writers.
//
// Checks beyond "no crash": the events and the error are the same whether the input is fed whole
// or cut in two at a position taken from the input; whatever loads and can be written loads
// again from the written text, giving the same elements, attributes and comments (texts compared
// without surrounding whitespace, which the file layout adds and the reader drops).

#include "core/xml/VreltSAX.h"
#include "core/xml/VreltXMLDocument.h"
#include "core/xml/VreltXMLNode.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace ludex;

namespace {

const TCodePage& FuzzCodePage() {
    static const TCodePage& codePage = TCodePage::Get("windows-1251");
    return codePage;
}

std::vector<std::string> Events(std::string_view input, size_t cut, bool split) {
    std::vector<std::string> events;
    TVreltSAX sax(
        [&](const std::string& name, const TAttributes& attributes) {
            std::string e = "S" + name;
            for (int i = 0; i < attributes.Count(); ++i) {
                e += "|" + attributes.Strings(i);
            }
            events.push_back(e);
        },
        [&](const std::string& name) { events.push_back("E" + name); },
        [&](const std::string& text) { events.push_back("T" + text); },
        [&](const std::string& text) { events.push_back("C" + text); }, FuzzCodePage());
    try {
        if (split) {
            sax.Reset();
            sax.ParseChunk(input.substr(0, cut));
            sax.ParseChunk(input.substr(cut));
            sax.Finish();
        } else {
            sax.Parse(input);
        }
    } catch (const Exception& e) {
        events.push_back("!" + e.Message());
    }
    return events;
}

std::string Trim(const std::string& text) {
    size_t from = 0;
    size_t to = text.size();
    while (from < to && static_cast<unsigned char>(text[from]) <= 0x20) {
        ++from;
    }
    while (to > from && static_cast<unsigned char>(text[to - 1]) <= 0x20) {
        --to;
    }
    return text.substr(from, to - from);
}

// A picture of an adapter tree in which texts are trimmed and whitespace-only texts left out.
void Describe(const IXMLNodePtr& node, std::string& out) {
    std::vector<std::pair<IXMLNodePtr, int>> stack{{node, 0}};
    while (!stack.empty()) {
        auto [current, depth] = stack.back();
        stack.pop_back();
        std::string line = std::to_string(depth) + ":" + std::to_string(current->GetNodeType()) + ":";
        if (current->GetNodeType() == ntText) {
            std::string text = Trim(current->GetText());
            if (text.empty()) {
                continue;
            }
            line += text;
        } else {
            line += current->GetNodeName() + "=" + current->GetNodeValue();
        }
        if (IXMLNodeListPtr attributes = current->GetAttributeNodes()) {
            for (int i = 0; i < attributes->GetCount(); ++i) {
                line += "|" + attributes->Get(i)->GetNodeName() + "=" + attributes->Get(i)->GetNodeValue();
            }
        }
        out += line + "\n";
        if (IXMLNodeListPtr children = current->GetChildNodes()) {
            for (int i = children->GetCount() - 1; i >= 0; --i) {
                stack.emplace_back(children->Get(i), depth + 1);
            }
        }
    }
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t cut = size == 0 ? 0 : static_cast<size_t>(data[0]) * 131 % (size + 1);
    Check(Events(input, cut, false) == Events(input, cut, true), "chunk split changed the events");

    TVreltXMLDocument document(FuzzCodePage());
    try {
        document.LoadFromXML(input);
    } catch (const Exception&) {
        return 0;
    }
    if (TXMLTagElement* root = document.RootElement()) {
        try {
            (void)root->AsXML(0);
        } catch (const Exception&) {
        }
    }
    IXMLNodePtr tree = MakeVreltXMLNode(document.RootElement());
    std::string original;
    if (tree->GetNodeType() == ntElement) {
        Describe(tree, original);
    }
    for (TXMLEncoding encoding : {TXMLEncoding::Utf8, TXMLEncoding::CodePage}) {
        std::string text;
        try {
            text = XMLDocumentText(*tree, encoding, FuzzCodePage());
        } catch (const Exception&) {
            continue; // a node kind or a character the file cannot hold
        }
        TVreltXMLDocument again(FuzzCodePage());
        try {
            again.LoadFromXML(text);
        } catch (const Exception& e) {
            std::fprintf(stderr, "written text does not load: %s\n", e.what());
            std::abort();
        }
        std::string reloaded;
        Describe(MakeVreltXMLNode(again.RootElement()), reloaded);
        Check(reloaded == original, "round trip changed the tree");
    }
    return 0;
}
