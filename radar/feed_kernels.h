#pragma once

#include <cstddef>
#include <cstdint>

namespace zarv::radar {

// Records into the radar feed's ring, each word clamped to 16 bits, and the
// squares of the first `summed` words of each record added to sums, one entry
// a word: whole numbers, exact.
void StoreAndSum(const int* values, std::int16_t* slot, std::size_t records, std::size_t per_record,
                 std::size_t summed, std::int64_t* sums);

// The same without the vector units' help, for checking them.
void StoreAndSumPlain(const int* values, std::int16_t* slot, std::size_t records,
                      std::size_t per_record, std::size_t summed, std::int64_t* sums);

}  // namespace zarv::radar
