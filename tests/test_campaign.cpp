// A campaign that runs itself: every record at its true time, gaps counted and
// journaled, the trigger never left on, recovery from a lost link or a silent
// stream, and waits that end at once on Stop.
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <map>

#include "acquisition/acquisition_run.h"
#include "acquisition/dwell_timeline.h"
#include "acquisition/run_figures.h"
#include "acquisition/run_settings.h"
#include "act_when.h"
#include "data_file_checker.h"
#include "station_fixture.h"

using namespace zarv::acquisition;

namespace {

// ---- the timeline on its own ------------------------------------------------

constexpr double kFrameNs = 100'000;  // ipp 100 us
constexpr std::int64_t kChunk = 148 * 885;

// Feeds chunks of 885 frames, each arriving when its last frame is due plus a
// latency; lost frames are left out of the stream but not of the time.
class TimelineFeed {
  public:
    explicit TimelineFeed(int integrations) : n_(integrations) { timeline.begin(kFrameNs, n_); }

    void chunk(std::int64_t latency_ns = 200'000, StreamMark gap = {},
               GapCause cause = GapCause::Overrun) {
        offset_ += kChunk;
        const double due = static_cast<double>(offset_ / 148 + lost_frames_) * kFrameNs;
        timeline.noteChunk(std::llround(due) + latency_ns, offset_, gap, cause);
    }
    // Frames that never reach the station; the next chunk starts after them.
    void lose(std::int64_t frames) { lost_frames_ += frames; }
    StreamMark mark(std::int64_t byte) const {
        const std::int64_t frame = byte / 148;
        return StreamMark{frame / n_, byte, static_cast<int>(frame % n_)};
    }
    std::int64_t records() const { return offset_ / 148 / n_; }
    DwellTiming finish(std::int64_t end_ns) const { return timeline.finish(0, end_ns, records()); }
    std::int64_t endNs() const {
        return std::llround(static_cast<double>(offset_ / 148 + lost_frames_) * kFrameNs);
    }

    DwellTimeline timeline;

  private:
    int n_;
    std::int64_t offset_ = 0;
    std::int64_t lost_frames_ = 0;
};

TEST(DwellTimelineTest, ASteadyStreamHasNoGapsAndJitterMakesNone) {
    TimelineFeed feed(1);
    for (int i = 0; i < 20; ++i) feed.chunk(i == 7 ? 60'000'000 : 300'000);  // one chunk 60 ms late
    const DwellTiming t = feed.finish(feed.endNs() + 1'000'000);
    EXPECT_TRUE(t.gaps.empty());
    EXPECT_EQ(t.records_implied, t.records_written);
    EXPECT_EQ(t.recordTimeNs(1000), 1000 * 100'000);
}

TEST(DwellTimelineTest, FramesLostAtAnOverrunPutTheRestLater) {
    TimelineFeed feed(10);
    for (int i = 0; i < 5; ++i) feed.chunk();
    feed.lose(16'665);  // 1.67 s of frames overran the bridge
    const StreamMark at = feed.mark(5 * kChunk + 148 * 3);
    feed.chunk(200'000, at);
    for (int i = 0; i < 5; ++i) feed.chunk();
    const DwellTiming t = feed.finish(feed.endNs());
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].record, at.record);
    EXPECT_EQ(t.gaps[0].cause, GapCause::Overrun);
    EXPECT_NEAR(t.gaps[0].missing, 1666.5, 1.0);
    EXPECT_EQ(t.missing(), t.gaps[0].missing);
    // The record after the gap starts where its frames were made.
    const double frames_before = static_cast<double>(at.byte) / 148 - at.frames_into;
    EXPECT_NEAR(static_cast<double>(t.recordTimeNs(at.record)), (frames_before + 16'665) * kFrameNs,
                1e6);
}

TEST(DwellTimelineTest, AHeldUpReaderIsPlacedWhereTheBytesBreak) {
    TimelineFeed feed(1);
    for (int i = 0; i < 5; ++i) feed.chunk();
    // Held for 2 s: the chunks still in flight arrive late, then the hole.
    for (int i = 0; i < 4; ++i) feed.chunk(2'000'000'000 - (i + 1) * 88'500'000);
    feed.lose(15'000);
    const StreamMark at = feed.mark(9 * kChunk + 148 * 100);
    feed.chunk(300'000, at);
    for (int i = 0; i < 3; ++i) feed.chunk();
    const DwellTiming t = feed.finish(feed.endNs());
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].record, at.record);
    EXPECT_NEAR(t.gaps[0].missing, 15'000, 2);
}

TEST(DwellTimelineTest, AReaderHeldFromTheDwellsStartIsPlacedWhereTheBytesBreak) {
    TimelineFeed feed(1);
    // Held for 1 s from the trigger on: what the link held comes in late, then
    // the hole.
    for (int i = 0; i < 5; ++i) feed.chunk(1'000'000'000 - (i + 1) * 88'500'000);
    feed.lose(5'000);
    const StreamMark at = feed.mark(5 * kChunk + 148 * 10);
    feed.chunk(300'000, at);
    for (int i = 0; i < 3; ++i) feed.chunk();
    const DwellTiming t = feed.finish(feed.endNs());
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].record, at.record);
    EXPECT_EQ(t.gaps[0].cause, GapCause::Overrun);
    EXPECT_NEAR(t.gaps[0].missing, 5'000, 5);
    EXPECT_EQ(t.recordTimeNs(100), 100 * 100'000);
}

// A reader held up for 2 s near the dwell's end reads the rest in a burst, up
// to the stop: late arrivals are no loss, and every record keeps its counted
// time. A byte dropped in the burst costs the one frame it cut.
TEST(DwellTimelineTest, LateReadsAndTheBurstAfterThemAreNoLoss) {
    TimelineFeed feed(1);
    for (int i = 0; i < 6; ++i) feed.chunk();
    for (int i = 0; i < 4; ++i) feed.chunk(2'000'000'000 - i * 88'500'000);
    feed.chunk(1'500'000'000);
    DwellTiming t = feed.timeline.finish(TriggerWrite{}, feed.endNs() + 1'000'000, feed.records());
    EXPECT_TRUE(t.gaps.empty()) << DwellTimingLine(1, t).toStdString();
    EXPECT_EQ(t.records_implied, t.records_written);
    EXPECT_EQ(t.recordTimeNs(10 * 885), 10 * 885 * 100'000);
    // The next marker comes one byte early; the frame the byte was dropped
    // from is rejected, and is the one record missing.
    const std::int64_t byte = 11 * kChunk + 148 * 7 - 1;
    feed.chunk(1'400'000'000, StreamMark{byte / 148, byte, 0}, GapCause::Framing);
    t = feed.timeline.finish(TriggerWrite{}, feed.endNs() + 1'000'000, feed.records() - 1);
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].cause, GapCause::Framing);
    EXPECT_EQ(t.gaps[0].missing, 1);
    EXPECT_TRUE(t.gaps[0].certain());
}

// The write returned 250 ms late, the controller started 1 ms into it: the
// stream's arrivals date the first frame, and the journal keeps the write too.
TEST(DwellTimelineTest, ASlowTriggerWriteIsDatedByTheStream) {
    DwellTimeline timeline;
    timeline.begin(kFrameNs, 1);
    const std::int64_t first = 1'000'000;
    for (int k = 1; k <= 20; ++k) {
        const std::int64_t due = first + (k * 885 - 1) * 100'000;
        timeline.noteChunk(due + (k == 3 ? 300'000 : 40'000'000), k * kChunk, {},
                           GapCause::Framing);
    }
    const DwellTiming t =
        timeline.finish(TriggerWrite{0, 250'000'000}, first + 1'770'000'000, 20 * 885);
    EXPECT_TRUE(t.trigger_from_stream);
    EXPECT_NEAR(static_cast<double>(t.trigger_ns), first, 500'000);
    EXPECT_EQ(t.write.returned_ns, 250'000'000);
    EXPECT_TRUE(t.gaps.empty());
    // A stream that seems to come before the write began is held to the write.
    DwellTimeline early;
    early.begin(kFrameNs, 1);
    early.noteChunk(100'000, kChunk, {}, GapCause::Framing);
    const DwellTiming e = early.finish(TriggerWrite{5'000'000, 6'000'000}, 100'000'000, 885);
    EXPECT_EQ(e.trigger_ns, 5'000'000);
    EXPECT_FALSE(e.trigger_from_stream);
}

// After an overrun only late reads came: the arrivals bound the loss from above,
// the count from below, and the journal says both.
TEST(DwellTimelineTest, AnOverrunThatTheArrivalsCannotPinDownGivesItsBounds) {
    TimelineFeed feed(1);
    for (int i = 0; i < 5; ++i) feed.chunk();
    feed.lose(20'000);
    const StreamMark at = feed.mark(5 * kChunk);
    feed.chunk(50'000'000, at);
    feed.chunk(50'000'000);
    const DwellTiming t = feed.finish(feed.endNs() + 50'000'000);
    ASSERT_GE(t.gaps.size(), 1u);
    const Discontinuity& gap = t.gaps[0];
    EXPECT_EQ(gap.cause, GapCause::Overrun);
    EXPECT_EQ(gap.record, at.record);
    EXPECT_FALSE(gap.certain());
    EXPECT_LE(gap.missing_min, 20'000);
    EXPECT_GE(gap.missing_max, 20'000);
    EXPECT_LE(gap.missing_min, gap.missing);
    EXPECT_LE(gap.missing, gap.missing_max);
    // A gap the count proves is certain.
    TimelineFeed queue(1);
    queue.chunk();
    queue.chunk(200'000, queue.mark(kChunk + 148 * 2), GapCause::Queue);
    EXPECT_TRUE(queue.finish(queue.endNs()).gaps.empty() ||
                queue.finish(queue.endNs()).gaps[0].certain());
}

// A loaded machine reads every chunk after a stall late, and overruns the
// bridge again: the later stretch lost at least as much, so its prompt
// arrivals date the stall's loss too, and no record moves by the lateness.
TEST(DwellTimelineTest, ALaterStretchDatesAnOverrunWhoseOwnArrivalsWereAllLate) {
    TimelineFeed feed(1);
    for (int i = 0; i < 5; ++i) feed.chunk();
    feed.lose(6'000);
    const StreamMark stall = feed.mark(5 * kChunk + 148 * 3);
    feed.chunk(25'000'000, stall);
    feed.chunk(25'000'000);
    feed.lose(2);
    const StreamMark again = feed.mark(7 * kChunk + 148 * 9);
    feed.chunk(200'000, again);
    for (int i = 0; i < 3; ++i) feed.chunk();
    const DwellTiming t = feed.finish(feed.endNs());
    ASSERT_GE(t.gaps.size(), 1u) << DwellTimingLine(1, t).toStdString();
    EXPECT_EQ(t.gaps[0].record, stall.record);
    EXPECT_NEAR(t.gaps[0].missing, 6'000, 3);
    EXPECT_NEAR(static_cast<double>(t.missing()), 6'002, 3);
    EXPECT_LE(t.gaps[0].missing_min, t.gaps[0].missing);
    EXPECT_GE(t.gaps[0].missing_max, 6'000);
}

// The station was stopped for longer than the rest of its dwell: what the link
// held comes first, in its place; then the overrun, and reading ends with the
// first bytes after it. The frames the overrun took are missing at the end.
TEST(DwellTimelineTest, AStallPastTheDwellsEndLeavesTheOverrunAtTheEnd) {
    TimelineFeed feed(1);
    for (int i = 0; i < 30; ++i) feed.chunk();
    for (int i = 0; i < 4; ++i) feed.chunk(20'000'000'000 - i * 88'500'000);
    const std::int64_t written = feed.records();
    // The first bytes after the hole, less than a frame, then the stop.
    const std::int64_t lost = 196'700;
    const std::int64_t first_after = written + lost;
    feed.timeline.noteChunk(first_after * 100'000 + 300'000, written * 148 + 100,
                            feed.mark(written * 148), GapCause::Overrun);
    const DwellTiming t =
        feed.timeline.finish(TriggerWrite{}, first_after * 100'000 + 400'000, written);
    ASSERT_EQ(t.gaps.size(), 1u) << DwellTimingLine(1, t).toStdString();
    EXPECT_EQ(t.gaps[0].cause, GapCause::Overrun);
    EXPECT_EQ(t.gaps[0].record, written);
    EXPECT_NEAR(t.gaps[0].missing, lost, 5);
    EXPECT_EQ(t.recordTimeNs(written - 1), (written - 1) * 100'000);
}

// The bridge overran before the first byte the station read: the frames lost
// come before record 0, counted against the write.
TEST(DwellTimelineTest, AnOverrunBeforeTheFirstRecordIsAGapAtTheStart) {
    DwellTimeline timeline;
    timeline.begin(kFrameNs, 1);
    const std::int64_t lost = 3'000;
    for (int k = 1; k <= 5; ++k)
        timeline.noteChunk((lost + k * 885) * 100'000, k * kChunk,
                           k == 1 ? StreamMark{0, 0, 0} : StreamMark{}, GapCause::Overrun);
    const DwellTiming t =
        timeline.finish(TriggerWrite{0, 100'000}, (lost + 5 * 885) * 100'000, 5 * 885);
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].record, 0);
    EXPECT_EQ(t.gaps[0].cause, GapCause::Start);
    EXPECT_NEAR(t.gaps[0].missing, lost, 2);
    EXPECT_FALSE(t.trigger_from_stream);
}

TEST(DwellTimelineTest, AStreamThatStopsLeavesAGapAtTheEnd) {
    TimelineFeed feed(10);
    for (int i = 0; i < 3; ++i) feed.chunk();
    const std::int64_t written = feed.records();
    const DwellTiming t = feed.finish(feed.endNs() + 1'500'000'000);  // 1.5 s of nothing
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].cause, GapCause::End);
    EXPECT_EQ(t.gaps[0].record, written);
    EXPECT_NEAR(t.gaps[0].missing, 1500, 2);
    EXPECT_EQ(t.records_implied, written + t.gaps[0].missing);
    EXPECT_EQ(DwellTimingLine(2, t).left(14), "Dwell beam 2: ");
}

TEST(DwellTimelineTest, AShortReadBeforeASilenceSaysNothingOfTheStart) {
    TimelineFeed feed(10);
    // One read that ran into its time-out 100 ms after the stream fell silent.
    feed.timeline.noteChunk(400'000'000 + 100'000'000, 4000 * 148, {}, GapCause::Framing);
    const DwellTiming t = feed.timeline.finish(0, 1'000'000'000, 400);
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].cause, GapCause::End);
    EXPECT_EQ(t.gaps[0].record, 400);
    EXPECT_EQ(t.recordTimeNs(399), 399 * 1'000'000);
}

TEST(DwellTimelineTest, NothingAtAllIsAllMissing) {
    DwellTimeline timeline;
    timeline.begin(1'000'000, 10);  // ipp 1000 us: records of 10 ms
    const DwellTiming t = timeline.finish(0, 600'000'000, 0);
    ASSERT_EQ(t.gaps.size(), 1u);
    EXPECT_EQ(t.gaps[0].record, 0);
    EXPECT_EQ(t.gaps[0].missing, 60);
    EXPECT_EQ(DwellTimingLine(1, t),
              "Dwell beam 1: 0 of 60 records; 60 missing after record 0 (0.6 s)");
}

TEST(DwellTimelineTest, TheLineGroupsThousands) {
    DwellTiming t;
    t.record_period_ns = 100'000;
    t.records_written = 83'335;
    t.records_implied = 100'000;
    t.gaps.push_back({23'405, 16'665, 0, GapCause::Framing});
    EXPECT_EQ(
        DwellTimingLine(2, t),
        "Dwell beam 2: 83,335 of 100,000 records; 16,665 missing after record 23,405 (1.7 s)");
}

TEST(RunSettingsRanges, RefusedWithTheKeysNameOnlyWhereTheArithmeticFails) {
    TRunConfig c;
    c.ipp = 1000;
    c.integrations = 10;
    c.dwell_time = 1;
    EXPECT_TRUE(RefuseReason(c).isEmpty());
    // Waits of any length and none, long integrations and dwells of days run.
    for (const int relay : {-5, 0, 2'000'000'000}) {
        c.relay_swith_time = relay;
        EXPECT_TRUE(RefuseReason(c).isEmpty()) << relay;
    }
    c.ipp = 1;
    c.integrations = 2'000'000'000;
    c.dwell_time = 30 * 86400.0;
    EXPECT_TRUE(RefuseReason(c).isEmpty());
    c.ipp = 2;  // 4e9: beyond the 32 bits of the product
    EXPECT_EQ(RefuseReason(c), "integrations x ipp must fit 32 bits");
    c.ipp = 1000;
    c.integrations = 10;
    c.dwell_time = 1e-300;
    EXPECT_EQ(RefuseReason(c),
              "dwell_time must hold at least one record (ipp x integrations = 0.01 s)");
    c.dwell_time = 1e10;
    EXPECT_EQ(RefuseReason(c),
              "dwell_time must be at most 9000000000 s (what the station's clock counts)");
}

// ---- the station against the simulated controller ---------------------------

class CampaignTest : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        run = std::make_unique<AcquisitionRun>(station->log, station->session, station->config);
    }
    void config(const QString& ipp, const QString& gates, const QString& n, const QString& dwell,
                const QString& extra = QString()) {
        writeConfig(DefaultConfigText(path("data"))
                        .replace("ipp=1000", "ipp=" + ipp)
                        .replace("gates=4", "gates=" + gates)
                        .replace("integrations=10", "integrations=" + n)
                        .replace("dwell_time=0.6", "dwell_time=" + dwell) +
                    extra);
    }
    // A run that recovers; the bridge is pulled 0.3 s into the first dwell and
    // comes back replug_at s after the first trigger start.
    void unplugAndReplugAt(double replug_at) {
        config("200", "4", "10", "0.6");
        run->setAlwaysRecover(true);
        SimFaultPlan plan;
        plan.unplug_at = 0.3;
        plan.replug_at = replug_at;
        sim->setFaultPlan(plan);
    }
    void stopWhen(std::function<bool()> condition, int bound_ms = 20000) {
        const auto stop = [&] { run->stop(); };
        ActWhen when(std::move(condition), stop, stop, bound_ms);
        run->start();
    }
    // Every dwell's records against the waveform, at the times the journal gives.
    void expectPlaced(int gates, int n, std::uint32_t period) {
        const auto blocks = ReadDwellBlocks(path("data"));
        const auto journal = ReadJournals(path("data"));
        ASSERT_EQ(blocks.size(), journal.size());
        const double ipp_s = period / 60e6;
        const auto tolerance =
            static_cast<std::int64_t>(std::max(0.011, n * ipp_s + 0.001) / ipp_s);
        for (const auto& [entry_ptr, block] : PairJournalWithBlocks(journal, blocks)) {
            const JournalEntry& entry = *entry_ptr;
            ASSERT_NE(block, nullptr) << entry.file.toStdString();
            EXPECT_EQ(block->records.size(), entry.written);
            const Placement p = CheckPlacedRecords(*block, entry, gates, n, period, tolerance);
            EXPECT_EQ(p.mismatched, 0)
                << block->file.toStdString() << " of " << p.checked << "\n"
                << readFile(QFileInfo(block->file).absolutePath() + "/dwells.jsonl").toStdString();
            EXPECT_LE(p.worst_offset, tolerance);
        }
    }
    QStringList dwellLines() const {
        return op.messages().filter(QRegularExpression("^Dwell beam \\d: "));
    }

    std::unique_ptr<AcquisitionRun> run;
};

TEST_F(CampaignTest, AStalledReaderIsFoundAndTheRecordsAfterItSitAtTheirTime) {
    // Held up for a second half a second into the second dwell: the records of
    // every dwell count from that dwell's first.
    config("100", "8", "1", "2");
    sim->setBridgeBufferSize(4096);
    SimFaultPlan plan;
    plan.stall_at = 2.5;
    plan.stall_for = 1.0;
    sim->setFaultPlan(plan);
    stopWhen([&] { return sim->triggerStarts() >= 3; });
    EXPECT_GT(sim->overrunBytes(), 500'000u);
    const QStringList lines = dwellLines();
    ASSERT_EQ(lines.size(), 1) << op.messages().join('\n');
    EXPECT_TRUE(lines[0].contains(QRegularExpression(
        "^Dwell beam 2: [\\d,]+ of (19|20),\\d{3} records; [\\d,]+ missing after "
        "record [\\d,]+ \\(0\\.[4-7] s\\)$")))
        << lines[0];
    const auto journal = ReadJournals(path("data"));
    ASSERT_GE(journal.size(), 2u);
    EXPECT_TRUE(journal[0].gaps.empty());
    ASSERT_EQ(journal[1].gaps.size(), 1u);
    EXPECT_EQ(journal[1].gaps[0].cause, "overrun");
    // Not at the start, not at the end: at least what the driver held (the
    // simulator's clock, which skips idle waits, may have put the stall right
    // at the dwell's start).
    EXPECT_GT(journal[1].gaps[0].record, 3000);
    EXPECT_LT(journal[1].gaps[0].record, journal[1].written);
    EXPECT_EQ(journal[1].implied - journal[1].written, journal[1].gaps[0].missing);
    expectPlaced(8, 1, 6000);
    EXPECT_GE(run->totals().records_lost, journal[1].gaps[0].missing);
    EXPECT_TRUE(
        LastOf(op.run_fields)
            .summary.contains(QStringLiteral("%1 records lost").arg(run->totals().records_lost)));
}

TEST_F(CampaignTest, AControllerThatFallsSilentLeavesItsGapInTheJournal) {
    config("1000", "4", "10", "1.5");
    SimFaultPlan plan;
    plan.silent_at = 0.5;
    sim->setFaultPlan(plan);
    stopWhen([&] { return sim->triggerStarts() >= 2; });
    const QStringList lines = dwellLines();
    ASSERT_EQ(lines.size(), 1) << op.messages().join('\n');
    EXPECT_TRUE(
        lines[0].contains(QRegularExpression("^Dwell beam 1: (\\d+) of 1[45]\\d records; \\d+ "
                                             "missing after record \\1 \\((0\\.9|1\\.0) s\\)$")))
        << lines[0];
    const auto journal = ReadJournals(path("data"));
    ASSERT_GE(journal.size(), 1u);
    ASSERT_EQ(journal[0].gaps.size(), 1u);
    EXPECT_EQ(journal[0].gaps[0].cause, "end");
    expectPlaced(4, 10, 60000);
    // Without recovery the run goes on: the next trigger start brought the stream back.
    EXPECT_EQ(run->lastEnd(), RunEnd::Stopped);
}

TEST_F(CampaignTest, ASilentStreamIsRecoveredFromWhenAsked) {
    config("1000", "4", "10", "5", "auto_recovery=1\n");
    run->setSilenceLimitMs(300);
    SimFaultPlan plan;
    plan.silent_at = 0.4;
    sim->setFaultPlan(plan);
    stopWhen([&] { return sim->triggerStarts() >= 2 && sim->framesProduced() > 300; });
    EXPECT_TRUE(op.messages().contains("auto_recovery: 1"));
    EXPECT_EQ(op.messages().filter("The controller has sent nothing for 0.3 s").size(), 1);
    EXPECT_EQ(op.messages().filter(QRegularExpression("^Recovering: the stream stopped")).size(),
              1);
    EXPECT_EQ(op.messages().filter("Recovered: recording goes on with the next beam").size(), 1);
    EXPECT_EQ(sim->programmed().beam, 2);
    expectPlaced(4, 10, 60000);
}

TEST_F(CampaignTest, AnUnplugAndReplugMidDwellIsRecoveredFromAndTheTriggerStoppedFirst) {
    unplugAndReplugAt(1.2);
    stopWhen([&] { return sim->triggerStarts() >= 4; });
    const QStringList log = op.messages();
    EXPECT_EQ(log.filter("Stream lost: reading from the controller failed").size(), 1)
        << log.join('\n');
    EXPECT_EQ(log.filter(QRegularExpression("^The trigger could not be stopped: the controller "
                                            "cannot be reached; it will be stopped when the "
                                            "controller returns$"))
                  .size(),
              1);
    EXPECT_EQ(
        log.filter(QRegularExpression("^Recovering: the link to the controller was lost")).size(),
        1);
    EXPECT_FALSE(log.filter("The controller does not answer; next attempt in 1 s").isEmpty());
    EXPECT_EQ(log.filter("Recovered: recording goes on with the next beam").size(), 1);
    // Two opens, each followed first of all by a StopTrigger.
    const auto firsts = sim->firstFramesAfterOpens();
    ASSERT_EQ(firsts.size(), 2u);
    for (const auto& frame : firsts) EXPECT_TRUE(IsStopTrigger(frame));
    // The beams go on: 1 (cut by the unplug), then 2, 3, 1 after the replug.
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].beam, 1);
    EXPECT_EQ(blocks[1].beam, 2);
    expectPlaced(4, 10, 12000);
    EXPECT_EQ(run->lastEnd(), RunEnd::Stopped);
}

// The waits between attempts, in seconds, as the log gives them.
QList<int> AttemptWaits(const QStringList& log) {
    QList<int> waits;
    const QRegularExpression wait("^The controller does not answer; next attempt in (\\d+) s$");
    for (const QString& line : log)
        if (const auto m = wait.match(line); m.hasMatch()) waits << m.captured(1).toInt();
    return waits;
}

TEST_F(CampaignTest, TheWaitsBetweenAttemptsDoubleUpToAMinute) {
    // Gone for 200 s of the controller's time, which passes as fast as the
    // station waits: the waits are the verdict, not how long they took.
    sim_clock->setRate(2000);
    unplugAndReplugAt(200);
    stopWhen([&] { return sim->triggerStarts() >= 2; });
    EXPECT_EQ(AttemptWaits(op.messages()), QList<int>({1, 2, 4, 8, 16, 32, 60, 60, 60}))
        << op.messages().join('\n');
    EXPECT_EQ(op.messages().filter("Recovered: recording goes on with the next beam").size(), 1);
}

TEST_F(CampaignTest, ALinkLostAgainWhileTheControllerIsProgrammedIsTriedAgain) {
    sim_clock->setRate(100);
    unplugAndReplugAt(1.2);
    // The open after the replug loses the bridge again at its third frame, for 5 s.
    sim->unplugOnFrame(2, 3, std::chrono::milliseconds(5000));
    stopWhen([&] { return sim->triggerStarts() >= 2; });
    const QStringList log = op.messages();
    // Not recovered by the open that was lost: the waits go on growing.
    EXPECT_EQ(AttemptWaits(log), QList<int>({1, 2, 4})) << log.join('\n');
    EXPECT_EQ(log.filter("Recovered: recording goes on with the next beam").size(), 1);
    const auto firsts = sim->firstFramesAfterOpens();
    ASSERT_EQ(firsts.size(), 3u);
    for (const auto& frame : firsts) EXPECT_TRUE(IsStopTrigger(frame));
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].beam, 2);
    EXPECT_EQ(MismatchedRecords(blocks[1], 4, 10, 12000), 0);
}

TEST_F(CampaignTest, WithoutRecoveryALostLinkEndsTheRunAndSaysSo) {
    config("200", "4", "10", "0.6");
    SimFaultPlan plan;
    plan.unplug_at = 0.2;
    sim->setFaultPlan(plan);
    run->start();  // ends by itself
    EXPECT_EQ(run->lastEnd(), RunEnd::Fault);
    EXPECT_FALSE(op.messages().filter("The trigger could not be stopped").isEmpty());
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|');
}

TEST_F(CampaignTest, StopEndsALongRelayWaitAtOnce) {
    writeConfig(
        DefaultConfigText(path("data")).replace("relay_swith_time=10", "relay_swith_time=30000"));
    std::int64_t stopped_ns = 0;
    ActWhen relay([&] { return run->phase() == AcquisitionRun::Phase::Relay; },
                  [&] {
                      stopped_ns = sim->StreamClock().nowNs();
                      run->stop();
                  },
                  [&] { run->stop(); });
    run->start();
    ASSERT_GT(stopped_ns, 0);
    // Not the relay's 30 s of the controller's time, which moves only as far as
    // the station waits.
    EXPECT_LT(sim->StreamClock().nowNs() - stopped_ns, 1'000'000'000);
    EXPECT_EQ(sim->triggerStarts(), 0);
    EXPECT_EQ(LastOf(op.messages().filter("beam direction")),
              "Stopped before the dwell on beam direction 1 began");
}

TEST_F(CampaignTest, SettingsBeyondTheOldBoundsRunAsTheyAre) {
    // No relay wait at all: the trigger follows the relay at once.
    writeConfig(
        DefaultConfigText(path("data")).replace("relay_swith_time=10", "relay_swith_time=-5"));
    const auto stop = [&] { run->stop(); };
    {
        ActWhen one([&] { return sim->triggerStarts() >= 2; }, stop, stop);
        const std::int64_t before = sim->StreamClock().nowNs();
        run->start();
        ASSERT_EQ(ReadDwellBlocks(path("data")).size(), 2u);
        // Two dwells of 0.6 s of the controller's time and not a moment of relay wait.
        EXPECT_LT(sim->StreamClock().nowNs() - before, 1'300'000'000);
    }
    EXPECT_TRUE(op.messages().contains("relay_swith_time: -5"));
    EXPECT_TRUE(op.messages().filter("Settings refused").isEmpty());
    // Two million frames a record, a dwell of ten days: both start recording.
    writeConfig(DefaultConfigText(path("data"))
                    .replace("integrations=10", "integrations=2000000")
                    .replace("dwell_time=0.6", "dwell_time=864000"));
    const int starts = sim->triggerStarts();
    ActWhen recording([&] { return sim->triggerStarts() > starts && sim->framesProduced() > 100; },
                      stop, stop);
    run->start();
    EXPECT_TRUE(op.messages().contains("integrations: 2000000"));
    EXPECT_TRUE(op.messages().filter("Settings refused").isEmpty());
    EXPECT_EQ(run->lastEnd(), RunEnd::Stopped);
}

TEST_F(CampaignTest, ANewHourDirectoryAndTheJournalSurviveAsTheyAreWritten) {
    config("1000", "4", "10", "0.3");
    stopWhen([&] { return sim->triggerStarts() >= 2; });
    const auto journal = ReadJournals(path("data"));
    ASSERT_GE(journal.size(), 1u);
    EXPECT_EQ(journal[0].beam, 1);
    EXPECT_TRUE(journal[0].gaps.empty());
    EXPECT_EQ(journal[0].written, journal[0].implied);
    EXPECT_NEAR(journal[0].trigger.msecsTo(journal[0].end), 300, 60);
    EXPECT_TRUE(dwellLines().isEmpty());
}

}  // namespace
