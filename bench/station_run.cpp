// Runs the whole station (main window, graph window shown, simulated controller)
// for a given time in a station directory, then reports what it cost.
//   zarv-bench-run <station dir> <seconds> [points [stall ms per dwell]]
// points: the graph window's Points box (100 when not given); stall: the GUI
// thread is blocked this long once in every dwell, 1 s into it.
// With ZARV_BENCH_RADAR=points,blocks the radar view is shown as well.
// With ZARV_BENCH_HARDWARE set the station runs on the FTDI bridge through
// libftdi1 instead, as zarv does (zarv-bridge-emu -- zarv-bench-run ...).
// With ZARV_BENCH_DWELLS=n the run stops once n dwells are in the journal, and
// <seconds> only bounds it: a slow start then costs time, not dwells.
#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/main_form.h"
#include "simulator/sim_controller.h"
#ifdef ZARV_BENCH_WITH_FTDI
#include "device_IO/ftdi_libftdi.h"
#endif
#include "views/about_form.h"
#include "views/graph_form.h"
#include "views/radar_form.h"
#include "views/winds_form.h"

using namespace zarv::app;
using namespace zarv::device_io;
using namespace zarv::sim;
using namespace zarv::views;

namespace {
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}
long currentRssKb() {
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return f.readAll().split(' ').value(1).toLong() * 4;
}
// Dwells the journals under the data directory hold: one line each.
int journaledDwells(const QString& data_dir) {
    int dwells = 0;
    QDirIterator it(data_dir, {"dwells.jsonl"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly)) dwells += static_cast<int>(f.readAll().count('\n'));
    }
    return dwells;
}
double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// Milliseconds from each StopTrigger to a SetBeamDirection that directly follows
// it: the beam changes (the start sequence's StopTrigger is followed by others).
std::vector<double> beamChangeGaps(const QString& trace) {
    QFile f(trace);
    std::vector<double> gaps;
    if (!f.open(QIODevice::ReadOnly)) return gaps;
    double stop_at = -1;
    while (!f.atEnd()) {
        const QList<QByteArray> fields = f.readLine().trimmed().split(' ');
        if (fields.size() < 5) continue;
        const double ms = fields[0].toDouble();
        if (fields[3] == "07" && stop_at >= 0) gaps.push_back(ms - stop_at);
        stop_at = fields[3] == "03" && fields[4] == "00" ? ms : -1;
    }
    return gaps;
}

// The GUI thread's answer time: how late a 20 ms timer fires.
struct AnswerProbe {
    QTimer timer;
    QElapsedTimer since;
    std::vector<double> late_ms;
    void start() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (since.isValid()) late_ms.push_back(std::max(0.0, since.nsecsElapsed() / 1e6 - 20));
            since.start();
        });
        timer.start(20);
    }
};
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <station dir> <seconds> [points [stall ms]]\n", argv[0]);
        return 2;
    }
    QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    const double seconds = std::strtod(argv[2], nullptr);
    const int dwells_wanted = qEnvironmentVariableIntValue("ZARV_BENCH_DWELLS");
    const QString points = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("100");
    const int stall_ms = argc > 4 ? std::atoi(argv[4]) : 0;
    const QString trace = QDir::current().absoluteFilePath(QStringLiteral("trace.txt"));
    QFile::remove(trace);
    SimController controller(QString(), trace);
    const bool hardware = qEnvironmentVariableIsSet("ZARV_BENCH_HARDWARE");
#ifdef ZARV_BENCH_WITH_FTDI
    LibFtdiApi bridge;
    FtApi& link = hardware ? static_cast<FtApi&>(bridge) : controller;
#else
    if (hardware) {
        std::fprintf(stderr, "built without libftdi1\n");
        return 2;
    }
    FtApi& link = controller;
#endif
    QApplication app(argc, argv);
    TMainForm form(link);
    // A bench measures recording, not the operator's answer to a low-space box.
    form.station().config.free_space = [](const QString&) { return qint64{-1}; };
    TGraphForm graph(form.run().graph());
    TAboutForm about;
    form.setSecondaryWindows(&graph, &about);
    form.show();
    form.graph_btnClick();
    graph.points_box->setText(points);
    graph.renew_btnClick();
    // ZARV_BENCH_RADAR=points,blocks shows the radar view too, at those settings.
    TRadarForm radar(form.radarFeed(), form.station().config.run_config);
    form.setRadarWindow(&radar);
    if (const QStringList radar_args = qEnvironmentVariable("ZARV_BENCH_RADAR").split(',');
        radar_args.size() == 2) {
        radar.points_box->setCurrentText(radar_args[0]);
        radar.averages_box->setValue(radar_args[1].toInt());
        form.radar_btnClick();
    }

    // ZARV_BENCH_WINDS=1 shows the Winds window.
    TWindsForm winds(form.radarFeed(), form.station().config.run_config);
    form.setWindsWindow(&winds);
    QObject::connect(&form, &TMainForm::runEnded, &winds, &TWindsForm::finishRun);
    if (qEnvironmentVariableIsSet("ZARV_BENCH_WINDS")) form.Winds1Click();

    // Resident memory every 10 s: it should stay flat apart from the log text.
    std::vector<long> rss_samples;
    QTimer rss_timer;
    QObject::connect(&rss_timer, &QTimer::timeout, [&] { rss_samples.push_back(currentRssKb()); });
    rss_timer.start(10000);

    AnswerProbe probe;
    int stalled_dwells = 0;
    QTimer stall_timer;
    QObject::connect(&stall_timer, &QTimer::timeout, [&] {
        if (stall_ms > 0 && controller.triggerStarts() > stalled_dwells) {
            stalled_dwells = controller.triggerStarts();
            QTimer::singleShot(1000,
                               [&] { QThread::msleep(static_cast<unsigned long>(stall_ms)); });
        }
    });
    stall_timer.start(5);

    // The run ends after <seconds>, or sooner once the dwells wanted are journaled.
    QTimer run_timer;
    run_timer.setSingleShot(true);
    QObject::connect(&run_timer, &QTimer::timeout, &form, [&] { form.stop_btnClick(); });
    int dwells_before = 0;
    QTimer dwells_timer;
    QObject::connect(&dwells_timer, &QTimer::timeout, &form, [&] {
        const int dwells = journaledDwells(form.station().config.run_config.data_dir);
        if (dwells - dwells_before < dwells_wanted) return;
        dwells_timer.stop();
        run_timer.stop();
        form.stop_btnClick();
    });

    QElapsedTimer wall;
    double cpu_at_start = 0;
    QTimer::singleShot(200, &form, [&] {
        wall.start();
        cpu_at_start = cpuSeconds();
        probe.start();
        run_timer.start(static_cast<int>(seconds * 1000));
        if (dwells_wanted > 0) {
            dwells_before = journaledDwells(form.station().config.run_config.data_dir);
            dwells_timer.start(100);
        }
        form.start_btnClick();
        probe.timer.stop();
        const double cpu = cpuSeconds() - cpu_at_start;
        const double elapsed = wall.elapsed() / 1000.0;
        const QString log = form.logpad->toPlainText();
        long records = 0;
        QDirIterator it(form.station().config.run_config.data_dir, {"*_beam*.txt"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            f.open(QIODevice::ReadOnly);
            records += f.readAll().count('\n') - 21;
        }
        const std::vector<double> gaps = beamChangeGaps(trace);
        std::printf("run seconds        %.1f\n", elapsed);
        std::printf("cpu seconds        %.2f (%.3f per second of run)\n", cpu, cpu / elapsed);
        std::printf("records written    %ld\n", records);
        std::printf("graph points       %d captured of %s\n", form.run().graph().graphCount(),
                    qPrintable(points));
        std::printf("gui answer ms      median %.1f, p95 %.1f, p99 %.1f, max %.1f (%zu samples)\n",
                    percentile(probe.late_ms, 0.5), percentile(probe.late_ms, 0.95),
                    percentile(probe.late_ms, 0.99), percentile(probe.late_ms, 1.0),
                    probe.late_ms.size());
        std::printf("gui stalls         %d of %d ms\n", stall_ms > 0 ? stalled_dwells : 0,
                    stall_ms);
        std::printf(
            "beam change ms     median %.0f, max %.0f (StopTrigger to SetBeamDirection, "
            "%zu changes)\n",
            percentile(gaps, 0.5), percentile(gaps, 1.0), gaps.size());
        std::printf("not keeping up     %lld\n",
                    static_cast<long long>(log.count("not keeping up")));
        std::printf("data lost lines    %lld\n", static_cast<long long>(log.count("Data lost")));
        std::printf("framing lines      %lld\n",
                    static_cast<long long>(log.count("Framing errors")));
        std::printf("last status        %s\n", qPrintable(form.status_field->text()));
        if (!hardware)
            std::printf("overrun bytes      %llu (simulated 4 KiB bridge buffer)\n",
                        static_cast<unsigned long long>(controller.overrunBytes()));
        std::printf("rss peak / now kB  %ld / %ld\n", peakRssKb(), currentRssKb());
        if (rss_samples.size() > 1)
            std::printf("rss at 10 s / end  %ld / %ld kB (log %lld characters)\n",
                        rss_samples.front(), rss_samples.back(),
                        static_cast<long long>(log.size()));
        QCoreApplication::quit();
    });
    return app.exec();
}
