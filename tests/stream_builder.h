#pragma once

#include <cstdint>
#include <vector>

// Builds stream frames by hand: marker, then ip and qp words low byte first.
inline void AppendFrame(std::vector<std::uint8_t>& out, const std::vector<std::uint16_t>& words) {
    out.insert(out.end(), {0xFE, 0xFF, 0xFE, 0xFF});
    for (int i = 0; i < 72; ++i) {
        const std::uint16_t w = i < static_cast<int>(words.size()) ? words[i] : 0;
        out.push_back(static_cast<std::uint8_t>(w));
        out.push_back(static_cast<std::uint8_t>(w >> 8));
    }
}
