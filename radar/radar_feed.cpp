#include "radar_feed.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "feed_kernels.h"

namespace zarv::radar {

namespace {
// Columns the window has not taken yet are dropped beyond this: an hour of them.
constexpr std::size_t kPendingColumns = 3600;
}  // namespace

RadarFeed::RadarFeed(int history, double column_s, Clock clock)
    : history_(static_cast<std::size_t>(std::max(history, 1))),
      column_s_(column_s),
      clock_(clock) {}

void RadarFeed::dwellBegins(int beam) {
    std::lock_guard<std::mutex> lock(mutex_);
    closeColumn();
    beam_ = std::clamp(beam, 1, kBeams);
    BeamRing& ring = rings_[beam_ - 1];
    ring.next = 0;
    ring.filled = 0;  // a new dwell: its phase does not follow the last one's
    ring.dwell_records = 0;
    ring.dwell_start = QDateTime();
    ring.dwell_serial = ++dwells_begun_;
}

void RadarFeed::dwellPlaced(const QDateTime& first_record_utc) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rings_[beam_ - 1].dwell_start = first_record_utc;
    }
    // A copy: a listener may remove itself.
    const auto listeners = placed_listeners_;
    for (const auto& [id, listener] : listeners) listener();
}

int RadarFeed::addPlacedListener(std::function<void()> listener) const {
    placed_listeners_.emplace(++next_listener_, std::move(listener));
    return next_listener_;
}

void RadarFeed::removePlacedListener(int id) const {
    placed_listeners_.erase(id);
}

void RadarFeed::resetShape(int words) {
    words_ = words;
    for (BeamRing& ring : rings_) {
        ring.words.assign(history_ * static_cast<std::size_t>(words), 0);
        ring.next = 0;
        ring.filled = 0;
    }
    column_sums_.assign(static_cast<std::size_t>(words / 2) * 2, 0);
    column_records_ = 0;
}

void RadarFeed::addRecord(const int* values, int words, std::int32_t record_period_us) {
    addRecords(values, words, 1, record_period_us);
}

void RadarFeed::addRecords(const int* values, int words, int count, std::int32_t record_period_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (words != words_) resetShape(words);
    period_us_ = record_period_us;
    const double period_s = record_period_us / 1e6;
    // Cut the batch where columns close, so each run of records is one loop.
    while (count > 0) {
        const int to_close = recordsToCloseLocked(period_s);
        const int run = std::min(count, to_close);
        addRunLocked(values, words, run);
        column_records_ += run;
        if (run == to_close) closeColumn();
        values += static_cast<std::ptrdiff_t>(run) * words;
        count -= run;
    }
}

// The records still to come before the open column closes (at least one): the
// first count k with (column_records_ + k) * period_s >= column_s_.
int RadarFeed::recordsToCloseLocked(double period_s) const {
    constexpr int kNever = std::numeric_limits<int>::max();
    if (period_s <= 0) return column_s_ <= 0 ? 1 : kNever;
    const auto closes = [&](long long k) {
        return static_cast<double>(column_records_ + k) * period_s >= column_s_;
    };
    const double guess = std::ceil(column_s_ / period_s) - column_records_;
    if (!(guess < kNever)) return kNever;
    long long k = std::max(1LL, static_cast<long long>(guess));
    while (k > 1 && closes(k - 1)) --k;
    while (!closes(k) && k < kNever) ++k;
    return static_cast<int>(k);
}

// Records of one column, into the beam's ring (split where it wraps) and the
// column's sums.
void RadarFeed::addRunLocked(const int* values, int words, int count) {
    BeamRing& ring = rings_[beam_ - 1];
    const auto per_record = static_cast<std::size_t>(words);
    std::int64_t* sums = column_sums_.data();
    const std::size_t summed = column_sums_.size();  // the words of whole gates
    std::size_t left = static_cast<std::size_t>(count);
    while (left > 0) {
        const std::size_t run = std::min(left, history_ - ring.next);
        std::int16_t* slot = ring.words.data() + ring.next * per_record;
        const std::size_t n = run * per_record;
        StoreAndSum(values, slot, run, per_record, summed, sums);
        values += n;
        left -= run;
        ring.next += run;
        if (ring.next == history_) ring.next = 0;
    }
    ring.filled = std::min(ring.filled + static_cast<std::size_t>(count), history_);
    ring.dwell_records += static_cast<std::size_t>(count);
    fed_ += static_cast<std::uint64_t>(count);
}

void RadarFeed::closeColumn() {
    if (column_records_ == 0) return;
    PowerColumn column;
    column.beam = beam_;
    column.end = clock_();
    column.power_db.reserve(column_sums_.size() / 2);
    for (std::size_t p = 0; p + 1 < column_sums_.size(); p += 2) {
        const std::int64_t sum = column_sums_[p] + column_sums_[p + 1];  // ip^2 + qp^2
        const double mean = static_cast<double>(sum) / column_records_;
        column.power_db.push_back(static_cast<float>(10.0 * std::log10(std::max(mean, 1e-12))));
    }
    std::fill(column_sums_.begin(), column_sums_.end(), 0);
    column_records_ = 0;
    columns_.push_back(std::move(column));
    if (columns_.size() > kPendingColumns) columns_.pop_front();
}

std::vector<PowerColumn> RadarFeed::takeColumns() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PowerColumn> taken(std::make_move_iterator(columns_.begin()),
                                   std::make_move_iterator(columns_.end()));
    columns_.clear();
    return taken;
}

void RadarFeed::seriesLocked(const BeamRing& ring, int gate, std::size_t count,
                             std::vector<Complex>& out) const {
    out.clear();
    const int gates = words_ / 2;
    if (gate < 1 || gate > gates) return;
    const std::size_t n = std::min(count, ring.filled);
    out.reserve(n);
    const std::size_t first = (ring.next + history_ - n) % history_;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t slot = (first + i) % history_;
        const std::int16_t* w =
            ring.words.data() + slot * static_cast<std::size_t>(words_) + 2 * (gate - 1);
        out.emplace_back(w[0], w[1]);
    }
}

std::vector<Complex> RadarFeed::series(int beam, int gate, std::size_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Complex> out;
    if (beam >= 1 && beam <= kBeams) seriesLocked(rings_[beam - 1], gate, count, out);
    return out;
}

void RadarFeed::latest(int beam, std::size_t count, RecordWindow& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    out.gates = words_ / 2;
    out.records = 0;
    if (beam < 1 || beam > kBeams || words_ == 0) return;
    const BeamRing& ring = rings_[beam - 1];
    const std::size_t n = std::min(count, ring.filled);
    const auto words = static_cast<std::size_t>(words_);
    out.words.resize(n * words);
    // At most two stretches of the ring: up to its end, then from its start.
    const std::size_t first = (ring.next + history_ - n) % history_;
    const std::size_t head = std::min(n, history_ - first);
    std::copy_n(ring.words.data() + first * words, head * words, out.words.data());
    std::copy_n(ring.words.data(), (n - head) * words, out.words.data() + head * words);
    out.records = n;
}

int RadarFeed::gates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return words_ / 2;
}

double RadarFeed::recordPeriodSeconds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return period_us_ / 1e6;
}

int RadarFeed::beam() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return beam_;
}

std::uint64_t RadarFeed::recordsFed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fed_;
}

std::size_t RadarFeed::recordsOf(int beam) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return beam >= 1 && beam <= kBeams ? rings_[beam - 1].filled : 0;
}

std::uint64_t RadarFeed::dwellRecordsOf(int beam) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return beam >= 1 && beam <= kBeams ? rings_[beam - 1].dwell_records : 0;
}

QDateTime RadarFeed::dwellStartOf(int beam) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return beam >= 1 && beam <= kBeams ? rings_[beam - 1].dwell_start : QDateTime();
}

std::uint64_t RadarFeed::dwellSerialOf(int beam) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return beam >= 1 && beam <= kBeams ? rings_[beam - 1].dwell_serial : 0;
}

}  // namespace zarv::radar
