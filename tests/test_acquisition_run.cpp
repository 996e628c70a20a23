#include <sys/mount.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "acquisition/acquisition_run.h"
#include "acquisition/run_figures.h"
#include "acquisition/run_settings.h"
#include "act_when.h"
#include "data_file_checker.h"
#include "firmware/flash_update.h"
#include "station/station_error.h"
#include "station_fixture.h"
#include "stream_builder.h"

using namespace zarv::acquisition;
using namespace zarv::device_io;
using namespace zarv::firmware;
using namespace zarv::sim;
using namespace zarv::station;

namespace {
class RunTest : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        run = std::make_unique<AcquisitionRun>(station->log, station->session, station->config);
        writeConfig(fastConfig());
    }
    QString fastConfig() const {
        return DefaultConfigText(path("data"))
            .replace("ipp=1000", "ipp=200")
            .replace("dwell_time=0.6", "dwell_time=0.3");
    }
    void setKey(const QString& key, const QString& value) {
        QStringList lines = fastConfig().split('\n');
        for (QString& l : lines)
            if (l.startsWith(key + '=')) l = key + '=' + value;
        writeConfig(lines.join('\n'));
    }
    // Runs Start; presses Stop once the condition holds, or fails after a bound.
    void startAndStopWhen(std::function<bool()> condition) {
        const auto stop = [&] { run->stop(); };
        ActWhen when(std::move(condition), stop, stop);
        run->start();
    }
    std::unique_ptr<AcquisitionRun> run;
};

TEST(RunSettings, ConversionsRoundHalfToEven) {
    EXPECT_EQ(TuningWord(100000000), 0x40000000u);
    EXPECT_EQ(TuningWord(50), 0x219u);
    EXPECT_EQ(DacWord(5), 2);
    EXPECT_EQ(DacWord(7), 4);
    EXPECT_EQ(Nearest(2.5), 2);
    EXPECT_EQ(Nearest(3.5), 4);
    EXPECT_EQ(Nearest(-2.5), -2);
    TRunConfig c;
    c.ipp = 1000;
    c.pulse_length = 1000;
    c.start_time = 1500;
    c.resolution = 2000000;  // 120000 counts travel as their low 16 bits
    const SweepParameters s = SweepFromConfig(c);
    EXPECT_EQ(s.pulse_period, 60000u);
    EXPECT_EQ(s.pulse_length, 60);
    EXPECT_EQ(s.sample_start, 120u);
    EXPECT_EQ(c.start_time, 2000);
    EXPECT_EQ(s.resolution, 120000 & 0xFFFF);
}

TEST(RunSettings, SettingsThatCannotWorkAreRefused) {
    TRunConfig c;
    c.ipp = 100;
    c.integrations = 1;
    c.dwell_time = 1;
    c.gates = 36;
    EXPECT_TRUE(RefuseReason(c).isEmpty());
    c.gates = 37;
    EXPECT_FALSE(RefuseReason(c).isEmpty());
    c.gates = 2;
    c.ipp = 0;
    EXPECT_FALSE(RefuseReason(c).isEmpty());
    c.ipp = 100000;
    c.integrations = 100000;
    EXPECT_FALSE(RefuseReason(c).isEmpty());
    c.integrations = 1;
    c.dwell_time = 0;
    EXPECT_FALSE(RefuseReason(c).isEmpty());
}

TEST_F(RunTest, StartSequenceLogsAndProgramsTheController) {
    startAndStopWhen([&] { return sim->triggerStarts() >= 1; });
    const QStringList m = op.messages();
    const int open = static_cast<int>(m.indexOf("Radar controller (simulated) [SIM00001]"));
    ASSERT_EQ(open, 25);  // right after the configuration echo
    const QStringList expected{"Programing frequency",
                               "Ch0: 40000000; Ch1: 00000219",
                               "Ch2: 13333333; Ch3: 13333333",
                               "Bytes Received = 1",
                               "Programing amplitude",
                               "Ch0: 0FFF; Ch1: 0400",
                               "Ch2: 0800; Ch3: 0800",
                               "Bytes Received = 1",
                               "Programing DAC",
                               "Ch0: 0002; Ch1: 0004",
                               "Bytes Received = 1",
                               "Setting sweep parameters",
                               "Sample Gate counts: 120",
                               "Bytes Received = 1",
                               "Setting Relay to beam direction: 1",
                               "Starting trigger on beam direction: 1"};
    EXPECT_EQ(m.mid(open + 1, expected.size()), expected);
    EXPECT_EQ(LastOf(m), "Stopping trigger");
    const auto p = sim->programmed();
    EXPECT_EQ(p.sweep.pulse_period, 12000u);
    EXPECT_EQ(p.sweep.sample_start, 120u);
    EXPECT_EQ(p.sweep.gates, 4);
    EXPECT_EQ(p.dac, (std::array<std::uint16_t, 2>{2, 4}));
    EXPECT_FALSE(p.triggering);
    EXPECT_EQ(station->config.run_config.start_time, 2000);
    EXPECT_TRUE(op.start_enabled);
    EXPECT_FALSE(station->session.triggering());
    EXPECT_TRUE(op.boxes.isEmpty());
    EXPECT_EQ(FirstOf(op.statuses), "FE 0");
}

TEST_F(RunTest, BeamsCycleAndEveryRecordMatchesTheWaveform) {
    startAndStopWhen([&] { return sim->triggerStarts() >= 4; });
    EXPECT_EQ(
        op.messages().filter("Setting Relay to beam direction: "),
        QStringList({"Setting Relay to beam direction: 1", "Setting Relay to beam direction: 2",
                     "Setting Relay to beam direction: 3", "Setting Relay to beam direction: 1"}));
    // Files made within one second sort by beam number, not by time, so the dwell
    // that Stop cut short is told by its beam: the later of the two beam 1 dwells,
    // which starts more than a second after the first.
    auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_EQ(blocks.size(), 4u);
    QString last_beam1_stamp;
    for (const DwellBlock& b : blocks)
        if (b.beam == 1) last_beam1_stamp = std::max(last_beam1_stamp, b.header[1]);
    int seen[4] = {};
    for (const DwellBlock& b : blocks) {
        ++seen[b.beam];
        EXPECT_TRUE(b.file.endsWith(QString("_beam%1.txt").arg(b.beam)));
        EXPECT_EQ(b.header[0], "File Path = " + b.file);
        EXPECT_EQ(b.header[5], "Start time = 2000");
        EXPECT_EQ(b.header[9], "Dwell time = 0.3");
        const bool stopped = b.beam == 1 && b.header[1] == last_beam1_stamp;
        // A whole dwell holds at least the 1500 frames of 0.3 s at 5000 a second;
        // the one Stop cut short holds what had arrived by then, maybe nothing.
        EXPECT_GE(b.records.size(), stopped ? 0 : 149) << b.file.toStdString();
        EXPECT_EQ(MismatchedRecords(b, 4, 10, 12000), 0) << b.file.toStdString();
    }
    EXPECT_EQ(seen[1], 2);
    EXPECT_EQ(seen[2], 1);
    EXPECT_EQ(seen[3], 1);
    EXPECT_EQ(sim->programmed().beam, 1);
    EXPECT_EQ(op.messages().filter("Framing").size(), 0);
    EXPECT_EQ(op.statuses.filter(QRegularExpression("^FE [1-9]")).size(), 0);
    EXPECT_EQ(op.progress_max, 3);
}

TEST_F(RunTest, NoDeviceEndsAtOnceLeavingTheLog) {
    ASSERT_TRUE(station->session.ensureOpen());
    sim->setDeviceCount(0);
    op.log = QStringList{"earlier"};
    run->start();
    EXPECT_EQ(op.log.size(), 2);
    EXPECT_EQ(LastOf(op.messages()), "Zarv not found!");
    EXPECT_TRUE(station->session.triggering());
    EXPECT_FALSE(station->session.device_open());
    EXPECT_TRUE(op.start_enabled);
}

TEST_F(RunTest, OpenRefusedEndsTheRun) {
    sim->setOpenStatus(FT_DEVICE_NOT_OPENED);
    run->start();
    const QStringList m = op.messages();
    EXPECT_EQ(m.value(m.size() - 2), "USB device not found..");
    EXPECT_EQ(LastOf(m),
              "USB bridge Radar controller (simulated) [SIM00001] is attached but cannot be "
              "opened: the simulated bridge refuses to open (status 3). See Troubleshooting in "
              "the README.");
    EXPECT_TRUE(op.start_enabled);
    EXPECT_TRUE(station->session.triggering());
    EXPECT_EQ(sim->triggerStarts(), 0);
}

TEST_F(RunTest, SettingsThatCannotWorkSendNothing) {
    setKey("gates", "37");
    run->start();
    EXPECT_TRUE(LastOf(op.messages()).startsWith("Settings refused: gates"));
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
    EXPECT_TRUE(op.start_enabled);
}

TEST_F(RunTest, StopDuringTheRelayWaitStartsNoDwell) {
    setKey("relay_swith_time", "300");
    startAndStopWhen([&] { return op.messages().contains("Setting Relay to beam direction: 1"); });
    EXPECT_EQ(sim->triggerStarts(), 0);
    EXPECT_TRUE(DataFilesUnder(path("data")).isEmpty());
    EXPECT_TRUE(op.start_enabled);
}

TEST_F(RunTest, StopWhileAStartBoxIsOpenIsNotLost) {
    sim->setReplyFault(0x04, SimController::ReplyFault::ChecksumError);
    op.on_box = [&](const QString&) { run->stop(); };
    run->start();
    EXPECT_EQ(op.boxes, QStringList{"CHECKSUM error!"});
    EXPECT_EQ(sim->triggerStarts(), 0);
    EXPECT_TRUE(op.start_enabled);
}

TEST_F(RunTest, TooManyFramingErrorsEndTheRun) {
    for (int k = 0; k < 150; ++k) sim->dropStreamBytes(1000 + k * 296, 1);
    run->start();
    EXPECT_TRUE(op.messages().contains("Framing errors.."));
    EXPECT_EQ(LastOf(op.statuses), "FE 101");
    EXPECT_FALSE(station->session.device_open());
    EXPECT_FALSE(sim->programmed().triggering);
    EXPECT_TRUE(op.start_enabled);
    EXPECT_TRUE(station->session.triggering());  // until Stop
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_EQ(blocks.size(), 1u);
}

TEST_F(RunTest, ACorruptedSampleReachesOnlyItsRecordAndABrokenMarkerIsOneFramingError) {
    const std::uint8_t high = 0x08;  // ip of gate 1 in frame 25, high byte: now negative
    sim->corruptStreamByte(25 * 148 + 5, high);
    sim->corruptStreamByte(80 * 148, 0x00);  // the marker of frame 80
    startAndStopWhen([&] { return sim->triggerStarts() >= 2; });
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 1u);
    const DwellBlock& b = blocks[0];
    ASSERT_GE(b.records.size(), 8);
    for (int r : {0, 1, 3, 4, 5, 6}) EXPECT_EQ(b.records[r], ExpectedRecord(r, 1, 4, 10, 12000));
    // Record 2 averages frames 20 to 29: its first value carries the corrupted sample.
    long long ip = 0;
    for (int f = 20; f < 30; ++f) {
        const int sample = SimWaveform(f, 1, 1, 12000).ip;
        const auto low = static_cast<std::uint8_t>(SimWireWord(sample));
        ip += f == 25 ? StreamDecoder::DecodeSample(low, high) : sample;
    }
    EXPECT_EQ(b.records[2].section(' ', 0, 0), QString::number(AverageHalfEven(ip, 10)));
    EXPECT_NE(b.records[2], ExpectedRecord(2, 1, 4, 10, 12000));
    EXPECT_EQ(op.statuses.filter("FE 1").size(), 1);
    EXPECT_TRUE(op.statuses.filter("FE 2").isEmpty());
}

TEST_F(RunTest, TheStatusLineFollowsTheRunAndEndsWithTheFilesTotals) {
    useWallClock();  // the status line is shown ten times a second of the wall clock
    setKey("dwell_time", "0.6");
    station->config.free_space = [](const QString&) { return qint64{3'000'000'000}; };
    startAndStopWhen([&] { return sim->triggerStarts() >= 3; });
    ASSERT_GE(op.run_fields.size(), 3);
    const RunFields& during = op.run_fields[op.run_fields.size() / 2];
    EXPECT_GE(during.beam, 1);
    EXPECT_EQ(during.dwell_length_s, 0.6);
    EXPECT_TRUE(during.file_path.endsWith(QStringLiteral("_beam%1.txt").arg(during.beam)));
    bool measured = false;
    for (const RunFields& f : op.run_fields) {
        if (f.records_per_s <= 0) continue;
        measured = true;
        EXPECT_EQ(f.free_bytes, 3'000'000'000);  // asked once a second, with the rates
        // A rate over an interval of the wall clock is the scheduler's to bend: the
        // test holds it to what the hours left are worked out from, not to a figure.
        EXPECT_GT(f.megabytes_per_s, 0);
        EXPECT_NEAR(f.hours_left, 3e9 / (f.megabytes_per_s * 1e6) / 3600, 1e-6);
    }
    EXPECT_TRUE(measured);
    int records = 0;
    for (const DwellBlock& b : ReadDwellBlocks(path("data")))
        records += static_cast<int>(b.records.size());
    const QString summary = LastOf(op.run_fields).summary;
    EXPECT_TRUE(summary.startsWith(
        QStringLiteral("Last run: 3 dwells, %1 records, %2 MB, 0 framing "
                       "errors, 0 records lost, 0:00:0")
            .arg(records)
            .arg(static_cast<double>(DataBytesUnder(path("data"))) / 1e6, 0, 'f', 1)))
        << summary;
    EXPECT_EQ(run->totals().bytes, DataBytesUnder(path("data")));
}

TEST_F(RunTest, LittleFreeSpaceIsSaidBeforeAnythingIsSentAndTheOperatorDecides) {
    writeConfig(fastConfig()
                    .replace("ipp=200", "ipp=100")
                    .replace("gates=4", "gates=36")
                    .replace("integrations=10", "integrations=1"));
    station->config.free_space = [](const QString&) { return qint64{10'000'000}; };
    run->start();  // no answer: Cancel
    EXPECT_EQ(op.questions.size(), 1);
    EXPECT_TRUE(
        FirstOf(op.questions).startsWith("Low disk space: 10.0 MB free for " + path("data")))
        << FirstOf(op.questions);
    EXPECT_TRUE(FirstOf(op.questions).endsWith("Start anyway?"));
    EXPECT_EQ(LastOf(op.messages()), "Start cancelled");
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
    EXPECT_TRUE(op.start_enabled);
    op.answers.enqueue(true);
    startAndStopWhen([&] { return sim->triggerStarts() >= 1; });
    EXPECT_EQ(sim->triggerStarts(), 1);
    EXPECT_EQ(RecordBytesAtMost(36), 435);
}

// A real small file system, where the machine lets a test make one: the free
// space comes from the file system itself, not from a number the test gives.
TEST_F(RunTest, AFewMegabytesOfTmpfsGiveTheLowSpaceWarningFromTheFileSystemItself) {
    const QString small = path("small");
    ASSERT_TRUE(QDir().mkpath(small));
    const QByteArray target = QFile::encodeName(small);
    if (::mount("zarv-test", target.constData(), "tmpfs", 0, "size=8m") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(target.constData(), MNT_DETACH); });
    writeConfig(fastConfig()
                    .replace("data_dir=" + path("data"), "data_dir=" + small + "/data")
                    .replace("ipp=200", "ipp=100")
                    .replace("gates=4", "gates=36")
                    .replace("integrations=10", "integrations=1"));
    station->config.free_space = &StationConfig::FreeBytes;
    EXPECT_EQ(StationConfig::FreeBytes(small), 8 * 1024 * 1024);
    run->start();  // no answer: Cancel
    ASSERT_EQ(op.questions.size(), 1);
    EXPECT_TRUE(FirstOf(op.questions).startsWith("Low disk space: 8.4 MB free for " + small))
        << FirstOf(op.questions);
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
}

TEST_F(RunTest, FramingErrorsAreCountedPerDwell) {
    // 60 in each of two dwells: more than the limit together, within it each.
    const auto drop60 = [&] {
        for (int k = 0; k < 60; ++k) sim->dropStreamBytes(1000 + k * 296, 1);
    };
    drop60();
    bool second_set = false;
    ActWhen second([&] { return sim->triggerStarts() >= 1; },
                   [&] {
                       drop60();  // they wait for the next trigger start
                       second_set = true;
                   });
    startAndStopWhen([&] { return sim->triggerStarts() >= 3; });
    ASSERT_TRUE(second_set);
    EXPECT_FALSE(op.messages().contains("Framing errors..")) << op.messages().join('|');
    EXPECT_EQ(op.statuses.filter("FE 60").size(), 2);
    EXPECT_TRUE(station->session.device_open());
}

TEST_F(RunTest, AStopWhileIdleDoesNotEndTheNextRun) {
    run->stop();
    startAndStopWhen([&] { return sim->triggerStarts() >= 1; });
    EXPECT_EQ(sim->triggerStarts(), 1);
    EXPECT_TRUE(op.messages().contains("Starting trigger on beam direction: 1"));
}

TEST_F(RunTest, AFewFramingErrorsAreCountedAndTheRunGoesOn) {
    for (int k = 0; k < 5; ++k) sim->dropStreamBytes(2000 + k * 1480, 1);
    startAndStopWhen([&] { return sim->triggerStarts() >= 2; });
    EXPECT_EQ(op.statuses.filter("FE 5").size(), 1);
    EXPECT_FALSE(op.messages().contains("Framing errors.."));
    EXPECT_TRUE(station->session.device_open());
}

TEST_F(RunTest, TheFramingErrorCountChangesAtMostTwiceASecondAndEndsExact) {
    // 90 errors over the first dwell of 1.5 s, one every 160 frames, in a
    // stream of some twenty chunks: shown ten times a second of the wall clock
    // were they not paced.
    useWallClock();
    writeConfig(
        fastConfig().replace("dwell_time=0.3", "dwell_time=1.5").replace("ipp=200", "ipp=100"));
    for (int k = 0; k < 90; ++k) sim->dropStreamBytes(1000 + k * 160 * 148, 1);
    QElapsedTimer wall;
    wall.start();
    startAndStopWhen([&] { return sim->triggerStarts() >= 2; });
    const double seconds = static_cast<double>(wall.elapsed()) / 1000;
    const QStringList counts = op.statuses.filter(QRegularExpression("^FE [1-9]"));
    // However long the machine took: one change per half second, and the last
    // count of the dwell as it stands.
    EXPECT_LE(counts.size(), 2 * seconds + 2) << counts.join(' ').toStdString();
    EXPECT_EQ(counts.filter(QRegularExpression("^FE 90$")).size(), 1)
        << counts.join(' ').toStdString();
    EXPECT_FALSE(op.messages().contains("Framing errors.."));
}

TEST_F(RunTest, UnpluggedDuringADwellEndsWithAClearLine) {
    setKey("dwell_time", "5");
    ActWhen unplug([&] { return DataBytesUnder(path("data")) > 4000; }, [&] { sim->unplugNow(); },
                   [&] { run->stop(); });
    run->start();
    EXPECT_TRUE(op.messages().contains("Stream lost: reading from the controller failed"));
    EXPECT_FALSE(station->session.device_open());
    EXPECT_TRUE(op.start_enabled);
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_GT(blocks[0].records.size(), 0);
    EXPECT_EQ(MismatchedRecords(blocks[0], 4, 10, 12000), 0);
}

TEST_F(RunTest, AStreamThatStopsLetsTheDwellEndOnTime) {
    sim->stopStreamAfter(100);
    startAndStopWhen([&] { return sim->triggerStarts() >= 2; });
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].records.size(), 9);  // frame 99 never gets its closing marker
    EXPECT_EQ(MismatchedRecords(blocks[0], 4, 10, 12000), 0);
}

TEST_F(RunTest, DataFileThatCannotBeCreatedLeavesTheStationReady) {
    writeConfig(fastConfig().replace("data_dir=" + path("data"), "data_dir=/proc/zarv-nowhere"));
    EXPECT_THROW(run->start(), StationError);
    EXPECT_TRUE(op.start_enabled);
    EXPECT_FALSE((station->session.holder() == LinkHolder::Run));
    EXPECT_FALSE(sim->programmed().triggering);
    EXPECT_TRUE(
        LastOf(op.messages()).startsWith("Run ended: Cannot open data file /proc/zarv-nowhere/"));
}

TEST_F(RunTest, ADataDirectoryThatCannotBeMadeIsNamedWithItsCause) {
    writeFile("plain", "a file where a folder would be");
    writeConfig(fastConfig().replace("data_dir=" + path("data"), "data_dir=" + path("plain/data")));
    EXPECT_THROW(run->start(), StationError);
    const QStringList m = op.messages();
    ASSERT_GE(m.size(), 2);
    EXPECT_EQ(m[m.size() - 2],
              "Cannot make the data directory " + path("plain/data") + ": Not a directory");
    EXPECT_TRUE(LastOf(m).startsWith("Run ended: Cannot open data file " + path("plain/data")));
}

TEST_F(RunTest, FirmwareUpgradeIsRefusedWhileTheRunLasts) {
    writeFile("image.hex", ":00000001FF\n");
    FirmwareUpdate update(station->log, station->session, station->config);
    QString refused;
    startAndStopWhen([&] {
        if (sim->triggerStarts() < 1) return false;
        run->stop();  // triggering is clear, the run not yet over
        op.files.enqueue(path("image.hex"));
        op.answers.enqueue(true);
        update.run();
        refused = LastOf(op.messages());
        return true;
    });
    EXPECT_EQ(refused, "System is triggering. Stop trigger and try again. Aborting ...");
}
}  // namespace

TEST(DiskWarning, EachShortageIsSaidOnceAndAgainAfterTheDiskIsFreed) {
    DiskWarning disk;
    EXPECT_EQ(disk.look(-1, "/d"), "");   // nothing known yet
    EXPECT_EQ(disk.look(100, "/d"), "");  // days left
    EXPECT_EQ(disk.look(23.5, "/d"),
              "Disk space: less than a day of recording left at the current rate in /d (23.5 h)");
    EXPECT_EQ(disk.look(20, "/d"), "");
    EXPECT_EQ(disk.text(), "less than a day of recording left");
    EXPECT_EQ(disk.look(0.5, "/d"),
              "Disk space: less than an hour of recording left at the current rate in /d (0.5 h)");
    EXPECT_EQ(disk.look(0.4, "/d"), "");
    EXPECT_EQ(disk.look(200, "/d"), "");  // a new disk
    EXPECT_EQ(disk.text(), "");
    EXPECT_FALSE(disk.look(10, "/d").isEmpty());
}

TEST_F(RunTest, AFillingDiskIsWarnedAboutWhileTheRunRecords) {
    writeConfig(fastConfig().replace("dwell_time=0.3", "dwell_time=2"));
    // Room for the start, then less than an hour at the run's rate.
    station->config.free_space = [](const QString&) { return qint64{1'000'000}; };
    op.answers.enqueue(true);  // the low-space question at Start: Yes
    startAndStopWhen(
        [&] { return !op.kept.filter("less than an hour of recording left").isEmpty(); });
    EXPECT_EQ(op.kept.filter("Disk space: less than an hour").size(), 1);
    ASSERT_FALSE(op.run_fields.isEmpty());
    bool shown = false;
    for (const auto& fields : op.run_fields)
        shown = shown || (fields.disk_warning == "less than an hour of recording left" &&
                          fields.disk_low == 2);
    EXPECT_TRUE(shown);
}
