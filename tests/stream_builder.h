#pragma once

#include <cstdint>
#include <vector>

// The station's averaging, as the reference for what a record must hold:
// sum / n to the nearest integer, halves to the even neighbour.
inline int AverageHalfEven(std::int64_t sum, std::int32_t n) {
    std::int64_t q = sum / n;
    const std::int64_t r = sum % n;
    const std::int64_t twice = 2 * (r < 0 ? -r : r);
    if (twice > n || (twice == n && (q & 1) != 0)) q += sum < 0 ? -1 : 1;
    return static_cast<int>(q);
}

// Builds stream frames by hand: marker, then ip and qp words low byte first.
inline void AppendFrame(std::vector<std::uint8_t>& out, const std::vector<std::uint16_t>& words) {
    out.insert(out.end(), {0xFE, 0xFF, 0xFE, 0xFF});
    for (int i = 0; i < 72; ++i) {
        const std::uint16_t w = i < static_cast<int>(words.size()) ? words[i] : 0;
        out.push_back(static_cast<std::uint8_t>(w));
        out.push_back(static_cast<std::uint8_t>(w >> 8));
    }
}
