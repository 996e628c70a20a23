#include "colour_scale.h"

#include <QColor>
#include <algorithm>
#include <array>
#include <cmath>

namespace zarv::views {

namespace {
// Anchors along the scale, evenly spaced.
constexpr std::array<std::array<int, 3>, 6> kAnchors{
    {{68, 1, 84}, {65, 68, 135}, {42, 120, 142}, {34, 168, 132}, {122, 209, 81}, {253, 231, 37}}};

std::array<QRgb, 256> BuildTable() {
    std::array<QRgb, 256> table{};
    const int spans = static_cast<int>(kAnchors.size()) - 1;
    for (int i = 0; i < 256; ++i) {
        const double x = i / 255.0 * spans;
        const int k = std::min(static_cast<int>(x), spans - 1);
        const double t = x - k;
        const auto mix = [&](int c) {
            return static_cast<int>(std::lround(
                kAnchors[static_cast<std::size_t>(k)][static_cast<std::size_t>(c)] * (1 - t) +
                kAnchors[static_cast<std::size_t>(k + 1)][static_cast<std::size_t>(c)] * t));
        };
        table[static_cast<std::size_t>(i)] = qRgb(mix(0), mix(1), mix(2));
    }
    return table;
}
}  // namespace

QRgb ColourOf(double fraction) {
    static const std::array<QRgb, 256> table = BuildTable();
    if (!(fraction > 0)) return table.front();  // NaN too
    if (fraction >= 1) return table.back();
    return table[static_cast<std::size_t>(fraction * 255.0 + 0.5)];
}

}  // namespace zarv::views
