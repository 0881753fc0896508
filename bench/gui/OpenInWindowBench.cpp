// Opening a generated document into the main window's tree (offscreen), sorted and shown, beside
// the bare DOM load of the same file and the parser's own parse of the same bytes, measured in the
// same iterations; and the memory the window holds for the open document beside what the parser
// holds for the parsed one.
#include "../common/BenchAllocator.h"
#include "../common/BenchDocuments.h"
#include "../common/BenchMedian.h"

#include "gui/app/LudexUnit.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QApplication>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

using namespace ludex;
using Clock = std::chrono::steady_clock;
using bench::Median;

namespace {

std::string DocumentFile(int n) {
    static std::map<int, std::string> files;
    auto it = files.find(n);
    if (it == files.end()) {
        const std::string path =
            "/tmp/ludex_bench_" + std::to_string(::getpid()) + "_" + std::to_string(n) + ".ldx";
        std::ofstream(path, std::ios::binary) << bench::DocumentText(n);
        it = files.emplace(n, path).first;
    }
    return it->second;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Bytes the allocator has handed out and not yet got back: what the process holds, whether or
// not its pages are resident.
double HeapInUseMegabytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

std::string FileBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Seconds for the parser's parse of the file's bytes (already in memory), the bare DOM load of
// the file and the open in the window, one after the other, and the megabytes the parsed
// document and the window's open document hold; freeing any of them is not measured.
struct TOpenTimes {
    double parserParse = 0;
    double domLoad = 0;
    double window = 0;
    double parserHeld = 0;
    double windowHeld = 0;
};

TOpenTimes OpenOnce(TForm_Ludex& window, const std::string& file) {
    TOpenTimes times;
    {
        const std::string bytes = FileBytes(file);
        pugi::xml_document parsed;
        const double before = HeapInUseMegabytes();
        const auto t0 = Clock::now();
        parsed.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
        benchmark::DoNotOptimize(parsed.document_element());
        times.parserParse = Seconds(Clock::now() - t0);
        times.parserHeld = HeapInUseMegabytes() - before;
    }
    {
        TDomDocument dom;
        const auto t0 = Clock::now();
        dom.Load(file);
        benchmark::DoNotOptimize(dom.DocumentElement());
        times.domLoad = Seconds(Clock::now() - t0);
    } // freed outside the measurement, as the document in the window is
    const double before = HeapInUseMegabytes();
    const auto t1 = Clock::now();
    TLXDocument* document = TLXDocument::Create(file, window.Tree());
    QApplication::processEvents(); // lays out and paints the expanded document
    const auto t2 = Clock::now();
    times.window = Seconds(t2 - t1);
    times.windowHeld = HeapInUseMegabytes() - before;
    DestroyDocument(document);
    QApplication::processEvents();
    // The document is freed on a thread of its own: that ends before anything else is measured,
    // so that it takes no processor from the next measurement.
    window.Tree().Count();
    return times;
}

void BM_OpenInWindow(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string file = DocumentFile(n);
    TForm_Ludex window;
    window.show();
    QApplication::processEvents();
    std::vector<double> parser, dom, opened, parserHeld, windowHeld;
    for (auto _ : state) {
        const TOpenTimes times = OpenOnce(window, file);
        parser.push_back(times.parserParse * 1000.0);
        dom.push_back(times.domLoad * 1000.0);
        opened.push_back(times.window * 1000.0);
        parserHeld.push_back(times.parserHeld);
        windowHeld.push_back(times.windowHeld);
        state.SetIterationTime(times.window);
    }
    state.counters["parser_parse_ms"] = Median(parser);
    state.counters["dom_load_ms"] = Median(dom);
    state.counters["window_open_ms"] = Median(opened);
    state.counters["window_per_parse"] = Median(opened) / Median(parser);
    state.counters["dom_per_parse"] = Median(dom) / Median(parser);
    state.counters["parser_held_MB"] = Median(parserHeld);
    state.counters["window_held_MB"] = Median(windowHeld);
    state.counters["held_ratio"] = Median(windowHeld) / Median(parserHeld);
    state.counters["peak_rss_MB"] = bench::PeakRssMegabytes();
    state.counters["branches"] = n;
}

BENCHMARK(BM_OpenInWindow)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(9);

// 1 000 000 branches against 100 000, measured by turns in every iteration (three opens of the
// small document, one of the large one) so that a change in the speed of the machine meets both
// alike; the counters are medians over the iterations and their ratios.
void BM_OpenInWindowLinearity(benchmark::State& state) {
    constexpr int kSmallRuns = 3;
    const std::string small = DocumentFile(100000);
    const std::string large = DocumentFile(1000000);
    TForm_Ludex window;
    window.show();
    QApplication::processEvents();
    std::vector<double> smallDom, smallWindow, largeDom, largeWindow;
    for (auto _ : state) {
        TOpenTimes sum;
        for (int i = 0; i < kSmallRuns; ++i) {
            const TOpenTimes times = OpenOnce(window, small); // parse and memory are left out here
            sum.domLoad += times.domLoad;
            sum.window += times.window;
        }
        const TOpenTimes big = OpenOnce(window, large);
        smallDom.push_back(sum.domLoad / kSmallRuns * 1000.0);
        smallWindow.push_back(sum.window / kSmallRuns * 1000.0);
        largeDom.push_back(big.domLoad * 1000.0);
        largeWindow.push_back(big.window * 1000.0);
        state.SetIterationTime(sum.window + big.window);
    }
    state.counters["window_ms_100k"] = Median(smallWindow);
    state.counters["window_ms_1M"] = Median(largeWindow);
    state.counters["window_ratio"] = Median(largeWindow) / Median(smallWindow);
    state.counters["dom_ms_100k"] = Median(smallDom);
    state.counters["dom_ms_1M"] = Median(largeDom);
    state.counters["dom_ratio"] = Median(largeDom) / Median(smallDom);
    state.counters["peak_rss_MB"] = bench::PeakRssMegabytes();
}

BENCHMARK(BM_OpenInWindowLinearity)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    bench::FixAllocatorThresholds();
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int n : {100000, 1000000}) {
        std::remove(DocumentFile(n).c_str());
    }
    return 0;
}
