// Opening and writing documents of 10 000, 100 000 and 1 000 000 branches, each beside the parser's
// own parse and save of the same text in the same run. The parser is used here directly only as
// the baseline.
#include "../common/BenchAllocator.h"
#include "../common/BenchDocuments.h"
#include "document/DocumentWriter.h"
#include "document/DomService.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

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

// ---- Linearity: 1 000 000 branches against 100 000 ----------------------------------------------
//
// Both sizes are measured by turns in every iteration (ten runs of the small one, one of the large
// one), so that a change in the speed of the machine during the run meets both alike. The counters
// are the medians over the iterations and their ratio.

using Clock = std::chrono::steady_clock;
constexpr int kSmall = 100000;
constexpr int kLarge = 1000000;
constexpr int kSmallRuns = 10;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <typename Operation>
void MeasureLinearity(benchmark::State& state, Operation operation) {
    operation(kSmall); // the first run of each size also builds what the later ones reuse
    operation(kLarge);
    std::vector<double> small;
    std::vector<double> large;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kSmallRuns; ++i) {
            operation(kSmall);
        }
        const auto t1 = Clock::now();
        operation(kLarge);
        const auto t2 = Clock::now();
        small.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count() / kSmallRuns);
        large.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
    }
    state.counters["ms_100k"] = Median(small);
    state.counters["ms_1M"] = Median(large);
    state.counters["ratio"] = Median(large) / Median(small);
    state.counters["peak_rss_MB"] = PeakRssMegabytes();
}

void BM_LinearityOpen(benchmark::State& state) {
    MeasureLinearity(state, [](int n) {
        TDomDocument doc;
        doc.LoadBytes(DocumentText(n), "bench");
        benchmark::DoNotOptimize(doc.DocumentElement());
    });
}

void BM_LinearityPugixmlParse(benchmark::State& state) {
    MeasureLinearity(state, [](int n) {
        const std::string& text = DocumentText(n);
        pugi::xml_document doc;
        benchmark::DoNotOptimize(
            doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8));
    });
}

void BM_LinearityDocumentToText(benchmark::State& state) {
    std::map<int, std::unique_ptr<TDomDocument>> docs;
    MeasureLinearity(state, [&docs](int n) {
        std::unique_ptr<TDomDocument>& doc = docs[n];
        if (!doc) {
            doc = std::make_unique<TDomDocument>();
            doc->LoadBytes(DocumentText(n), "bench");
        }
        std::string out = DocumentToText(doc->DocumentElement());
        benchmark::DoNotOptimize(out.data());
    });
}

void BM_LinearityPugixmlSave(benchmark::State& state) {
    std::map<int, std::unique_ptr<pugi::xml_document>> docs;
    MeasureLinearity(state, [&docs](int n) {
        std::unique_ptr<pugi::xml_document>& doc = docs[n];
        if (!doc) {
            const std::string& text = DocumentText(n);
            doc = std::make_unique<pugi::xml_document>();
            doc->load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
        }
        TStringWriter writer;
        doc->save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        benchmark::DoNotOptimize(writer.out.data());
    });
}

BENCHMARK(BM_LinearityOpen)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearityPugixmlParse)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearityDocumentToText)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinearityPugixmlSave)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    bench::FixAllocatorThresholds();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
