// Find All over a document of 1 000 000 branches whose titles and memos mix Cyrillic and Latin
// text, beside a baseline in the same run: std::search over the same titles and memos held in one
// string, stepping one byte past each match as Find Next does. Ours walks the document in the
// window's order, reads every title and memo and collects every match (case-folded without
// "Match case").
//
// Each iteration measures ours and the baseline by turns, so that a change in the speed of the
// machine meets both alike; the counters are medians over the iterations and their ratio. Times
// are the thread's processor time, which other programs on a busy machine do not lengthen.
#include "../common/BenchDocuments.h"
#include "../common/BenchMedian.h"
#include "core/document/DomService.h"
#include "core/document/XMLNodeAccess.h"
#include "core/search/BranchSearch.h"
#include "core/search/TextMatch.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

using namespace ludex;

namespace {

constexpr int kBranches = 1000000;
// "строка": in every memo, in small letters; searched as "СТРОКА" without "Match case".
const std::string kSmall = "\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0";
const std::string kCapital = "\xD0\xA1\xD0\xA2\xD0\xA0\xD0\x9E\xD0\x9A\xD0\x90";

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

TDomDocument& Document() {
    static std::unique_ptr<TDomDocument> doc;
    if (!doc) {
        doc = std::make_unique<TDomDocument>();
        doc->LoadBytes(bench::DocumentText(kBranches), "bench");
    }
    return *doc;
}

// Every title and memo of the document, each followed by a line break, in one string.
const std::string& AllText() {
    static std::string text;
    if (text.empty()) {
        TBranchWalk walk(Document().DocumentElement(), TBranchOrder::File);
        do {
            text += walk.Current().title;
            text += '\n';
            text += MemoAccess.Read(walk.Current().element);
            text += '\n';
        } while (walk.Next());
    }
    return text;
}

size_t OurFindAll(const std::string& pattern, bool matchCase) {
    const TTextMatcher matcher(pattern, TMatchOptions{.matchCase = matchCase});
    size_t found = 0;
    const TSearchSummary summary =
        SearchBranches(Document().DocumentElement(), matcher, TSearchPlaces{},
                       [&found](TBranchWalk&, TMatchPlace, const TTextMatch& match, std::string_view) {
                           found += match.length > 0 ? 1 : 0;
                       });
    benchmark::DoNotOptimize(summary);
    return found;
}

size_t BaselineSearch(const std::string& pattern) {
    const std::string& text = AllText();
    size_t found = 0;
    for (auto it = std::search(text.begin(), text.end(), pattern.begin(), pattern.end()); it != text.end();
         it = std::search(it + 1, text.end(), pattern.begin(), pattern.end())) {
        ++found;
    }
    return found;
}

void BM_FindAll(benchmark::State& state, bool matchCase) {
    const std::string& pattern = matchCase ? kSmall : kCapital;
    AllText();
    std::vector<double> ours;
    std::vector<double> baseline;
    size_t ourMatches = 0;
    size_t baselineMatches = 0;
    for (auto _ : state) {
        double start = ThreadSeconds();
        ourMatches = OurFindAll(pattern, matchCase);
        ours.push_back(ThreadSeconds() - start);
        start = ThreadSeconds();
        baselineMatches = BaselineSearch(kSmall);
        baseline.push_back(ThreadSeconds() - start);
    }
    if (ourMatches != baselineMatches) {
        state.SkipWithError("ours and the baseline found different numbers of matches");
        return;
    }
    const double ourSeconds = bench::Median(ours);
    const double baselineSeconds = bench::Median(baseline);
    state.counters["matches"] = static_cast<double>(ourMatches);
    state.counters["ours_ms"] = ourSeconds * 1000;
    state.counters["baseline_ms"] = baselineSeconds * 1000;
    state.counters["ratio"] = ourSeconds / baselineSeconds;
    state.counters["text_MB"] = static_cast<double>(AllText().size()) / 1e6;
}

BENCHMARK_CAPTURE(BM_FindAll, MatchCase, true)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindAll, IgnoreCase, false)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
