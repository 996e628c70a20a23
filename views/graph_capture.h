#pragma once

#include <QPointF>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// What the graph window captures: the ip and qp averages of one gate for a number
// of record periods after each Refresh. Kept apart from the chart so that adding
// a value costs a comparison or two.
class GraphCapture {
  public:
    bool graph_live = false;
    std::int32_t graph_count = 0;

    // The Points and Gate boxes, read as whole numbers whenever they change. Text
    // that is not a whole number plots nothing.
    void setPointsText(const QString& text);
    void setGateText(const QString& text);

    // Offers average v of word p; T is the record period in microseconds.
    void AddGraphValue(int p, int v, std::int32_t record_period_us) {
        if (!graph_live || !points_) return;
        if (*points_ <= graph_count) {
            graph_live = false;
            return;
        }
        if (!gate_) return;
        if (p == ip_word_) {
            ip_.emplace_back(xOf(record_period_us), v);
            ++graph_count;
            ++revision_;
        }
        if (p == qp_word_) {
            qp_.emplace_back(xOf(record_period_us), v);
            ++revision_;
        }
    }

    // Refresh: a new capture with empty series.
    void renew();

    const std::vector<QPointF>& ipPoints() const { return ip_; }
    const std::vector<QPointF>& qpPoints() const { return qp_; }
    // Grows whenever a point is added or the capture is renewed.
    std::uint64_t revision() const { return revision_; }

  private:
    double xOf(std::int32_t record_period_us) const {
        const auto product = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(record_period_us) * static_cast<std::uint32_t>(graph_count));
        return product / 1000.0;
    }

    std::optional<std::int32_t> points_ = 100;
    std::optional<std::int32_t> gate_ = 2;
    std::int64_t ip_word_ = 2;
    std::int64_t qp_word_ = 3;
    std::vector<QPointF> ip_;
    std::vector<QPointF> qp_;
    std::uint64_t revision_ = 0;
};
