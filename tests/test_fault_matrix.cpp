// Faults the station must survive, one test a row; docs/reliability.md maps them.

#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <atomic>

#include "about/about_query.h"
#include "acquisition/acquisition_run.h"
#include "act_when.h"
#include "data_file_checker.h"
#include "file_size_limit.h"
#include "firmware/flash_update.h"
#include "hex_builder.h"
#include "simulator/sim_fault_plan.h"
#include "station/station_error.h"
#include "station_fixture.h"

using namespace zarv::acquisition;
using namespace zarv::device_io;
using namespace zarv::firmware;
using namespace zarv::sim;
using namespace zarv::station;

namespace {
QString ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const StationError& e) {
        return e.text();
    }
    return QString();
}

// ---- config.txt -------------------------------------------------------------

class ConfigFaults : public StationFixture, public ::testing::WithParamInterface<int> {};

int RequiredKeyIndex(int i) {
    return i < 3 ? i : i + 1;
}  // every key but data_dir

TEST_P(ConfigFaults, EveryRequiredKeyMissingInTurn) {
    int count = 0;
    const int index = RequiredKeyIndex(GetParam());
    const ConfigKey& key = ConfigKeys(&count)[index];
    QStringList lines = DefaultConfigText(path("data")).split('\n');
    lines.removeIf([&](const QString& l) { return l.startsWith(QLatin1String(key.name) + '='); });
    writeConfig(lines.join('\n'));
    const QString error = ErrorOf([&] { station->config.ReadConfig(); });
    EXPECT_EQ(error, key.kind == ConfigKind::Float ? "'' is not a valid floating point value"
                                                   : "'' is not a valid integer value");
    EXPECT_EQ(op.log.size(), index + 1);  // the announcing line and the keys before it
    EXPECT_FALSE(QFileInfo::exists(path("data")));
}

std::string KeyName(const ::testing::TestParamInfo<int>& info) {
    int count = 0;
    return ConfigKeys(&count)[RequiredKeyIndex(info.param)].name;
}
INSTANTIATE_TEST_SUITE_P(AllRequiredKeys, ConfigFaults, ::testing::Range(0, 23), KeyName);

using ConfigFileFaults = StationFixture;

TEST_F(ConfigFileFaults, DataDirMayBeMissing) {
    writeConfig(DefaultConfigText("x").replace("data_dir=x\n", ""));
    fixed_time = QDateTime(QDate(1999, 1, 1), QTime(0, 0));
    const bool existed = QFileInfo::exists("/1999");
    station->config.ReadConfig();
    EXPECT_EQ(op.messages()[4], "data_dir: ");
    if (!existed) QDir().rmpath("/1999/01/01/00");  // the tree starts at the root
}

TEST_F(ConfigFileFaults, UnreadableFile) {
    QDir(dir.path()).mkdir("config.txt");  // a directory cannot be read as text
    EXPECT_EQ(ErrorOf([&] { station->config.ReadConfig(); }), "File access denied");
    EXPECT_EQ(op.log.size(), 1);
}

// ---- the link ---------------------------------------------------------------

using LinkFaults = StationFixture;

TEST_F(LinkFaults, ResetAndTimeOutFailuresDuringTheOpenAreSilent) {
    sim->setResetStatus(FT_IO_ERROR);
    sim->setTimeoutsStatus(FT_IO_ERROR);
    EXPECT_TRUE(station->session.ensureOpen());
    EXPECT_TRUE(op.boxes.isEmpty());
    EXPECT_EQ(op.messages(), QStringList{"Radar controller (simulated) [SIM00001]"});
}

TEST_F(LinkFaults, SecondOpenWhileTheHandleIsHeldIsRefusedByTheBridge) {
    FT_HANDLE h1 = 0, h2 = 0;
    ASSERT_EQ(sim->FT_OpenEx("SIM00001", FT_OPEN_BY_SERIAL_NUMBER, &h1), FT_OK);
    EXPECT_EQ(sim->FT_OpenEx("SIM00001", FT_OPEN_BY_SERIAL_NUMBER, &h2), FT_DEVICE_NOT_OPENED);
    sim->FT_Close(h1);
    ASSERT_TRUE(station->session.ensureOpen());
    station->session.markLost();
    EXPECT_TRUE(station->session.ensureOpen());  // closes its own handle before opening anew
}

// ---- every command kind against every reply fault ---------------------------

struct ReplyCase {
    std::uint8_t code;
    SimController::ReplyFault fault;
};

class CommandFaults : public StationFixture, public ::testing::WithParamInterface<ReplyCase> {
  protected:
    // Sends the command of the case and returns the count it received.
    int send(std::uint8_t code) {
        ControllerCommands& c = station->session.commands();
        InfoWords info{};
        SectorWords sector;
        CodeStartWords block{};
        BlockWords words{};
        switch (code) {
            case 0x00:
                return c.ReadControllerInfo(info) ? 200 : -1;
            case 0x02:
                return c.SetSweepParameters({});
            case 0x04:
                return c.SetFrequencies(1, 2, 3, 4);
            case 0x06:
                return c.SetAmplitudes(1, 2, 3, 4);
            case 0x07:
                return c.SetBeamDirection(1);
            case 0x08:
                return c.SetDacLevels(1, 2);
            case 0x0F:
                return c.EraseSector("E");
            case 0x10:
                return c.ProgramSectorBlock(words, 4, "E", 0);
            case 0x11:
                return c.ReadSector("E", sector) ? 16384 : -1;
            case 0x12:
                return c.CopyImageToMainFrame();
            case 0x13:
                return c.WriteCodeStart({});
            default:
                return c.ReadCodeStart(block) ? 256 : -1;
        }
    }
};

TEST_P(CommandFaults, BoxesFollowTheTransactionRules) {
    const ReplyCase c = GetParam();
    ASSERT_TRUE(station->session.ensureOpen());
    sim->setReplyFault(c.code, c.fault, 1);
    const int got = send(c.code);
    const bool decoded = c.code == 0x00 || c.code == 0x11 || c.code == 0x14;
    QStringList expected;
    const bool one_byte_reply =
        c.code != 0x00 && c.code != 0x0F && c.code != 0x10 && c.code != 0x11 && c.code != 0x14;
    using F = SimController::ReplyFault;
    if (!(one_byte_reply && c.fault != F::NoReply))
        expected << "Received data do not match with what is expected";
    if (c.fault == F::NoReply) expected << "Did not return any data!";
    if (c.fault == F::ChecksumError) expected << "CHECKSUM error!";
    if (c.fault == F::UnexpectedData) expected << "UNEXPECTED_DATA error!";
    if (decoded && c.code == 0x11)
        expected
            << QString(
                   "Data received do not match with what is expected. Received:%1 ; Expected:16384")
                   .arg(c.fault == F::NoReply ? 0 : 1);
    else if (decoded)
        expected << "Unexpected data length";
    EXPECT_EQ(op.boxes, expected);
    if (!decoded) {
        EXPECT_EQ(got, c.fault == F::NoReply ? 0 : 1);
    }
    EXPECT_EQ(sim->readTimeoutMs(), 500u);
}

std::vector<ReplyCase> AllReplyCases() {
    std::vector<ReplyCase> cases;
    for (std::uint8_t code :
         {0x00, 0x02, 0x04, 0x06, 0x07, 0x08, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14})
        for (auto fault :
             {SimController::ReplyFault::NoReply, SimController::ReplyFault::Short,
              SimController::ReplyFault::ChecksumError, SimController::ReplyFault::UnexpectedData})
            cases.push_back({code, fault});
    return cases;
}
std::string CaseName(const ::testing::TestParamInfo<ReplyCase>& info) {
    static const char* const kFaults[] = {"None", "NoReply", "Short", "Checksum", "Unexpected"};
    return QString("Code%1").arg(info.param.code, 2, 16, QChar('0')).toStdString() + "_" +
           kFaults[static_cast<int>(info.param.fault)];
}
INSTANTIATE_TEST_SUITE_P(EveryCommand, CommandFaults, ::testing::ValuesIn(AllReplyCases()),
                         CaseName);

// ---- acquisition run ----------------------------------------------------------

class RunFaults : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        run = std::make_unique<AcquisitionRun>(station->log, station->session, station->config);
        writeConfig(DefaultConfigText(path("data")).replace("ipp=1000", "ipp=200"));
    }
    std::unique_ptr<AcquisitionRun> run;
};

TEST_F(RunFaults, CommandProblemsDuringTheStartAreReportedAndTheRunGoesOn) {
    sim->setReplyFault(0x04, SimController::ReplyFault::NoReply);
    sim->setReplyFault(0x02, SimController::ReplyFault::UnexpectedData);
    const auto stop = [&] { run->stop(); };
    ActWhen started([&] { return sim->triggerStarts() >= 1; }, stop, stop);
    run->start();
    EXPECT_EQ(op.boxes, QStringList({"Received data do not match with what is expected",
                                     "Did not return any data!", "UNEXPECTED_DATA error!"}));
    EXPECT_TRUE(op.messages().contains("Bytes Received = 0"));
    EXPECT_GE(sim->triggerStarts(), 1);
}

TEST_F(RunFaults, UnpluggedDuringTheStartSequence) {
    sim->setReplyFault(0x04, SimController::ReplyFault::ChecksumError);
    op.on_box = [&](const QString& text) {
        if (text == "CHECKSUM error!") sim->unplugNow();
    };
    run->start();
    EXPECT_TRUE(op.messages().contains("Stream lost: reading from the controller failed"));
    EXPECT_FALSE(station->session.device_open());
    EXPECT_TRUE(op.start_enabled);
    EXPECT_FALSE((station->session.holder() == LinkHolder::Run));
}

TEST_F(RunFaults, FallingBehindTheStreamIsReported) {
    useWallClock();  // the disk stalls for wall-clock time
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("dwell_time=0.6", "dwell_time=2"));
    std::atomic<int> chunks{0};
    run->processor().setBeforeChunk([&] {
        if (++chunks == 2) QThread::msleep(700);  // a disk that stalls once
    });
    const auto stop = [&] { run->stop(); };
    ActWhen warned(
        [&] { return op.messages().contains("Data processing is not keeping up with the stream"); },
        stop, stop);
    run->start();
    const QStringList m = op.messages();
    const auto warning = m.indexOf("Data processing is not keeping up with the stream");
    ASSERT_GE(warning, 0);
    EXPECT_TRUE(m.value(warning + 1).startsWith("Processing is 0."));
    EXPECT_TRUE(m.value(warning + 1).endsWith("chunks queued)"));
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 1u);
    for (const DwellBlock& b : blocks) EXPECT_EQ(MismatchedRecords(b, 4, 10, 12000), 0);
    EXPECT_TRUE(op.loss_texts.filter("Lost").isEmpty());
}

TEST_F(RunFaults, DiskFullDuringADwellKeepsWhatWasWritten) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("dwell_time=0.6", "dwell_time=5"));
    QString error;
    {
        FileSizeLimit limit(20000);
        error = ErrorOf([&] { run->start(); });
    }
    EXPECT_TRUE(error.startsWith("Cannot write data file ")) << error.toStdString();
    EXPECT_TRUE(LastOf(op.messages()).startsWith("Run ended: Cannot write data file"));
    EXPECT_TRUE(op.start_enabled);
    EXPECT_FALSE(sim->programmed().triggering);
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_GT(blocks[0].records.size(), 100);
    EXPECT_EQ(MismatchedRecords(blocks[0], 4, 10, 12000), 0);
    EXPECT_TRUE(readFile(blocks[0].file).endsWith(" \r\n"));  // no torn record
    // The summary counts what the file holds, not what was cut from it.
    ASSERT_FALSE(op.kept.filter("Last run: ").isEmpty());
    EXPECT_TRUE(LastOf(op.kept.filter("Last run: "))
                    .contains(QStringLiteral(" %1 records,").arg(blocks[0].records.size())))
        << LastOf(op.kept.filter("Last run: ")).toStdString();
    const auto journal = ReadJournals(path("data"));
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].written, blocks[0].records.size());
}

TEST_F(RunFaults, DataDirectoryRemovedDuringADwell) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("dwell_time=0.6", "dwell_time=5"));
    ActWhen remove([&] { return DataBytesUnder(path("data")) > 4000; },
                   [&] { QDir(path("data")).removeRecursively(); }, [&] { run->stop(); });
    const QString error = ErrorOf([&] { run->start(); });
    EXPECT_TRUE(error.startsWith("Data file " + path("data")));
    EXPECT_TRUE(error.endsWith("has been removed"));
    EXPECT_TRUE(LastOf(op.messages()).startsWith("Run ended: Data file"));
    EXPECT_TRUE(op.start_enabled);
    EXPECT_FALSE(sim->programmed().triggering);
}

// ---- firmware update ------------------------------------------------------------

class UpdateFaults : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        op.real_waits = false;
        QStringList lines = HexWords(0x003E8000, std::vector<std::uint16_t>(64, 0x1234));
        lines << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
        writeFile("image.hex", (lines.join("\r\n") + "\r\n").toLatin1());
    }
    void upgrade() {
        op.files.enqueue(path("image.hex"));
        op.answers.enqueue(true);
        FirmwareUpdate(station->log, station->session, station->config).run();
    }
    bool copySent() {
        for (const auto& f : sim->writtenFrames())
            if (f[1] == 0x12) return true;
        return false;
    }
};

TEST(SimFaultList, FlashFaultsAreReadWithTheTimedOnes) {
    QString error;
    SimFaultPlan plan = SimFaultPlan::Parse("copy-refused,misread-once=g,silent-at=3", &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(plan.copy_refusals, -1);
    EXPECT_EQ(plan.misread_once, 'G');
    EXPECT_EQ(plan.silent_at, 3.0);
    EXPECT_EQ(SimFaultPlan::Parse("copy-refused=2", &error).copy_refusals, 2);
    EXPECT_EQ(SimFaultPlan::Parse("copy-partial=gf", &error).copy_partial, "GF");
    for (const char* bad : {"copy-refused=0", "copy-refused=-1", "copy-refused=x", "misread-once=Z",
                            "misread-once=", "misread-twice=G", "copy-partial=E",
                            "copy-partial=", "copy-partial=HH"}) {
        plan = SimFaultPlan::Parse(bad, &error);
        EXPECT_FALSE(error.isEmpty()) << bad;
        EXPECT_TRUE(plan.empty()) << bad;
    }
}

TEST_F(UpdateFaults, EraseReplyNotTwoBytesIsOneMessage) {
    sim->setReplyFault(0x0F, SimController::ReplyFault::Short, 1);
    upgrade();
    EXPECT_EQ(op.boxes,
              QStringList{"The firmware update stopped while erasing sector E (1 of 3): Did not "
                          "recive 2 data bytes (Received data do not match with what is "
                          "expected).\n\nThe main firmware is unchanged: nothing was copied into "
                          "sectors H, G and F, and the code start was not written. Run the update "
                          "again."});
    EXPECT_FALSE(op.messages().contains("Writing 8 WORDS to Sector E at address offset of 0x0000"));
}

TEST_F(UpdateFaults, ImageMissing) {
    op.files.enqueue(path("gone.hex"));
    op.answers.enqueue(true);
    FirmwareUpdate(station->log, station->session, station->config).run();
    EXPECT_EQ(op.boxes, QStringList{"The firmware image " + path("gone.hex") +
                                    " is refused: it cannot be read (File not found).\n\nNothing "
                                    "was sent to the controller."});
    EXPECT_TRUE(op.errors.isEmpty());
}

TEST_F(UpdateFaults, UnpluggedDuringTheUpdate) {
    int pumps = 0;
    op.on_pump = [&] {
        if (++pumps == 4) sim->unplugNow();
    };
    upgrade();
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes[0].contains("the USB link to the controller was lost"));
    EXPECT_FALSE(op.messages().contains("Firmware updated... Please power cycle and restart"));
    EXPECT_FALSE(copySent());
    EXPECT_FALSE((station->session.holder() == LinkHolder::Update));
}
}  // namespace
