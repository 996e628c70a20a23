#include "graph_capture.h"

#include <algorithm>

#include <QDateTime>

#include "station/run_config.h"

namespace zarv::acquisition {

using namespace zarv::station;

void GraphCapture::startCapturing() {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.store(true);
    graph_count_ = 0;
}

bool GraphCapture::graphLive() const {
    return live_.load();
}

std::int32_t GraphCapture::graphCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return graph_count_;
}

void GraphCapture::setPointsText(const QString& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    points_ = ParseConfigInteger(text.trimmed());
}

void GraphCapture::setGateText(const QString& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    gate_ = ParseConfigInteger(text.trimmed());
    // No word index is negative or this large, so an unusable gate matches nothing.
    ip_word_ = gate_ ? 2 * (std::int64_t{*gate_} - 1) : -1;
    qp_word_ = gate_ ? ip_word_ + 1 : -1;
}

void GraphCapture::renew() {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.store(true);
    graph_count_ = 0;
    ip_.clear();
    qp_.clear();
    first_sample_ms_ = -1;
    ++capture_;
}

void GraphCapture::setRecordPeriod(std::int32_t record_period_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    record_period_us_ = record_period_us;
}

void GraphCapture::addLocked(int p, int v, std::int32_t record_period_us) {
    if (!live_.load(std::memory_order_relaxed) || !points_) return;
    if (*points_ <= graph_count_) {
        live_.store(false);
        return;
    }
    if (!gate_) return;
    if (p == ip_word_) {
        if (graph_count_ == 0) first_sample_ms_ = QDateTime::currentMSecsSinceEpoch();
        ip_.add(static_cast<std::uint32_t>(graph_count_), record_period_us, v);
        ++graph_count_;
    }
    if (p == qp_word_) qp_.add(static_cast<std::uint32_t>(graph_count_), record_period_us, v);
}

void GraphCapture::AddGraphValue(int p, int v, std::int32_t record_period_us) {
    if (!live_.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    record_period_us_ = record_period_us;
    addLocked(p, v, record_period_us);
}

// What AddGraphValue does for every word in turn, without the turns: only the
// gate's two words add points, and the point limit is met either before the
// first word or between the ip and the qp word, after the ip point.
void GraphCapture::AddGraphRecord(const int* values, int words, std::int32_t record_period_us) {
    addRecords(values, words, 1, record_period_us);
}

void GraphCapture::addRecords(const int* values, int words, int count,
                              std::int32_t record_period_us) {
    if (!live_.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    record_period_us_ = record_period_us;
    const int whole = wholeRecordsLocked(words, count);
    if (whole > 0) {
        // Records that add both points, far from the limit: no checks between.
        if (graph_count_ == 0) first_sample_ms_ = QDateTime::currentMSecsSinceEpoch();
        appendWholeRecordsLocked(values, words, whole, record_period_us);
    }
    for (int r = whole; r < count && live_.load(std::memory_order_relaxed); ++r)
        addRecordLocked(values + static_cast<std::ptrdiff_t>(r) * words, words, record_period_us);
}

// The points of records far from the limit, in two runs: ip at graph_count,
// qp a record later.
void GraphCapture::appendWholeRecordsLocked(const int* values, int words, int whole,
                                            std::int32_t record_period_us) {
    const auto n = static_cast<std::size_t>(whole);
    const auto stride = static_cast<std::size_t>(words);
    const auto count = static_cast<std::uint32_t>(graph_count_);
    ip_.addRun(count, record_period_us, values + ip_word_, n, stride);
    qp_.addRun(count + 1, record_period_us, values + qp_word_, n, stride);
    graph_count_ = static_cast<std::int32_t>(count + static_cast<std::uint32_t>(n));
}

// How many of count records can add their ip and qp points with the limit
// still more than a record away.
int GraphCapture::wholeRecordsLocked(int words, int count) const {
    if (words <= 0 || !points_ || !gate_ || ip_word_ < 0 || qp_word_ >= words) return 0;
    const std::int64_t room = std::int64_t{*points_} - graph_count_ - 1;
    return static_cast<int>(std::clamp<std::int64_t>(room, 0, count));
}

void GraphCapture::addRecordLocked(const int* values, int words, std::int32_t record_period_us) {
    if (words <= 0 || !points_) return;
    if (*points_ <= graph_count_) {
        live_.store(false);
        return;
    }
    if (!gate_ || ip_word_ < 0 || ip_word_ >= words) return;
    addLocked(static_cast<int>(ip_word_), values[ip_word_], record_period_us);
    if (qp_word_ < words) addLocked(static_cast<int>(qp_word_), values[qp_word_], record_period_us);
}

GraphCapture::State GraphCapture::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    // Local time here, on the reader's side: the processing thread stays out of
    // the C library's time-zone state.
    const QTime first =
        first_sample_ms_ < 0 ? QTime() : QDateTime::fromMSecsSinceEpoch(first_sample_ms_).time();
    return State{capture_,          live_.load(), graph_count_, points_, gate_,
                 record_period_us_, ip_.size(),   qp_.size(),   first};
}

void GraphCapture::copyPoints(std::size_t ip_from, std::size_t qp_from, std::vector<QPointF>& ip,
                              std::vector<QPointF>& qp) const {
    std::lock_guard<std::mutex> lock(mutex_);
    ip_.appendTo(ip_from, ip);
    qp_.appendTo(qp_from, qp);
}

std::vector<QPointF> GraphCapture::ipPoints() const {
    std::vector<QPointF> points;
    std::lock_guard<std::mutex> lock(mutex_);
    ip_.appendTo(0, points);
    return points;
}

std::vector<QPointF> GraphCapture::qpPoints() const {
    std::vector<QPointF> points;
    std::lock_guard<std::mutex> lock(mutex_);
    qp_.appendTo(0, points);
    return points;
}

}  // namespace zarv::acquisition
