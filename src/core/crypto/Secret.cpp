#include "core/crypto/Secret.h"

#include "core/base/Exception.h"

#include <sodium.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace ludex {

void RequireSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        throw Exception("The cryptographic library libsodium could not be initialised");
    }
}

void WipeMemory(void* data, size_t size) noexcept {
    if (data != nullptr && size != 0) {
        sodium_memzero(data, size);
    }
}

void WipeString(std::string& text) noexcept {
    // The buffer holds capacity() characters and the terminating zero.
    WipeMemory(text.data(), text.capacity());
    text.clear();
}

void DisableCoreDumps() noexcept {
    const rlimit none{0, 0};
    (void)setrlimit(RLIMIT_CORE, &none);
    (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

TSecret::TSecret(std::string_view bytes) {
    Append(bytes);
}

void TSecret::Append(std::string_view bytes) {
    Reserve(bytes_.size() + bytes.size());
    bytes_.append(bytes);
}

void TSecret::Reserve(size_t size) {
    // No standard library keeps more than 22 characters inside a string object, so a capacity of
    // at least 32 is a heap buffer.
    constexpr size_t kHeapCapacity = 32;
    if (size <= bytes_.capacity() && bytes_.capacity() >= kHeapCapacity) {
        return;
    }
    decltype(bytes_) grown;
    grown.reserve(std::max({size, 2 * bytes_.capacity(), kHeapCapacity}));
    grown.append(bytes_);
    Wipe();
    bytes_ = std::move(grown); // takes the heap buffer; nothing stays in `grown`
}

TSecret TSecret::Adopt(std::string& text) {
    TSecret secret(text);
    WipeString(text);
    return secret;
}

TSecret::TSecret(TSecret&& other) noexcept : bytes_(std::move(other.bytes_)) {
    other.Wipe(); // a short value stays behind in the moved-from object's own buffer
}

TSecret& TSecret::operator=(TSecret&& other) noexcept {
    if (this != &other) {
        Wipe();
        bytes_ = std::move(other.bytes_);
        other.Wipe();
    }
    return *this;
}

TSecret::~TSecret() {
    Wipe();
}

void TSecret::Wipe() noexcept {
    // A heap buffer is wiped by the allocator when it goes; this covers the characters kept
    // inside the object itself for a short value.
    WipeMemory(bytes_.data(), bytes_.capacity());
    bytes_.clear();
}

TGuardedBytes::TGuardedBytes(size_t size, const std::function<void(unsigned char*)>& fill)
    : size_(size == 0 ? 1 : size) {
    RequireSodium();
    data_ = static_cast<unsigned char*>(sodium_malloc(size_));
    if (data_ == nullptr) {
        throw Exception("No guarded memory is left for a key");
    }
    try {
        fill(data_);
    } catch (...) {
        sodium_free(data_);
        throw;
    }
    sodium_mprotect_noaccess(data_);
}

TGuardedBytes::TGuardedBytes(TGuardedBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(other.size_),
      readers_(std::exchange(other.readers_, 0)) {}

TGuardedBytes& TGuardedBytes::operator=(TGuardedBytes&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = other.size_;
        readers_ = std::exchange(other.readers_, 0);
    }
    return *this;
}

TGuardedBytes::~TGuardedBytes() {
    Release();
}

void TGuardedBytes::Release() noexcept {
    if (data_ != nullptr) {
        sodium_free(data_); // wipes the bytes and checks the guard pages
        data_ = nullptr;
    }
}

namespace {

// Readings of a key may overlap on several threads (a recovery snapshot sealing memos beside a
// command): the count of readings and the protection it decides change together.
std::mutex& ReadingsMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

TGuardedBytes::TReading::TReading(const TGuardedBytes& bytes) : bytes_(bytes) {
    const std::lock_guard lock(ReadingsMutex());
    if (bytes_.readers_++ == 0) {
        sodium_mprotect_readonly(bytes_.data_);
    }
}

TGuardedBytes::TReading::~TReading() {
    const std::lock_guard lock(ReadingsMutex());
    if (--bytes_.readers_ == 0) {
        sodium_mprotect_noaccess(bytes_.data_);
    }
}

} // namespace ludex
