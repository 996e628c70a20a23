// Runs the whole station (main window, graph window shown, simulated controller)
// for a given time in a station directory, then reports what it cost.
//   zarv-bench-run <station dir> <seconds>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <vector>

#include "app/main_form.h"
#include "simulator/sim_controller.h"
#include "views/about_form.h"
#include "views/graph_form.h"

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
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <station dir> <seconds>\n", argv[0]);
        return 2;
    }
    QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    const int seconds = std::atoi(argv[2]);
    SimController controller;
    QApplication app(argc, argv);
    TMainForm form(controller);
    TGraphForm graph(form.station().graph);
    TAboutForm about;
    form.setSecondaryWindows(&graph, &about);
    form.show();
    form.graph_btnClick();

    // Resident memory every 10 s: it should stay flat apart from the log text.
    std::vector<long> rss_samples;
    QTimer rss_timer;
    QObject::connect(&rss_timer, &QTimer::timeout, [&] { rss_samples.push_back(currentRssKb()); });
    rss_timer.start(10000);

    QElapsedTimer wall;
    double cpu_at_start = 0;
    QTimer::singleShot(200, &form, [&] {
        wall.start();
        cpu_at_start = cpuSeconds();
        QTimer::singleShot(seconds * 1000, &form, [&] { form.stop_btnClick(); });
        form.start_btnClick();
        const double cpu = cpuSeconds() - cpu_at_start;
        const double elapsed = wall.elapsed() / 1000.0;
        const QString log = form.logpad->toPlainText();
        long records = 0;
        QDirIterator it(form.station().run_config.data_dir, {"*_beam*.txt"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            f.open(QIODevice::ReadOnly);
            records += f.readAll().count('\n') - 21;
        }
        std::printf("run seconds        %.1f\n", elapsed);
        std::printf("cpu seconds        %.2f (%.3f per second of run)\n", cpu, cpu / elapsed);
        std::printf("records written    %ld\n", records);
        std::printf("not keeping up     %lld\n",
                    static_cast<long long>(log.count("not keeping up")));
        std::printf("framing lines      %lld\n",
                    static_cast<long long>(log.count("Framing errors")));
        std::printf("last status        %s\n", qPrintable(form.status_field->text()));
        std::printf("overrun bytes      %llu\n",
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
