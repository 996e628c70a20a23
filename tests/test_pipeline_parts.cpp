// The pieces of the recording pipeline on their own: the chunk queue, the data
// file's whole-line writes, the graph's reduction and the simulated bridge buffer.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <thread>

#include "acquisition/chunk_queue.h"
#include "acquisition/data_file.h"
#include "device_IO/controller_commands.h"
#include "device_IO/usb_link.h"
#include "file_size_limit.h"
#include "recorder_operator.h"
#include "simulator/sim_controller.h"
#include "station/station_error.h"
#include "views/graph_plot.h"

using namespace zarv::acquisition;
using namespace zarv::device_io;
using namespace zarv::sim;
using namespace zarv::station;
using namespace zarv::views;

namespace {
TEST(ChunkQueue, NeverOverwritesAndKeepsOrder) {
    ChunkQueue q(2, 8);
    for (std::uint8_t tag : {1, 2}) {
        std::uint8_t* slot = q.acquire();
        ASSERT_NE(slot, nullptr);
        slot[0] = tag;
        q.publish(1, tag == 2 ? 77 : 0);
    }
    EXPECT_EQ(q.acquire(), nullptr);  // full: the reader must read elsewhere
    ChunkQueue::Chunk* first = q.waitFront(std::chrono::milliseconds(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->data()[0], 1);
    EXPECT_EQ(first->lost_before, 0u);
    q.release();
    ASSERT_NE(q.acquire(), nullptr);
    ChunkQueue::Chunk* second = q.waitFront(std::chrono::milliseconds(0));
    EXPECT_EQ(second->data()[0], 2);
    EXPECT_EQ(second->lost_before, 77u);
    q.release();
    EXPECT_EQ(q.queued(), 0);
}

TEST(ChunkQueue, AWaitEndsOnWakeOrOnAChunkFromAnotherThread) {
    ChunkQueue q(4, 8);
    q.wake();
    EXPECT_EQ(q.waitFront(std::chrono::seconds(10)), nullptr);  // at once, not after 10 s
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        q.acquire()[0] = 9;
        q.publish(1, 0);
    });
    ChunkQueue::Chunk* c = q.waitFront(std::chrono::seconds(10));
    producer.join();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->data()[0], 9);
    q.release();
    // A wake that comes while a chunk waits is for after it: once the chunk is
    // taken, the next wait on the empty queue returns at once.
    q.acquire()[0] = 10;
    q.publish(1, 0);
    q.wake();
    ASSERT_NE(q.waitFront(std::chrono::seconds(3)), nullptr);
    q.release();
    // Were the wake lost, the wait would take its whole minute.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(q.waitFront(std::chrono::seconds(60)), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
}

TEST(DataFileWrites, AWriteCutShortLeavesOnlyWholeLines) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/d.txt";
    DataFile file;
    file.open(path);
    for (int r = 0; r < 10; ++r) {
        const int values[] = {-1000, -1001, -1002, -1003};
        file.appendRecord(values, 4);
    }
    file.flush();  // 10 lines of 27 bytes
    for (int r = 0; r < 10; ++r) {
        const int values[] = {2000, 2001, 2002, 2003};
        file.appendRecord(values, 4);
    }
    QString error;
    {
        FileSizeLimit limit(270 + 3 * 23 + 11);  // room for three lines and a half
        try {
            file.flush();
        } catch (const StationError& e) {
            error = e.text();
        }
    }
    EXPECT_TRUE(error.startsWith("Cannot write data file " + path)) << error.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.size(), 270 + 3 * 23);
    EXPECT_TRUE(bytes.endsWith("2000 2001 2002 2003  \r\n"));
    EXPECT_FALSE(file.isOpen());
}

TEST(DataFileWrites, ValuesAndTheHeaderReachTheFileWhole) {
    QTemporaryDir dir;
    DataFile file;
    file.open(dir.path() + "/v.txt");
    const int values[] = {0, -1, 2147483647, -2147483647 - 1, 4096};
    file.appendRecord(values, 5);
    file.appendRecord(values, 0);  // no gates: a blank and the line end
    file.close();
    QFile f(dir.path() + "/v.txt");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("0 -1 2147483647 -2147483648 4096  \r\n \r\n"));
}

TEST(GraphPlot, AMillionPointsBecomeTheLowestAndHighestOfEachColumn) {
    GraphPlot plot;
    plot.reset(1000.0);
    std::vector<QPointF> points;
    for (int i = 0; i < 1000000; ++i)
        points.emplace_back(i / 1000.0, (std::int64_t{i} * 7919) % 4001 - 2000);
    points[123456].setY(-5000);
    points[654321].setY(6000);
    plot.add(points);
    EXPECT_TRUE(plot.decimated());
    const QList<QPointF> shown = plot.points();
    EXPECT_LE(shown.size(), 2 * GraphPlot::kColumns);
    EXPECT_TRUE(shown.contains(points[123456]));
    EXPECT_TRUE(shown.contains(points[654321]));
    for (int i = 1; i < shown.size(); ++i) EXPECT_LE(shown[i - 1].x(), shown[i].x());
    double low = 0, high = 0;
    ASSERT_TRUE(plot.yRange(low, high));
    EXPECT_EQ(low, -5000);
    EXPECT_EQ(high, 6000);
}

TEST(GraphPlot, FewPointsAreDrawnAsTheyAre) {
    GraphPlot plot;
    plot.reset(10);
    plot.add({{0, 1}, {1, 5}, {1.001, 3}});
    EXPECT_FALSE(plot.decimated());
    EXPECT_EQ(plot.points(), QList<QPointF>({{0, 1}, {1, 5}, {1.001, 3}}));
    EXPECT_EQ(NiceTickInterval(1000, 8), 200);
    EXPECT_EQ(NiceTickInterval(7.3, 8), 1);
    EXPECT_EQ(NiceTickInterval(0.03, 8), 0.005);
}

// The simulated bridge holds 4 KiB while nobody reads; what comes after is lost.
TEST(SimulatedBridge, AReaderThatPausesTooLongOverrunsTheBuffer) {
    SimController sim(QString(), QString(), SimClock::skippingIdle());
    RecorderOperator op;
    UsbLink link(sim, op);
    ControllerCommands cmd(link, op);
    ASSERT_NE(link.OpenController(), UsbLink::kNotOpen);
    SweepParameters sweep{};
    sweep.pulse_period = 6000;  // 100 us: 4 KiB last 2.8 ms
    sweep.gates = 36;
    cmd.SetSweepParameters(sweep);
    std::vector<std::uint8_t> buffer(14800);
    FT_STATUS status = FT_OK;
    cmd.StartTrigger();
    EXPECT_EQ(link.ReadStream(buffer.data(), 14800, &status), 14800u);
    EXPECT_EQ(sim.overrunBytes(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // ~300 frames arrive
    const std::uint64_t lost = sim.overrunBytes();
    EXPECT_GT(lost, 30000u);
    sim.setBridgeBufferSize(1u << 30);  // nothing more is lost from here on
    // What the bridge held comes first, from frame 100 on, and the read ends at
    // the hole; the next read begins after it, flagged as the bridge's status
    // bytes flag it, and its frames are whole from their first marker on.
    const auto markers = [](const std::vector<std::uint8_t>& b, std::uint32_t n) {
        std::vector<std::size_t> at;
        for (std::size_t i = 0; i + 3 < n; ++i)
            if (b[i] == 0xFE && b[i + 1] == 0xFF && b[i + 2] == 0xFE && b[i + 3] == 0xFF)
                at.push_back(i);
        return at;
    };
    const auto evenly = [](const std::vector<std::size_t>& at) {
        for (std::size_t k = 1; k < at.size(); ++k)
            if (at[k] - at[k - 1] != 148) return false;
        return true;
    };
    buffer.assign(40000, 0);
    UsbLink::Arrival arrival;
    const std::uint32_t held = link.ReadStream(buffer.data(), 40000, &status, &arrival);
    EXPECT_FALSE(arrival.overrun);
    ASSERT_GT(held, 148u);
    ASSERT_LT(held, 40000u);
    const auto before = markers(buffer, held);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before[0], 0u);
    EXPECT_TRUE(evenly(before));
    buffer.assign(40000, 0);
    const std::uint32_t after_count = link.ReadStream(buffer.data(), 40000, &status, &arrival);
    EXPECT_TRUE(arrival.overrun);
    const auto after = markers(buffer, after_count);
    ASSERT_FALSE(after.empty());
    EXPECT_TRUE(evenly(after));
    EXPECT_EQ((held + lost + after[0]) % 148, 0u);
    EXPECT_EQ(link.ReadStream(buffer.data(), 1480, &status, &arrival), 1480u);
    EXPECT_FALSE(arrival.overrun);
    cmd.StopTrigger();
    EXPECT_EQ(sim.overrunBytes(), lost);
}
}  // namespace
