#include "gui/app/WipingHeap.h"

#include <malloc.h>

#include <cstddef>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUDEX_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define LUDEX_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LUDEX_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define LUDEX_TSAN 1
#endif

#if defined(LUDEX_ASAN)

// The sanitizer's allocator fills what is freed; options given in the environment still win.
extern "C" const char* __asan_default_options() {
    return "max_free_fill_size=2147483647:free_fill_byte=0";
}

namespace ludex {
bool HeapWipesFreedMemory() noexcept {
    return true;
}
} // namespace ludex

#elif defined(LUDEX_TSAN)

namespace ludex {
bool HeapWipesFreedMemory() noexcept {
    return false;
}
} // namespace ludex

#else

// The C library's own allocator, under the names it exports for programs that wrap it.
extern "C" {
void __libc_free(void* block);
void* __libc_malloc(size_t size);
void* __libc_realloc(void* block, size_t size);
}

namespace {

// A block the allocator mapped from the system on its own is unmapped whole when freed: nothing of
// it stays in the process. The flag is the second bit of the size word before the block.
bool IsMappedWhole(const void* block) {
    return (static_cast<const size_t*>(block)[-1] & 2) != 0;
}

void Wipe(void* block, size_t from) {
    const size_t size = malloc_usable_size(block);
    if (from < size && !IsMappedWhole(block)) {
        explicit_bzero(static_cast<char*>(block) + from, size - from);
    }
}

} // namespace

extern "C" void free(void* block) noexcept {
    if (block != nullptr) {
        Wipe(block, 0);
        __libc_free(block);
    }
}

// A block that grows moves to a new one here, the old one wiped and freed; the allocator's own
// growing would free the old block as it stands.
extern "C" void* realloc(void* block, size_t size) noexcept {
    if (block == nullptr) {
        return __libc_malloc(size);
    }
    if (size == 0) {
        free(block);
        return nullptr;
    }
    const size_t usable = malloc_usable_size(block);
    if (size <= usable) {
        Wipe(block, size); // what a shrinking block gives back
        return __libc_realloc(block, size);
    }
    void* grown = __libc_malloc(size);
    if (grown == nullptr) {
        return nullptr; // the old block stays, as realloc leaves it on failure
    }
    std::memcpy(grown, block, usable);
    free(block);
    return grown;
}

namespace ludex {
bool HeapWipesFreedMemory() noexcept {
    return true;
}
} // namespace ludex

#endif
