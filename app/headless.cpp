#include "headless.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <cmath>
#include <cstring>

#include "acquisition/acquisition_run.h"
#include "echo_watch.h"
#include "ending_signals.h"
#include "headless_picture.h"
#include "journal_lines.h"
#include "monitoring/service_notifier.h"
#include "monitoring/station_watch.h"
#include "products/bufr_outbox.h"
#include "station/delay.h"
#include "station/process_priority.h"
#include "station/station.h"
#include "station/station_error.h"

namespace zarv::app {

using namespace zarv::acquisition;
using namespace zarv::station;

HeadlessOperator::HeadlessOperator(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), out_is_journal_(IsJournal(out)), err_is_journal_(IsJournal(err)) {}

// The journal takes each line as an entry of its own: every line of a box
// carries the box's priority.
void HeadlessOperator::print(std::FILE* to, const QString& text, LineKind kind) {
    const bool journal = to == out_ ? out_is_journal_ : err_is_journal_;
    const int priority = JournalPriority(text, kind);
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (journal) std::fprintf(to, "<%d>", priority);
        std::fputs(line.toUtf8().constData(), to);
        std::fputc('\n', to);
    }
    std::fflush(to);
}

void HeadlessOperator::appendLogLine(const QString& line) {
    if (printing_) print(out_, line, LineKind::Log);
}

void HeadlessOperator::showMessage(const QString& text) {
    print(err_, QStringLiteral("Message: ") + text, LineKind::Message);
}

void HeadlessOperator::showError(const QString& text) {
    print(err_, QStringLiteral("Error: ") + text, LineKind::Error);
}

bool HeadlessOperator::askYesCancel(const QString& text) {
    print(err_, QStringLiteral("Question answered Yes: ") + text, LineKind::Message);
    return true;
}

void HeadlessOperator::pumpEvents() {
    QCoreApplication::processEvents();
}

void HeadlessOperator::waitMs(int ms) {
    DelayMs(ms);
}

int HeadlessStatus(RunEnd end) {
    switch (end) {
        case RunEnd::Stopped:
            return 0;
        case RunEnd::BadSettings:
            return kExitBadConfig;
        case RunEnd::NoController:
            return kExitNoController;
        case RunEnd::Cancelled:
        case RunEnd::Fault:
        case RunEnd::Failed:
            break;
    }
    return kExitGaveUp;
}

namespace {
// Before the start: a controller not there yet is waited for, quietly after
// one line, looking once a second, until it is there, the wait is over or the
// station is asked to end.
void WaitForController(Station& station, double wait_s, const bool& ending_asked) {
    if (station.session.countDevices() > 0) return;
    station.log.LogMessage(
        QStringLiteral("No controller yet: waiting up to %1 s for it").arg(std::lround(wait_s)));
    QElapsedTimer waited;
    waited.start();
    while (!ending_asked && station.session.countDevices() == 0 &&
           waited.elapsed() < static_cast<qint64>(wait_s * 1000))
        DelayMs(1000);
}
}  // namespace

int RunHeadless(device_io::FtApi& api, double seconds, const QString& status_listen) {
    HeadlessOperator op(stdout, stderr);
    monitoring::StationWatch watch(op);
    Station station(watch.op(), api);
    station.config.start_dir = QDir::currentPath();
    // Read here for the status server and the products, quietly; the start
    // reads it again and says so, once the controller is there.
    op.setPrinting(false);
    try {
        station.config.ReadConfig();
    } catch (const StationError& error) {
        op.setPrinting(true);
        station.log.keepDailyLog(station.config.start_dir);
        op.showError(error.boxText());
        return kExitBadConfig;
    }
    op.setPrinting(true);
    station.log.keepDailyLog(station.config.start_dir);
    SetProcessPriority(3);
    if (const QString shortfall = RealTimeShortfall(); !shortfall.isEmpty())
        station.log.KeepNote(shortfall);
    std::unique_ptr<HeadlessPicture> picture;      // a record sink: it outlives the run
    std::unique_ptr<radar::RadarFeed> winds_feed;  // the sink when no picture is drawn
    std::unique_ptr<EchoWatch> echo;               // for the metrics, with the picture
    AcquisitionRun run(station.log, station.session, station.config);
    watch.watchRun(run, station.session);
    monitoring::ServiceNotifier systemd(watch.board(),
                                        [&run] { return run.processor().heartbeats(); });
    const TRunConfig& settings = station.config.run_config;
    watch.setNoteTaker([&station](const QString& note) { station.log.KeepNote(note); });
    if (const QString note =
            watch.serveAsAsked(status_listen, settings.status_listen, settings.status_token_file);
        !note.isEmpty())
        station.log.KeepNote(note);
    if (watch.serving()) {
        picture = std::make_unique<HeadlessPicture>(watch, settings);
        run.setRecordSink(&picture->feed());
        echo = std::make_unique<EchoWatch>(picture->feed(), settings, watch);
    }
    std::unique_ptr<products::BufrOutbox> bufr;
    if (!settings.bufr_dir.isEmpty()) {
        if (!picture) {
            winds_feed = std::make_unique<radar::RadarFeed>();
            run.setRecordSink(winds_feed.get());
        }
        bufr = std::make_unique<products::BufrOutbox>(
            picture ? picture->feed() : *winds_feed, settings, station.log,
            [&station] { return station.log.now().toUTC(); });
    }
    // Nobody is there to press Start again: a lost link, a silent stream or
    // framing errors are recovered from.
    run.setAlwaysRecover(true);
    EndingSignals ending;
    bool ending_asked = false;
    bool signalled = false;
    QObject::connect(&ending, &EndingSignals::received, &run, [&](int number) {
        station.log.LogMessage(QStringLiteral("Signal %1 (%2) received: ending")
                                   .arg(number)
                                   .arg(QString::fromLocal8Bit(strsignal(number))));
        ending_asked = true;
        signalled = true;
        systemd.stopping();
        run.stop();
    });
    // Seconds of the controller's time: a fast simulated station ends sooner, and
    // one whose time moves only while it is waited for ends when it has passed.
    const device_io::LinkClock& link = station.session.clock();
    const std::int64_t end_ns =
        link.nowNs() + static_cast<std::int64_t>(std::min(seconds, 9e9) * 1e9);
    // The controller's time, where it moves only when waited for, stands there
    // until the run has stopped.
    if (seconds > 0) link.holdAtNs(end_ns);
    QTimer time_up;
    time_up.setSingleShot(true);
    QObject::connect(&time_up, &QTimer::timeout, &run, [&] {
        if (const std::int64_t left_ns = end_ns - link.nowNs(); left_ns > 0) {
            time_up.start(
                std::max(1, link.wallMs(std::min(static_cast<double>(left_ns) / 1e6, 2e9))));
            return;
        }
        station.log.LogMessage(QStringLiteral("Recording time is over: ending"));
        ending_asked = true;
        systemd.stopping();
        run.stop();
    });
    if (seconds > 0) time_up.start(link.wallMs(std::min(seconds * 1000, 2e9)));
    int status = 0;
    QTimer::singleShot(0, &run, [&] {
        WaitForController(station, std::min<double>(kControllerWaitS, seconds > 0 ? seconds : 1e9),
                          ending_asked);
        // A signal during the wait ends the station as it would a run.
        if (!signalled) {
            try {
                run.start();
            } catch (const StationError& error) {
                op.showError(error.boxText());
            }
            status = HeadlessStatus(run.lastEnd());
        }
        systemd.stopping();
        if (bufr) bufr->finishRun();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    if (seconds > 0) link.releaseHoldAtNs(end_ns);
    return status;
}

}  // namespace zarv::app
