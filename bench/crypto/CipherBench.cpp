// Throughput of the branch cipher beside the limit set by MD5 itself, measured in the same run.
//
// The cipher's key stream costs one MD5 of at most 16 bytes, that is one MD5 compression, per 16
// bytes of text. libcrypto's MD5 over a long message costs one compression per 64 bytes, so a
// quarter of its byte rate is the most the cipher can reach. "of_limit" is the cipher's rate
// divided by that quarter. Times are CPU times of the benchmark thread, and the limit is measured
// again inside every iteration next to the cipher, so that others' work on a shared machine
// affects both figures alike.
#include "core/crypto/Cipher.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <string>

#include <openssl/evp.h>

namespace {

using ludex::EncryptBranchText;

constexpr size_t kBranchText = 1 << 20;

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void DigestLongMessage(const std::string& message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(message.data(), message.size(), digest, &length, EVP_md5(), nullptr);
    benchmark::DoNotOptimize(digest);
}

// Sets the cipher's counters from the seconds spent on `bytes` bytes of cipher work and on
// 4 * `bytes` bytes of long-message MD5.
void ReportAgainstLimit(benchmark::State& state, size_t bytes, double cipherSeconds, double md5Seconds) {
    const double rate = static_cast<double>(bytes) / cipherSeconds;
    const double limit = static_cast<double>(bytes) / md5Seconds;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB_per_s"] = rate / 1e6;
    state.counters["limit_MB_per_s"] = limit / 1e6;
    state.counters["of_limit"] = rate / limit;
}

// Runs `work` once per iteration on kBranchText bytes, each time beside MD5 of 4 * kBranchText bytes.
template <typename Work>
void RunAgainstLimit(benchmark::State& state, Work work) {
    const std::string message(4 * kBranchText, 'x');
    double workSeconds = 0;
    double md5Seconds = 0;
    size_t rounds = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        work();
        const double middle = ThreadSeconds();
        state.PauseTiming();
        const double baselineStart = ThreadSeconds();
        DigestLongMessage(message);
        md5Seconds += ThreadSeconds() - baselineStart;
        state.ResumeTiming();
        workSeconds += middle - start;
        ++rounds;
    }
    ReportAgainstLimit(state, rounds * kBranchText, workSeconds, md5Seconds);
}

// The baseline alone: libcrypto's MD5 over a 4 MB message.
void BM_LibcryptoMD5LongMessage(benchmark::State& state) {
    const std::string message(4 * kBranchText, 'x');
    for (auto _ : state) {
        DigestLongMessage(message);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
    state.counters["compressions_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * message.size() / 64), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LibcryptoMD5LongMessage)->Unit(benchmark::kMillisecond);

// EncryptBranchText of 1 MB.
void BM_EncryptBranchText(benchmark::State& state) {
    const std::string plain(kBranchText, 'p');
    const std::string password = "password";
    RunAgainstLimit(state, [&] { benchmark::DoNotOptimize(EncryptBranchText(plain, password)); });
}
BENCHMARK(BM_EncryptBranchText)->Unit(benchmark::kMillisecond);

// DecryptBranchText of 1 MB.
void BM_DecryptBranchText(benchmark::State& state) {
    const std::string enciphered = EncryptBranchText(std::string(kBranchText, 'p'), "password");
    RunAgainstLimit(state,
                    [&] { benchmark::DoNotOptimize(ludex::DecryptBranchText(enciphered, "password")); });
}
BENCHMARK(BM_DecryptBranchText)->Unit(benchmark::kMillisecond);

// The key chain alone for 1 MB (65 536 steps) through libcrypto's EVP interface with one reused
// digest context: what the cipher would reach with libcrypto's MD5 instead of its own.
void BM_KeyChainThroughLibcryptoEVP(benchmark::State& state) {
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::array<unsigned char, 16> key{};
    RunAgainstLimit(state, [&] {
        for (size_t i = 0; i < kBranchText / 16; ++i) {
            const auto size = static_cast<size_t>(std::find(key.begin(), key.end(), 0) - key.begin());
            unsigned int length = 0;
            EVP_DigestInit_ex(ctx, md, nullptr);
            EVP_DigestUpdate(ctx, key.data(), size);
            EVP_DigestFinal_ex(ctx, key.data(), &length);
        }
        benchmark::DoNotOptimize(key);
    });
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}
BENCHMARK(BM_KeyChainThroughLibcryptoEVP)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
