// Opening a generated document into the main window's tree (offscreen), sorted and shown, beside
// the bare DOM load of the same file measured in the same iterations.
#include "../common/BenchDocuments.h"

#include "app/LudexUnit.h"
#include "document/BranchTree.h"
#include "document/LXDocument.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace ludex;
using Clock = std::chrono::steady_clock;

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

void BM_OpenInWindow(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::string file = DocumentFile(n);
    TForm_Ludex window;
    window.show();
    QApplication::processEvents();
    double domTotal = 0;
    double windowTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        {
            TDomDocument dom;
            dom.Load(file);
            benchmark::DoNotOptimize(dom.DocumentElement());
        }
        const auto t1 = Clock::now();
        TLXDocument* document = TLXDocument::Create(file, window.Tree());
        QApplication::processEvents(); // lays out and paints the expanded document
        const auto t2 = Clock::now();
        domTotal += Seconds(t1 - t0);
        windowTotal += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
        DestroyDocument(document);
        QApplication::processEvents();
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

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int n : {100000, 1000000}) {
        std::remove(DocumentFile(n).c_str());
    }
    return 0;
}
