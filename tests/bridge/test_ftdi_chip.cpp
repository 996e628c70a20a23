// The bridge model on its own: what goes on the wire, and what it answers.
#include <gtest/gtest.h>

#include "simulator/ftdi_chip.h"
#include "simulator/sim_controller.h"

using namespace zarv::sim;

namespace {
TEST(FtdiChip, EveryPacketIsLedByTheStatusBytes) {
    EXPECT_EQ(FtdiChip::packetize({}), (std::vector<std::uint8_t>{0x31, 0x60}));
    std::vector<std::uint8_t> payload(511);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
    const auto wire = FtdiChip::packetize(payload);
    ASSERT_EQ(wire.size(), 512u + 3u);
    EXPECT_EQ(wire[0], 0x31);
    EXPECT_EQ(wire[2], 0);
    EXPECT_EQ(wire[511], 509 & 0xFF);
    EXPECT_EQ(wire[512], 0x31);
    EXPECT_EQ(wire[513], 0x60);
    EXPECT_EQ(wire[514], 510 & 0xFF);
    // After an overrun only the first packet says so, in its line status.
    const auto flagged = FtdiChip::packetize(payload, true);
    EXPECT_EQ(flagged[1], 0x62);
    EXPECT_EQ(flagged[513], 0x60);
    EXPECT_EQ(FtdiChip::payloadRoom(65536), 128u * 510u);
    EXPECT_EQ(FtdiChip::payloadRoom(100), 510u);
}

TEST(FtdiChip, AnswersDescriptorsAndVendorRequests) {
    SimController controller;
    FtdiChip chip(&controller);
    EXPECT_EQ(chip.serial(), "SIM00001");
    const auto serial = chip.control({0x80, 6, 0x0303, 0x0409, 255}, nullptr);
    ASSERT_TRUE(serial);
    ASSERT_EQ(serial->size(), 2u + 2u * 8u);
    EXPECT_EQ((*serial)[1], 3);
    EXPECT_EQ((*serial)[2], 'S');
    EXPECT_EQ((*serial)[3], 0);
    const auto cut = chip.control({0x80, 6, 0x0302, 0x0409, 4}, nullptr);
    EXPECT_EQ(cut->size(), 4u);  // never more than the host asked for
    EXPECT_TRUE(chip.control({0x40, 0x09, 7, 1, 0}, nullptr));
    EXPECT_EQ(chip.latencyMs(), 7);
    EXPECT_EQ(*chip.control({0xC0, 0x0A, 0, 1, 1}, nullptr), std::vector<std::uint8_t>{7});
    EXPECT_EQ(chip.control({0xC0, 0x05, 0, 1, 2}, nullptr)->size(), 2u);
    EXPECT_FALSE(chip.control({0x40, 0x7E, 0, 1, 0}, nullptr));  // stalled
    const auto d = chip.descriptors();
    ASSERT_EQ(d.size(), 18u + 32u);
    EXPECT_EQ(d[8] | d[9] << 8, 0x0403);
    EXPECT_EQ(d[10] | d[11] << 8, 0x6014);
}

TEST(FtdiChip, AFrameSplitOverTransfersReachesTheControllerWhole) {
    SimController controller;
    FtdiChip chip(&controller);
    std::uint8_t frame[50] = {1, 0, 1};  // the info command
    chip.bulkOut(frame, 30);
    EXPECT_TRUE(controller.writtenFrames().empty());
    chip.bulkOut(frame + 30, 20);
    ASSERT_EQ(controller.writtenFrames().size(), 1u);
    const auto reply = chip.takePayload(512).bytes;
    EXPECT_EQ(reply.size(), 200u);
    // A purge of what the chip holds for the host leaves nothing to send.
    chip.bulkOut(frame, 50);
    ASSERT_TRUE(chip.control({0x40, 0x00, 2, 1, 0}, nullptr));
    EXPECT_TRUE(chip.takePayload(512).bytes.empty());
}
}  // namespace
