#pragma once

// The allocator state the document benchmarks run in.
//
// glibc raises its threshold for mapping blocks of their own after a large block is freed (up to
// 32 MiB) and keeps freed memory of that size mapped. Repeated runs of a 100 000-branch document,
// whose buffers stay below that limit, therefore reuse memory the kernel has already supplied,
// while a 1 000 000-branch document, whose buffers are larger, gets fresh pages on every run.
// That favours the smaller size and says nothing about the code. Fixing both thresholds at
// glibc's starting values lets every size meet the allocator as the first open or save in a
// program does. Set LUDEX_BENCH_ADAPTIVE_MALLOC=1 to measure with glibc's adaptive thresholds.
#include <cstdio>
#include <cstdlib>
#include <malloc.h>

namespace ludex::bench {

inline void FixAllocatorThresholds() {
    const char* adaptive = std::getenv("LUDEX_BENCH_ADAPTIVE_MALLOC");
    if (adaptive != nullptr && adaptive[0] == '1') {
        std::printf("allocator: glibc's adaptive thresholds\n");
        return;
    }
    constexpr int kThreshold = 128 * 1024; // glibc's starting value for both
    mallopt(M_MMAP_THRESHOLD, kThreshold);
    mallopt(M_TRIM_THRESHOLD, kThreshold);
    std::printf("allocator: fixed thresholds (%d bytes), as in a program's first open\n", kThreshold);
}

} // namespace ludex::bench
