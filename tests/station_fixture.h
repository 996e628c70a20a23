#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "recorder_operator.h"
#include "simulator/sim_controller.h"
#include "station/station.h"

using namespace zarv::sim;
using namespace zarv::station;

// A station directory with a config.txt, a simulated controller and a recorder.
inline QString DefaultConfigText(const QString& data_dir) {
    return QStringLiteral(
               "tx_enable=1\nintegrations=10\ndwell_time=0.6\ndata_dir=%1\nrelay_swith_time=10\n"
               "ipp=1000\npulse_length=1000\nlo_gate_length=1200\nstart_time=1500\nresolution=150\n"
               "test_gate_length=500\ntest_gate_delay=2000\ngates=4\naudio_enable=0\ndac_channel0="
               "5\n"
               "dac_channel1=7\nreference_frequency=100000000\nIP_frequency=30000000\n"
               "QP_frequency=30000000\ntest_frequency=50\nreference_level=4095\nip_level=2048\n"
               "qp_level=2048\ntest_level=1024\n")
        .arg(data_dir);
}

// The trigger wish on with no run holding the link, as a run that ended by itself
// leaves it until Stop.
inline void LeaveTriggering(ControllerSession& session) {
    session.beginRun();
    session.releaseLink();
}

// Every open of the controller is followed by a StopTrigger frame (code 03h,
// payload 0) before anything else.
inline bool IsStopTrigger(const std::array<std::uint8_t, 50>& frame) {
    return frame[1] == 0x03 && frame[2] == 0;
}
// True when nothing but those StopTrigger frames was written.
inline bool OnlyTriggerStops(const std::vector<std::array<std::uint8_t, 50>>& frames) {
    for (const auto& frame : frames)
        if (!IsStopTrigger(frame)) return false;
    return true;
}

inline qint64 AmpleSpace(const QString&) {
    return qint64{1} << 40;
}

// How much faster than the wall clock the simulated controller's time runs in
// tests: the station keeps its dwells and waits by it, so a run's seconds pass
// in a fraction of the time. Whatever holds a thread up is stretched as much in
// the controller's time, so sanitizer builds, slow already, set
// ZARV_TEST_CLOCK_RATE=1. Tests whose point is the wall clock use 1 as well.
inline double TestClockRate() {
    bool ok = false;
    const double rate = qEnvironmentVariable("ZARV_TEST_CLOCK_RATE").toDouble(&ok);
    return ok && rate > 0 ? rate : 6.0;
}

class StationFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        sim_clock = std::make_shared<VirtualSimClock>(TestClockRate());
        sim = std::make_unique<SimController>(QString(), QString(), sim_clock);
        calendar = CalendarFor(sim->StreamClock());
        // 170 ms of the heaviest stream: a loaded test machine that does not grant
        // the reader its real-time priority must not fail tests about other
        // things. The bridge's own 4 KiB are tested where they matter.
        sim->setBridgeBufferSize(256 * 1024);
        station = std::make_unique<Station>(op, *sim, [this] { return clock(); });
        // A terabyte free: no test meets the low-space warning unless it asks to.
        station->config.free_space = AmpleSpace;
        station->config.start_dir = dir.path();
    }

    // For a test whose point is the wall clock: the controller's time runs at
    // its pace from here on (before the run starts).
    void useWallClock() { sim_clock->setRate(1); }

    // The station's calendar follows the controller's time, as on a fast
    // simulated station: dwells a second apart get names a second apart.
    QDateTime clock() const { return fixed_time.isValid() ? fixed_time : calendar(); }

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    void writeFile(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray readFile(const QString& name) const {
        QFile f(name.startsWith('/') ? name : path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeConfig(const QString& text) const {
        writeFile(QStringLiteral("config.txt"), text.toLatin1());
    }
    void writeDefaultConfig() const {
        writeConfig(DefaultConfigText(path(QStringLiteral("data"))));
    }
    // ReadConfig on the default settings with extra lines: empty when they are
    // taken, else the refusal's text and where it points ("text | detail").
    QString refusal(const QString& extra) {
        writeConfig(DefaultConfigText(path(QStringLiteral("data"))) + extra);
        try {
            station->config.ReadConfig();
        } catch (const StationError& e) {
            return e.text() + QStringLiteral(" | ") + e.detail();
        }
        return QString();
    }
    void replaceConfigLine(const QString& key, const QString& line) const {
        QStringList lines = DefaultConfigText(path(QStringLiteral("data"))).split('\n');
        for (QString& l : lines)
            if (l.startsWith(key + '=')) l = line;
        writeConfig(lines.join('\n'));
    }

    QTemporaryDir dir;
    RecorderOperator op;
    std::shared_ptr<VirtualSimClock> sim_clock;
    std::function<QDateTime()> calendar;
    std::unique_ptr<SimController> sim;
    std::unique_ptr<Station> station;
    QDateTime fixed_time;
};
