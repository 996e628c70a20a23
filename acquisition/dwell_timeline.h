#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "stream_decoder.h"

namespace zarv::acquisition {

// Why records went missing.
enum class GapCause {
    Start,    // frames lost before the first record
    Framing,  // frames cut by a framing error
    Queue,    // the processing queue had no room
    Pause,    // kept for journals written before the bridge told of its overruns
    End,      // the stream stopped, or brought fewer frames than the time implies
    Overrun,  // the bridge said its buffer overflowed
};
const char* GapCauseName(GapCause cause);

// Records missing before a record of the data file: record is the index in the
// file of the first record after the gap, at_ns its true (monotonic) time.
// Where the count cannot prove the size (the bridge drops bytes without saying
// how many), missing is the best estimate and [missing_min, missing_max] what
// the arrivals allow; elsewhere all three agree.
struct Discontinuity {
    std::int64_t record = 0;
    std::int64_t missing = 0;
    std::int64_t at_ns = 0;
    GapCause cause = GapCause::Pause;
    std::int64_t missing_min = 0;
    std::int64_t missing_max = 0;
    bool certain() const { return missing_min == missing && missing_max == missing; }
};

// When the StartTrigger write began and when it returned: the controller's
// first frame is made in between.
struct TriggerWrite {
    std::int64_t began_ns = 0;
    std::int64_t returned_ns = 0;
};

// Where a dwell's records belong in time.
struct DwellTiming {
    std::int64_t trigger_ns = 0;       // when the first frame was made
    TriggerWrite write;                // the bounds the StartTrigger write sets on it
    bool trigger_from_stream = false;  // trigger_ns comes from the arrivals, not the write
    std::int64_t end_ns = 0;           // when the dwell's reading ended
    double record_period_ns = 0;
    std::int64_t records_written = 0;
    std::int64_t records_implied = 0;  // written plus missing
    std::vector<Discontinuity> gaps;

    std::int64_t missing() const { return records_implied - records_written; }
    // The true time of a record of the file, gaps taken into account.
    std::int64_t recordTimeNs(std::int64_t record) const;
};

// Records carry no time stamp: record i is the i-th group of frames since the
// trigger started. The controller makes exactly one frame per pulse period, and
// frames are lost only where a buffer overflows: the station's own queue (which
// counts the bytes), or the bridge (which flags the packet after the hole but
// cannot say how many bytes went). So frames are counted, not timed: only at a
// break that the stream itself shows does a record move, by the bytes counted
// or, after a bridge overrun, by what the arrivals prove.
//
// Arrivals only bound when a frame was made: never after it arrived. The least
// of (arrival less the time its last frame is due) over a stretch of stream
// with no unknown loss is the trigger's start plus the link's least latency; a
// late read, or a burst after one, only raises the other values. That lower
// envelope dates the first frame, within the StartTrigger write; the envelope of
// a stretch after an overrun, against it, counts the frames the overrun took.
//
// Fed on the processing thread chunk after chunk; finished once per dwell.
class DwellTimeline {
  public:
    // A dwell of frames frame_period_ns apart, integrations to a record.
    void begin(double frame_period_ns, int integrations);
    // After a chunk is processed: its arrival, the stream offset of the byte
    // that arrived then, and where the stream breaks in it (a queue loss, a
    // framing error or a bridge overrun), if it does.
    void noteChunk(std::int64_t arrival_ns, std::int64_t stream_end, const StreamMark& gap_at,
                   GapCause gap_cause);
    // The dwell's timing: the trigger was started by a write that took the
    // time in write, reading ended at end_ns, and the file holds records_written
    // records. Every frame made before end_ns that the file lacks is missing
    // from it; at the end, beyond the link's latency and the tolerance.
    DwellTiming finish(TriggerWrite write, std::int64_t end_ns, std::int64_t records_written) const;
    DwellTiming finish(std::int64_t trigger_ns, std::int64_t end_ns,
                       std::int64_t records_written) const {
        return finish(TriggerWrite{trigger_ns, trigger_ns}, end_ns, records_written);
    }

    // Gaps smaller than this are within what the placement promises.
    std::int64_t toleranceNs() const;

  private:
    struct Segment {
        StreamMark start;
        GapCause cause;
        bool loss_unknown;  // the bridge dropped bytes before it
        double envelope;    // least arrival less the time due
    };
    struct Frames {
        std::int64_t estimate = 0;  // lost without a count before a segment
        std::int64_t most = 0;      // what the arrivals allow at most
    };
    static constexpr std::size_t kMaxSegments = 4096;
    double dueNs(std::int64_t stream_end) const;
    std::vector<Frames> unknownLosses(std::int64_t first_ns, double latency,
                                      std::int64_t earliest_ns) const;
    void addGaps(DwellTiming& timing, const std::vector<Frames>& lost) const;
    void addEndGap(DwellTiming& timing, double latency) const;

    double frame_period_ns_ = 0;
    int integrations_ = 1;
    std::vector<Segment> segments_;
};

}  // namespace zarv::acquisition
