#pragma once

#include <QPointF>
#include <QString>
#include <QTime>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "graph_points.h"
#include "record_sink.h"

namespace zarv::acquisition {

// What the graph window captures: the ip and qp averages of one gate for a number
// of record periods after each Refresh. The stream processing adds records on its
// own thread; the window reads the points on a timer. A capture that is not live
// costs the processing one atomic load per record.
class GraphCapture : public RecordSink {
  public:
    // What the window needs to draw the capture.
    struct State {
        std::uint64_t capture = 0;  // grows with every Refresh
        bool live = false;
        std::int32_t count = 0;  // graph_count
        std::optional<std::int32_t> points;
        std::optional<std::int32_t> gate;
        std::int32_t record_period_us = 0;  // of the last record offered
        std::size_t ip_size = 0;
        std::size_t qp_size = 0;
        QTime first_sample;  // when the capture's first point came; none before
    };

    // The main window's creation: graph_live set, graph_count 0.
    void startCapturing();
    bool graphLive() const;
    std::int32_t graphCount() const;

    // The Points and Gate boxes, read as whole numbers whenever they change. Text
    // that is not a whole number plots nothing.
    void setPointsText(const QString& text);
    void setGateText(const QString& text);
    // Refresh: a new capture with empty series.
    void renew();
    // The record period the next records will have, for the time axis.
    void setRecordPeriod(std::int32_t record_period_us);

    // Offers average v of word p; T is the record period in microseconds.
    void AddGraphValue(int p, int v, std::int32_t record_period_us);
    // Offers every average of one record, word 0 first.
    void AddGraphRecord(const int* values, int words, std::int32_t record_period_us);
    void addRecord(const int* values, int words, std::int32_t record_period_us) override {
        AddGraphRecord(values, words, record_period_us);
    }
    void addRecords(const int* values, int words, int count,
                    std::int32_t record_period_us) override;

    State state() const;
    // Appends the points from the given indexes on.
    void copyPoints(std::size_t ip_from, std::size_t qp_from, std::vector<QPointF>& ip,
                    std::vector<QPointF>& qp) const;
    std::vector<QPointF> ipPoints() const;
    std::vector<QPointF> qpPoints() const;

  private:
    void addLocked(int p, int v, std::int32_t record_period_us);
    void addRecordLocked(const int* values, int words, std::int32_t record_period_us);
    int wholeRecordsLocked(int words, int count) const;
    void appendWholeRecordsLocked(const int* values, int words, int whole,
                                  std::int32_t record_period_us);
    mutable std::mutex mutex_;
    std::atomic<bool> live_{false};  // graph_live, readable without the lock
    std::int32_t graph_count_ = 0;
    std::optional<std::int32_t> points_ = 100;
    std::optional<std::int32_t> gate_ = 2;
    std::int64_t ip_word_ = 2;
    std::int64_t qp_word_ = 3;
    std::int32_t record_period_us_ = 0;
    std::uint64_t capture_ = 0;
    GraphPoints ip_;
    GraphPoints qp_;
    std::int64_t first_sample_ms_ = -1;  // UTC ms; the local time is made on the GUI thread
};

}  // namespace zarv::acquisition
