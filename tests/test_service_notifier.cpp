#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <atomic>
#include <thread>

#include "acquisition/acquisition_run.h"
#include "act_when.h"
#include "monitoring/run_watch.h"
#include "monitoring/service_notifier.h"
#include "monitoring/state_board.h"
#include "station_fixture.h"

using namespace zarv::monitoring;
using zarv::acquisition::AcquisitionRun;

namespace {

// Plays systemd's side: a datagram socket named by NOTIFY_SOCKET, and the
// watchdog asked for every second.
class ServiceNotifierTest : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        socket_path = path("notify.sock");
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(socket_path.size(), static_cast<qsizetype>(sizeof address.sun_path));
        std::strcpy(address.sun_path, socket_path.toLocal8Bit().constData());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        qputenv("NOTIFY_SOCKET", socket_path.toLocal8Bit());
        qputenv("WATCHDOG_USEC", "1000000");
    }
    void TearDown() override {
        qunsetenv("NOTIFY_SOCKET");
        qunsetenv("WATCHDOG_USEC");
        if (fd >= 0) ::close(fd);
    }
    // The messages that came since the last call.
    QStringList drain() {
        QStringList messages;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            messages << QString::fromUtf8(buffer, static_cast<int>(n));
        return messages;
    }

    QString socket_path;
    int fd = -1;
};

TEST_F(ServiceNotifierTest, ReadyAtTheFirstRecordsAndNoWatchdogWhileProcessingIsHeld) {
    writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=120"));
    station->config.ReadConfig();
    AcquisitionRun run(station->log, station->session, station->config);
    StateBoard board;
    RunWatch watch(board, run, station->session);
    ServiceNotifier notifier(board, [&run] { return run.processor().heartbeats(); });
    EXPECT_EQ(notifier.watchdogIntervalMs(), 500);
    std::atomic<bool> hold{false};
    std::atomic<bool> held{false};
    run.processor().setBeforeChunk([&] {
        while (hold) {
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    QStringList before;
    QStringList during;
    QStringList after;
    QElapsedTimer holding;
    bool released = false;
    const auto stop = [&] {
        hold = false;
        run.stop();
    };
    ActWhen ready(
        [&] {
            before << drain();
            return before.contains("READY=1") && before.contains("WATCHDOG=1");
        },
        [&] { hold = true; }, stop);
    ActWhen in_hold([&] { return held.load(); },
                    [&] {
                        drain();
                        holding.start();
                    },
                    stop, 20000);
    // The first tick after the hold began may still see the turns made before
    // it; from the third on, with the processing thread held: not one ping.
    ActWhen settled([&] { return holding.isValid() && holding.elapsed() > 1200; }, [&] { drain(); },
                    stop, 30000);
    ActWhen long_enough([&] { return holding.isValid() && holding.elapsed() > 2700; },
                        [&] {
                            during = drain();
                            released = true;
                            hold = false;
                        },
                        stop, 30000);
    ActWhen pings_again(
        [&] {
            if (!released) return false;
            after << drain();
            return after.contains("WATCHDOG=1");
        },
        stop, stop, 40000);
    run.start();

    ASSERT_TRUE(pings_again.acted());
    EXPECT_EQ((before + during + after).count("READY=1"), 1);  // once, when recording began
    EXPECT_FALSE(
        before.filter(QRegularExpression("^STATUS=Beam \\d · 0 dwells · \\d+ records")).isEmpty())
        << before.join(" | ").toStdString();
    EXPECT_TRUE(during.filter("WATCHDOG").isEmpty())
        << during.join(" | ").toStdString() << " after " << after.join(" | ").toStdString();
}

TEST(ServiceNotifier, WithoutNotifySocketNothingIsSent) {
    qunsetenv("NOTIFY_SOCKET");
    StateBoard board;
    ServiceNotifier notifier(board, [] { return std::int64_t{0}; });
    EXPECT_EQ(notifier.watchdogIntervalMs(), 0);
    board.change([](StationState& s) {
        s.phase = QStringLiteral("recovering");
        s.dwells = 3;
        s.records_written = {10, 20, 30};
        s.hours_left = 12.2;
    });
    EXPECT_EQ(ServiceNotifier::StatusLine(board.snapshot()),
              "Recovering · 3 dwells · 60 records · 12.2 h of disk");
}

}  // namespace
