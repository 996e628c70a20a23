#include <QCryptographicHash>
#include <QTimer>
#include <functional>
#include <map>

#include "about/about_query.h"
#include "acquisition/acquisition_run.h"
#include "app/firmware_command.h"
#include "app/headless.h"
#include "device_IO/flash_sectors.h"
#include "firmware/firmware_verify.h"
#include "firmware/flash_update.h"
#include "firmware/sector_files.h"
#include "hex_builder.h"
#include "station/hex_text.h"
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

const std::array<std::uint16_t, 10> kNewCodeStart{0x0041, 0x9000, 0xFFFF, 0xFFFF, 0xFFFF,
                                                  0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};

class FlashUpdateTest : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        op.real_waits = false;
        update = std::make_unique<FirmwareUpdate>(station->log, station->session, station->config);
        noteBefore();
    }
    // The station and the controller anew, the controller's flash kept in a file.
    void restart() {
        update.reset();
        station.reset();  // it closes its handle on the controller it was built on
        sim =
            std::make_unique<SimController>(path("flash.bin"), QString(), SimClock::skippingIdle());
        station = std::make_unique<Station>(op, *sim);
        station->config.free_space = AmpleSpace;
        station->config.start_dir = dir.path();
        update = std::make_unique<FirmwareUpdate>(station->log, station->session, station->config);
        noteBefore();
    }
    void noteBefore() {
        for (char s : {'H', 'G', 'F'}) before[s] = sim->flashSector(s);
        code_start_before = sim->codeStart();
    }
    QStringList image(bool with_g = true) {
        QStringList lines = HexWords(0x003E8000, h);
        if (with_g) lines << HexWords(0x003EA000, g);
        lines << HexWords(0x003EC000, f) << HexWords(0x003F7FF6, {0x0041, 0x9000});
        return lines << HexEnd();
    }
    void upgrade(const QStringList& lines) {
        upgradeBytes((lines.join("\r\n") + "\r\n").toLatin1());
    }
    void upgradeBytes(const QByteArray& bytes) {
        writeFile("image.hex", bytes);
        op.files.enqueue(path("image.hex"));
        op.answers.enqueue(true);
        update->run();
    }
    int framesOf(std::uint8_t code) {
        int n = 0;
        for (const auto& f : sim->writtenFrames()) n += f[1] == code;
        return n;
    }
    bool copySent() { return framesOf(0x12) > 0; }
    // The main sectors and the code start as they were before the update.
    void expectOldFirmware() {
        for (char s : {'H', 'G', 'F'}) EXPECT_EQ(sim->flashSector(s), before[s]) << s;
        EXPECT_EQ(sim->codeStart(), code_start_before);
        EXPECT_FALSE(op.messages().contains("Firmware updated... Please power cycle and restart"));
    }
    void expectNewFirmware(bool g_kept = false) {
        EXPECT_EQ(sim->flashSector('H'), Expected(h));
        EXPECT_EQ(sim->flashSector('G'), g_kept ? before['G'] : Expected(g));
        EXPECT_EQ(sim->flashSector('F'), Expected(f));
        EXPECT_EQ(sim->codeStart(), kNewCodeStart);
        EXPECT_EQ(LastOf(op.messages()), "Firmware updated... Please power cycle and restart");
    }

    std::unique_ptr<FirmwareUpdate> update;
    std::vector<std::uint16_t> h = Pattern(40, 0x1000);
    std::vector<std::uint16_t> g = Pattern(24, 0x2000);
    std::vector<std::uint16_t> f = Pattern(16, 0x3000);
    std::map<char, std::vector<std::uint16_t>> before;
    std::array<std::uint16_t, 10> code_start_before{};
};

TEST_F(FlashUpdateTest, ValidImageIsStagedVerifiedCopiedReadBackAndOnlyThenGivenItsCodeStart) {
    upgrade(image());
    const QByteArray bytes = (image().join("\r\n") + "\r\n").toLatin1();
    QStringList expected{"Image image.hex: SHA-256 " +
                             QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
                         "Radar controller (simulated) [SIM00001]", "Processing HEX file"};
    const auto row = [&](const char* sector, int lines, const char* read_text) {
        expected << QStringLiteral("Erasing Sector %1.. please wait").arg(sector)
                 << "Erasing complete";
        for (int i = 0; i < lines; ++i)
            expected << QStringLiteral("Writing 8 WORDS to Sector %1 at address offset of 0x%2")
                            .arg(sector)
                            .arg(8 * i, 4, 16, QLatin1Char('0'));
        expected << QStringLiteral("Sector %1writing complete").arg(sector)
                 << QStringLiteral("Reading data from Sector %1").arg(sector) << read_text
                 << "Data Verified";
    };
    row("E", 5, "Reading complete");
    row("D", 3, "Reading complete.");
    row("C", 2, "Reading complete.");
    expected << "Copying image to main frame.. please wait."
             << "Firmware updated... Please power cycle and restart";
    EXPECT_EQ(op.messages(), expected);
    EXPECT_TRUE(op.boxes.isEmpty());
    EXPECT_EQ(op.waits, QList<int>{5000});
    expectNewFirmware();
    // The code start goes last: after the copy and the main sectors' read-back.
    QList<int> codes;
    for (const auto& frame : sim->writtenFrames()) codes << frame[1];
    const auto copy = codes.indexOf(0x12);
    ASSERT_GE(copy, 0);
    EXPECT_LT(codes.indexOf(0x13), 0 + codes.size());
    EXPECT_EQ(codes.mid(copy), QList<int>({0x12, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x14}));
    EXPECT_EQ(op.filters, QStringList{"Firmware image (*.hex)|*.hex"});
    ASSERT_EQ(op.questions.size(), 1);
    EXPECT_EQ(op.questions[0],
              "About to Update Firmware. Do you want to continue?\n\nImage: " + path("image.hex") +
                  "\nStaged: image H into E, image G into D, image F into C");
    EXPECT_TRUE(op.kept
                    .filter("Image image.hex: main sectors replaced: H, G, F; keeping their "
                            "content: none")
                    .size() == 1);
    const QStringList report = ReadTextLines(path("out.txt"));
    ASSERT_EQ(report.size(), 8192);
    EXPECT_EQ(report[0], "0x3000  0x3000");
    EXPECT_EQ(ReadTextLines(path("sector_e.txt"))[0].left(8), "003EE000");
}

TEST_F(FlashUpdateTest, TheOperatorSeesTheStepAndOneBarFillingOnce) {
    upgrade(image());
    for (const char* step :
         {"Erasing E (1 of 3)", "Programming D (2 of 3)", "Reading back C (3 of 3)",
          "Reading H (1 of 3)", "Copying E, D and C into H, G and F", "Reading back F (3 of 3)",
          "Writing the code start"})
        EXPECT_TRUE(op.statuses.contains(step)) << step;
    EXPECT_EQ(op.maxima.size(), 1);  // one range for the whole update
    EXPECT_FALSE(op.beyond_maximum);
    int last = -1;
    for (const QString& mark : op.bar)
        if (mark.startsWith("pos ")) {
            EXPECT_GE(mark.mid(4).toInt(), last);
            last = mark.mid(4).toInt();
        }
    EXPECT_EQ(op.progress, op.progress_max);
}

TEST_F(FlashUpdateTest, UpdateSurvivesARestartOfTheSimulatedController) {
    restart();
    upgrade(image());
    SimController restarted(path("flash.bin"), QString(), SimClock::skippingIdle());
    EXPECT_EQ(restarted.flashSector('H'), Expected(h));
    EXPECT_EQ(restarted.flashSector('F'), Expected(f));
}

TEST_F(FlashUpdateTest, ChecksBeforeTheUpdate) {
    update->run();  // dialog cancelled
    EXPECT_TRUE(op.log.isEmpty());
    writeFile("image.hex", (image().join("\n") + "\n").toLatin1());
    op.files.enqueue(path("image.hex"));
    update->run();  // confirmation not Yes
    EXPECT_EQ(LastOf(op.messages()), "Firmware update cancelled");
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
    EXPECT_TRUE(op.boxes.isEmpty());
}

// Every check the file allows is made before the box opens; nothing is sent.
TEST_F(FlashUpdateTest, BrokenImagesAreRefusedBeforeTheConfirmation) {
    const QStringList good = image();
    QStringList wrong_sum = good, plus = good, odd = good, after_end = good, no_h = good,
                mixed = good;
    wrong_sum[2][12] = wrong_sum[2][12] == 'F' ? 'E' : 'F';
    plus[3][10] = '+';
    odd.insert(2, HexRecord(0, 0x8100, {1, 2, 3}));
    after_end << HexRecord(0, 0x8100, {1, 2});
    mixed.insert(2, HexRecord(2, 0, {0x10, 0x00}));
    no_h = QStringList(good.mid(HexWords(0x003E8000, h).size()));
    const QByteArray whole = (good.join("\n") + "\n").toLatin1();
    const struct {
        QByteArray bytes;
        const char* why;
    } cases[] = {
        {(wrong_sum.join("\n")).toLatin1(), "line 3 has a wrong checksum"},
        {(plus.join("\n")).toLatin1(), "line 4 holds a character that is not hexadecimal"},
        {"\xEF\xBB\xBF" + whole, "line 1 begins with a UTF-8 byte-order mark"},
        {QByteArray("\x7F"
                    "ELF\x02\x01\x01\0\0\0",
                    10),
         "line 1 does not begin with ':'"},
        {QByteArray(), "it ends without an end-of-file record: it is cut short"},
        {":" + QByteArray(10'000'000, 'F'), "line 1 is longer than its byte count says"},
        {whole.left(whole.size() / 2), "line "},  // cut in the middle of a record or after one
        {whole.left(whole.lastIndexOf(":00000001FF")), "it ends without an end-of-file record"},
        {whole.chopped(4), "line 16 is cut short"},  // in the end-of-file record
        {(odd.join("\n")).toLatin1(), "line 3 has an odd byte count (3)"},
        {(after_end.join("\n")).toLatin1(), "follows the end-of-file record"},
        {(no_h.join("\n")).toLatin1(), "it holds no data for sector H"},
        {(mixed.join("\n")).toLatin1(),
         "line 3 is an extended segment address record (02) in an image that also has extended "
         "linear address records (04): where the data belongs is ambiguous"},
    };
    for (const auto& c : cases) {
        op.boxes.clear();
        op.log.clear();
        upgradeBytes(c.bytes);
        ASSERT_EQ(op.boxes.size(), 1) << c.why;
        EXPECT_TRUE(
            op.boxes[0].startsWith("The firmware image " + path("image.hex") + " is refused: "))
            << op.boxes[0].toStdString();
        EXPECT_TRUE(op.boxes[0].contains(c.why)) << op.boxes[0].toStdString();
        EXPECT_TRUE(op.boxes[0].endsWith("Nothing was sent to the controller."));
        EXPECT_EQ(op.messages(), QStringList{"File is not recognised. Aborting ..."});
    }
    EXPECT_TRUE(op.questions.isEmpty());
    EXPECT_TRUE(sim->writtenFrames().empty());
    op.files.enqueue(path("gone.hex"));
    update->run();
    EXPECT_TRUE(LastOf(op.boxes).contains("it cannot be read (File not found)"));
    EXPECT_TRUE(sim->writtenFrames().empty());
}

// Legal HEX that the station once misread: each now writes exactly its words.
TEST_F(FlashUpdateTest, LowerCaseASplitCodeStartAndARecordBelowTheFlashWriteTheImagesWords) {
    QStringList lines = HexWords(0x003E8000, h);
    lines << HexUpper(0x0001) << HexRecord(0, 0x8000, {0xDE, 0xAD})  // far below
          << HexWords(0x003EA000, g) << HexWords(0x003EC000, f) << HexWords(0x003F7FF6, {0x0041})
          << HexWords(0x003F7FF7, {0x9000}) << HexEnd();
    upgrade(QStringList(lines.join("\n").toLower().split("\n")));
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join("\n").toStdString();
    expectNewFirmware();
    EXPECT_TRUE(
        op.messages().contains("Image image.hex: 1 record outside the main sectors is "
                               "not written"));
    EXPECT_TRUE(op.questions.value(0).endsWith(
        "image F into C\n1 record outside the main sectors is not written"));
}

TEST_F(FlashUpdateTest, ACopyTheControllerRefusesIsNoSuccessAndMayBeCopiedAgain) {
    for (const auto fault :
         {SimController::ReplyFault::ChecksumError, SimController::ReplyFault::UnexpectedData}) {
        sim->setReplyFault(0x12, fault);
        op.questions.clear();
        upgrade(image());  // answers Cancel to copying again
        ASSERT_EQ(op.questions.size(), 2);
        const QString reply = fault == SimController::ReplyFault::ChecksumError
                                  ? "reply 0xAA: CHECKSUM error!"
                                  : "reply 0xAB: UNEXPECTED_DATA error!";
        EXPECT_TRUE(op.questions[1].startsWith("The controller refused the copy (" + reply + ")."))
            << op.questions[1].toStdString();
        EXPECT_TRUE(
            op.questions[1].contains("Sector H still holds the old firmware.\nSector G "
                                     "still holds the old firmware."));
        EXPECT_TRUE(op.questions[1].endsWith("Copy again?"));
        EXPECT_FALSE(op.questions[1].contains("Do not power cycle"));  // nothing was copied
        // After Cancel a box still says what the sectors hold, and that it is safe.
        ASSERT_EQ(op.boxes.size(), 1);
        EXPECT_EQ(op.boxes[0], op.questions[1].chopped(QStringLiteral(" Copy again?").size()) +
                                   " The controller keeps its old firmware and starts as before.");
        op.boxes.clear();
        EXPECT_TRUE(op.waits.isEmpty());
        EXPECT_EQ(LastOf(op.messages()),
                  "Code start not written: the controller keeps its old code start");
        expectOldFirmware();
    }
    // Refused once, then copied when asked again.
    sim->setReplyFault(0x12, SimController::ReplyFault::None);
    SimFaultPlan plan;
    plan.copy_refusals = 1;
    sim->setFaultPlan(plan);
    op.files.enqueue(path("image.hex"));
    op.answers.enqueue(true);
    op.answers.enqueue(true);
    update->run();
    EXPECT_EQ(framesOf(0x12), 3 + 1);
    expectNewFirmware();
}

TEST_F(FlashUpdateTest, CopiedButNotAsStagedNamesWhatEachMainSectorHolds) {
    // The controller answers the copy but carries it out on H only.
    op.on_pump = [&] {
        if (LastOf(op.messages()) == "Copying image to main frame.. please wait.")
            sim->setFlashSector('D', before['G']);  // D now holds the old G again
    };
    upgrade(image());
    ASSERT_EQ(op.questions.size(), 2);
    EXPECT_TRUE(op.questions[1].startsWith(
        "The main sectors do not hold the staged image after the copy.\n\nSector H holds the new "
        "image.\nSector G still holds the old firmware.\nSector F holds the new image."))
        << op.questions[1].toStdString();
    EXPECT_EQ(sim->codeStart(), code_start_before);
}

TEST_F(FlashUpdateTest, AKeptSectorMisreadOnceIsReadAgainAndNotStagedWrong) {
    SimFaultPlan plan;
    plan.misread_once = 'G';
    sim->setFaultPlan(plan);
    upgrade(image(false));
    EXPECT_TRUE(op.questions.value(0).endsWith(
        "Staged: image H into E, present G (kept) into D, image F into C"));
    EXPECT_TRUE(op.messages().contains("Sector G is not in the image: it keeps its content"));
    EXPECT_EQ(op.kept.filter("Sector G: 1 reads differed from the one before").size(), 1);
    expectNewFirmware(true);
}

TEST_F(FlashUpdateTest, AMainSectorMisreadAfterTheCopyIsReadAgain) {
    bool armed = false;
    op.on_status = [&](const QString& status) {
        if (status == "Copying E, D and C into H, G and F" && !armed) {
            armed = true;
            SimFaultPlan plan;
            plan.misread_once = 'F';
            sim->setFaultPlan(plan);
        }
    };
    upgrade(image());
    EXPECT_TRUE(op.boxes.isEmpty());
    EXPECT_EQ(op.questions.size(), 1);
    expectNewFirmware();
}

// A staging fault ends the update at once with one message; the main sectors
// and the code start stay as they were.
TEST_F(FlashUpdateTest, AStagingFaultIsOneMessageAndLeavesTheOldFirmware) {
    const struct {
        std::function<void()> cause;
        const char* message;
    } cases[] = {
        {[&] { sim->setEraseStatus(4, 22); },
         "The firmware update stopped while erasing sector D (2 of 3): STATUS_FAIL_ERASE."},
        {[&] { sim->setProgramStatusAt(0x10, 30); },
         "The firmware update stopped while programming sector E (1 of 3): Error while writing "
         "offset_adr 0x0011: STATUS_FAIL_PROGRAM."},
        {[&] { sim->setProgramStatusAt(0x08, 77); },
         "The firmware update stopped while programming sector E (1 of 3): Error while writing "
         "offset_adr 0x0009: Undefined Error Code 77received."},
        {[&] { sim->setReplyFault(0x10, SimController::ReplyFault::NoReply); },
         "The firmware update stopped while programming sector E (1 of 3): Did not recive 2 data "
         "bytes (Received data do not match with what is expected Did not return any data!)."},
        {[&] { sim->setReplyFault(0x11, SimController::ReplyFault::Short, 100); },
         "The firmware update stopped while reading back sector E (1 of 3): the sector could not "
         "be read whole (Received data do not match with what is expected Data received do not "
         "match with what is expected. Received:100 ; Expected:16384)."},
    };
    for (const auto& c : cases) {
        restart();
        op.boxes.clear();
        c.cause();
        upgrade(image());
        ASSERT_EQ(op.boxes.size(), 1) << op.boxes.join("\n").toStdString();
        EXPECT_EQ(op.boxes[0],
                  QString(c.message) +
                      "\n\nThe main firmware is unchanged: nothing was copied into sectors H, G "
                      "and F, and the code start was not written. Run the update again.");
        EXPECT_EQ(LastOf(op.messages()),
                  "Code start not written: the controller keeps its old code start");
        EXPECT_FALSE(copySent());
        expectOldFirmware();
        EXPECT_EQ(sim->readTimeoutMs(), 500u);
    }
}

TEST_F(FlashUpdateTest, AWordThatReadsBackWrongFailsVerificationOnce) {
    std::vector<std::uint16_t> dirty(kFlashSectorWords, 0xFFFF);
    dirty[5000] = 0x1234;  // outside the image, so programming never touches it
    sim->setFlashSector('C', dirty);
    sim->setEraseStatus(5, 0);  // the erase reports success but does nothing
    upgrade(image());
    EXPECT_EQ(op.messages().count("Data does not match"), 1);
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes[0].startsWith("Verification failed\n\n"));
    EXPECT_TRUE(op.boxes[0].contains("the main firmware and the code start are unchanged"));
    EXPECT_EQ(ReadTextLines(path("out.txt"))[5000], "0xFFFF  0x1234");
    EXPECT_FALSE(copySent());
    expectOldFirmware();
}

// The link lost at every step: one message, and the main sectors and the code
// start either the old firmware or the new, never the code start before them.
TEST_F(FlashUpdateTest, ALostLinkAtAnyStepIsOneMessage) {
    const QStringList steps{"Erasing E (1 of 3)",
                            "Programming E (1 of 3)",
                            "Reading back E (1 of 3)",
                            "Reading G (2 of 3)",
                            "Programming C (3 of 3)",
                            "Reading H (1 of 3)",
                            "Copying E, D and C into H, G and F",
                            "Reading back G (2 of 3)",
                            "Writing the code start"};
    for (const QString& step : steps) {
        restart();
        op.boxes.clear();
        op.on_status = [&](const QString& status) {
            if (status == step) sim->unplugNow();
        };
        upgrade(image(step != "Reading G (2 of 3)"));
        op.on_status = nullptr;
        ASSERT_EQ(op.boxes.size(), 1) << step.toStdString() << "\n"
                                      << op.boxes.join("\n---\n").toStdString();
        const QString& box = op.boxes[0];
        EXPECT_TRUE(box.contains("the USB link to the controller was lost")) << box.toStdString();
        EXPECT_TRUE(box.contains("check the USB connection", Qt::CaseInsensitive))
            << box.toStdString();
        if (steps.indexOf(step) < steps.indexOf("Copying E, D and C into H, G and F")) {
            EXPECT_TRUE(box.contains(step.right(8))) << box.toStdString();
            EXPECT_TRUE(box.contains("The main firmware is unchanged")) << box.toStdString();
            expectOldFirmware();
        } else {
            EXPECT_EQ(sim->codeStart(), code_start_before) << step.toStdString();
        }
        EXPECT_FALSE(station->session.device_open());
        EXPECT_FALSE((station->session.holder() == LinkHolder::Update));
    }
}

TEST_F(FlashUpdateTest, ACodeStartThatDoesNotReadBackIsSaidWithWhatTheMainSectorsHold) {
    sim->setReplyFault(0x13, SimController::ReplyFault::ChecksumError);  // not carried out
    upgrade(image());
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(
        op.boxes[0].startsWith("Code Start Verification failed\n\nSectors H, G and F hold "
                               "the new image, verified, but the code start did not read "
                               "back as written (CHECKSUM error!)."))
        << op.boxes[0].toStdString();
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
    EXPECT_EQ(sim->codeStart(), code_start_before);
    EXPECT_FALSE(op.messages().contains("Firmware updated... Please power cycle and restart"));
}

TEST_F(FlashUpdateTest, APartialCopyIsNamedAndTheOperatorToldNotToPowerCycle) {
    SimFaultPlan plan;
    plan.copy_partial = "G";  // the first copy leaves G as it was
    sim->setFaultPlan(plan);
    upgrade(image());  // answers Cancel to copying again
    ASSERT_EQ(op.questions.size(), 2);
    EXPECT_TRUE(
        op.questions[1].contains("Sector H holds the new image.\nSector G still holds the "
                                 "old firmware.\nSector F holds the new image."))
        << op.questions[1];
    EXPECT_TRUE(op.questions[1].contains("Do not power cycle the controller"));
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes[0].contains("Sector G still holds the old firmware."));
    EXPECT_TRUE(op.boxes[0].contains("Do not power cycle the controller"));
    EXPECT_TRUE(
        op.boxes[0].endsWith("Run the update again with the same image: it copies the "
                             "staged image again and writes the code start once all "
                             "three sectors hold it."))
        << op.boxes[0];
    // What the simulated flash holds is what the box says.
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
    EXPECT_EQ(sim->flashSector('G'), before['G']);
    EXPECT_EQ(sim->flashSector('F'), Expected(f));
    EXPECT_EQ(sim->codeStart(), code_start_before);
    // Yes to copying again: the second copy is whole and the update ends well.
    sim->setFaultPlan(plan);
    op.questions.clear();
    op.files.enqueue(path("image.hex"));
    op.answers.enqueue(true);
    op.answers.enqueue(true);
    update->run();
    ASSERT_EQ(op.questions.size(), 2);
    EXPECT_TRUE(op.questions[1].contains("Do not power cycle the controller"));
    expectNewFirmware();
}

TEST_F(FlashUpdateTest, AStagedSectorMisreadOnceAndALostCodeStartReplyStillEndWhole) {
    bool armed = false;
    op.on_status = [&](const QString& status) {
        if (status == "Reading back C (3 of 3)" && !armed) {
            armed = true;
            SimFaultPlan plan;
            plan.misread_once = 'C';
            sim->setFaultPlan(plan);
        }
    };
    // The code start is written, but its reply never comes back.
    sim->setReplyFault(0x13, SimController::ReplyFault::NoReply);
    upgrade(image());
    EXPECT_TRUE(armed);
    EXPECT_EQ(op.kept.filter("Sector C read back unlike the image: reading it again").size(), 1);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|');
    expectNewFirmware();
}

TEST_F(FlashUpdateTest, ACodeStartThatStaysWrongIsSaidWithWhatItReads) {
    sim->setReplyFault(0x13, SimController::ReplyFault::ChecksumError);  // not carried out
    upgrade(image());
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(
        op.boxes[0].contains(QStringLiteral("The code start reads %1 %2, not the new "
                                            "image's 0041 9000.")
                                 .arg(Hex(code_start_before[0], 4), Hex(code_start_before[1], 4))))
        << op.boxes[0];
    EXPECT_TRUE(op.boxes[0].contains("Do not power cycle the controller"));
}

TEST_F(FlashUpdateTest, ARefusedCodeStartWriteFailsEvenWhereTheCodeStartAlreadyHoldsIt) {
    upgrade(image());
    expectNewFirmware();
    // The same image again: the code start already reads as the image's, but
    // the controller refuses the write. Nothing says it was written.
    sim->setReplyFault(0x13, SimController::ReplyFault::ChecksumError);
    op.boxes.clear();
    upgrade(image());
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes[0].startsWith("Code Start Verification failed")) << op.boxes[0];
    EXPECT_EQ(op.messages().filter("Firmware updated... Please power cycle and restart").size(), 1);
}

TEST_F(FlashUpdateTest, TheCopyIsTriedAtMostThreeTimesInOneUpdate) {
    sim->setReplyFault(0x12, SimController::ReplyFault::ChecksumError);  // every copy refused
    for (int i = 0; i < 6; ++i) op.answers.enqueue(true);                // Yes to every question
    writeFile("image.hex", (image().join("\r\n") + "\r\n").toLatin1());
    op.files.enqueue(path("image.hex"));
    update->run();
    EXPECT_EQ(framesOf(0x12), 3);
    // The confirmation, then "Copy again?" after the first and second copies only.
    ASSERT_EQ(op.questions.size(), 3);
    EXPECT_TRUE(op.questions[2].endsWith("Copy again?"));
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(op.boxes[0].endsWith("Run the update again.")) << op.boxes[0];
    expectOldFirmware();
}

// From the factory state: G and F are in the main sectors, D and C erased.
TEST_F(FlashUpdateTest, AnImageWithOnlySectorHLeavesGAndFAsTheyWere) {
    QStringList lines = HexWords(0x003E8000, h);
    lines << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
    upgrade(lines);
    const QStringList m = op.messages();
    EXPECT_TRUE(op.questions.value(0).endsWith(
        "Staged: image H into E, present G (kept) into D, present F (kept) into C"));
    EXPECT_TRUE(m.contains("Sector G is not in the image: it keeps its content"));
    EXPECT_TRUE(m.contains("Sector D differs from sector G: staging it again"));
    EXPECT_EQ(m.count("Data Verified"), 3);
    EXPECT_EQ(LastOf(m), "Firmware updated... Please power cycle and restart");
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
    EXPECT_EQ(sim->flashSector('G'), before['G']);
    EXPECT_EQ(sim->flashSector('F'), before['F']);
}

// An update that failed while staging leaves half-programmed spare sectors; a
// later image without G and F must not copy them into the main sectors.
TEST_F(FlashUpdateTest, HalfProgrammedStagingIsNeverCopied) {
    restart();
    sim->setProgramStatusAt(8, 12);
    upgrade(image());
    EXPECT_FALSE(copySent());
    EXPECT_NE(sim->flashSector('E'), Expected({}));  // half-programmed
    restart();                                       // the fault gone, the flash kept
    const auto g_before = before['G'], f_before = before['F'];
    QStringList only_h = HexWords(0x003E8000, h);
    only_h << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
    upgrade(only_h);
    EXPECT_EQ(LastOf(op.messages()), "Firmware updated... Please power cycle and restart");
    EXPECT_EQ(sim->flashSector('H'), Expected(h));
    EXPECT_EQ(sim->flashSector('G'), g_before);
    EXPECT_EQ(sim->flashSector('F'), f_before);
}

TEST_F(FlashUpdateTest, ACopyFrameThatNeverLeftIsNoSuccess) {
    op.on_status = [&](const QString& status) {
        if (status == "Copying E, D and C into H, G and F")
            sim->setWriteTimeout(true);  // the bridge stops taking frames
    };
    upgrade(image());
    ASSERT_EQ(op.boxes.size(), 1);
    EXPECT_TRUE(
        op.boxes[0].startsWith("The firmware update stopped while copying the staged "
                               "image into the main sectors: the copy command did not "
                               "reach the controller"))
        << op.boxes[0].toStdString();
    EXPECT_TRUE(op.waits.isEmpty());
    expectOldFirmware();
}

// A file the update cannot write ends it with the error box; the command
// layer's boxes reach the operator again afterwards.
TEST_F(FlashUpdateTest, AFileErrorEndsTheUpdateAndGivesTheBoxesBack) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("out.txt"));  // the comparison report cannot be written
    try {
        upgrade(image());
        ADD_FAILURE() << "no error";
    } catch (const StationError& e) {
        EXPECT_EQ(e.text(), "Cannot write " + path("out.txt"));
    }
    EXPECT_FALSE(copySent());
    EXPECT_TRUE(op.statuses.endsWith(QString()));
    sim->setReplyFault(0x00, SimController::ReplyFault::Short, 10);
    InfoWords words{};
    EXPECT_FALSE(station->session.commands().ReadControllerInfo(words));
    EXPECT_TRUE(op.boxes.contains("Unexpected data length"));
}

// A read-back that differs in its first, a middle or its last word does not
// match; the report holds every pair all the same.
TEST_F(FlashUpdateTest, ReadBackMismatchesAreFoundAtEveryWordOfTheSector) {
    std::vector<std::uint16_t> staged(kFlashSectorWords, 0xFFFF);
    std::copy(f.begin(), f.end(), staged.begin());
    WriteReadBackFile(path("image_f.txt"), 0x003EC000, staged);
    for (const int at : {0, 4096, 8191}) {
        std::vector<std::uint16_t> read = staged;
        read[at] ^= 0x0100;
        WriteReadBackFile(path("read_c.txt"), 0x003F2000, read);
        EXPECT_FALSE(update->CompareSectorFiles(0x003EC000, 0x003F2000, path("image_f.txt"),
                                                path("read_c.txt")))
            << at;
        EXPECT_NE(ReadTextLines(path("out.txt"))[at].left(6),
                  ReadTextLines(path("out.txt"))[at].mid(8, 6))
            << at;
    }
    WriteReadBackFile(path("read_c.txt"), 0x003F2000, staged);
    EXPECT_TRUE(update->CompareSectorFiles(0x003EC000, 0x003F2000, path("image_f.txt"),
                                           path("read_c.txt")));
    EXPECT_EQ(ReadTextLines(path("out.txt")).size(), 8192);
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

TEST_F(FlashUpdateTest, NothingInterleavesWithTheFlashCommandsAndStopSaysSo) {
    writeDefaultConfig();
    AcquisitionRun run(station->log, station->session, station->config);
    bool tried = false;
    op.on_pump = [&] {
        if (tried) return;
        tried = true;
        run.start();
        run.stop();
        update->run();
        EXPECT_FALSE(QueryAbout(station->session));
    };
    upgrade(image());
    EXPECT_TRUE(tried);
    const QStringList m = op.messages();
    EXPECT_TRUE(m.contains("Firmware update in progress. Start refused"));
    EXPECT_TRUE(m.contains(
        "Firmware update in progress: an update cannot be interrupted; it ends by itself"));
    EXPECT_TRUE(m.contains("Firmware update in progress. Aborting ..."));
    EXPECT_EQ(sim->triggerStarts(), 0);
    expectNewFirmware();
    EXPECT_FALSE((station->session.holder() == LinkHolder::Update));
}

// A large image is read off the GUI thread: the window's timers keep firing.
TEST_F(FlashUpdateTest, AHundredMegabyteImageIsCheckedWhileTheWindowAnswers) {
    QByteArray bytes = (image().mid(0, image().size() - 1).join("\n") + "\n").toLatin1();
    bytes += HexUpper(0x0001).toLatin1() + "\n";  // below the flash
    const QByteArray outside = HexRecord(0, 0x0000, {1, 2, 3, 4, 5, 6, 7, 8}).toLatin1() + "\n";
    const int copies = 100'000'000 / static_cast<int>(outside.size());
    bytes.reserve(bytes.size() + copies * outside.size() + 16);
    for (int i = 0; i < copies; ++i) bytes += outside;
    bytes += HexEnd().toLatin1() + "\n";
    int ticks = 0, ticks_when_checked = -1;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    op.on_status = [&](const QString& status) {
        if (status.isEmpty() && ticks_when_checked < 0) ticks_when_checked = ticks;
    };
    writeFile("image.hex", bytes);
    bytes.clear();
    op.files.enqueue(path("image.hex"));
    update->run();  // Cancel at the confirmation
    EXPECT_EQ(op.statuses.value(0), "Checking image.hex");
    EXPECT_GT(ticks_when_checked, 0);
    ASSERT_EQ(op.questions.size(), 1);
    EXPECT_TRUE(op.questions[0].endsWith(
        QStringLiteral("%1 records outside the main sectors are not written").arg(copies)));
    EXPECT_TRUE(sim->writtenFrames().empty());
}

class VerifyTest : public FlashUpdateTest {
  protected:
    QString verify() {
        writeFile("image.hex", (image().join("\n") + "\n").toLatin1());
        op.files.enqueue(path("image.hex"));
        op.boxes.clear();
        FirmwareVerify(station->log, station->session).run();
        return LastOf(op.boxes);
    }
};

TEST_F(VerifyTest, SaysWhichSectorsMatchAndWritesNothing) {
    EXPECT_EQ(
        verify(),
        "The controller against image.hex:\n\nSector H differs in 8192 words, the first at "
        "offset 0x0000.\nSector G differs in 8192 words, the first at offset 0x0000.\nSector F "
        "differs in 8191 words, the first at offset 0x0000.\nThe code start differs: 0x0040 "
        "0x8000, the image has 0x0041 0x9000.\n\nNothing was written.");
    for (std::uint8_t code : {0x0F, 0x10, 0x12, 0x13}) EXPECT_EQ(framesOf(code), 0);
    upgrade(image());
    sim->clearWrittenFrames();
    EXPECT_EQ(verify(),
              "The controller against image.hex:\n\nSector H matches.\nSector G "
              "matches.\nSector F matches.\nThe code start matches.\n\nNothing was "
              "written.");
    EXPECT_EQ(LastOf(op.messages()),
              "Verify image.hex: Sector H matches. Sector G matches. "
              "Sector F matches. The code start matches.");
    for (std::uint8_t code : {0x0F, 0x10, 0x12, 0x13}) EXPECT_EQ(framesOf(code), 0);
}

TEST_F(VerifyTest, AControllerThatCannotBeReadIsSaid) {
    sim->setReplyFault(0x11, SimController::ReplyFault::Short, 10);
    EXPECT_TRUE(verify().contains("\n\nSector H could not be read (Received data do not match"));
}
}  // namespace

namespace {
// What a command printed on a stream of its own.
class Captured {
  public:
    Captured() : file_(std::tmpfile()) {}
    ~Captured() { std::fclose(file_); }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    std::FILE* file() { return file_; }
    QString text() {
        std::fflush(file_);
        std::rewind(file_);
        QByteArray bytes;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
            bytes.append(buffer, static_cast<qsizetype>(n));
        return QString::fromUtf8(bytes);
    }

  private:
    std::FILE* file_;
};

class FirmwareCommandTest : public FlashUpdateTest {
  protected:
    int check(const QStringList& lines) {
        writeFile("image.hex", (lines.join("\n") + "\n").toLatin1());
        return zarv::app::CheckImageCommand(path("image.hex"), out.file(), err.file());
    }
    int verifyFromCommandLine() {
        writeFile("check.hex", (image().join("\n") + "\n").toLatin1());
        station.reset();  // the command opens the controller itself
        const int status =
            zarv::app::VerifyFirmwareCommand(*sim, path("check.hex"), out.file(), err.file());
        station = std::make_unique<Station>(op, *sim);
        update = std::make_unique<FirmwareUpdate>(station->log, station->session, station->config);
        return status;
    }
    Captured out, err;
};

TEST_F(FirmwareCommandTest, AnImageIsCheckedWithoutAControllerAndNamedByItsHash) {
    EXPECT_EQ(check(image()), 0);
    const QByteArray bytes = (image().join("\n") + "\n").toLatin1();
    const QString hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    EXPECT_EQ(out.text(),
              path("image.hex") +
                  ": accepted; main sectors H, G, F; code start 0x0041 0x9000; SHA-256 " + hash +
                  "\n");
    QStringList broken = image();
    broken[2].chop(2);
    broken[2] += "00";
    EXPECT_EQ(check(broken), zarv::app::kExitImageRefused);
    EXPECT_TRUE(err.text().contains("line 3 has a wrong checksum")) << err.text();
    QStringList no_code_start = image();
    no_code_start.removeAt(no_code_start.size() - 2);
    EXPECT_EQ(check(no_code_start), zarv::app::kExitImageRefused);
    EXPECT_TRUE(err.text().contains("holds no code start")) << err.text();
    EXPECT_EQ(zarv::app::CheckImageCommand(path("absent.hex"), out.file(), err.file()),
              zarv::app::kExitImageRefused);
    EXPECT_TRUE(sim->writtenFrames().empty());
}

TEST_F(FirmwareCommandTest, AVerifySaysByItsStatusWhetherTheControllerHoldsTheImage) {
    EXPECT_EQ(verifyFromCommandLine(), zarv::app::kExitFirmwareDiffers);
    upgrade(image());
    sim->clearWrittenFrames();
    EXPECT_EQ(verifyFromCommandLine(), 0);
    EXPECT_TRUE(out.text().contains(QStringLiteral("Image check.hex: SHA-256 ")));
    EXPECT_TRUE(
        out.text().contains("Verify check.hex: Sector H matches. Sector G matches. "
                            "Sector F matches. The code start matches."));
    sim->setReplyFault(0x11, SimController::ReplyFault::Short, 10);
    EXPECT_EQ(verifyFromCommandLine(), zarv::app::kExitControllerUnread);
    sim->unplugNow();
    EXPECT_EQ(verifyFromCommandLine(), zarv::app::kExitNoController);
    EXPECT_TRUE(err.text().contains("Zarv not found!"));
    for (std::uint8_t code : {0x0F, 0x10, 0x12, 0x13}) EXPECT_EQ(framesOf(code), 0);
}
}  // namespace
