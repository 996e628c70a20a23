#include "device_IO/command_frame.h"
#include "device_IO/controller_commands.h"
#include "station_fixture.h"

using namespace zarv::device_io;
using namespace zarv::sim;

namespace {
using Bytes = std::vector<std::uint8_t>;

class CommandTest : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        ASSERT_NE(station->session.link().OpenController(), UsbLink::kNotOpen);
        sim->clearWrittenFrames();
    }
    std::array<std::uint8_t, 50> lastFrame() { return sim->writtenFrames().back(); }
    Bytes head(int n) {
        const auto f = lastFrame();
        return Bytes(f.begin(), f.begin() + n);
    }
    ControllerCommands& cmd() { return station->session.commands(); }
};

TEST_F(CommandTest, FramesOfTheCommandSet) {
    InfoWords info{};
    EXPECT_TRUE(cmd().ReadControllerInfo(info));
    EXPECT_EQ(head(3), (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(cmd().CopyImageToMainFrame(), 1);
    EXPECT_EQ(head(3), (Bytes{0x01, 0x12, 0x13}));
    EXPECT_EQ(cmd().SetBeamDirection(2), 1);
    EXPECT_EQ(head(4), (Bytes{0x02, 0x07, 0x02, 0x07}));
    cmd().SetBeamDirection(3);
    EXPECT_EQ(head(4), (Bytes{0x02, 0x07, 0x03, 0x06}));
    EXPECT_EQ(cmd().EraseSector("A"), 2);
    EXPECT_EQ(head(4), (Bytes{0x02, 0x0F, 0x07, 0x0A}));
    cmd().EraseSector("H");
    EXPECT_EQ(head(4), (Bytes{0x02, 0x0F, 0x00, 0x0D}));
    EXPECT_TRUE(cmd().StopTrigger());
    EXPECT_EQ(head(4), (Bytes{0x02, 0x03, 0x00, 0x01}));
    EXPECT_TRUE(cmd().StartTrigger());
    EXPECT_EQ(head(4), (Bytes{0x02, 0x03, 0x01, 0x00}));
    cmd().StopTrigger();
    EXPECT_TRUE(op.boxes.isEmpty());
}

TEST_F(CommandTest, ProgramSectorBlockFrames) {
    BlockWords words{};
    for (int i = 0; i < 16; ++i)
        words[i] = static_cast<std::uint16_t>(0xFF00 | i);  // ANDs into erased flash
    cmd().EraseSector("C");
    EXPECT_EQ(cmd().ProgramSectorBlock(words, 16, "C", 0x1FF0), 2);
    const auto f = lastFrame();
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 5), (Bytes{0x24, 0x10, 0x05, 0x1F, 0xF0}));
    std::uint8_t sum = 0;
    for (int i = 0; i <= 0x24; ++i) sum ^= f[i];
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(f[5 + 2 * i], 0xFF);
        EXPECT_EQ(f[6 + 2 * i], i);
    }
    EXPECT_EQ(f[0x25], sum);
    EXPECT_EQ(cmd().ProgramSectorBlock(words, 0, "C", 0x0102), 2);
    EXPECT_EQ(head(6), (Bytes{0x04, 0x10, 0x05, 0x01, 0x02,
                              static_cast<std::uint8_t>(0x04 ^ 0x10 ^ 0x05 ^ 0x01 ^ 0x02)}));
}

TEST_F(CommandTest, AStrayByteAfterAReplyIsPurgedBeforeTheNextCommand) {
    sim->setReplyFault(+CommandCode::SetFrequencies, SimController::ReplyFault::StrayByteAfter);
    EXPECT_EQ(cmd().SetFrequencies(1, 2, 3, 4), 1);
    EXPECT_EQ(cmd().SetAmplitudes(1, 2, 3, 4), 1);
    EXPECT_EQ(station->session.link().rx_buffer[0], +ReplyCode::Ack);
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|');
}

TEST_F(CommandTest, FillerKeepsBytesOfEarlierFrames) {
    SweepParameters sweep;
    sweep.pulse_period = 0x11223344;
    sweep.audio_enable = 1;
    cmd().SetSweepParameters(sweep);
    const auto sweep_frame = lastFrame();
    EXPECT_EQ(sweep_frame[0], 26);
    EXPECT_EQ(sweep_frame[2], 0x11);
    cmd().SetBeamDirection(1);
    const auto beam_frame = lastFrame();
    // L = 2: checksum at 3, then the sweep frame's bytes from 4 on.
    EXPECT_EQ(beam_frame[3], 0x02 ^ 0x07 ^ 0x01);
    for (int i = 4; i < 50; ++i) EXPECT_EQ(beam_frame[i], sweep_frame[i]) << i;
    EXPECT_EQ(sim->programmed().sweep.pulse_period, 0x11223344u);
}

TEST_F(CommandTest, ValuesReachTheController) {
    cmd().SetFrequencies(0x40000000, 0x219, 3, 4);
    cmd().SetAmplitudes(0xFFF, 2, 3, 0x800);
    cmd().SetDacLevels(2, 4);
    const auto p = sim->programmed();
    EXPECT_EQ(p.frequencies, (std::array<std::uint32_t, 4>{0x40000000, 0x219, 3, 4}));
    EXPECT_EQ(p.amplitudes, (std::array<std::uint16_t, 4>{0xFFF, 2, 3, 0x800}));
    EXPECT_EQ(p.dac, (std::array<std::uint16_t, 2>{2, 4}));
}

TEST_F(CommandTest, SendCommandBoxesInOrder) {
    sim->setReplyFault(0x07, SimController::ReplyFault::ChecksumError);
    EXPECT_EQ(cmd().SetBeamDirection(1), 1);
    EXPECT_EQ(op.boxes, QStringList{"CHECKSUM error!"});
    op.boxes.clear();
    sim->setReplyFault(0x07, SimController::ReplyFault::UnexpectedData);
    EXPECT_EQ(cmd().SetBeamDirection(1), 1);
    EXPECT_EQ(op.boxes, QStringList{"UNEXPECTED_DATA error!"});
    op.boxes.clear();
    sim->setReplyFault(0x07, SimController::ReplyFault::NoReply);
    EXPECT_EQ(cmd().SetBeamDirection(1), 0);
    EXPECT_EQ(op.boxes, QStringList({"Received data do not match with what is expected",
                                     "Did not return any data!"}));
    op.boxes.clear();
    sim->setReplyFault(0x00, SimController::ReplyFault::ChecksumError);
    InfoWords info{};
    info[1] = 42;
    EXPECT_FALSE(cmd().ReadControllerInfo(info));
    EXPECT_EQ(op.boxes, QStringList({"Received data do not match with what is expected",
                                     "CHECKSUM error!", "Unexpected data length"}));
    EXPECT_EQ(info[1], 42u);  // untouched
}

TEST_F(CommandTest, WriteTimeOutIsShownAndTheReadStillMade) {
    sim->setWriteTimeout(true);
    EXPECT_EQ(cmd().SetDacLevels(1, 2), 0);
    EXPECT_EQ(op.boxes, QStringList({"USB Device Write TimeOut.",
                                     "Received data do not match with what is expected",
                                     "Did not return any data!"}));
    EXPECT_FALSE(cmd().StopTrigger());
}

TEST_F(CommandTest, ShortReadSectorLeavesTheArray) {
    sim->setReplyFault(0x11, SimController::ReplyFault::Short, 100);
    SectorWords words(kFlashSectorWords, 7);
    EXPECT_FALSE(cmd().ReadSector("E", words));
    EXPECT_EQ(
        op.boxes,
        QStringList(
            {"Received data do not match with what is expected",
             "Data received do not match with what is expected. Received:100 ; Expected:16384"}));
    EXPECT_EQ(words[0], 7);
    sim->setReplyFault(0x14, SimController::ReplyFault::Short, 10);
    CodeStartWords block{};
    EXPECT_FALSE(cmd().ReadCodeStart(block));
    EXPECT_EQ(LastOf(op.boxes), "Unexpected data length");
}

TEST_F(CommandTest, FlashCommandsRestoreTheTimeOutsWhateverHappens) {
    sim->setReplyFault(0x0F, SimController::ReplyFault::NoReply);
    EXPECT_EQ(cmd().EraseSector("E"), 0);
    EXPECT_EQ(sim->readTimeoutMs(), 500u);
    EXPECT_EQ(sim->writeTimeoutMs(), 500u);
}

TEST_F(CommandTest, UnknownSectorSendsNothing) {
    BlockWords words{};
    SectorWords sector;
    EXPECT_EQ(cmd().EraseSector("I"), 0);
    EXPECT_EQ(cmd().EraseSector("a"), 0);
    EXPECT_EQ(cmd().ProgramSectorBlock(words, 1, "", 0), 0);
    EXPECT_FALSE(cmd().ReadSector("Z", sector));
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
}

TEST_F(CommandTest, InformationBlockDecodes) {
    sim->setInfoWord(0, 1);
    sim->setInfoWord(1, 12345);
    InfoWords info{};
    ASSERT_TRUE(cmd().ReadControllerInfo(info));
    EXPECT_EQ(info[0], 1u);
    EXPECT_EQ(info[1], 12345u);
    EXPECT_EQ(info[2], 0x00010002u);
}

TEST(FlashStatusText, NamedAndGeneratedTexts) {
    FlashStatusText t;
    EXPECT_EQ(t.text(0), "STATUS_SUCCESS");
    EXPECT_EQ(t.text(31), "STATUS_FAIL_ZERO_BIT_ERROR");
    EXPECT_EQ(t.text(40), "STATUS_FAIL_VERIFY");
    EXPECT_EQ(t.text(7), "Undefined Error Code 7received");
    EXPECT_EQ(t.text(41), "Undefined Error Code 41received");
    EXPECT_EQ(t.text(255), "Undefined Error Code 255received");
}

TEST(FrameChecksum, IncludesTheLengthByte) {
    const std::uint8_t copy[] = {0x01, 0x12};
    EXPECT_EQ(FrameChecksum(copy), 0x13);
    TCommandFrame frame(0x02, 26);
    std::array<std::uint8_t, 50> tx{};
    tx.fill(0xEE);
    PlaceFrame(frame, tx);
    EXPECT_EQ(tx[27], FrameChecksum(tx.data()));
    EXPECT_EQ(tx[28], 0xEE);
}
}  // namespace
