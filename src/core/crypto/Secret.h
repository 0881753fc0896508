#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ludex {

// Handling of passwords and keys in memory. A password is held only as long as it is needed, in
// buffers that are wiped before they are given back; a derived key lives in libsodium's guarded
// memory (locked in RAM where the system allows, fenced by guard pages, unreadable between uses).

// Initialises libsodium once; afterwards it does nothing. Throws Exception when the library
// cannot be initialised.
void RequireSodium();

// Overwrites the bytes with zeros in a way the compiler cannot leave out.
void WipeMemory(void* data, size_t size) noexcept;

// Wipes the whole buffer of the string (its capacity, so the bytes of a longer earlier value too)
// and empties it.
void WipeString(std::string& text) noexcept;

// Keeps secrets out of crash files: the process writes no core dump, and other processes of the
// same user cannot attach to it or read its memory. Failures are ignored: the program runs on.
void DisableCoreDumps() noexcept;

// An allocator that wipes every buffer before it frees it.
template <typename T>
struct TWipingAllocator {
    using value_type = T;
    TWipingAllocator() = default;
    template <typename U>
    TWipingAllocator(const TWipingAllocator<U>&) noexcept {}
    T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, size_t n) noexcept {
        WipeMemory(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <typename U>
    friend bool operator==(const TWipingAllocator&, const TWipingAllocator<U>&) noexcept {
        return true;
    }
};

// A byte string for passwords and the bytes made from them. Every buffer it lets go of (when it
// grows, is moved from or is destroyed) is wiped first. Not copyable, so that a copy is always
// made on purpose.
class TSecret {
public:
    TSecret() = default;
    explicit TSecret(std::string_view bytes);
    // Takes the bytes of `text` and wipes `text`.
    static TSecret Adopt(std::string& text);
    TSecret(TSecret&& other) noexcept;
    TSecret& operator=(TSecret&& other) noexcept;
    TSecret(const TSecret&) = delete;
    TSecret& operator=(const TSecret&) = delete;
    ~TSecret();

    std::string_view View() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }
    bool Empty() const { return bytes_.empty(); }
    void Append(std::string_view bytes);
    // Makes room for `size` bytes in a heap buffer, so that appending up to that size moves
    // nothing. A string that grows out of the characters kept inside the object would leave them
    // behind there, so a secret lives on the heap.
    void Reserve(size_t size);

private:
    void Wipe() noexcept;
    std::basic_string<char, std::char_traits<char>, TWipingAllocator<char>> bytes_;
};

// A fixed number of bytes in libsodium's guarded memory. The bytes are written once, when the
// object is made, and can be read only while a TReading of it exists; at other times any access
// faults. The memory is wiped when it is freed.
class TGuardedBytes {
public:
    // Allocates `size` bytes (at least 1) and lets `fill` write them. Throws Exception when the
    // memory cannot be had; what `fill` throws passes through, and the memory is freed.
    TGuardedBytes(size_t size, const std::function<void(unsigned char*)>& fill);
    TGuardedBytes(TGuardedBytes&& other) noexcept;
    TGuardedBytes& operator=(TGuardedBytes&& other) noexcept;
    TGuardedBytes(const TGuardedBytes&) = delete;
    TGuardedBytes& operator=(const TGuardedBytes&) = delete;
    ~TGuardedBytes();

    size_t Size() const { return size_; }

    // Read access for its lifetime; nested readings of the same bytes are allowed, on one thread
    // or several.
    class TReading {
    public:
        explicit TReading(const TGuardedBytes& bytes);
        ~TReading();
        TReading(const TReading&) = delete;
        TReading& operator=(const TReading&) = delete;
        const unsigned char* Data() const { return bytes_.data_; }

    private:
        const TGuardedBytes& bytes_;
    };

private:
    void Release() noexcept;
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
    mutable unsigned readers_ = 0;
};

} // namespace ludex
