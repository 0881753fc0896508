// Opening and writing documents of 10 000, 100 000 and 1 000 000 branches, each beside the parser's
// own parse and save of the same text in the same run. The parser is used here directly only as
// the baseline.
#include "../common/BenchDocuments.h"
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

using bench::DocumentText;
using bench::PeakRssMegabytes;

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

// Each of ours runs right beside its baseline, size by size, so that both meet the same state of
// the heap and of the caches: registering all sizes of one benchmark before the next would give
// the later ones a heap already grown by the largest document.
const bool kRegistered = [] {
    for (int64_t n : {10000, 100000, 1000000}) {
        benchmark::RegisterBenchmark("BM_Open", BM_Open)->Arg(n)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_PugixmlParse", BM_PugixmlParse)
            ->Arg(n)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_DocumentToText", BM_DocumentToText)
            ->Arg(n)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_PugixmlSave", BM_PugixmlSave)->Arg(n)->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
