#pragma once

#include "core/xml/VreltSAX.h"

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace ludex::testing {

// Feeds XML to a tokenizer and records its events as short strings:
// "S:name[a=1|b=2]" start tag, "E:name" end tag, "T:text" text, "C:text" comment,
// followed by "!" + the error message when the parse fails.
class TSaxRecorder {
public:
    explicit TSaxRecorder(const TCodePage& codePage = TCodePage::Get("windows-1252"))
        : sax_(
              [this](const std::string& name, const TAttributes& attributes) {
                  events_.push_back("S:" + name + Describe(attributes));
              },
              [this](const std::string& name) { events_.push_back("E:" + name); },
              [this](const std::string& text) { events_.push_back("T:" + text); },
              [this](const std::string& text) { events_.push_back("C:" + text); }, codePage) {}

    static std::string Describe(const TAttributes& attributes) {
        if (attributes.Empty()) {
            return {};
        }
        std::string s = "[";
        for (int i = 0; i < attributes.Count(); ++i) {
            if (i > 0) {
                s += "|";
            }
            s += attributes.Strings(i);
        }
        return s + "]";
    }

    // Whole text through Parse.
    std::vector<std::string> Parse(std::string_view text) {
        return Run([&] { sax_.Parse(text); });
    }

    // The same text cut at the given offsets (ascending), fed chunk by chunk.
    std::vector<std::string> ParseSplit(std::string_view text, const std::vector<size_t>& cuts) {
        return Run([&] {
            sax_.Reset();
            size_t from = 0;
            for (size_t cut : cuts) {
                sax_.ParseChunk(text.substr(from, cut - from));
                from = cut;
            }
            sax_.ParseChunk(text.substr(from));
            sax_.Finish();
        });
    }

    std::vector<std::string> ParseStream(std::istream& stream) {
        return Run([&] { sax_.ParseStream(stream); });
    }

    TVreltSAX& Sax() { return sax_; }

private:
    template <class F>
    std::vector<std::string> Run(F&& parse) {
        events_.clear();
        try {
            parse();
        } catch (const EVreltSAX& e) {
            events_.push_back("!" + e.Message());
        } catch (const Exception& e) {
            events_.push_back("!!" + e.Message());
        }
        return events_;
    }

    std::vector<std::string> events_;
    TVreltSAX sax_;
};

} // namespace ludex::testing
