#include "consensus.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zarv::winds {

namespace {
// Whether another set as large as the one kept fits the window without sharing
// any of its values.
bool TiedElsewhere(const std::vector<double>& sorted, std::size_t first, std::size_t count,
                   double window) {
    for (std::size_t other = 0; other + count <= sorted.size(); ++other) {
        const bool apart = other + count <= first || other >= first + count;
        if (apart && sorted[other + count - 1] <= sorted[other] + window) return true;
    }
    return false;
}
}  // namespace

Consensus ConsensusOf(std::vector<double> values, int total, double window, double min_fraction) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    values.erase(
        std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
        values.end());
    Consensus out{kNaN, 0, kNaN};
    if (values.empty() || total <= 0) return out;
    std::sort(values.begin(), values.end());
    std::size_t best_first = 0;
    std::size_t best_count = 0;
    double best_spread = 0;
    std::size_t end = 0;
    for (std::size_t first = 0; first < values.size(); ++first) {
        end = std::max(end, first);
        while (end < values.size() && values[end] <= values[first] + window) ++end;
        const std::size_t count = end - first;
        const double spread = values[end - 1] - values[first];
        if (count > best_count || (count == best_count && spread < best_spread)) {
            best_first = first;
            best_count = count;
            best_spread = spread;
        }
    }
    out.count = static_cast<int>(best_count);
    if (static_cast<double>(best_count) <= min_fraction * total) return out;
    if (TiedElsewhere(values, best_first, best_count, window)) return out;
    const std::size_t middle = best_first + best_count / 2;  // the kept set is sorted
    out.value = best_count % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    if (best_count > 1) {
        double sum = 0;
        for (std::size_t i = best_first; i < best_first + best_count; ++i) sum += values[i];
        const double n = static_cast<double>(best_count);
        const double mean = sum / n;
        double squares = 0;
        for (std::size_t i = best_first; i < best_first + best_count; ++i)
            squares += (values[i] - mean) * (values[i] - mean);
        out.standard_error = std::sqrt(squares / (n - 1)) / std::sqrt(n);
    }
    return out;
}

}  // namespace zarv::winds
