// Opening and writing documents of 10 000, 100 000 and 1 000 000 branches, each beside the parser's
// own parse and save of the same text in the same run. The parser is used here directly only as
// the baseline.
#include "document/DocumentWriter.h"
#include "document/DomService.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>

using namespace ludex;

namespace {

// A document of n branches: every branch has a title with non-ASCII letters and a memo of three
// lines; the tree has ten sub-branches per branch, so its depth grows with the logarithm of n.
std::string MakeDocument(int n) {
    std::string text(kDocumentDeclaration);
    text += "\r\n<ludex version=\"2.1.0 \" title=\"Bench\" memo=\"\">\r\n";
    // Branch i (1-based) has the children 10i-9+1 .. 10i+1, written depth first.
    struct Frame {
        int index;
        int nextChild;
    };
    std::vector<Frame> stack;
    auto open = [&](int i) {
        text += "<note title=\"Branch " + std::to_string(i) +
                " \xD0\x92\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB0\" memo=\"";
        text += "First line of memo " + std::to_string(i) +
                "&#xA;\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xB0\xD1\x8F "
                "\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0"
                " with some text&#xA;third line: 2 &lt; 3 &amp;&amp; "
                "\xC3\xBC\xC3\xB1\xC3\xAF\xC3\xA7\xC3\xB8\xC3\xB0\xC3\xA9\"";
        int first = 10 * (i - 1) + 2;
        if (first > n) {
            text += "/>\r\n";
            return;
        }
        text += ">\r\n";
        stack.push_back({i, first});
    };
    for (int top = 1; top <= 1; ++top) {
        open(top);
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.nextChild <= n && f.nextChild < 10 * (f.index - 1) + 12) {
                open(f.nextChild++);
            } else {
                stack.pop_back();
                text += "</note>\r\n";
            }
        }
    }
    text += "</ludex>";
    return text;
}

const std::string& DocumentText(int n) {
    static std::map<int, std::string> cache;
    auto it = cache.find(n);
    if (it == cache.end()) {
        it = cache.emplace(n, MakeDocument(n)).first;
    }
    return it->second;
}

double PeakRssMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in kilobytes on Linux
}

void Finish(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["branches"] = static_cast<double>(state.range(0));
    state.counters["ns_per_branch"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["peak_rss_MB"] = PeakRssMegabytes();
}

void BM_Open(benchmark::State& state) {
    const std::string& text = DocumentText(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TDomDocument doc;
        doc.LoadBytes(text, "bench");
        benchmark::DoNotOptimize(doc.DocumentElement());
    }
    Finish(state, text.size());
}

void BM_PugixmlParse(benchmark::State& state) {
    const std::string& text = DocumentText(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        pugi::xml_document doc;
        pugi::xml_parse_result result =
            doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
        benchmark::DoNotOptimize(result);
    }
    Finish(state, text.size());
}

void BM_DocumentToText(benchmark::State& state) {
    const std::string& text = DocumentText(static_cast<int>(state.range(0)));
    TDomDocument doc;
    doc.LoadBytes(text, "bench");
    size_t written = 0;
    for (auto _ : state) {
        std::string out = DocumentToText(doc.DocumentElement());
        written = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    if (written != text.size()) {
        state.SkipWithError("the written text differs in size from the generated one");
    }
    Finish(state, written);
}

class TStringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
    std::string out;
};

void BM_PugixmlSave(benchmark::State& state) {
    const std::string& text = DocumentText(static_cast<int>(state.range(0)));
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    size_t written = 0;
    for (auto _ : state) {
        TStringWriter writer;
        doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        written = writer.out.size();
        benchmark::DoNotOptimize(writer.out.data());
    }
    Finish(state, written);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_Open)->Apply(Sizes);
BENCHMARK(BM_PugixmlParse)->Apply(Sizes);
BENCHMARK(BM_DocumentToText)->Apply(Sizes);
BENCHMARK(BM_PugixmlSave)->Apply(Sizes);

BENCHMARK_MAIN();
