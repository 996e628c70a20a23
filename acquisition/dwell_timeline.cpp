#include "dwell_timeline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zarv::acquisition {

namespace {
constexpr double kNone = std::numeric_limits<double>::infinity();
constexpr std::int64_t kLeastToleranceNs = 10'000'000;
constexpr std::int64_t kFrameBytes = StreamDecoder::kFrameSize;
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
        case GapCause::Overrun:
            return "overrun";
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
    segments_.push_back(Segment{StreamMark{0, 0, 0}, GapCause::Start, false, kNone});
}

std::int64_t DwellTimeline::toleranceNs() const {
    return std::max<std::int64_t>(kLeastToleranceNs,
                                  std::llround(frame_period_ns_ * integrations_));
}

// When the last frame that the bytes up to stream_end reach into was made,
// counted from the first frame.
double DwellTimeline::dueNs(std::int64_t stream_end) const {
    const std::int64_t frames = (stream_end + kFrameBytes - 1) / kFrameBytes;
    return static_cast<double>(frames - 1) * frame_period_ns_;
}

void DwellTimeline::noteChunk(std::int64_t arrival_ns, std::int64_t stream_end,
                              const StreamMark& gap_at, GapCause gap_cause) {
    if (segments_.empty()) begin(frame_period_ns_, integrations_);
    const bool overrun = gap_cause == GapCause::Overrun && gap_at.valid();
    if (gap_at.valid() && gap_at.byte > segments_.back().start.byte &&
        segments_.size() < kMaxSegments) {
        segments_.push_back(Segment{gap_at, gap_cause, overrun, kNone});
    } else if (overrun) {
        segments_.back().loss_unknown = true;
    }
    if (stream_end <= 0) return;
    Segment& s = segments_.back();
    s.envelope = std::min(s.envelope, static_cast<double>(arrival_ns) - dueNs(stream_end));
}

// Frames lost without a count before each segment. Between two overruns the
// loss stays the same, so the least envelope of that stretch measures it; it
// can only grow, and no frame arrived before it was made, which bounds it.
std::vector<DwellTimeline::Frames> DwellTimeline::unknownLosses(std::int64_t first_ns,
                                                                double latency,
                                                                std::int64_t earliest_ns) const {
    const std::size_t n = segments_.size();
    std::vector<std::size_t> stretch(n, 0);
    std::vector<double> envelope;
    for (std::size_t k = 0; k < n; ++k) {
        if (k == 0 || segments_[k].loss_unknown) envelope.push_back(kNone);
        envelope.back() = std::min(envelope.back(), segments_[k].envelope);
        stretch[k] = envelope.size() - 1;
    }
    const auto most_allowed = [&](double e) {
        return e == kNone ? std::numeric_limits<std::int64_t>::max()
                          : static_cast<std::int64_t>(std::floor(
                                (e - static_cast<double>(earliest_ns)) / frame_period_ns_));
    };
    std::vector<std::int64_t> most(envelope.size());
    std::int64_t bound = std::numeric_limits<std::int64_t>::max();
    for (std::size_t e = envelope.size(); e-- > 0;)
        most[e] = bound = std::min(bound, most_allowed(envelope[e]));

    // Each stretch's late arrivals only raise its estimate, and a later stretch
    // lost at least as much: the least estimate from here on is the best.
    std::vector<double> measured(envelope.size(), kNone);
    double least_later = kNone;
    for (std::size_t e = envelope.size(); e-- > 0;) {
        if (envelope[e] == kNone) continue;
        least_later =
            std::min(least_later,
                     (envelope[e] - static_cast<double>(first_ns) - latency) / frame_period_ns_);
        measured[e] = least_later;
    }

    // The first stretch lost nothing unless the bridge overran before its first byte.
    std::vector<Frames> per_stretch(envelope.size());
    for (std::size_t e = segments_[0].loss_unknown ? 0 : 1; e < envelope.size(); ++e) {
        const std::int64_t before = e == 0 ? 0 : per_stretch[e - 1].estimate;
        std::int64_t estimate = before;
        if (measured[e] != kNone) estimate = std::llround(measured[e]);
        // A stretch no arrival dates cannot be bounded: the estimate stands.
        const std::int64_t upper = most[e] == std::numeric_limits<std::int64_t>::max()
                                       ? std::max(before, estimate)
                                       : std::max(before, most[e]);
        per_stretch[e] = Frames{std::clamp(estimate, before, upper), upper};
    }
    std::vector<Frames> lost(n);
    for (std::size_t k = 0; k < n; ++k) lost[k] = per_stretch[stretch[k]];
    return lost;
}

void DwellTimeline::addGaps(DwellTiming& timing, const std::vector<Frames>& lost) const {
    const double n = integrations_;
    std::int64_t counted = 0;  // missing records before the segment
    for (std::size_t k = 0; k < segments_.size(); ++k) {
        const Segment& s = segments_[k];
        // Frames between the first frame and this record's first, as counted.
        const double frames = static_cast<double>(s.start.byte) / kFrameBytes - s.start.frames_into;
        const auto records_at = [&](std::int64_t unknown) -> std::int64_t {
            return std::llround((frames + static_cast<double>(unknown)) / n -
                                static_cast<double>(s.start.record)) -
                   counted;
        };
        const std::int64_t missing = records_at(lost[k].estimate);
        // Past the last record only an overrun still counts: the frames it took
        // are missing at the dwell's end (once; nothing after it is placed).
        const bool past_last = s.start.record >= timing.records_written;
        const bool ended =
            !timing.gaps.empty() && timing.gaps.back().record >= timing.records_written;
        if ((past_last && (!s.loss_unknown || ended)) || missing < 1) continue;
        Discontinuity gap{
            s.start.record,
            missing,
            timing.trigger_ns +
                std::llround((frames + static_cast<double>(lost[k].estimate)) * frame_period_ns_),
            s.start.record == 0 ? GapCause::Start : s.cause,
            missing,
            missing};
        // Only an overrun leaves the count open: say how far.
        if (s.loss_unknown) {
            gap.missing_min =
                std::max<std::int64_t>(0, records_at(k == 0 ? 0 : lost[k - 1].estimate));
            gap.missing_max = std::max(missing, records_at(lost[k].most));
        }
        timing.gaps.push_back(gap);
        counted += missing;
    }
}

// What the stream should still have brought before reading ended.
void DwellTimeline::addEndGap(DwellTiming& timing, double latency) const {
    const double period = timing.record_period_ns;
    const double next_due = static_cast<double>(timing.recordTimeNs(timing.records_written));
    const double room = static_cast<double>(timing.end_ns) - latency - next_due;
    if (period <= 0 || room <= std::max(static_cast<double>(toleranceNs()), 2 * period)) return;
    const auto missing = static_cast<std::int64_t>(std::floor(room / period));
    timing.gaps.push_back(Discontinuity{timing.records_written, missing, std::llround(next_due),
                                        GapCause::End, missing, missing});
}

DwellTiming DwellTimeline::finish(TriggerWrite write, std::int64_t end_ns,
                                  std::int64_t records_written) const {
    DwellTiming timing;
    timing.write = write;
    timing.end_ns = end_ns;
    timing.record_period_ns = frame_period_ns_ * integrations_;
    timing.records_written = records_written;
    if (frame_period_ns_ <= 0) {
        timing.trigger_ns = write.began_ns;
        timing.records_implied = records_written;
        return timing;
    }
    // The lower envelope of the stream before any overrun dates the first frame.
    double first = kNone;
    for (const Segment& s : segments_) {
        if (s.loss_unknown) break;
        first = std::min(first, s.envelope);
    }
    const std::int64_t latest = std::max(write.began_ns, write.returned_ns);
    if (first != kNone) {
        const std::int64_t from_stream = std::llround(first);
        timing.trigger_ns = std::clamp(from_stream, write.began_ns, latest);
        timing.trigger_from_stream = from_stream >= write.began_ns && from_stream < latest;
    } else {
        timing.trigger_ns = write.began_ns + (latest - write.began_ns) / 2;
    }
    // The link's own least latency, as far as it looks like one: a first
    // stretch that came later than the tolerance was held up, and says nothing
    // of it. Against the first frame plus that latency, the envelope after an
    // overrun counts the frames the overrun took.
    const double late = first == kNone ? 0.0 : first - static_cast<double>(timing.trigger_ns);
    const double latency = late >= 0 && late <= static_cast<double>(toleranceNs()) ? late : 0.0;
    addGaps(timing, unknownLosses(timing.trigger_ns, latency, write.began_ns));
    addEndGap(timing, latency);
    std::int64_t missing = 0;
    for (const Discontinuity& gap : timing.gaps) missing += gap.missing;
    timing.records_implied = records_written + missing;
    return timing;
}

}  // namespace zarv::acquisition
