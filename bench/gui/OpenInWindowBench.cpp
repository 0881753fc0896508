// Opening a generated document into the main window's tree (offscreen), sorted and shown, beside
// the bare DOM load of the same file measured in the same iterations.
#include "../common/BenchAllocator.h"
#include "../common/BenchDocuments.h"
#include "../common/BenchMedian.h"

#include "gui/app/LudexUnit.h"
#include "gui/tree/BranchTree.h"
#include "gui/tree/LXDocument.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// Seconds for the bare DOM load and for the open in the window, of the same file one after the
// other; freeing either is not measured.
struct TOpenTimes {
    double domLoad = 0;
    double window = 0;
};

TOpenTimes OpenOnce(TForm_Ludex& window, const std::string& file) {
    double domLoad = 0;
    {
        TDomDocument dom;
        const auto t0 = Clock::now();
        dom.Load(file);
        benchmark::DoNotOptimize(dom.DocumentElement());
        domLoad = Seconds(Clock::now() - t0);
    } // freed outside the measurement, as the document in the window is
    const auto t1 = Clock::now();
    TLXDocument* document = TLXDocument::Create(file, window.Tree());
    QApplication::processEvents(); // lays out and paints the expanded document
    const auto t2 = Clock::now();
    DestroyDocument(document);
    QApplication::processEvents();
    return {domLoad, Seconds(t2 - t1)};
}

void BM_OpenInWindow(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string file = DocumentFile(n);
    TForm_Ludex window;
    window.show();
    QApplication::processEvents();
    double domTotal = 0;
    double windowTotal = 0;
    for (auto _ : state) {
        const TOpenTimes times = OpenOnce(window, file);
        domTotal += times.domLoad;
        windowTotal += times.window;
        state.SetIterationTime(times.window);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["dom_load_ms"] = domTotal / iterations * 1000.0;
    state.counters["window_open_ms"] = windowTotal / iterations * 1000.0;
    state.counters["window_per_dom_load"] = windowTotal / domTotal;
    state.counters["peak_rss_MB"] = bench::PeakRssMegabytes();
    state.counters["branches"] = n;
}

BENCHMARK(BM_OpenInWindow)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

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
            const TOpenTimes times = OpenOnce(window, small);
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
