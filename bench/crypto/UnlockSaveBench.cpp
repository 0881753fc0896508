// Unlocking and saving a document of 100 strong branches, each with a memo of 2 KB and ten plain
// sub-branches, beside the same document in the compatible scheme, both measured in the same
// iteration. Keys are verified outside the timing (their derivation is its own figure in
// bench_strong_cipher): "unlock" is deciphering the 100 branches and rebuilding their contents,
// "save" the text the writer makes of the unlocked document, "lock" enciphering them again.
// Times are CPU times of the benchmark thread.
#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace ludex;

namespace {

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string MemoText(size_t size) {
    const std::string line = "\xD0\xA1\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0 of a memo, 12 * 3.5 = 42\n";
    std::string text;
    while (text.size() + line.size() <= size) {
        text += line;
    }
    return text;
}

std::string Password(const TDomNode& branch) {
    return "password " + TitleAccess.Read(branch);
}

std::unique_ptr<TDomDocument> EncryptedDocument(TCipherScheme scheme) {
    std::string text = "<ludex title=\"Bench\">";
    const std::string memo = MemoText(2048);
    for (int i = 0; i < 100; ++i) {
        text += "<note title=\"Encrypted " + std::to_string(i) + "\">";
        for (int j = 0; j < 10; ++j) {
            text += "<note title=\"Plain " + std::to_string(j) + "\" memo=\"" + MemoText(300) + "\"/>";
        }
        text += "</note>";
    }
    text += "</ludex>";
    auto doc = std::make_unique<TDomDocument>();
    doc->LoadXML(text);
    for (TDomNode branch = doc->DocumentElement().FirstChild(); branch; branch = branch.NextSibling()) {
        MemoAccess.Write(branch, memo);
        SetBranchPassword(branch, Password(branch), scheme);
    }
    return doc;
}

struct TTimes {
    double unlock = 0;
    double save = 0;
    double lock = 0;
};

// One round on a document whose branches are unlocked: lock them all, verify the keys (not
// timed), unlock them all, save.
void Round(TDomDocument& doc, TTimes& times) {
    const TDomNode root = doc.DocumentElement();
    double start = ThreadSeconds();
    for (TDomNode branch = root.FirstChild(); branch; branch = branch.NextSibling()) {
        EncipherBranch(branch);
    }
    times.lock += ThreadSeconds() - start;
    std::vector<std::pair<TDomNode, TBranchUnlockKey>> keys;
    for (TDomNode branch = root.FirstChild(); branch; branch = branch.NextSibling()) {
        std::optional<TBranchUnlockKey> key = VerifyBranchPassword(branch, Password(branch));
        keys.emplace_back(branch, std::move(*key));
    }
    start = ThreadSeconds();
    for (auto& [branch, key] : keys) {
        DecipherBranchElement(branch, std::move(key));
    }
    times.unlock += ThreadSeconds() - start;
    start = ThreadSeconds();
    benchmark::DoNotOptimize(DocumentToText(root));
    times.save += ThreadSeconds() - start;
}

void BM_UnlockAndSave100StrongBranches(benchmark::State& state) {
    SetCurrentCodePage("windows-1251");
    std::unique_ptr<TDomDocument> strong;
    {
        const TStrongKeyCostForTests cheap({1, 8});
        strong = EncryptedDocument(TCipherScheme::Strong);
    }
    const auto compatible = EncryptedDocument(TCipherScheme::Compatible);
    const TStrongKeyCostForTests cheap({1, 8});
    TTimes strongTimes;
    TTimes compatibleTimes;
    size_t rounds = 0;
    for (auto _ : state) {
        Round(*strong, strongTimes);
        state.PauseTiming();
        Round(*compatible, compatibleTimes);
        state.ResumeTiming();
        ++rounds;
    }
    const double n = static_cast<double>(rounds) / 1e3;
    state.counters["unlock_strong_ms"] = strongTimes.unlock / n;
    state.counters["unlock_compatible_ms"] = compatibleTimes.unlock / n;
    state.counters["save_strong_ms"] = strongTimes.save / n;
    state.counters["save_compatible_ms"] = compatibleTimes.save / n;
    state.counters["lock_strong_ms"] = strongTimes.lock / n;
    state.counters["lock_compatible_ms"] = compatibleTimes.lock / n;
}
BENCHMARK(BM_UnlockAndSave100StrongBranches)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
