#include "dwell_timeline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zarv::acquisition {

namespace {
constexpr double kNone = std::numeric_limits<double>::infinity();
constexpr std::int64_t kLeastToleranceNs = 10'000'000;
constexpr double kFrameBytes = StreamDecoder::kFrameSize;
// What the link and the bridge can hold while the reader is held up, with room
// to spare: the hardware link's ring is 4 MiB.
constexpr std::int64_t kHeldBytes = 8 * 1024 * 1024;
}  // namespace

const char* GapCauseName(GapCause cause) {
    switch (cause) {
        case GapCause::Start:
            return "start";
        case GapCause::Framing:
            return "framing";
        case GapCause::Queue:
            return "queue";
        case GapCause::Pause:
            return "pause";
        case GapCause::End:
            return "end";
    }
    return "pause";
}

std::int64_t DwellTiming::recordTimeNs(std::int64_t record) const {
    std::int64_t anchor_record = 0;
    std::int64_t anchor_ns = trigger_ns;
    for (const Discontinuity& gap : gaps) {
        if (gap.record > record) break;
        anchor_record = gap.record;
        anchor_ns = gap.at_ns;
    }
    return anchor_ns + std::llround(static_cast<double>(record - anchor_record) * record_period_ns);
}

void DwellTimeline::begin(double frame_period_ns, int integrations) {
    frame_period_ns_ = frame_period_ns;
    integrations_ = std::max(integrations, 1);
    segments_.clear();
    pending_.reset();
    segments_.push_back(Segment{StreamMark{0, 0, 0}, GapCause::Start, kNone});
}

std::int64_t DwellTimeline::toleranceNs() const {
    return std::max<std::int64_t>(kLeastToleranceNs,
                                  std::llround(frame_period_ns_ * integrations_));
}

void DwellTimeline::noteChunk(std::int64_t arrival_ns, std::int64_t stream_end,
                              const StreamMark& chunk_start, const StreamMark& gap_at,
                              GapCause gap_cause, bool whole) {
    if (segments_.empty()) begin(frame_period_ns_, integrations_);
    // A short read ended at its time-out or at a stop: it says when its last byte
    // arrived only if the stream went on after it.
    if (pending_) {
        Segment& s = segments_[pending_->segment];
        s.least_lateness = std::min(s.least_lateness, pending_->lateness);
        pending_.reset();
    }
    const double lateness = static_cast<double>(arrival_ns) -
                            static_cast<double>(stream_end) / kFrameBytes * frame_period_ns_;
    const Segment& current = segments_.back();
    const bool room = segments_.size() < kMaxSegments;
    if (room && gap_at.valid() && gap_at.byte > current.start.byte) {
        segments_.push_back(Segment{gap_at, gap_cause, kNone});
    } else if (room && chunk_start.valid() && chunk_start.byte > current.start.byte &&
               current.least_lateness != kNone &&
               lateness > current.least_lateness + static_cast<double>(toleranceNs())) {
        segments_.push_back(Segment{chunk_start, GapCause::Pause, kNone});
    }
    if (whole)
        segments_.back().least_lateness = std::min(segments_.back().least_lateness, lateness);
    else
        pending_ = Pending{segments_.size() - 1, lateness};
}

// The stream breaks (a framing error, a queue loss) at next, within what the
// link can hold after s.
bool DwellTimeline::brokenWithinHeld(const Segment& next, const Segment& s) {
    const bool broken = next.cause == GapCause::Framing || next.cause == GapCause::Queue;
    return broken && next.start.byte - s.start.byte <= kHeldBytes;
}

// A reader that was held up reads old bytes late before it meets the hole: the
// chunk that arrived late is no place for the gap when a framing error or a
// queue loss follows within what the link can hold; the gap is where the bytes
// break.
std::vector<DwellTimeline::Segment> DwellTimeline::placedSegments() const {
    std::vector<Segment> placed;
    for (std::size_t k = 0; k < segments_.size(); ++k) {
        const Segment& s = segments_[k];
        // Held up from the dwell's start: its first bytes came late, as late as
        // the loss after them. They were made at the start all the same.
        if (k == 0 && s.least_lateness != kNone && segments_.size() > 1 &&
            brokenWithinHeld(segments_[1], s) &&
            s.least_lateness > segments_[1].least_lateness - static_cast<double>(toleranceNs())) {
            placed.push_back(Segment{s.start, s.cause, -kNone});
            continue;
        }
        if (s.cause == GapCause::Pause && k + 1 < segments_.size()) {
            if (brokenWithinHeld(segments_[k + 1], s)) {
                if (!placed.empty())
                    placed.back().least_lateness =
                        std::min(placed.back().least_lateness, s.least_lateness);
                continue;
            }
        }
        placed.push_back(s);
    }
    return placed;
}

DwellTiming DwellTimeline::finish(std::int64_t trigger_ns, std::int64_t end_ns,
                                  std::int64_t records_written) const {
    const std::vector<Segment> segments = placedSegments();
    DwellTiming timing;
    timing.trigger_ns = trigger_ns;
    timing.end_ns = end_ns;
    timing.record_period_ns = frame_period_ns_ * integrations_;
    timing.records_written = records_written;
    const double period = timing.record_period_ns;
    const double tolerance = static_cast<double>(toleranceNs());

    // The least lateness from each segment on, measured from the trigger.
    std::vector<double> lateness(segments.size(), kNone);
    double least = kNone;
    for (std::size_t k = segments.size(); k-- > 0;) {
        least = std::min(least, segments[k].least_lateness);
        lateness[k] = least - static_cast<double>(trigger_ns);
    }
    // The link's own latency, as far as it looks normal.
    const double latency = lateness.empty() || lateness[0] == kNone || lateness[0] == -kNone
                               ? 0.0
                               : std::clamp(lateness[0], 0.0, tolerance);

    std::int64_t counted = 0;  // missing records before the last gap
    for (std::size_t k = 0; k < segments.size() && period > 0; ++k) {
        const Segment& s = segments[k];
        if (lateness[k] == kNone || s.start.record >= records_written) continue;
        const double lost_ns = std::max(0.0, lateness[k] - latency);
        const double due_ns =
            (static_cast<double>(s.start.byte) / kFrameBytes - s.start.frames_into) *
                frame_period_ns_ +
            lost_ns;
        const std::int64_t missing =
            std::llround(due_ns / period - static_cast<double>(s.start.record)) - counted;
        if (missing < 1) continue;
        timing.gaps.push_back(
            Discontinuity{s.start.record, missing, trigger_ns + std::llround(due_ns), s.cause});
        counted += missing;
    }

    // What the stream should still have brought before reading ended.
    const double next_due = static_cast<double>(timing.recordTimeNs(records_written));
    const double room = static_cast<double>(end_ns) - latency - next_due;
    if (period > 0 && room > std::max(tolerance, 2 * period)) {
        const auto missing = static_cast<std::int64_t>(std::floor(room / period));
        timing.gaps.push_back(
            Discontinuity{records_written, missing, std::llround(next_due), GapCause::End});
        counted += missing;
    }
    timing.records_implied = records_written + counted;
    return timing;
}

}  // namespace zarv::acquisition
