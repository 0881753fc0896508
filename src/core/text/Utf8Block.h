#pragma once

// Sixteen bytes of UTF-8 text judged at once, for the loops that check, copy or escape text:
// runs of ASCII and of two-byte characters (Latin, Greek, Cyrillic and more) pass whole blocks at
// a time, and only what such a block cannot hold is left to the byte-by-byte path.
#if defined(__SSE2__)
#include <emmintrin.h>

#include <bit>
#include <cstddef>

namespace ludex {

inline __m128i LoadBlock16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// A mask of the ASCII control bytes (0x00 to 0x1F) of the block.
inline __m128i AsciiControls16(__m128i v) {
    // Signed comparisons: bytes from 0x80 up are negative.
    return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-1)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x20)));
}

// How many leading bytes of the block `v` are whole characters that need no closer look: ASCII
// bytes not marked in `stops` (a byte mask made by the caller, e.g. with AsciiControls16 and
// _mm_cmpeq_epi8) and two-byte sequences (a lead byte 0xC2 to 0xDF and a continuation byte, all
// of them characters XML allows). The count ends before the first other byte: a marked byte, a
// byte from 0x80 up that begins no two-byte sequence or continues none, or a lead whose
// continuation byte is not in the block. It never ends inside a character; 16 is the whole block.
inline size_t PlainPrefix16(__m128i v, __m128i stops) {
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
    const auto stopBits = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (high == 0) {
        return stopBits == 0 ? 16 : static_cast<size_t>(std::countr_zero(stopBits));
    }
    // Continuation bytes are 0x80 to 0xBF (-128 to -65), leads of two-byte sequences 0xC2 to 0xDF
    // (-62 to -33).
    const auto continuations =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(v, _mm_set1_epi8(-64))));
    const auto leads = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-63)), _mm_cmplt_epi8(v, _mm_set1_epi8(-32)))));
    // A lead in the last byte has its continuation in the next block: it is left for that one.
    const unsigned bad = stopBits | (high & ~(leads | continuations)) |
                         (continuations ^ ((leads << 1) & 0xFFFF)) | (leads & 0x8000);
    if (bad == 0) {
        return 16;
    }
    const auto first = static_cast<unsigned>(std::countr_zero(bad));
    // A lead just before the first bad byte has no continuation among the bytes passed.
    return first - (first > 0 ? (leads >> (first - 1)) & 1 : 0);
}

} // namespace ludex
#endif
