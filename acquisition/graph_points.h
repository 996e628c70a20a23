#pragma once

#include <QPointF>
#include <cstdint>
#include <vector>

namespace zarv::acquisition {

// One series of the graph's capture: a value a point, its x the record period
// T times the point's graph_count, in microseconds wrapped to 32 bits as the
// graph has always had it, made a QPointF in milliseconds only when the window
// takes it. The x are kept as runs of one period and counts one apart, so the
// processing writes four bytes a point.
class GraphPoints {
  public:
    void clear();
    std::size_t size() const { return values_.size(); }
    void add(std::uint32_t count, std::int32_t period_us, std::int32_t value);
    // n points of counts count, count + 1, ...; their values every stride ints.
    void addRun(std::uint32_t count, std::int32_t period_us, const int* values, std::size_t n,
                std::size_t stride);
    // Appends the points from index on.
    void appendTo(std::size_t index, std::vector<QPointF>& out) const;

  private:
    struct Run {
        std::size_t first;  // the index of its first point
        std::uint32_t count;
        std::uint32_t period_us;
    };
    void continueRun(std::uint32_t count, std::int32_t period_us);

    std::vector<std::int32_t> values_;
    std::vector<Run> runs_;
};

}  // namespace zarv::acquisition
