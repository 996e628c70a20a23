// The hardware program's link (libftdi1 and libusb, unchanged) against the
// emulated bridge: every flow end to end, and the failures a real bridge brings.
#include <QRegularExpression>
#include <algorithm>

#include "about/about_query.h"
#include "bridge_fixture.h"
#include "firmware/flash_update.h"
#include "station/station_error.h"
#include "tests/act_when.h"
#include "tests/data_file_checker.h"
#include "tests/hex_builder.h"

using namespace zarv::about;
using namespace zarv::acquisition;
using namespace zarv::device_io;
using namespace zarv::firmware;
using namespace zarv::sim;
using namespace zarv::station;

void PrintTo(const UsbSetup& s, std::ostream* os) {
    *os << std::hex << "{type 0x" << int(s.request_type) << " req 0x" << int(s.request)
        << " value 0x" << s.value << " index 0x" << s.index << "}";
}

namespace {
using Clock = std::chrono::steady_clock;

std::vector<UsbSetup> VendorRequests(const std::vector<UsbSetup>& log) {
    std::vector<UsbSetup> out;
    for (const UsbSetup& s : log)
        if ((s.request_type & 0x60) == 0x40) out.push_back(s);
    return out;
}

TEST_F(BridgeTest, OpenSendsTheLinksSequenceAndQueuesTransfers) {
    ASSERT_TRUE(station->session.ensureOpen());
    EXPECT_EQ(LastOf(op.messages()), "Radar controller (simulated) [SIM00001]");
    const auto vendor = VendorRequests(chip->controlLog());
    ASSERT_EQ(vendor.size(), 6u);
    // libftdi1's own reset and 9600 baud at the open, then the link's reset and
    // its 5 ms latency timer; the time-outs and transfer size stay on this side.
    // The StopTrigger that follows every open purges both ways first.
    EXPECT_EQ(vendor[0], (UsbSetup{0x40, 0x00, 0, 1, 0}));
    EXPECT_EQ(vendor[1].request, 0x03);
    EXPECT_EQ(vendor[2], (UsbSetup{0x40, 0x00, 0, 1, 0}));
    EXPECT_EQ(vendor[3], (UsbSetup{0x40, 0x09, 5, 1, 0}));
    EXPECT_EQ(vendor[4].request, 0x00);
    EXPECT_EQ(vendor[5].request, 0x00);
    const auto frames = controller->writtenFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(IsStopTrigger(frames[0]));
    EXPECT_EQ(chip->latencyMs(), 5);
    ASSERT_TRUE(waitFor([&] { return usb->inTransfersPending(port) >= 7; }))
        << usb->inTransfersPending(port);
    const auto urbs = usb->submittedUrbs(port);
    int in_65536 = 0;
    for (const auto& u : urbs)
        if (u.endpoint == FtdiChip::kInEndpoint && u.length == 65536) ++in_65536;
    std::string lengths;
    for (const auto& u : urbs)
        lengths += std::to_string(u.endpoint) + ":" + std::to_string(u.length) + " ";
    EXPECT_GE(in_65536, 8) << lengths;
}

TEST_F(BridgeTest, AboutShowsTheControllersIdentity) {
    const auto about = QueryAbout(station->session);
    ASSERT_TRUE(about);
    EXPECT_EQ(about->serial_no, "1001");
    EXPECT_EQ(about->firmware_rev, "1.2");
    EXPECT_EQ(about->hardware_rev, "2.16");
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|').toStdString();
}

TEST_F(BridgeTest, ARunRecordsEveryBeamAsTheControllerSentIt) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("dwell_time=0.6", "dwell_time=0.3"));
    AcquisitionRun run(station->log, station->session, station->config);
    startAndStopWhen(run, [&] { return controller->triggerStarts() >= 4; });
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 3u);
    int seen[4] = {};
    for (const DwellBlock& b : blocks) {
        ++seen[b.beam];
        EXPECT_EQ(MismatchedRecords(b, 4, 10, 12000), 0) << b.file.toStdString();
        if (b.beam != 1) {
            // The stop takes back the transfer being filled: the dwell keeps its tail.
            EXPECT_GE(b.records.size(), 149) << b.file.toStdString();
        }
    }
    EXPECT_GE(seen[1], 1);
    EXPECT_EQ(seen[2], 1);
    EXPECT_EQ(seen[3], 1);
    EXPECT_EQ(op.messages().filter("Framing").size(), 0);
    EXPECT_EQ(op.messages().filter("lost").size(), 0);
}

// The bridge is not read for a second: it drops what it cannot hold and flags
// the next packet's status. The station breaks the stream there, counts the
// frames the overrun took from the arrivals after it, and every record sits at
// its frame's place.
TEST_F(BridgeTest, AnOverrunTheBridgeFlagsIsAGapInItsPlace) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=100")
                    .replace("gates=4", "gates=8")
                    .replace("integrations=10", "integrations=1")
                    .replace("dwell_time=0.6", "dwell_time=2.5"));
    SimFaultPlan plan;
    plan.stall_at = 0.6;
    plan.stall_for = 1.0;
    controller->setFaultPlan(plan, false);
    AcquisitionRun run(station->log, station->session, station->config);
    startAndStopWhen(run, [&] { return controller->triggerStarts() >= 2; });
    EXPECT_GT(controller->overrunBytes(), 500'000u);
    const auto journal = ReadJournals(path("data"));
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(journal.size(), 1u);
    ASSERT_GE(blocks.size(), 1u);
    // A slow machine (a sanitizer) may overrun the bridge again on its own:
    // every gap is an overrun in its place, and the stall's is the largest.
    const auto& gaps = journal[0].gaps;
    ASSERT_GE(gaps.size(), 1u) << op.messages().join('\n').toStdString();
    double missing = 0;
    std::size_t stall = 0;
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        EXPECT_EQ(gaps[i].cause, "overrun");
        missing += static_cast<double>(gaps[i].missing);
        if (gaps[i].missing > gaps[stall].missing) stall = i;
    }
    EXPECT_GT(gaps[stall].record, 5000);  // after what the link held
    // The frames the bridge dropped, as it counted them, against the journal's.
    const double lost_frames = static_cast<double>(controller->overrunBytes()) / 148;
    EXPECT_NEAR(missing, lost_frames, 100.0 * static_cast<double>(gaps.size()));
    // Holes the machine made on its own are dated by arrivals that a busy
    // machine delays: the records between them may sit as far off as the
    // frames those holes took, never further. A quiet machine makes none.
    const auto holes = controller->overrunHoles();
    ASSERT_FALSE(holes.empty());
    const std::uint64_t stall_hole = *std::max_element(holes.begin(), holes.end());
    const auto own_frames =
        static_cast<std::int64_t>((controller->overrunBytes() - stall_hole) / 148 + 1);
    const Placement p = CheckPlacedRecords(blocks[0], journal[0], 8, 1, 6000,
                                           100 + (holes.size() > 1 ? own_frames : 0));
    EXPECT_EQ(p.mismatched, 0);
    EXPECT_GT(p.checked, 10'000);
}

// At 180 kB/s the bridge fills whole 64 KiB transfers, and at the end of a dwell
// most of one is still on the link: the reader takes it before it ends.
TEST_F(BridgeTest, AFullTransferOnTheLinkAtTheDwellEndIsRecorded) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("gates=4", "gates=8")
                    .replace("dwell_time=0.6", "dwell_time=1.2"));
    AcquisitionRun run(station->log, station->session, station->config);
    startAndStopWhen(run, [&] { return controller->triggerStarts() >= 3; });
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 3u);
    for (const DwellBlock& b : blocks) {
        EXPECT_EQ(MismatchedRecords(b, 8, 10, 12000), 0) << b.file.toStdString();
    }
    // The last transfer of each dwell that ran its time is in its file: none
    // misses its end (the third is cut by the Stop), unless the machine was too
    // busy to read and the bridge overran, which the journal then says.
    const bool overran = controller->overrunBytes() > 0;
    for (const JournalEntry& entry : ReadJournals(path("data"))) {
        std::int64_t missing = 0;
        for (const JournalGap& gap : entry.gaps) {
            missing += gap.missing;
            EXPECT_TRUE(overran || entry.beam == 3 || gap.cause != "end")
                << entry.file.toStdString();
        }
        EXPECT_EQ(entry.written, entry.implied - missing) << entry.file.toStdString();
    }
}

TEST_F(BridgeTest, StopEndsADwellWithoutWaitingOutATimeOut) {
    writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=30"));
    AcquisitionRun run(station->log, station->session, station->config);
    Clock::time_point pressed;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (controller->triggerStarts() >= 1 && pressed == Clock::time_point()) {
            pressed = Clock::now();
            run.stop();
        }
    });
    poll.start();
    run.start();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
    ASSERT_NE(pressed, Clock::time_point());
    // Less than the link's 500 ms read time-out: the read in progress was cut short.
    EXPECT_LT(took.count(), 450) << "the run ended " << took.count() << " ms after Stop";
    RecordProperty("stop_ms", static_cast<int>(took.count()));
}

// A read that would wait ten seconds for bytes that never come returns as soon
// as it is aborted, whether it had begun waiting or not.
TEST_F(BridgeTest, AnAbortedReadReturnsInsteadOfWaitingOutItsTimeOut) {
    ASSERT_TRUE(station->session.ensureOpen());
    station->session.link().SetFTDeviceTimeouts(10000, 500);
    std::vector<std::uint8_t> buffer(1000);
    FT_STATUS status = FT_OK;
    std::uint32_t got = 1;
    const auto started = Clock::now();
    std::thread reader(
        [&] { got = station->session.link().ReadStream(buffer.data(), 1000, &status); });
    station->session.link().AbortReads();
    reader.join();
    const auto took = Clock::now() - started;
    station->session.link().ResumeReads();
    EXPECT_EQ(status, FT_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(took, std::chrono::seconds(9));
}

// Frames every 20 ms arrive in packets the latency timer cuts: a read of three
// frames takes them from several transfers, waits for the late ones, and a read
// of what never comes returns empty at the time-out.
TEST_F(BridgeTest, ReadsKeepTheirDeadlineAgainstSplitLateAndMissingData) {
    ASSERT_TRUE(station->session.ensureOpen());
    SweepParameters sweep;
    sweep.pulse_period = 1200000;  // 20 ms at 60 MHz
    sweep.gates = 36;
    ASSERT_EQ(station->session.commands().SetSweepParameters(sweep), 1);
    std::vector<std::uint8_t> frames(3 * 148);
    FT_STATUS status = FT_OK;
    auto started = Clock::now();
    ASSERT_TRUE(station->session.commands().StartTrigger());
    const std::uint32_t got = station->session.link().ReadStream(frames.data(), 3 * 148, &status);
    const auto took = Clock::now() - started;
    EXPECT_EQ(got, 3u * 148);
    EXPECT_GE(took, std::chrono::milliseconds(35));   // two frame periods at least
    EXPECT_LT(took, std::chrono::milliseconds(490));  // not the 500 ms time-out
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(frames[148 * f], 0xFE) << "frame " << f;
        EXPECT_EQ(frames[148 * f + 3], 0xFF) << "frame " << f;
    }
    ASSERT_TRUE(station->session.commands().StopTrigger());
    station->session.link().PurgeFTDeviceRx();
    started = Clock::now();
    EXPECT_EQ(station->session.link().ReadStream(frames.data(), 148, &status), 0u);
    const auto idle = Clock::now() - started;
    EXPECT_GE(idle, std::chrono::milliseconds(490));
    EXPECT_LT(idle, std::chrono::milliseconds(700));
}

TEST_F(BridgeTest, APurgeDropsWhatTheBridgeHeld) {
    ASSERT_TRUE(station->session.ensureOpen());
    station->session.link().tx_buffer.fill(0);
    station->session.link().tx_buffer[0] = 1;  // ReadControllerInfo: its reply is left unread
    station->session.link().tx_buffer[2] = 1;
    // At once: the reply is on its way in the transfer the bridge is filling.
    ASSERT_EQ(station->session.link().WriteFTDevice(50), 50u);
    station->session.link().PurgeFTDeviceRx();
    EXPECT_EQ(station->session.link().ReadFTDevice(200), 0u);
    // Later: the reply has reached the link's ring.
    ASSERT_EQ(station->session.link().WriteFTDevice(50), 50u);
    ASSERT_TRUE(waitFor([&] {
        std::uint32_t queued = 0;
        return api.FT_GetQueueStatus(station->session.link().ft_handle, &queued) == FT_OK &&
               queued > 0;
    }));
    station->session.link().PurgeFTDeviceRx();
    EXPECT_EQ(station->session.link().ReadFTDevice(200), 0u);
    InfoWords words{};
    EXPECT_TRUE(station->session.commands().ReadControllerInfo(words));
    EXPECT_EQ(words[1], 1001u);
}

TEST_F(BridgeTest, AnUnplugMidDwellEndsTheRunAndStartWorksAfterReplug) {
    writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=30"));
    AcquisitionRun run(station->log, station->session, station->config);
    // The bridge is pulled a hundred frames into the dwell.
    ActWhen pull([&] { return controller->framesProduced() >= 100; }, [&] { usb->unplug(port); },
                 [&] { run.stop(); });
    QElapsedTimer t;
    t.start();
    run.start();
    EXPECT_LT(t.elapsed(), 5000);
    ASSERT_TRUE(pull.acted());
    EXPECT_EQ(op.messages().filter("Stream lost").size(), 1)
        << op.messages().join('\n').toStdString();

    port = usb->plug(*chip);
    writeConfig(DefaultConfigText(path("data2"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("dwell_time=0.6", "dwell_time=0.3"));
    const int before = controller->triggerStarts();
    startAndStopWhen(run, [&] { return controller->triggerStarts() >= before + 3; });
    const auto blocks = ReadDwellBlocks(path("data2"));
    ASSERT_GE(blocks.size(), 2u) << op.messages().join('\n').toStdString();
    for (const DwellBlock& b : blocks)
        EXPECT_EQ(MismatchedRecords(b, 4, 10, 12000), 0) << b.file.toStdString();
}

TEST_F(BridgeTest, AReplugOutsideARunLeavesNoDeadHandle) {
    ASSERT_TRUE(QueryAbout(station->session));
    port = usb->replug(port);
    const auto about = QueryAbout(station->session);
    ASSERT_TRUE(about);
    EXPECT_EQ(about->serial_no, "1001");
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|').toStdString();
    EXPECT_TRUE(op.messages().contains("USB device was lost: opening it again"));
    EXPECT_EQ(op.messages().count("Radar controller (simulated) [SIM00001]"), 2);
}

class BridgeUpdateTest : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        for (int i = 0; i < 40; ++i) h.push_back(static_cast<std::uint16_t>(0x1000 + 7 * i));
        QStringList lines;
        lines << HexWords(0x003E8000, h) << HexWords(0x003EA000, h) << HexWords(0x003EC000, h)
              << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
        QFile image(path("image.hex"));
        ASSERT_TRUE(image.open(QIODevice::WriteOnly));
        image.write((lines.join("\r\n") + "\r\n").toLatin1());
        op.real_waits = false;
    }
    void upgrade() {
        op.files.enqueue(path("image.hex"));
        op.answers.enqueue(true);
        FirmwareUpdate update(station->log, station->session, station->config);
        update.run();
    }
    bool mainSectorHoldsTheImage() const {
        std::vector<std::uint16_t> main_h = controller->flashSector('H');
        main_h.resize(h.size());
        return main_h == h;
    }
    std::vector<std::uint16_t> h;
};

TEST_F(BridgeUpdateTest, AnUpdateAfterAReplugStagesVerifiesAndCopies) {
    ASSERT_TRUE(QueryAbout(station->session));
    port = usb->replug(port);
    upgrade();
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|').toStdString();
    EXPECT_EQ(op.messages().count("Data Verified"), 3);
    EXPECT_TRUE(mainSectorHoldsTheImage());
}

TEST_F(BridgeUpdateTest, AReplugDuringAnUpdateFailsItAndTheNextOneWorks) {
    bool pulled = false;
    op.on_pump = [&] {
        if (!pulled && op.messages().contains("Erasing complete")) {
            port = usb->replug(port);
            pulled = true;
        }
    };
    try {
        upgrade();
    } catch (const StationError&) {
    }
    ASSERT_TRUE(pulled);
    // The command the replug cut ends the update with one message; the next
    // update opens the link again.
    ASSERT_EQ(op.boxes.size(), 1) << op.boxes.join('|').toStdString();
    EXPECT_TRUE(
        op.boxes[0].startsWith("The firmware update stopped while programming sector E (1 "
                               "of 3): the USB link to the controller was lost."));
    EXPECT_FALSE(mainSectorHoldsTheImage());
    op.on_pump = nullptr;
    op.boxes.clear();
    op.log.clear();
    upgrade();
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|').toStdString();
    EXPECT_EQ(op.messages().count("Data Verified"), 3);
    EXPECT_TRUE(mainSectorHoldsTheImage());
}

TEST_F(BridgeTest, AReplugBetweenAboutAndStartLeavesStartWorking) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("dwell_time=0.6", "dwell_time=0.3"));
    ASSERT_TRUE(QueryAbout(station->session));
    port = usb->replug(port);
    AcquisitionRun run(station->log, station->session, station->config);
    startAndStopWhen(run, [&] { return controller->triggerStarts() >= 2; });
    EXPECT_TRUE(op.messages().contains("USB device was lost: opening it again"));
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 1u);
    EXPECT_GE(blocks.front().records.size(), 149);
    for (const DwellBlock& b : blocks) EXPECT_EQ(MismatchedRecords(b, 4, 10, 12000), 0);
}

TEST_F(BridgeTest, WithTwoBridgesTheFirstListedIsOpenedUnlessASerialIsNamed) {
    usb->plug(otherChip(nullptr, "FT4ZQ7B1", "USB <-> Serial Converter"));
    station->session.link().GetFTDeviceCount();
    ASSERT_EQ(station->session.link().device_count, 2u);
    ASSERT_EQ(station->session.link().GetFTDeviceSerialNo(0), FT_OK);
    const QString first_serial = station->session.link().last_device_text;
    ASSERT_EQ(station->session.link().GetFTDeviceDescription(0), FT_OK);
    const QString first_description = station->session.link().last_device_text;
    ASSERT_TRUE(station->session.ensureOpen());
    EXPECT_EQ(LastOf(op.messages()), first_description + " [" + first_serial + "]");

    writeConfig(DefaultConfigText(path("data")) + "device_serial=SIM00001\n");
    station->config.ReadConfig();
    EXPECT_TRUE(op.messages().contains("device_serial: SIM00001"));
    station->session.markLost();
    ASSERT_TRUE(station->session.ensureOpen());
    EXPECT_EQ(LastOf(op.messages()), "Radar controller (simulated) [SIM00001]");
    InfoWords words{};
    EXPECT_TRUE(station->session.commands().ReadControllerInfo(words));
}

TEST_F(BridgeTest, ANamedSerialThatIsNotAttachedIsSaidSo) {
    writeConfig(DefaultConfigText(path("data")) + "device_serial=NOPE1234\n");
    station->config.ReadConfig();
    EXPECT_FALSE(station->session.ensureOpen());
    const QStringList m = op.messages();
    EXPECT_EQ(m.value(m.size() - 2), "USB device not found..");
    EXPECT_TRUE(LastOf(m).contains("NOPE1234")) << LastOf(m).toStdString();
}

TEST_F(BridgeTest, ABridgeHeldElsewhereIsToldApartFromNoBridge) {
    usb->unplug(port);
    EXPECT_FALSE(station->session.ensureOpen());
    EXPECT_EQ(LastOf(op.messages()), "USB device not found..");

    usb->plug(otherChip(controller.get(), "SIM00001", "Radar controller (simulated)"), true);
    EXPECT_FALSE(station->session.ensureOpen());
    const QString why = LastOf(op.messages());
    EXPECT_TRUE(
        why.startsWith("USB bridge Radar controller (simulated) [SIM00001] is attached "
                       "but cannot be opened: its interface cannot be claimed"))
        << why.toStdString();
    EXPECT_TRUE(why.endsWith("See Troubleshooting in the README.")) << why.toStdString();
}
}  // namespace
