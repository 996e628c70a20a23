#include <QLabel>

#include "about/about_query.h"
#include "station_fixture.h"
#include "views/about_form.h"

using namespace zarv::about;
using namespace zarv::sim;
using namespace zarv::station;
using namespace zarv::views;

namespace {
using AboutTest = StationFixture;

TEST_F(AboutTest, ShowsTheControllersIdentity) {
    TAboutForm form;
    form.showIdentity(station->session);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.pos(), QPoint(180, 180));
    EXPECT_EQ(form.serial_no->text(), "1001");
    EXPECT_EQ(form.application_rev->text(), "1.0");
    EXPECT_EQ(form.firmware_rev->text(), "1.2");
    EXPECT_EQ(form.hardware_rev->text(), "2.16");
    EXPECT_EQ(op.messages(), QStringList{"Radar controller (simulated) [SIM00001]"});
    form.showIdentity(station->session);
    EXPECT_EQ(op.messages().size(), 1);  // no second open
    form.close();
}

TEST_F(AboutTest, NoControllerKeepsTheInitialTexts) {
    sim->setDeviceCount(0);
    TAboutForm form;
    form.showIdentity(station->session);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.serial_no->text(), "serial_no");
    EXPECT_EQ(form.hardware_rev->text(), "hardware_rev");
    EXPECT_EQ(op.messages(), QStringList{"USB device not found.."});
    EXPECT_TRUE(op.boxes.isEmpty());
    form.close();
}

TEST_F(AboutTest, TriggeringSendsNothing) {
    ASSERT_TRUE(station->session.ensureOpen());
    sim->clearWrittenFrames();
    LeaveTriggering(station->session);
    EXPECT_FALSE(QueryAbout(station->session));
    station->session.beginRun();
    station->session.requestStop();  // Stop pressed, run not yet ended
    EXPECT_FALSE(QueryAbout(station->session));
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
}

TEST_F(AboutTest, WhileTriggeringTheControllerIsStillOpened) {
    LeaveTriggering(station->session);
    EXPECT_FALSE(QueryAbout(station->session));
    EXPECT_TRUE(station->session.device_open());
    EXPECT_EQ(op.messages(), QStringList{"Radar controller (simulated) [SIM00001]"});
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
}

TEST_F(AboutTest, FailedReadKeepsTheLastTexts) {
    TAboutForm form;
    form.showIdentity(station->session);
    sim->setReplyFault(0x00, SimController::ReplyFault::Short, 20);
    sim->setInfoWord(1, 5);
    form.showIdentity(station->session);
    EXPECT_EQ(form.serial_no->text(), "1001");
    EXPECT_EQ(LastOf(op.boxes), "Unexpected data length");
    form.close();
}

TEST(AboutTexts, RevisionsAndLargeSerials) {
    EXPECT_EQ(RevisionText(0x00020010), "2.16");
    EXPECT_EQ(RevisionText(0xFFFF0000), "65535.0");
    RecorderOperator op;
    SimController sim(QString(), QString(), SimClock::skippingIdle());
    Station st(op, sim);
    sim.setInfoWord(1, 0x80000001u);
    const auto texts = QueryAbout(st.session);
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->serial_no, "2147483649");
}
}  // namespace
