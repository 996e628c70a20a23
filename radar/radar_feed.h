#pragma once

#include <QDateTime>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "acquisition/record_sink.h"
#include "doppler_spectrum.h"

namespace zarv::radar {

// One column of the range-time picture: the mean power of each gate over a
// stretch of one beam's records, in dB.
struct PowerColumn {
    int beam = 0;
    QDateTime end;  // when its last record was taken, in UTC: no time zone on the hot path
    std::vector<float> power_db;
};

// The newest records of one beam, oldest first: records x gates x (ip, qp).
struct RecordWindow {
    int gates = 0;
    std::size_t records = 0;
    std::vector<std::int16_t> words;
    // Gate (1-based): its ip in the first record; the next record is 2 x gates on.
    const std::int16_t* gate(int g) const { return words.data() + 2 * (g - 1); }
    std::size_t stride() const { return 2 * static_cast<std::size_t>(gates); }
};

// The radar view's share of the records, taken on the processing thread: the
// latest dwell of each beam as complex series, and the power columns of the
// range-time picture. The window takes what it draws on its own timer; nothing
// here ever waits for it.
class RadarFeed : public acquisition::RecordSink {
  public:
    static constexpr int kBeams = 3;
    using Clock = QDateTime (*)();

    // history: records kept per beam; column_s: the stretch a column covers.
    explicit RadarFeed(int history = 16384, double column_s = 1.0,
                       Clock clock = &QDateTime::currentDateTimeUtc);

    void dwellBegins(int beam) override;
    void addRecord(const int* values, int words, std::int32_t record_period_us) override;
    void addRecords(const int* values, int words, int count,
                    std::int32_t record_period_us) override;
    void dwellPlaced(const QDateTime& first_record_utc) override;

    // The window's side.
    std::vector<PowerColumn> takeColumns();
    // The newest `count` values of gate (1-based) on beam (1..3), oldest first.
    std::vector<Complex> series(int beam, int gate, std::size_t count) const;
    // The newest `count` records of beam into out, whose storage is reused.
    void latest(int beam, std::size_t count, RecordWindow& out) const;
    int gates() const;
    double recordPeriodSeconds() const;
    int beam() const;
    std::size_t recordsOf(int beam) const;
    // The latest dwell of beam: all its records (more than recordsOf when the
    // history could not hold them), and when its first was taken, once the run
    // has placed it (invalid before).
    std::uint64_t dwellRecordsOf(int beam) const;
    QDateTime dwellStartOf(int beam) const;
    // Which dwell that is: 1 for the first begun, counting every beam; 0 for none.
    std::uint64_t dwellSerialOf(int beam) const;
    // Records fed since the feed was made, every beam: it changes while a run records.
    std::uint64_t recordsFed() const;
    // Told on the run's (GUI) thread once a dwell's records are all in and placed,
    // before the next dwell begins: its winds can be taken then, whenever a
    // timer would have looked. Watching the feed does not change it, so a const
    // feed takes listeners; remove one before it goes.
    int addPlacedListener(std::function<void()> listener) const;
    void removePlacedListener(int id) const;

  private:
    struct BeamRing {
        std::vector<std::int16_t> words;  // history x gates x 2
        std::size_t next = 0;             // record slot written next
        std::size_t filled = 0;
        std::uint64_t dwell_records = 0;
        QDateTime dwell_start;
        std::uint64_t dwell_serial = 0;
    };
    mutable std::map<int, std::function<void()>> placed_listeners_;
    mutable int next_listener_ = 0;
    void resetShape(int words);
    int recordsToCloseLocked(double period_s) const;
    void addRunLocked(const int* values, int words, int count);
    void closeColumn();
    void seriesLocked(const BeamRing& ring, int gate, std::size_t count,
                      std::vector<Complex>& out) const;

    const std::size_t history_;
    const double column_s_;
    const Clock clock_;
    mutable std::mutex mutex_;
    int words_ = 0;
    int beam_ = 1;
    std::int32_t period_us_ = 0;
    BeamRing rings_[kBeams];
    std::vector<std::int64_t> column_sums_;  // each word's squares; a gate's two make its power
    int column_records_ = 0;
    std::uint64_t fed_ = 0;
    std::uint64_t dwells_begun_ = 0;
    std::deque<PowerColumn> columns_;  // taken by the window
};

}  // namespace zarv::radar
