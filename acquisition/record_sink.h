#pragma once

#include <QDateTime>

#include <cstddef>
#include <cstdint>

namespace zarv::acquisition {

// Takes the averaged records of the stream on the processing thread, as they are
// written: words ip, qp of gate 1, ip, qp of gate 2, ... The record period is in
// microseconds. Whatever it does must be short: it runs in the recording path.
class RecordSink {
  public:
    virtual ~RecordSink() = default;
    virtual void addRecord(const int* values, int words, std::int32_t record_period_us) = 0;
    // count records one after the other, as the decoder hands over a chunk's
    // worth at once: a taker that locks does so once for them all.
    virtual void addRecords(const int* values, int words, int count,
                            std::int32_t record_period_us) {
        for (int r = 0; r < count; ++r)
            addRecord(values + static_cast<std::ptrdiff_t>(r) * words, words, record_period_us);
    }
    // Before the first record of a beam dwell; called by the run between dwells.
    virtual void dwellBegins(int /*beam*/) {}
    // After the dwell's last record: when its first record was taken, as the
    // dwell journal places it.
    virtual void dwellPlaced(const QDateTime& /*first_record_utc*/) {}
};

}  // namespace zarv::acquisition
