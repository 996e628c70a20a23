#include "graph_points.h"

#include <algorithm>

namespace zarv::acquisition {

void GraphPoints::clear() {
    values_.clear();
    runs_.clear();
}

// The point about to be added at index size() goes on the last run when its
// count and period follow; otherwise it begins a run of its own.
void GraphPoints::continueRun(std::uint32_t count, std::int32_t period_us) {
    const auto period = static_cast<std::uint32_t>(period_us);
    if (!runs_.empty()) {
        const Run& last = runs_.back();
        if (last.period_us == period && last.count + (size() - last.first) == count) return;
    }
    runs_.push_back(Run{size(), count, period});
}

void GraphPoints::add(std::uint32_t count, std::int32_t period_us, std::int32_t value) {
    continueRun(count, period_us);
    values_.push_back(value);
}

void GraphPoints::addRun(std::uint32_t count, std::int32_t period_us, const int* values,
                         std::size_t n, std::size_t stride) {
    if (n == 0) return;
    continueRun(count, period_us);
    const std::size_t at = values_.size();
    values_.resize(at + n);
    std::int32_t* out = values_.data() + at;
    for (std::size_t i = 0; i < n; ++i, values += stride) out[i] = *values;
}

void GraphPoints::appendTo(std::size_t index, std::vector<QPointF>& out) const {
    if (index >= size()) return;
    out.reserve(out.size() + (size() - index));
    // The run holding index: the last that begins at or before it.
    auto run = std::upper_bound(runs_.begin(), runs_.end(), index,
                                [](std::size_t i, const Run& r) { return i < r.first; }) -
               1;
    for (; run != runs_.end(); ++run) {
        const std::size_t end = run + 1 == runs_.end() ? size() : (run + 1)->first;
        for (std::size_t i = std::max(index, run->first); i < end; ++i) {
            const auto count = run->count + static_cast<std::uint32_t>(i - run->first);
            const auto x_us = static_cast<std::int32_t>(run->period_us * count);
            out.emplace_back(x_us / 1000.0, values_[i]);
        }
    }
}

}  // namespace zarv::acquisition
