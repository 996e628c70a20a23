#include "station_fixture.h"

using namespace zarv::device_io;
using namespace zarv::sim;
using namespace zarv::station;

namespace {
using UsbLinkTest = StationFixture;

TEST_F(UsbLinkTest, NoDeviceIsNotOpen) {
    sim->setDeviceCount(0);
    EXPECT_EQ(station->session.link().OpenController(), "NotOpen");
    EXPECT_EQ(station->session.link().device_count, 0u);
    EXPECT_FALSE(station->session.ensureOpen());
    EXPECT_EQ(op.messages(), QStringList{"USB device not found.."});
    EXPECT_TRUE(op.boxes.isEmpty());
}

TEST_F(UsbLinkTest, OpensDeviceZeroOfTwo) {
    sim->setDeviceCount(2);
    EXPECT_EQ(station->session.link().OpenController(), "Radar controller (simulated) [SIM00001]");
    EXPECT_EQ(station->session.link().device_count, 2u);
}

TEST_F(UsbLinkTest, LongTextsAreCutTo49Characters) {
    const QString serial = QString(60, 'S');
    const QString description = QString(70, 'd');
    sim->setDeviceTexts(serial, description);
    EXPECT_EQ(station->session.link().OpenController(),
              QString(49, 'd') + " [" + QString(49, 'S') + "]");
}

TEST_F(UsbLinkTest, FailedDescriptionListingLeavesItEmpty) {
    sim->setListStatus(FT_OPEN_BY_DESCRIPTION, FT_IO_ERROR);
    EXPECT_EQ(station->session.link().OpenController(), " [SIM00001]");
    EXPECT_EQ(station->session.link().lastStatus(), FT_IO_ERROR);
    EXPECT_EQ(station->session.link().lastErrorText(),
              "GetFTDeviceDescription - General IO Error...");
}

TEST_F(UsbLinkTest, SetupBoxesDoNotStopTheOpen) {
    sim->setLatencyStatus(4);
    sim->setUsbParametersStatus(6);
    EXPECT_TRUE(station->session.ensureOpen());
    EXPECT_EQ(op.boxes, QStringList({"FT_SetLatencyTimer setup failed: 4",
                                     "FT_SetUSBParameters setup failed: 6"}));
    EXPECT_EQ(op.messages(), QStringList{"Radar controller (simulated) [SIM00001]"});
}

TEST_F(UsbLinkTest, RefusedOpenIsNotOpen) {
    sim->setOpenStatus(FT_DEVICE_NOT_OPENED);
    EXPECT_FALSE(station->session.ensureOpen());
    EXPECT_FALSE(station->session.device_open());
    EXPECT_EQ(station->session.link().lastErrorText(),
              "Open_USB_Device_By_Serial_Number - Device Not Opened...");
}

TEST_F(UsbLinkTest, EnsureDeviceOpenLogsOnce) {
    EXPECT_TRUE(station->session.ensureOpen());
    EXPECT_TRUE(station->session.ensureOpen());
    EXPECT_EQ(op.messages().size(), 1);
}

TEST_F(UsbLinkTest, ReopensAfterTheRunClearedDeviceOpen) {
    ASSERT_TRUE(station->session.ensureOpen());
    station->session.markLost();  // as a run does when the stream broke
    EXPECT_TRUE(station->session.ensureOpen());
    InfoWords info{};
    EXPECT_TRUE(station->session.commands().ReadControllerInfo(info));
    EXPECT_EQ(info[1], 1001u);
}

TEST_F(UsbLinkTest, UnpluggedLinkFailsEveryCall) {
    ASSERT_TRUE(station->session.ensureOpen());
    sim->unplugNow();
    FT_STATUS status = FT_OK;
    EXPECT_EQ(station->session.link().ReadFTDevice(100, &status), 0u);
    EXPECT_EQ(status, FT_IO_ERROR);
    EXPECT_EQ(station->session.link().WriteFTDevice(50), 0u);
    station->session.link().GetFTDeviceCount();
    EXPECT_EQ(station->session.link().device_count, 0u);
}

// A replug kills the handle; whatever flow comes next opens the controller anew
// instead of failing on the dead one.
TEST_F(UsbLinkTest, AReplugOutsideARunIsMetWithOneReopen) {
    ASSERT_TRUE(station->session.ensureOpen());
    sim->replugNow();
    EXPECT_TRUE(station->session.ensureOpen());
    EXPECT_EQ(op.messages(), QStringList({"Radar controller (simulated) [SIM00001]",
                                          "USB device was lost: opening it again",
                                          "Radar controller (simulated) [SIM00001]"}));
    InfoWords info{};
    EXPECT_TRUE(station->session.commands().ReadControllerInfo(info));
    EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join('|').toStdString();
}

TEST_F(UsbLinkTest, AFailingCallMarksTheLinkLostAndTheNextFlowReopensOnce) {
    ASSERT_TRUE(station->session.ensureOpen());
    sim->unplugNow();
    EXPECT_EQ(station->session.link().WriteFTDevice(50), 0u);
    EXPECT_TRUE(station->session.link().HandleGone());
    EXPECT_FALSE(station->session.ensureOpen());
    EXPECT_EQ(op.messages().mid(1),
              QStringList({"USB device was lost: opening it again", "USB device not found.."}));
    EXPECT_FALSE(station->session.device_open());
    sim->plugIn();
    EXPECT_TRUE(station->session.ensureOpen());
}

TEST_F(UsbLinkTest, DeviceSerialPicksTheBridgeAndIsEchoed) {
    sim->setDeviceCount(2);
    writeConfig(DefaultConfigText(path("data")) + "device_serial = SIM00002\n");
    station->config.ReadConfig();
    EXPECT_EQ(LastOf(op.messages()), "device_serial: SIM00002");
    ASSERT_TRUE(station->session.ensureOpen());
    EXPECT_EQ(LastOf(op.messages()), "Second FTDI device [SIM00002]");
    writeConfig(DefaultConfigText(path("data")) + "device_serial = NOSUCH01\n");
    station->config.ReadConfig();
    station->session.markLost();
    EXPECT_FALSE(station->session.ensureOpen());
    EXPECT_EQ(LastOf(op.messages()),
              "None of the 2 attached FTDI bridges has the serial number NOSUCH01 that "
              "device_serial asks for. See Troubleshooting in the README.");
}

TEST_F(UsbLinkTest, WithoutDeviceSerialTheLogIsAsBefore) {
    writeDefaultConfig();
    station->config.ReadConfig();
    EXPECT_TRUE(op.messages().filter("device_serial").isEmpty());
    EXPECT_TRUE(station->config.run_config.device_serial.isEmpty());
}

}  // namespace

namespace {
TEST(SimulatedController, TracesEveryFrameWritten) {
    QTemporaryDir dir;
    const QString trace = dir.path() + "/trace.txt";
    SimController sim(QString(), trace, SimClock::skippingIdle());
    RecorderOperator op;
    Station station(op, sim);
    ASSERT_TRUE(station.session.ensureOpen());
    station.session.commands().SetBeamDirection(2);
    QFile f(trace);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3);  // the StopTrigger after the open, then the command
    const QList<QByteArray> fields = lines[1].split(' ');
    ASSERT_EQ(fields.size(), 52);
    EXPECT_EQ(fields[1], "TX");
    EXPECT_EQ(lines[0].split(' ').mid(2, 3), (QList<QByteArray>{"02", "03", "00"}));
    EXPECT_EQ(fields.mid(2, 4), (QList<QByteArray>{"02", "07", "02", "07"}));
}

TEST(SimulatedController, FlashOnlyClearsBits) {
    SimFlash flash;
    EXPECT_EQ(flash.erase(3), 0);
    EXPECT_EQ(flash.program(3, 0, {0x0F0F}), 0);
    EXPECT_EQ(flash.program(3, 0, {0x000F}), 0);
    EXPECT_EQ(flash.sector(3)[0], 0x000F);
    EXPECT_EQ(flash.program(3, 0, {0xF000}), 31);
    EXPECT_EQ(flash.program(3, 8190, {1, 2, 3}), 12);
    EXPECT_EQ(flash.program(9, 0, {1}), 20);
    EXPECT_EQ(flash.readCodeStart()[118], 0x0040);  // sector A's words before any write
}
}  // namespace
