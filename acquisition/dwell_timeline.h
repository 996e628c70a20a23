#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "stream_decoder.h"

namespace zarv::acquisition {

// Why records went missing.
enum class GapCause {
    Start,    // frames lost before the first record
    Framing,  // a framing error where the time says frames were lost
    Queue,    // the processing queue had no room
    Pause,    // the stream paused and lost frames without a framing error
    End,      // the stream stopped, or brought fewer frames than the time implies
};
const char* GapCauseName(GapCause cause);

// Records missing before a record of the data file: record is the index in the
// file of the first record after the gap, at_ns its true (monotonic) time.
struct Discontinuity {
    std::int64_t record = 0;
    std::int64_t missing = 0;
    std::int64_t at_ns = 0;
    GapCause cause = GapCause::Pause;
};

// Where a dwell's records belong in time.
struct DwellTiming {
    std::int64_t trigger_ns = 0;  // when StartTrigger was sent
    std::int64_t end_ns = 0;      // when the dwell's reading ended
    double record_period_ns = 0;
    std::int64_t records_written = 0;
    std::int64_t records_implied = 0;  // written plus missing
    std::vector<Discontinuity> gaps;

    std::int64_t missing() const { return records_implied - records_written; }
    // The true time of a record of the file, gaps taken into account.
    std::int64_t recordTimeNs(std::int64_t record) const;
};

// Records carry no time stamp: record i is the i-th group of frames since the
// trigger started, so any frames lost before the station sees them shift every
// later record. The timeline finds those losses from when the chunks arrive:
// a chunk's lateness, its arrival time less the time its last frame is due
// (counting the frames the station has seen), is the link's latency plus the
// frames lost so far. Latency never goes below zero and comes back to its
// floor within a few chunks, so the least lateness from a place in the stream
// on tells how many frames were lost before it. The places looked at are those
// where a gap can be: a framing error, a queue loss, or a chunk that arrives
// later than the stream's pace.
//
// Fed on the processing thread chunk after chunk; finished once per dwell.
class DwellTimeline {
  public:
    // A dwell of frames frame_period_ns apart, integrations to a record.
    void begin(double frame_period_ns, int integrations);
    // After a chunk is processed: its arrival, the stream offset past it, where
    // its own bytes begin, where a gap may be (a break or a framing error), and
    // whether the read filled it (one that did not returned at its time-out).
    void noteChunk(std::int64_t arrival_ns, std::int64_t stream_end, const StreamMark& chunk_start,
                   const StreamMark& gap_at, GapCause gap_cause, bool whole = true);
    // The dwell's timing: the trigger was started at trigger_ns, reading ended at
    // end_ns, and the file holds records_written records.
    DwellTiming finish(std::int64_t trigger_ns, std::int64_t end_ns,
                       std::int64_t records_written) const;

    // Gaps smaller than this are within what the placement promises.
    std::int64_t toleranceNs() const;

  private:
    struct Segment {
        StreamMark start;
        GapCause cause;
        double least_lateness;  // arrival less the time due, without the trigger time
    };
    struct Pending {
        std::size_t segment;
        double lateness;
    };
    static constexpr std::size_t kMaxSegments = 4096;
    std::vector<Segment> placedSegments() const;
    static bool brokenWithinHeld(const Segment& next, const Segment& s);

    double frame_period_ns_ = 0;
    int integrations_ = 1;
    std::vector<Segment> segments_;
    std::optional<Pending> pending_;  // a short read's lateness, until the stream goes on
};

}  // namespace zarv::acquisition
