#pragma once

#include <QList>
#include <QPointF>
#include <vector>

namespace zarv::views {

// Reduces a capture of any length to what a chart can draw at once: while it
// holds few points they are drawn as they are; beyond that each of kColumns
// columns of the x range is drawn as its lowest and highest point, in the order
// they came. Adding points costs the same whatever the capture holds.
class GraphPlot {
  public:
    static constexpr int kColumns = 1024;
    static constexpr int kRawLimit = 2048;

    // A new capture over x from 0 to x_max.
    void reset(double x_max);
    double xMax() const { return x_max_; }
    void add(const std::vector<QPointF>& points);

    std::size_t count() const { return count_; }
    bool decimated() const { return count_ > kRawLimit; }
    QList<QPointF> points() const;
    // Lowest and highest y added; false when empty.
    bool yRange(double& low, double& high) const;

  private:
    struct Column {
        bool used = false;
        QPointF low, high;
        int low_order = 0, high_order = 0;  // which came first
    };
    void addToColumn(const QPointF& p, int order);

    double x_max_ = 1;
    std::size_t count_ = 0;
    std::vector<QPointF> raw_;  // only while count_ <= kRawLimit
    std::vector<Column> columns_ = std::vector<Column>(kColumns);
    double y_low_ = 0, y_high_ = 0;
};

// A step of 1, 2 or 5 times a power of ten that divides span into about
// `ticks` intervals.
double NiceTickInterval(double span, int ticks);

}  // namespace zarv::views
