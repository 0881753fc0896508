// Opening and writing documents of 10 000, 100 000 and 1 000 000 branches, and opening one element
// with 200 000 attributes, each beside the parser's own parse and save of the same text in the
// same run. The parser is used here directly only as
// the baseline.
//
// Every figure is the time of the operation alone: freeing the document or the written text
// afterwards is left out, for ours and the baseline alike.
#include "../common/BenchAllocator.h"
#include "../common/BenchDocuments.h"
#include "../common/BenchMedian.h"
#include "core/document/DocumentWriter.h"
#include "core/document/DomService.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace ludex;

namespace {

using bench::DocumentText;
using bench::Median;
using bench::PeakRssMegabytes;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class TStringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
    std::string out;
};

// One run of an operation on the document of n branches; returns the seconds it took and the
// bytes it read or wrote.
struct TRun {
    double seconds = 0;
    size_t bytes = 0;
};
using TOperation = std::function<TRun(int)>;

TRun OurOpen(int n) {
    const std::string& text = DocumentText(n);
    TDomDocument doc;
    const auto start = Clock::now();
    doc.LoadBytes(text, "bench");
    benchmark::DoNotOptimize(doc.DocumentElement());
    return {SecondsSince(start), text.size()};
}

TRun PugixmlParse(int n) {
    const std::string& text = DocumentText(n);
    pugi::xml_document doc;
    const auto start = Clock::now();
    benchmark::DoNotOptimize(
        doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8));
    return {SecondsSince(start), text.size()};
}

// The documents to write, loaded once per size.
TDomDocument& OurDocument(int n) {
    static std::map<int, std::unique_ptr<TDomDocument>> docs;
    std::unique_ptr<TDomDocument>& doc = docs[n];
    if (!doc) {
        doc = std::make_unique<TDomDocument>();
        doc->LoadBytes(DocumentText(n), "bench");
    }
    return *doc;
}

pugi::xml_document& PugixmlDocument(int n) {
    static std::map<int, std::unique_ptr<pugi::xml_document>> docs;
    std::unique_ptr<pugi::xml_document>& doc = docs[n];
    if (!doc) {
        const std::string& text = DocumentText(n);
        doc = std::make_unique<pugi::xml_document>();
        doc->load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    }
    return *doc;
}

TRun OurSave(int n) {
    const TDomNode root = OurDocument(n).DocumentElement();
    const auto start = Clock::now();
    const std::string out = DocumentToText(root);
    benchmark::DoNotOptimize(out.data());
    return {SecondsSince(start), out.size()};
}

TRun PugixmlSave(int n) {
    pugi::xml_document& doc = PugixmlDocument(n);
    TStringWriter writer;
    const auto start = Clock::now();
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    benchmark::DoNotOptimize(writer.out.data());
    return {SecondsSince(start), writer.out.size()};
}

void BM_Size(benchmark::State& state, const TOperation& operation) {
    const int n = static_cast<int>(state.range(0));
    size_t bytes = 0;
    for (auto _ : state) {
        const TRun run = operation(n);
        state.SetIterationTime(run.seconds);
        bytes = run.bytes;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["branches"] = n;
    state.counters["ns_per_branch"] =
        benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["peak_rss_MB"] = PeakRssMegabytes();
}

// ---- Linearity: 1 000 000 branches against 100 000 ----------------------------------------------
//
// Both sizes are measured by turns in every iteration (ten runs of the small one, one of the large
// one), so that a change in the speed of the machine during the run meets both alike. The counters
// are the medians over the iterations and their ratio.

constexpr int kSmall = 100000;
constexpr int kLarge = 1000000;
constexpr int kSmallRuns = 10;

void BM_Linearity(benchmark::State& state, const TOperation& operation) {
    operation(kSmall); // the first run of each size also builds what the later ones reuse
    operation(kLarge);
    std::vector<double> small;
    std::vector<double> large;
    for (auto _ : state) {
        double smallSeconds = 0;
        for (int i = 0; i < kSmallRuns; ++i) {
            smallSeconds += operation(kSmall).seconds;
        }
        const double largeSeconds = operation(kLarge).seconds;
        small.push_back(smallSeconds / kSmallRuns * 1000.0);
        large.push_back(largeSeconds * 1000.0);
        state.SetIterationTime(smallSeconds + largeSeconds);
    }
    state.counters["ms_100k"] = Median(small);
    state.counters["ms_1M"] = Median(large);
    state.counters["ratio"] = Median(large) / Median(small);
    state.counters["peak_rss_MB"] = PeakRssMegabytes();
}

// ---- One element with 200 000 attributes ---------------------------------------------------------
//
// A hostile document: the check for repeated attribute names must stay linear. Ours must take at
// most 3 times the parser's parse of the same bytes.

const std::string& ManyAttributesText() {
    static const std::string text = [] {
        std::string t(kDocumentDeclaration);
        t += "\r\n<ludex";
        for (int i = 0; i < 200000; ++i) {
            t += " a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
        }
        t += "/>";
        return t;
    }();
    return text;
}

TRun OurOpenManyAttributes(int) {
    const std::string& text = ManyAttributesText();
    TDomDocument doc;
    const auto start = Clock::now();
    doc.LoadBytes(text, "bench");
    benchmark::DoNotOptimize(doc.DocumentElement());
    return {SecondsSince(start), text.size()};
}

TRun PugixmlParseManyAttributes(int) {
    const std::string& text = ManyAttributesText();
    pugi::xml_document doc;
    const auto start = Clock::now();
    benchmark::DoNotOptimize(
        doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8));
    return {SecondsSince(start), text.size()};
}

// Ours and the baseline by turns in every iteration; the counters are the medians and their ratio.
void BM_ManyAttributes(benchmark::State& state) {
    OurOpenManyAttributes(0);
    PugixmlParseManyAttributes(0);
    std::vector<double> ours;
    std::vector<double> baseline;
    for (auto _ : state) {
        const double our = OurOpenManyAttributes(0).seconds;
        const double their = PugixmlParseManyAttributes(0).seconds;
        ours.push_back(our * 1000.0);
        baseline.push_back(their * 1000.0);
        state.SetIterationTime(our + their);
    }
    state.counters["ms"] = Median(ours);
    state.counters["baseline_ms"] = Median(baseline);
    state.counters["ratio"] = Median(ours) / Median(baseline);
    state.counters["bytes"] = static_cast<double>(ManyAttributesText().size());
}

// Each of ours runs right beside its baseline, size by size, so that both meet the same state of
// the heap and of the caches: registering all sizes of one benchmark before the next would give
// the later ones a heap already grown by the largest document.
const bool kRegistered = [] {
    const std::pair<const char*, TOperation> operations[] = {
        {"Open", OurOpen},
        {"PugixmlParse", PugixmlParse},
        {"DocumentToText", OurSave},
        {"PugixmlSave", PugixmlSave},
    };
    for (int64_t n : {10000, 100000, 1000000}) {
        for (const auto& [name, operation] : operations) {
            benchmark::RegisterBenchmark((std::string("BM_") + name).c_str(), BM_Size, operation)
                ->Arg(n)
                ->MinWarmUpTime(0.5) // the first runs also load the document and grow the process
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (const auto& [name, operation] : operations) {
        benchmark::RegisterBenchmark((std::string("BM_Linearity") + name).c_str(), BM_Linearity, operation)
            ->Iterations(9)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_OpenManyAttributes", BM_ManyAttributes)
        ->Iterations(15)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return true;
}();

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
