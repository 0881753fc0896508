// The strong scheme beside the compatible one, each figure and its baseline measured in the same
// iteration, so that others' work on a shared machine affects both alike:
// - enciphering a 1 MB memo into its stored form (Base64 of the cipher text);
// - saving a document with 100 unlocked encrypted branches, strong against compatible; the
//   strong save must run no key derivation and take at most twice the compatible one;
// - one key derivation at the cost new keys get, against the compatible check value.
// Times are CPU times of the benchmark thread; the derivation also reports wall time, which on
// an idle machine is the time a user waits when unlocking.
#include "core/crypto/Cipher.h"
#include "core/crypto/StrongCipher.h"
#include "core/document/BranchCipher.h"
#include "core/document/DocumentWriter.h"
#include "core/document/XMLNodeAccess.h"
#include "core/text/CodePage.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>

using namespace ludex;

namespace {

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Text that both schemes can encipher: Cyrillic (windows-1251 holds it) and ASCII.
std::string MemoText(size_t size) {
    const std::string line = "\xD0\xA1\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0 of a memo, 12 * 3.5 = 42\n";
    std::string text;
    while (text.size() + line.size() <= size) {
        text += line;
    }
    return text;
}

// Adds the seconds and sets the counters of a figure beside its baseline.
void Report(benchmark::State& state, double seconds, double baselineSeconds, size_t rounds) {
    const double n = static_cast<double>(rounds);
    state.counters["strong_ms"] = seconds / n * 1e3;
    state.counters["compatible_ms"] = baselineSeconds / n * 1e3;
    state.counters["strong_per_compatible"] = seconds / baselineSeconds;
}

void BM_EncipherMemo1MB(benchmark::State& state) {
    SetCurrentCodePage("windows-1251");
    const std::string memo = MemoText(1 << 20);
    const TStrongKey key = TStrongKey::Derive("password", std::string(kStrongSaltSize, 's'), kLeastKeyCost);
    const TSecret password = CompatiblePasswordBytes("password", CurrentCodePage());
    double strong = 0;
    double compatible = 0;
    size_t rounds = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        benchmark::DoNotOptimize(
            Base64Encode(key.Seal(memo, TSealedPart::Memo, NewSealBinding(kNewestStrongVersion, false))));
        const double middle = ThreadSeconds();
        state.PauseTiming();
        const double baselineStart = ThreadSeconds();
        benchmark::DoNotOptimize(
            Base64Encode(EncryptBranchText(CurrentCodePage().FromUtf8(memo), password.View())));
        compatible += ThreadSeconds() - baselineStart;
        state.ResumeTiming();
        strong += middle - start;
        ++rounds;
    }
    state.SetBytesProcessed(static_cast<int64_t>(rounds * memo.size()));
    Report(state, strong, compatible, rounds);
}
BENCHMARK(BM_EncipherMemo1MB)->Unit(benchmark::kMillisecond);

// 100 encrypted branches below the root, unlocked, each with a memo of 2 KB and ten plain
// sub-branches with memos of their own.
std::unique_ptr<TDomDocument> UnlockedDocument(TCipherScheme scheme) {
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
        SetBranchPassword(branch, "password " + TitleAccess.Read(branch), scheme);
    }
    return doc;
}

void BM_SaveDocumentWith100UnlockedBranches(benchmark::State& state) {
    SetCurrentCodePage("windows-1251");
    std::unique_ptr<TDomDocument> strongDocument;
    {
        // The keys are derived once, when the branches are encrypted; their cost plays no part in
        // saving, so they are made cheaply here.
        const TStrongKeyCostForTests cheap(kLeastKeyCost);
        strongDocument = UnlockedDocument(TCipherScheme::Strong);
    }
    const auto compatibleDocument = UnlockedDocument(TCipherScheme::Compatible);
    const uint64_t derivations = StrongKeyDerivationCount();
    double strong = 0;
    double compatible = 0;
    size_t rounds = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        const std::string text = DocumentToText(strongDocument->DocumentElement());
        const double middle = ThreadSeconds();
        state.PauseTiming();
        const double baselineStart = ThreadSeconds();
        benchmark::DoNotOptimize(DocumentToText(compatibleDocument->DocumentElement()));
        compatible += ThreadSeconds() - baselineStart;
        state.ResumeTiming();
        strong += middle - start;
        bytes += text.size();
        ++rounds;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    Report(state, strong, compatible, rounds);
    state.counters["derivations_in_saves"] = static_cast<double>(StrongKeyDerivationCount() - derivations);
}
BENCHMARK(BM_SaveDocumentWith100UnlockedBranches)->Unit(benchmark::kMillisecond);

void BM_DeriveKeyAtTheCostOfNewKeys(benchmark::State& state) {
    const std::string salt(kStrongSaltSize, 's');
    double cpu = 0;
    double wall = 0;
    double check = 0;
    size_t rounds = 0;
    for (auto _ : state) {
        const double wallStart = WallSeconds();
        const double start = ThreadSeconds();
        benchmark::DoNotOptimize(TStrongKey::Derive("password", salt, kStrongKeyCost).CheckValue());
        cpu += ThreadSeconds() - start;
        wall += WallSeconds() - wallStart;
        state.PauseTiming();
        const double baselineStart = ThreadSeconds();
        benchmark::DoNotOptimize(PasswordDigest("password"));
        check += ThreadSeconds() - baselineStart;
        state.ResumeTiming();
        ++rounds;
    }
    const double n = static_cast<double>(rounds);
    state.counters["derivation_cpu_s"] = cpu / n;
    state.counters["derivation_wall_s"] = wall / n;
    state.counters["compatible_check_us"] = check / n * 1e6;
    state.counters["memory_MiB"] = kStrongKeyCost.memoryKiB / 1024.0;
    state.counters["passes"] = kStrongKeyCost.passes;
}
BENCHMARK(BM_DeriveKeyAtTheCostOfNewKeys)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
