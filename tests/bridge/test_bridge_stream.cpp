// A minute of the heaviest stream through libftdi1 and libusb: the queued
// transfers leave the bridge's 4 KiB receive buffer nothing to drop.
#include <QRegularExpression>

#include "bridge_fixture.h"
#include "tests/data_file_checker.h"

using namespace zarv::acquisition;

namespace {
constexpr std::uint32_t kPeriod = 6000;  // ipp 100 us at 60 MHz
constexpr int kDwells = 3;
constexpr int kDwellSeconds = 20;

TEST_F(BridgeTest, AMinuteOfTheHeaviestStreamOverrunsNothing) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=100")
                    .replace("gates=4", "gates=36")
                    .replace("dwell_time=0.6", QStringLiteral("dwell_time=%1").arg(kDwellSeconds)));
    AcquisitionRun run(station->log, station->session, station->config);
    // Stop once the last dwell has ended and the next has begun.
    startAndStopWhen(
        run, [&] { return controller->triggerStarts() > kDwells; },
        (kDwells * kDwellSeconds + 20) * 1000);
    EXPECT_EQ(controller->overrunBytes(), 0u);
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), static_cast<std::size_t>(kDwells));
    const double records = kDwellSeconds / (kPeriod / 60e6) / 10;
    int whole = 0;
    for (const DwellBlock& b : blocks) {
        EXPECT_EQ(MismatchedRecords(b, 36, 10, kPeriod), 0) << b.file.toStdString();
        if (b.records.size() >= 0.98 * records) ++whole;
    }
    EXPECT_GE(whole, kDwells);
    EXPECT_EQ(op.messages().filter(QRegularExpression("lost|not keeping up")).size(), 0)
        << op.messages().join('\n').toStdString();
}
}  // namespace
