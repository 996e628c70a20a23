#include "about/about_query.h"
#include "acquisition/acquisition_run.h"
#include "device_IO/flash_sectors.h"
#include "firmware/flash_update.h"
#include "firmware/sector_files.h"
#include "hex_builder.h"
#include "station/station_error.h"
#include "station_fixture.h"

using namespace zarv::about;
using namespace zarv::acquisition;
using namespace zarv::device_io;
using namespace zarv::firmware;
using namespace zarv::sim;
using namespace zarv::station;

namespace {
std::vector<std::uint16_t> Pattern(int count, std::uint16_t seed) {
    std::vector<std::uint16_t> words;
    for (int i = 0; i < count; ++i) words.push_back(static_cast<std::uint16_t>(seed + 7 * i));
    return words;
}

// A sector as the controller holds it after the image's words were programmed
// into erased flash.
std::vector<std::uint16_t> Expected(const std::vector<std::uint16_t>& image) {
    std::vector<std::uint16_t> sector(kFlashSectorWords, 0xFFFF);
    std::copy(image.begin(), image.end(), sector.begin());
    return sector;
}

class FlashUpdateTest : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        op.real_waits = false;
        update = std::make_unique<FirmwareUpdate>(station->log, station->session, station->config);
    }
    QStringList image(bool with_h = true, bool with_g = true, bool with_code_start = true) {
        QStringList lines;
        if (with_h) lines << HexWords(0x003E8000, h);
        if (with_g) lines << HexWords(0x003EA000, g);
        lines << HexWords(0x003EC000, f);
        if (with_code_start) lines << HexWords(0x003F7FF6, {0x0041, 0x9000});
        return lines << HexEnd();
    }
    void upgrade(const QStringList& lines) {
        writeFile("image.hex", (lines.join("\r\n") + "\r\n").toLatin1());
        op.files.enqueue(path("image.hex"));
        op.answers.enqueue(true);
        update->run();
    }
    QString upgradeError(const QStringList& lines) {
        try {
            upgrade(lines);
        } catch (const StationError& e) {
            return e.text();
        }
        return QString();
    }
    bool copySent() {
        for (const auto& f : sim->writtenFrames())
            if (f[1] == 0x12) return true;
        return false;
    }

    std::unique_ptr<FirmwareUpdate> update;
    std::vector<std::uint16_t> h = Pattern(40, 0x1000);
    std::vector<std::uint16_t> g = Pattern(24, 0x2000);
    std::vector<std::uint16_t> f = Pattern(16, 0x3000);
};

TEST_F(FlashUpdateTest, ValidImageIsStagedVerifiedAndCopied) {
    upgrade(image());
    const QStringList m = op.messages();
    EXPECT_EQ(FirstOf(m),
              "Image image.hex: main sectors replaced: H, G, F; keeping their content: none");
    EXPECT_EQ(m.value(1), "Radar controller (simulated) [SIM00001]");
    EXPECT_EQ(m.mid(2, 6),
              QStringList({"Processing HEX file", "Erasing Sector E.. please wait",
                           "Erasing complete", "Programming Sector E from sector_h.txt (5 lines)",
                           "Writing 8 WORDS to Sector E at address offset of 0x0000",
                           "Writing 8 WORDS to Sector E at address offset of 0x0008"}));
    EXPECT_TRUE(m.contains("Sector Ewriting complete"));
    EXPECT_TRUE(m.contains("Reading complete"));
    EXPECT_EQ(m.count("Reading complete."), 2);
    EXPECT_EQ(m.count("Data Verified"), 3);
    EXPECT_EQ(m.mid(m.size() - 2),
              QStringList({"Copying image to main frame.. please wait.",
                           "Firmware updated... Please power cycle and restart"}));
    EXPECT_TRUE(op.boxes.isEmpty());
    EXPECT_EQ(op.waits, QList<int>{5000});
    EXPECT_EQ(op.progress, op.progress_max);
    EXPECT_EQ(op.progress_max, 1);  // full, after the copy's busy bar
    EXPECT_TRUE(sim->codeStartWritten());
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
    EXPECT_EQ(sim->flashSector('G'), Expected(g));
    EXPECT_EQ(sim->flashSector('F'), Expected(f));
    EXPECT_EQ(op.filters, QStringList{"Firmware image (*.hex)|*.hex"});
    ASSERT_EQ(op.questions.size(), 1);
    EXPECT_EQ(op.questions[0],
              "About to Update Firmware. Do you want to continue?\n\nImage: " + path("image.hex") +
                  "\nStaged: image H into E, image G into D, image F into C");
    const QStringList report = ReadTextLines(path("out.txt"));
    ASSERT_EQ(report.size(), 8192);
    EXPECT_EQ(report[0], "0x3000  0x3000");
    EXPECT_EQ(report[8191], "0xFFFF  0xFFFF");
    EXPECT_EQ(ReadTextLines(path("sector_e.txt")).size(), 512);
    EXPECT_EQ(ReadTextLines(path("sector_e.txt"))[0].left(8), "003EE000");
}

TEST_F(FlashUpdateTest, UpdateSurvivesARestartOfTheSimulatedController) {
    const QString flash = path("flash.bin");
    update.reset();
    station.reset();  // it closes its handle on the controller it was built on
    sim = std::make_unique<SimController>(flash, QString(), SimClock::skippingIdle());
    station = std::make_unique<Station>(op, *sim);
    station->config.free_space = AmpleSpace;
    station->config.start_dir = dir.path();
    update = std::make_unique<FirmwareUpdate>(station->log, station->session, station->config);
    upgrade(image());
    SimController restarted(flash, QString(), SimClock::skippingIdle());
    EXPECT_EQ(restarted.flashSector('H'), Expected(h));
    EXPECT_EQ(restarted.flashSector('F'), Expected(f));
}

TEST_F(FlashUpdateTest, ChecksBeforeTheUpdate) {
    update->run();  // dialog cancelled
    EXPECT_FALSE(sim->codeStartWritten());
    EXPECT_TRUE(op.log.isEmpty());
    writeFile("bad.hex", "nonsense\n");
    op.files.enqueue(path("bad.hex"));
    update->run();  // confirmation not Yes
    EXPECT_EQ(LastOf(op.messages()), "Firmware update cancelled");
    op.files.enqueue(path("bad.hex"));
    op.answers.enqueue(true);
    update->run();
    EXPECT_EQ(LastOf(op.messages()), "File is not recognised. Aborting ...");
    // While triggering, refused before the file dialog opens.
    LeaveTriggering(station->session);
    op.filters.clear();
    update->run();
    EXPECT_EQ(LastOf(op.messages()),
              "System is triggering. Stop trigger and try again. Aborting ...");
    EXPECT_TRUE(op.filters.isEmpty());
    station->session.requestStop();
    sim->setDeviceCount(0);
    upgrade(image());
    EXPECT_EQ(LastOf(op.messages()), "USB device not found..");
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
}

TEST_F(FlashUpdateTest, CorruptedRecordStopsBeforeAnyCommand) {
    QStringList lines = image();
    QString& bad = lines[3];
    bad[12] = bad[12] == 'F' ? 'E' : 'F';
    EXPECT_EQ(upgradeError(lines), "Line 4 of the firmware image has a wrong checksum");
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
}

TEST_F(FlashUpdateTest, FailedEraseShowsUpAsAMismatch) {
    sim->setFlashSector('E', std::vector<std::uint16_t>(kFlashSectorWords, 0x0F0F));
    sim->setEraseStatus(3, 22);
    upgrade(image());
    EXPECT_EQ(FirstOf(op.boxes), "STATUS_FAIL_ERASE");
    EXPECT_EQ(op.boxes[1], "Error while writing offset_adr 0x0001: STATUS_FAIL_ZERO_BIT_ERROR");
    EXPECT_EQ(LastOf(op.boxes), "Verification failed");
    EXPECT_TRUE(op.messages().contains("Data does not match"));
    EXPECT_TRUE(op.messages().contains("Sector Ewriting complete"));
    EXPECT_FALSE(copySent());
}

TEST_F(FlashUpdateTest, ErasedWordThatReadsBackWrongIsAMismatch) {
    std::vector<std::uint16_t> dirty(kFlashSectorWords, 0xFFFF);
    dirty[5000] = 0x1234;  // outside the image, so programming never touches it
    sim->setFlashSector('C', dirty);
    sim->setEraseStatus(5, 0);  // the erase reports success but does nothing
    upgrade(image());
    EXPECT_EQ(op.messages().count("Data does not match"), 1);
    EXPECT_EQ(op.boxes, QStringList{"Verification failed"});
    EXPECT_EQ(ReadTextLines(path("out.txt"))[5000], "0xFFFF  0x1234");
}

TEST_F(FlashUpdateTest, ProgramFailureShowsOffsetPlusOne) {
    sim->setProgramStatusAt(0x10, 30);
    upgrade(image());
    EXPECT_EQ(FirstOf(op.boxes), "Error while writing offset_adr 0x0011: STATUS_FAIL_PROGRAM");
    EXPECT_TRUE(op.messages().contains("Sector Ewriting complete"));
    EXPECT_FALSE(op.messages().contains("Writing 8 WORDS to Sector E at address offset of 0x0018"));
    EXPECT_EQ(LastOf(op.boxes), "Verification failed");
    EXPECT_FALSE(copySent());
}

TEST_F(FlashUpdateTest, StatusAboveFortyUsesTheGeneratedForm) {
    sim->setProgramStatusAt(0x08, 77);
    upgrade(image());
    EXPECT_EQ(FirstOf(op.boxes),
              "Error while writing offset_adr 0x0009: Undefined Error Code 77received");
}

TEST_F(FlashUpdateTest, ShortProgramReply) {
    sim->setReplyFault(0x10, SimController::ReplyFault::NoReply);
    upgrade(image());
    EXPECT_EQ(op.boxes.mid(0, 3),
              QStringList({"Received data do not match with what is expected",
                           "Did not return any data!", "Did not recive 2 data bytes"}));
    EXPECT_EQ(sim->readTimeoutMs(), 500u);
    EXPECT_FALSE(copySent());
}

TEST_F(FlashUpdateTest, ShortReadBackIsAFailureAndNothingStaleIsCompared) {
    sim->setReplyFault(0x11, SimController::ReplyFault::Short, 100);
    upgrade(image());
    EXPECT_FALSE(op.messages().contains("Data Verified"));
    EXPECT_FALSE(op.messages().contains("Data does not match"));
    EXPECT_EQ(LastOf(op.boxes), "Verification failed");
    EXPECT_FALSE(copySent());
}

TEST_F(FlashUpdateTest, CodeStartMismatchOrShortReply) {
    sim->setReplyFault(0x13, SimController::ReplyFault::ChecksumError);  // the block is not kept
    upgrade(image());
    EXPECT_EQ(LastOf(op.boxes), "Code Start Verification failed");
    EXPECT_TRUE(op.boxes.contains("CHECKSUM error!"));
    EXPECT_FALSE(copySent());
    op.boxes.clear();
    sim->setReplyFault(0x13, SimController::ReplyFault::None);
    sim->setReplyFault(0x14, SimController::ReplyFault::Short, 200);
    upgrade(image());
    EXPECT_EQ(LastOf(op.boxes), "Code Start Verification failed");
    EXPECT_FALSE(copySent());
}

TEST_F(FlashUpdateTest, ImageWithoutSectorH) {
    const auto before = sim->flashSector('E');
    upgrade(image(false));
    EXPECT_FALSE(op.messages().contains("Erasing Sector E.. please wait"));
    EXPECT_EQ(sim->flashSector('E'), before);
    EXPECT_EQ(LastOf(op.boxes), "Verification failed");
}

// From the factory state: G and F are in the main sectors, D and C erased.
TEST_F(FlashUpdateTest, AnImageWithOnlySectorHLeavesGAndFAsTheyWere) {
    const auto g_before = sim->flashSector('G'), f_before = sim->flashSector('F');
    QStringList lines = HexWords(0x003E8000, h);
    lines << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
    upgrade(lines);
    const QStringList m = op.messages();
    EXPECT_EQ(FirstOf(m), "Image image.hex: main sectors replaced: H; keeping their content: G, F");
    EXPECT_TRUE(op.questions.value(0).endsWith(
        "Staged: image H into E, present G (kept) into D, present F (kept) into C"));
    EXPECT_TRUE(m.contains("Sector G is not in the image: it keeps its content"));
    EXPECT_TRUE(m.contains("Sector D differs from sector G: staging it again"));
    EXPECT_EQ(m.count("Data Verified"), 3);
    EXPECT_EQ(LastOf(m), "Firmware updated... Please power cycle and restart");
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
    EXPECT_EQ(sim->flashSector('G'), g_before);
    EXPECT_EQ(sim->flashSector('F'), f_before);
}

// An update that failed while staging leaves half-programmed spare sectors; a
// later image without G and F must not copy them into the main sectors.
TEST_F(FlashUpdateTest, HalfProgrammedStagingIsNeverCopied) {
    const QString flash = path("flash.bin");
    const auto restart = [&] {
        update.reset();
        station.reset();  // it closes its handle on the controller it was built on
        sim = std::make_unique<SimController>(flash, QString(), SimClock::skippingIdle());
        station = std::make_unique<Station>(op, *sim);
        station->config.free_space = AmpleSpace;
        station->config.free_space = AmpleSpace;
        station->config.start_dir = dir.path();
        update = std::make_unique<FirmwareUpdate>(station->log, station->session, station->config);
    };
    restart();
    const auto g_before = sim->flashSector('G'), f_before = sim->flashSector('F');
    sim->setProgramStatusAt(8, 12);  // every sector's programming stops at offset 8
    upgrade(image());
    EXPECT_EQ(LastOf(op.boxes), "Verification failed");
    EXPECT_FALSE(copySent());
    EXPECT_NE(sim->flashSector('D'), Expected({}));  // half-programmed
    restart();                                       // the fault gone, the flash kept
    QStringList only_h = HexWords(0x003E8000, h);
    only_h << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
    upgrade(only_h);
    EXPECT_EQ(LastOf(op.messages()), "Firmware updated... Please power cycle and restart");
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
    EXPECT_EQ(sim->flashSector('G'), g_before);
    EXPECT_EQ(sim->flashSector('F'), f_before);
}

TEST_F(FlashUpdateTest, ACopyFrameThatNeverLeftIsNoSuccess) {
    const auto h_before = sim->flashSector('H');
    op.on_pump = [&] {
        if (op.messages().value(op.messages().size() - 1) ==
            "Copying image to main frame.. please wait.")
            sim->setWriteTimeout(true);  // the bridge stops taking frames
    };
    upgrade(image());
    ASSERT_FALSE(op.boxes.isEmpty());
    EXPECT_TRUE(LastOf(op.boxes).startsWith("The copy command did not reach the controller."));
    EXPECT_FALSE(op.messages().contains("Firmware updated... Please power cycle and restart"));
    EXPECT_TRUE(op.waits.isEmpty());
    EXPECT_EQ(sim->flashSector('H'), h_before);
}

TEST_F(FlashUpdateTest, TheBarFollowsEachSectorAndIsBusyDuringTheCopy) {
    upgrade(image());
    // Lines of sector_h (5), sector_g (3) and sector_f (2); busy; full.
    EXPECT_EQ(op.maxima, QList<int>({5, 3, 2, 0, 1}));
    EXPECT_FALSE(op.beyond_maximum);
    EXPECT_EQ(op.progress, 1);
    // One step per line of sector_h, from the first line on.
    const auto e = op.bar.indexOf("max 5");
    ASSERT_GE(e, 0);
    EXPECT_EQ(op.bar.mid(e, 7),
              QStringList({"max 5", "pos 0", "pos 1", "pos 2", "pos 3", "pos 4", "pos 5"}));
}

TEST_F(FlashUpdateTest, ASectorWhoseProgrammingStopsStillFillsTheBar) {
    sim->setProgramStatusAt(8, 30);  // the third line of each sector fails
    upgrade(image());
    const auto e = op.bar.indexOf("max 5");
    ASSERT_GE(e, 0);
    EXPECT_EQ(op.bar.mid(e, 5), QStringList({"max 5", "pos 0", "pos 1", "pos 2", "pos 5"}));
}

TEST_F(FlashUpdateTest, CodeStartMissingOrShort) {
    upgrade(image(true, true, false) << HexWords(0x003F6000, {1}));
    ASSERT_FALSE(op.boxes.isEmpty());
    EXPECT_EQ(LastOf(op.boxes), "Code Start Verification failed");
    EXPECT_EQ(op.messages().count("Data Verified"), 3);                   // staged before the check
    EXPECT_EQ(upgradeError(image(true, true, false)), "File not found");  // no sector_a.txt at all
    QStringList four = image(true, true, false);
    four.insert(four.size() - 1, HexUpper(0x003F));
    four.insert(four.size() - 1, HexRecord(0, 0x7FF6, {0x00, 0x41}));
    EXPECT_EQ(upgradeError(four), "'0x' is not a valid integer value");
    QStringList six = image(true, true, false);
    six.insert(six.size() - 1, HexUpper(0x003F));
    six.insert(six.size() - 1, HexRecord(0, 0x7FF6, {0x00, 0x41, 0x90}));
    sim->clearWrittenFrames();
    upgrade(six);  // the second word is read from the two digits there: 0x90
    std::vector<std::uint8_t> block;
    for (const auto& frame : sim->writtenFrames())
        if (frame[1] == 0x13) block.assign(frame.begin() + 2, frame.begin() + 8);
    EXPECT_EQ(block, (std::vector<std::uint8_t>{0x00, 0x41, 0x00, 0x90, 0xFF, 0xFF}));
    EXPECT_EQ(LastOf(op.messages()), "Firmware updated... Please power cycle and restart");
}

TEST_F(FlashUpdateTest, LongLinesGoOutInSeveralCommands) {
    QStringList lines = HexWords(0x003E8000, h, 20);  // 20 words to a line
    lines << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
    upgrade(lines);
    int program_frames = 0;
    for (const auto& frame : sim->writtenFrames())
        if (frame[1] == 0x10 && frame[2] == 3) ++program_frames;  // into sector E
    EXPECT_EQ(program_frames, 4);  // 20 + 20 words: 16 + 4 and 16 + 4
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
}
TEST_F(FlashUpdateTest, NothingInterleavesWithTheFlashCommands) {
    writeDefaultConfig();
    AcquisitionRun run(station->log, station->session, station->config);
    bool tried = false;
    op.on_pump = [&] {
        if (tried) return;
        tried = true;
        run.start();
        update->run();
        EXPECT_FALSE(QueryAbout(station->session));
    };
    upgrade(image());
    EXPECT_TRUE(tried);
    EXPECT_TRUE(op.messages().contains("Firmware update in progress. Start refused"));
    EXPECT_TRUE(op.messages().contains("Firmware update in progress. Aborting ..."));
    EXPECT_EQ(sim->triggerStarts(), 0);
    EXPECT_EQ(LastOf(op.messages()), "Firmware updated... Please power cycle and restart");
    EXPECT_FALSE((station->session.holder() == LinkHolder::Update));
}
}  // namespace
