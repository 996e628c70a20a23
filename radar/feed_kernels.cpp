#include "feed_kernels.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#define ZARV_FEED_AVX2 1
#endif

namespace zarv::radar {

namespace {
constexpr std::size_t kMaxLanes = 8 * 72;

std::int16_t Clamp16(int v) {
    return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
}

// Blocks of `lanes` words (whole records, and a multiple of eight, so that
// short records vectorize as well as long ones): into the ring clamped, each
// block position's squares summed apart.
[[gnu::always_inline]] inline void WordLanesLoop(const int* values, std::int16_t* slot,
                                                 std::size_t blocks, std::size_t lanes,
                                                 std::int64_t* lane_sums) {
    for (std::size_t b = 0; b < blocks; ++b) {
        const int* v = values + b * lanes;
        std::int16_t* w = slot + b * lanes;
        for (std::size_t j = 0; j < lanes; ++j) {
            w[j] = Clamp16(v[j]);
            lane_sums[j] += std::int32_t{w[j]} * w[j];
        }
    }
}

using WordLanesFn = void (*)(const int*, std::int16_t*, std::size_t, std::size_t, std::int64_t*);

void WordLanesPlain(const int* values, std::int16_t* slot, std::size_t blocks, std::size_t lanes,
                    std::int64_t* lane_sums) {
    WordLanesLoop(values, slot, blocks, lanes, lane_sums);
}

// Longer blocks for few words a record: less overhead a block.
std::size_t LanesFor(std::size_t per_record) {
    std::size_t lanes = std::lcm(per_record, std::size_t{8});
    while (lanes < 64) lanes *= 2;
    return lanes;
}

void StoreAndSumWords(WordLanesFn loop, const int* values, std::int16_t* slot, std::size_t records,
                      std::size_t per_record, std::size_t summed, std::int64_t* sums) {
    if (per_record == 0 || records == 0) return;
    const std::size_t lanes = LanesFor(per_record);
    if (lanes > kMaxLanes) {  // longer records than any stream has: one block each
        std::vector<std::int64_t> record_sums(per_record, 0);
        loop(values, slot, records, per_record, record_sums.data());
        for (std::size_t p = 0; p < summed; ++p) sums[p] += record_sums[p];
        return;
    }
    std::array<std::int64_t, kMaxLanes> lane_sums;
    std::fill_n(lane_sums.begin(), lanes, 0);
    const std::size_t blocks = records * per_record / lanes;
    loop(values, slot, blocks, lanes, lane_sums.data());
    // The records after the last whole block, in a block of their own.
    const std::size_t done = blocks * lanes;
    loop(values + done, slot + done, 1, records * per_record - done, lane_sums.data());
    for (std::size_t j = 0; j < lanes; ++j)
        if (j % per_record < summed) sums[j % per_record] += lane_sums[j];
}

#ifdef ZARV_FEED_AVX2
__attribute__((target("avx2"))) void WordLanesAvx2(const int* values, std::int16_t* slot,
                                                   std::size_t blocks, std::size_t lanes,
                                                   std::int64_t* lane_sums) {
    WordLanesLoop(values, slot, blocks, lanes, lane_sums);
}
#endif
}  // namespace

void StoreAndSumPlain(const int* values, std::int16_t* slot, std::size_t records,
                      std::size_t per_record, std::size_t summed, std::int64_t* sums) {
    StoreAndSumWords(WordLanesPlain, values, slot, records, per_record, summed, sums);
}

// Every record's words pass through here: built for AVX2 as well, the better
// one picked when it first runs (no ifunc: sanitizers cannot take one).
void StoreAndSum(const int* values, std::int16_t* slot, std::size_t records, std::size_t per_record,
                 std::size_t summed, std::int64_t* sums) {
#ifdef ZARV_FEED_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        StoreAndSumWords(WordLanesAvx2, values, slot, records, per_record, summed, sums);
        return;
    }
#endif
    StoreAndSumPlain(values, slot, records, per_record, summed, sums);
}

}  // namespace zarv::radar
