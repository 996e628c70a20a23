#include "graph_plot.h"

#include <algorithm>
#include <cmath>

namespace zarv::views {

void GraphPlot::reset(double x_max) {
    x_max_ = x_max > 0 ? x_max : 1;
    count_ = 0;
    raw_.clear();
    std::fill(columns_.begin(), columns_.end(), Column{});
}

void GraphPlot::addToColumn(const QPointF& p, int order) {
    const int at = std::clamp(static_cast<int>(p.x() / x_max_ * kColumns), 0, kColumns - 1);
    Column& c = columns_[static_cast<std::size_t>(at)];
    if (!c.used) {
        c = Column{true, p, p, order, order};
        return;
    }
    if (p.y() < c.low.y()) c.low = p, c.low_order = order;
    if (p.y() > c.high.y()) c.high = p, c.high_order = order;
}

void GraphPlot::add(const std::vector<QPointF>& points) {
    for (const QPointF& p : points) {
        if (count_ == 0) y_low_ = y_high_ = p.y();
        y_low_ = std::min(y_low_, p.y());
        y_high_ = std::max(y_high_, p.y());
        addToColumn(p, static_cast<int>(count_));
        ++count_;
        if (count_ <= kRawLimit) raw_.push_back(p);
    }
    if (count_ > kRawLimit && !raw_.empty()) raw_ = {};
}

QList<QPointF> GraphPlot::points() const {
    if (!decimated()) return QList<QPointF>(raw_.begin(), raw_.end());
    QList<QPointF> out;
    out.reserve(2 * kColumns);
    for (const Column& c : columns_) {
        if (!c.used) continue;
        const bool low_first = c.low_order <= c.high_order;
        out.append(low_first ? c.low : c.high);
        if (c.low_order != c.high_order) out.append(low_first ? c.high : c.low);
    }
    return out;
}

bool GraphPlot::yRange(double& low, double& high) const {
    if (count_ == 0) return false;
    low = y_low_;
    high = y_high_;
    return true;
}

double NiceTickInterval(double span, int ticks) {
    if (!(span > 0) || ticks < 1) return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

}  // namespace zarv::views
