#include "stream_kernels.h"

#include <bit>
#include <cstring>

#include "stream_decoder.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZARV_X86_KERNELS 1
#endif

namespace zarv::acquisition {

namespace {

std::uint16_t wordAt(const std::uint8_t* p) {
    std::uint16_t w;  // little-endian on the wire
    std::memcpy(&w, p, 2);
    if constexpr (std::endian::native == std::endian::big)
        w = static_cast<std::uint16_t>((w >> 8) | (w << 8));
    return w;
}

int findMarkersPlain(const std::uint8_t* b, int last, std::int32_t* starts) {
    int n = 0;
    for (int at = 0; at <= last; ++at)
        if (b[at] == 0xFE && b[at + 1] == 0xFF && b[at + 2] == 0xFE && b[at + 3] == 0xFF)
            starts[n++] = at;
    return n;
}

void sumFramesPlain(const std::uint8_t* buffer, const std::int32_t* starts, int count,
                    std::int32_t* sums, int words) {
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* frame = buffer + starts[i];
        for (int p = 0; p < words; ++p) sums[p] += StreamDecoder::DecodeWord(wordAt(frame + 2 * p));
    }
}

void decodeFramePlain(const std::uint8_t* frame, int* values, int words) {
    for (int p = 0; p < words; ++p) values[p] = StreamDecoder::DecodeWord(wordAt(frame + 2 * p));
}

#if defined(ZARV_X86_KERNELS)
// Two compares a block: which bytes are FE and which FF, as bits; a marker
// begins where FE, FF, FE, FF follow, which may reach into the next block.
__attribute__((target("avx2"))) int findMarkersAvx2(const std::uint8_t* b, int last,
                                                    std::int32_t* starts) {
    const __m256i fe = _mm256_set1_epi8(static_cast<char>(0xFE));
    const __m256i ff = _mm256_set1_epi8(static_cast<char>(0xFF));
    const auto mask = [](const std::uint8_t* p, __m256i value) __attribute__((target("avx2"))) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        return static_cast<std::uint64_t>(
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, value))));
    };
    int n = 0;
    int at = 0;
    if (last + 1 >= 32) {
        std::uint64_t fe_here = mask(b, fe);
        std::uint64_t ff_here = mask(b, ff);
        for (; at + 32 <= last + 1; at += 32) {
            // The next block lies within the tail room behind the stream's last byte.
            const std::uint64_t fe_next = mask(b + at + 32, fe);
            const std::uint64_t ff_next = mask(b + at + 32, ff);
            const std::uint64_t fes = fe_here | fe_next << 32;
            const std::uint64_t ffs = ff_here | ff_next << 32;
            auto bits = static_cast<std::uint32_t>(fes & ffs >> 1 & fes >> 2 & ffs >> 3);
            while (bits != 0) {
                starts[n++] = at + std::countr_zero(bits);
                bits &= bits - 1;
            }
            fe_here = fe_next;
            ff_here = ff_next;
        }
    }
    for (; at <= last; ++at)
        if (b[at] == 0xFE && b[at + 1] == 0xFF && b[at + 2] == 0xFE && b[at + 3] == 0xFF)
            starts[n++] = at;
    return n;
}

// Bit 11 set: bits 12 to 15 become 1; clear: the word stays as it is.
__attribute__((target("avx2"))) __m256i decode16(__m256i w) {
    const __m256i sign = _mm256_srai_epi16(_mm256_slli_epi16(w, 4), 15);
    return _mm256_or_si256(w,
                           _mm256_and_si256(sign, _mm256_set1_epi16(static_cast<short>(0xF000))));
}

__attribute__((target("avx2"))) __m128i decode8(__m128i w) {
    const __m128i sign = _mm_srai_epi16(_mm_slli_epi16(w, 4), 15);
    return _mm_or_si128(w, _mm_and_si128(sign, _mm_set1_epi16(static_cast<short>(0xF000))));
}

// Word blocks outside, frames inside: the sums of a block stay in registers
// while every frame's words are added.
__attribute__((target("avx2"))) void sumFramesAvx2(const std::uint8_t* buffer,
                                                   const std::int32_t* starts, int count,
                                                   std::int32_t* sums, int words) {
    int p = 0;
    for (; p + 16 <= words; p += 16) {
        __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
        for (int i = 0; i < count; ++i) {
            const __m256i w = decode16(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(buffer + starts[i] + 2 * p)));
            low = _mm256_add_epi32(low, _mm256_cvtepi16_epi32(_mm256_castsi256_si128(w)));
            high = _mm256_add_epi32(high, _mm256_cvtepi16_epi32(_mm256_extracti128_si256(w, 1)));
        }
        auto* out = reinterpret_cast<__m256i*>(sums + p);
        _mm256_storeu_si256(out, _mm256_add_epi32(_mm256_loadu_si256(out), low));
        _mm256_storeu_si256(out + 1, _mm256_add_epi32(_mm256_loadu_si256(out + 1), high));
    }
    if (p + 8 <= words) {
        __m256i sum = _mm256_setzero_si256();
        for (int i = 0; i < count; ++i) {
            const __m128i w = decode8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + starts[i] + 2 * p)));
            sum = _mm256_add_epi32(sum, _mm256_cvtepi16_epi32(w));
        }
        auto* out = reinterpret_cast<__m256i*>(sums + p);
        _mm256_storeu_si256(out, _mm256_add_epi32(_mm256_loadu_si256(out), sum));
        p += 8;
    }
    for (; p < words; ++p)
        for (int i = 0; i < count; ++i)
            sums[p] += StreamDecoder::DecodeWord(wordAt(buffer + starts[i] + 2 * p));
}

__attribute__((target("avx2"))) void decodeFrameAvx2(const std::uint8_t* frame, int* values,
                                                     int words) {
    int p = 0;
    for (; p + 16 <= words; p += 16) {
        const __m256i w =
            decode16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + 2 * p)));
        auto* out = reinterpret_cast<__m256i*>(values + p);
        _mm256_storeu_si256(out, _mm256_cvtepi16_epi32(_mm256_castsi256_si128(w)));
        _mm256_storeu_si256(out + 1, _mm256_cvtepi16_epi32(_mm256_extracti128_si256(w, 1)));
    }
    for (; p < words; ++p) values[p] = StreamDecoder::DecodeWord(wordAt(frame + 2 * p));
}
#endif

struct Kernels {
    int (*find)(const std::uint8_t*, int, std::int32_t*);
    void (*sum)(const std::uint8_t*, const std::int32_t*, int, std::int32_t*, int);
    void (*decode)(const std::uint8_t*, int*, int);
};

Kernels pick() {
#if defined(ZARV_X86_KERNELS)
    if (__builtin_cpu_supports("avx2")) return {findMarkersAvx2, sumFramesAvx2, decodeFrameAvx2};
#endif
    return {findMarkersPlain, sumFramesPlain, decodeFramePlain};
}

const Kernels& kernels() {
    static const Kernels chosen = pick();
    return chosen;
}

}  // namespace

int FindMarkerStarts(const std::uint8_t* buffer, int last, std::int32_t* starts) {
    return kernels().find(buffer, last, starts);
}

void SumFrames(const std::uint8_t* buffer, const std::int32_t* starts, int count,
               std::int32_t* sums, int words) {
    kernels().sum(buffer, starts, count, sums, words);
}

void DecodeFrame(const std::uint8_t* frame, int* values, int words) {
    kernels().decode(frame, values, words);
}

}  // namespace zarv::acquisition
