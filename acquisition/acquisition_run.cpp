#include "acquisition_run.h"

#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

#include "reader_thread.h"
#include "run_settings.h"
#include "station/controller_session.h"
#include "station/hex_text.h"
#include "station/operator.h"
#include "station/operator_log.h"
#include "station/station_config.h"
#include "station/station_error.h"

namespace zarv::acquisition {

using namespace zarv::device_io;
using namespace zarv::station;

namespace {
constexpr int kShowIntervalMs = 100;
// As often as a changing count is worth announcing, to the eye or a screen reader.
constexpr int kFieldPaceMs = 500;
// A chunk that has waited this long means the processing lags behind.
constexpr auto kBehind = std::chrono::milliseconds(500);
}  // namespace

AcquisitionRun::AcquisitionRun(OperatorLog& log, ControllerSession& session, StationConfig& config,
                               int queue_slots)
    : log_(log),
      op_(log.op()),
      session_(session),
      config_(config),
      queue_(queue_slots, kChunkSize),
      processor_(queue_, &graph_, [this] { lookAgainFromAnyThread(); }) {}

void AcquisitionRun::lookAgainFromAnyThread() {
    // By name, so that the queued call is made entirely inside Qt.
    QMetaObject::invokeMethod(this, "lookAgain", Qt::QueuedConnection);
}

AcquisitionRun::~AcquisitionRun() {
    releaseDwellEnd();
    if (reader_) {
        reader_->requestStop();
        reader_->join();
    }
}

void AcquisitionRun::stop() {
    if (session_.holder() == LinkHolder::Update) {
        log_.LogMessage(QStringLiteral(
            "Firmware update in progress: an update cannot be interrupted; it ends by itself"));
        return;
    }
    session_.requestStop();
    waiter_.wake();
}

void AcquisitionRun::logBytesReceived(int count) {
    log_.LogMessage(QStringLiteral("Bytes Received = %1").arg(count));
}

void AcquisitionRun::start() {
    if (session_.holder() == LinkHolder::Run) return;
    if (session_.holder() == LinkHolder::Update) {  // the flash commands must not meet a run
        log_.LogMessage(QStringLiteral("Firmware update in progress. Start refused"));
        return;
    }
    op_.setStartEnabled(false);
    session_.beginRun();
    enterPhase(Phase::Preparing);
    run_start_ns_ = linkNowNs();
    totals_ = RunTotals{};
    records_at_start_ = processor_.recordsWritten();
    bytes_at_start_ = file_.bytesWritten();
    rate_from_ = RateSample{0, records_at_start_, bytes_at_start_};
    free_bytes_ = -1;
    end_ = RunEnd::Stopped;
    journal_pending_.reset();
    try {
        if (prepare()) runBeams();
    } catch (const StationError& error) {
        cleanUpAfterError();
        endFigures();
        if (end_ != RunEnd::BadSettings) end_ = RunEnd::Failed;
        log_.LogMessage(QStringLiteral("Run ended: ") + error.text());
        throw;
    } catch (...) {
        cleanUpAfterError();
        endFigures();
        end_ = RunEnd::Failed;
        throw;
    }
    endFigures();
    enterPhase(Phase::Idle);
    session_.releaseLink();
    op_.setStartEnabled(true);
}

bool AcquisitionRun::prepare() {
    if (session_.countDevices() == 0) {
        log_.LogMessage(QStringLiteral("Zarv not found!"));
        session_.markLost();
        end_ = RunEnd::NoController;
        return false;
    }
    end_ = RunEnd::BadSettings;  // until config.txt has been read and accepted
    config_.ReadConfig();
    if (const QString reason = RefuseReason(config_.run_config); !reason.isEmpty()) {
        log_.LogMessage(QStringLiteral("Settings refused: ") + reason);
        return false;
    }
    end_ = RunEnd::Cancelled;
    if (!spaceAllowsStart()) return false;
    end_ = RunEnd::NoController;
    if (!session_.ensureOpen()) return false;
    end_ = RunEnd::Stopped;
    programController();
    return !session_.stop_requested();
}

// A data directory whose free space lasts less than an hour at the settings'
// rate is said before anything is sent; the operator decides.
bool AcquisitionRun::spaceAllowsStart() {
    const TRunConfig& c = config_.run_config;
    const QString warning =
        FreeSpaceWarning(c.data_dir, config_.free_space(c.data_dir), ConfiguredBytesPerSecond(c));
    if (warning.isEmpty()) return true;
    log_.LogMessage(warning);
    if (op_.askYesCancel(warning + QStringLiteral(".\n\nStart anyway?"))) return true;
    log_.LogMessage(QStringLiteral("Start cancelled"));
    return false;
}

void AcquisitionRun::programController() {
    ControllerCommands& cmd = session_.commands();
    TRunConfig& c = config_.run_config;
    cmd.StopTrigger();
    InfoWords info{};
    (void)cmd.ReadControllerInfo(info);  // nothing of it changes the run

    const std::uint32_t ch0 = TuningWord(c.reference_frequency), ch1 = TuningWord(c.test_frequency),
                        ch2 = TuningWord(c.IP_frequency), ch3 = TuningWord(c.QP_frequency);
    log_.LogMessage(QStringLiteral("Programing frequency"));
    const int frequencies = cmd.SetFrequencies(ch0, ch1, ch2, ch3);
    log_.LogMessage(QStringLiteral("Ch0: %1; Ch1: %2").arg(Hex(ch0, 8), Hex(ch1, 8)));
    log_.LogMessage(QStringLiteral("Ch2: %1; Ch3: %2").arg(Hex(ch2, 8), Hex(ch3, 8)));
    logBytesReceived(frequencies);

    log_.LogMessage(QStringLiteral("Programing amplitude"));
    const int amplitudes = cmd.SetAmplitudes(
        static_cast<std::uint16_t>(c.reference_level), static_cast<std::uint16_t>(c.test_level),
        static_cast<std::uint16_t>(c.ip_level), static_cast<std::uint16_t>(c.qp_level));
    const auto level = [](std::int32_t v) { return Hex(static_cast<std::uint32_t>(v), 4); };
    log_.LogMessage(
        QStringLiteral("Ch0: %1; Ch1: %2").arg(level(c.reference_level), level(c.test_level)));
    log_.LogMessage(QStringLiteral("Ch2: %1; Ch3: %2").arg(level(c.ip_level), level(c.qp_level)));
    logBytesReceived(amplitudes);

    const std::uint16_t dac0 = DacWord(c.dac_channel0), dac1 = DacWord(c.dac_channel1);
    log_.LogMessage(QStringLiteral("Programing DAC"));
    const int dac = cmd.SetDacLevels(dac0, dac1);
    log_.LogMessage(QStringLiteral("Ch0: %1; Ch1: %2").arg(Hex(dac0, 4), Hex(dac1, 4)));
    logBytesReceived(dac);

    const SweepParameters sweep = SweepFromConfig(c);
    log_.LogMessage(QStringLiteral("Setting sweep parameters"));
    log_.LogMessage(QStringLiteral("Sample Gate counts: %1").arg(sweep.sample_start));
    logBytesReceived(cmd.SetSweepParameters(sweep));

    const auto record_period = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(c.ipp) * static_cast<std::uint32_t>(c.integrations));
    processor_.configure(c.gates, c.integrations, record_period);
}

void AcquisitionRun::runBeams() {
    int beam = 1;
    while (true) {
        const DwellEnd end = runDwell(beam);
        if (end == DwellEnd::Stop) break;
        if (end == DwellEnd::Fault) {
            if (!recoveryWanted()) {
                end_ = RunEnd::Fault;
                session_.endFromWithin();
                break;
            }
            if (!recover()) break;
        }
        beam = beam % 3 + 1;
    }
    waitForDwellClosed();
}

AcquisitionRun::DwellEnd AcquisitionRun::runDwell(int beam) {
    op_.setStatusText(QStringLiteral("FE 0"));
    log_.LogMessage(QStringLiteral("Setting Relay to beam direction: %1").arg(beam));
    enterPhase(Phase::Relay);
    session_.commands().SetBeamDirection(static_cast<std::uint8_t>(beam));
    waitListening(config_.run_config.relay_swith_time);
    // The previous dwell's file is closed by now, or its last records are still
    // being written: either way it must be done before the next one opens.
    waitForDwellClosed();
    if (session_.stop_requested()) {
        log_.LogMessage(
            QStringLiteral("Stopped before the dwell on beam direction %1 began").arg(beam));
        return DwellEnd::Stop;
    }

    startDwell(beam);
    return endDwell(recordUntilDwellEnds());
}

std::int64_t AcquisitionRun::linkNowNs() const {
    return session_.clock().nowNs();
}

double AcquisitionRun::elapsedSeconds() const {
    return static_cast<double>(linkNowNs() - beam_start_ns_) / 1e9;
}

std::int64_t AcquisitionRun::runMs() const {
    return (linkNowNs() - run_start_ns_) / 1000000;
}

void AcquisitionRun::waitListening(int ms) {
    if (ms <= 0) return;
    const std::int64_t until_ns = linkNowNs() + std::int64_t{ms} * 1000000;
    bool over = false;
    QTimer due;
    due.setSingleShot(true);
    due.setTimerType(Qt::PreciseTimer);
    connect(&due, &QTimer::timeout, this, [&] {
        over = true;
        waiter_.wake();
    });
    due.start(session_.clock().wallMs(ms));
    waiter_.waitUntil([&] { return over || session_.stop_requested(); });
    if (over) session_.clock().stationWaitedUntilNs(until_ns);
}

// A controller whose time moves only when waited for stands at the dwell's end
// until the trigger is stopped there.
void AcquisitionRun::holdDwellEnd(std::int64_t ns) {
    releaseDwellEnd();
    session_.clock().holdAtNs(ns);
    held_dwell_end_ns_ = ns;
}

void AcquisitionRun::releaseDwellEnd() {
    if (held_dwell_end_ns_) session_.clock().releaseHoldAtNs(*held_dwell_end_ns_);
    held_dwell_end_ns_.reset();
}

void AcquisitionRun::showRunFields() {
    const std::int64_t now_ms = runMs();
    const std::int64_t records = processor_.recordsWritten();
    const std::int64_t bytes = file_.bytesWritten();
    if (now_ms - rate_from_.ms >= 1000) {
        const double span = static_cast<double>(now_ms - rate_from_.ms) / 1000;
        records_per_s_ = static_cast<double>(records - rate_from_.records) / span;
        megabytes_per_s_ = static_cast<double>(bytes - rate_from_.bytes) / span / 1e6;
        rate_from_ = RateSample{now_ms, records, bytes};
        // Asking the file system costs more than the rest together: once a second.
        free_bytes_ = config_.free_space(config_.run_config.data_dir);
    }
    RunFields fields;
    fields.beam = beam_;
    fields.dwell_s = elapsedSeconds();
    fields.dwell_length_s = config_.run_config.dwell_time;
    fields.run_s = static_cast<double>(now_ms) / 1000;
    fields.file_path = file_.path();
    fields.records_per_s = records_per_s_;
    fields.megabytes_per_s = megabytes_per_s_;
    fields.free_bytes = free_bytes_;
    if (megabytes_per_s_ > 0 && fields.free_bytes >= 0)
        fields.hours_left =
            static_cast<double>(fields.free_bytes) / (megabytes_per_s_ * 1e6) / 3600;
    if (const QString w = disk_.look(fields.hours_left, config_.run_config.data_dir); !w.isEmpty())
        log_.KeepNote(w);
    fields.disk_warning = disk_.text();
    fields.disk_low = static_cast<int>(disk_.level());
    op_.setRunFields(fields);
}

void AcquisitionRun::endFigures() {
    op_.setProgressPosition(0);  // no dwell is under way: the bar shows none
    if (totals_.dwells == 0) return;
    totals_.bytes = file_.bytesWritten() - bytes_at_start_;
    totals_.seconds = static_cast<double>(runMs()) / 1000;
    RunFields fields;
    fields.beam = beam_;
    fields.run_s = totals_.seconds;
    fields.file_path = file_.path();
    fields.free_bytes = config_.free_space(config_.run_config.data_dir);
    fields.summary = RunSummary(totals_);
    op_.setRunFields(fields);
    log_.KeepNote(fields.summary);
}

void AcquisitionRun::startDwell(int beam) {
    op_.setProgressMaximum(ProgressTenths(config_.run_config.dwell_time));
    op_.setProgressPosition(0);
    op_.setLossText(QString());
    shown_framing_errors_ = 0;
    warned_behind_ = false;
    beam_ = beam;
    ++totals_.dwells;
    openDataFile(beam);
    if (record_sink_) record_sink_->dwellBegins(beam);
    processor_.beginDwell(file_);
    // A read is under way before the first frame leaves the controller.
    startReader();
    log_.LogMessage(QStringLiteral("Starting trigger on beam direction: %1").arg(beam));
    // The first frame leaves the controller while the write is under way: the
    // write bounds it, and the stream's own arrivals date it within that.
    // A controller whose time moves only when waited for stands still while the
    // write is under way, as the reader would otherwise move it on meanwhile by
    // however long the machine's load keeps this thread.
    const std::int64_t write_hold_ns = linkNowNs();
    session_.clock().holdAtNs(write_hold_ns);
    const QDateTime wall_before = log_.now();
    const std::int64_t before_ns = linkNowNs();
    session_.commands().StartTrigger();
    const std::int64_t after_ns = linkNowNs();
    session_.clock().releaseHoldAtNs(write_hold_ns);
    trigger_write_ = TriggerWrite{before_ns, after_ns};
    trigger_ns_ = before_ns + (after_ns - before_ns) / 2;
    trigger_wall_ = wall_before.addMSecs((after_ns - before_ns) / 2 / 1000000);
    enterPhase(Phase::Dwell);
    beam_start_ns_ = linkNowNs();
}

void AcquisitionRun::openDataFile(int beam) {
    const QString stem = config_.MakeDataFileStem();
    file_.open(stem + QStringLiteral("_beam%1.txt").arg(beam));
    file_.writeHeader(config_.run_config, stem.right(14), beam);
}

void AcquisitionRun::startReader() {
    reader_ =
        std::make_unique<TMyThread>(session_.link(), queue_, [this] { lookAgainFromAnyThread(); });
    reader_->start(QThread::TimeCriticalPriority);
    reader_->waitUntilReading(200);
}

AcquisitionRun::DwellEnd AcquisitionRun::recordUntilDwellEnds() {
    const double dwell_time = config_.run_config.dwell_time;
    QTimer dwell_clock;
    dwell_clock.setSingleShot(true);
    dwell_clock.setTimerType(Qt::PreciseTimer);
    // The dwell ends on the link's time: the wall timer only says when to look.
    const std::int64_t dwell_end_ns =
        beam_start_ns_ + static_cast<std::int64_t>(std::ceil(dwell_time * 1e9));
    holdDwellEnd(dwell_end_ns);
    connect(&dwell_clock, &QTimer::timeout, this, [&, this] {
        if (const std::int64_t left_ns = dwell_end_ns - linkNowNs(); left_ns > 0)
            dwell_clock.start(
                std::max(1, session_.clock().wallMs(static_cast<double>(left_ns) / 1e6)));
        waiter_.wake();
    });
    dwell_clock.start(session_.clock().wallMs(DwellTimerMs(dwell_time)));
    QTimer show;
    connect(&show, &QTimer::timeout, this, [this] {
        showProgress();
        showRunFields();
        warnIfBehind();
        waiter_.wake();
    });
    show.start(kShowIntervalMs);

    // Without recovery a silent stream is only said: the dwell runs its time,
    // and the next trigger start may bring the stream back.
    const bool recovering = recoveryWanted();
    bool silence_said = false;
    DwellEnd end = DwellEnd::Next;
    waiter_.waitUntil([&] {
        if (!silence_said && streamSilent()) {
            silence_said = true;
            log_.LogMessage(QStringLiteral("The controller has sent nothing for %1 s")
                                .arg(static_cast<double>(silence_limit_ms_) / 1000, 0, 'f', 1));
            if (recovering) {
                fault_ = QStringLiteral("the stream stopped");
                end = DwellEnd::Fault;
                return true;
            }
        }
        return session_.stop_requested() || linkNowNs() >= dwell_end_ns ||
               processor_.framingLimitPassed() || !processor_.error().isEmpty() ||
               reader_->readFailed();
    });
    showProgress();
    if (const QString error = processor_.error(); !error.isEmpty()) throw StationError(error);
    if (reader_->readFailed()) {
        log_.LogMessage(QStringLiteral("Stream lost: reading from the controller failed"));
        session_.markLost();
        fault_ = QStringLiteral("the link to the controller was lost");
        return DwellEnd::Fault;
    }
    if (processor_.framingLimitPassed()) return endOnFramingErrors();
    if (end == DwellEnd::Fault) return end;
    return session_.stop_requested() ? DwellEnd::Stop : DwellEnd::Next;
}

bool AcquisitionRun::streamSilent() const {
    if (!reader_) return false;
    const std::int64_t ipp_ns = std::int64_t{config_.run_config.ipp} * 1000;
    const std::int64_t limit_ns = std::max(std::int64_t{silence_limit_ms_} * 1000000, 3 * ipp_ns);
    // Reads keep coming back empty: a reader that is itself held up says nothing.
    const std::int64_t last = std::max(reader_->lastDataNs(), trigger_ns_);
    return reader_->lastEmptyReadNs() - last > limit_ns;
}

void AcquisitionRun::showProgress(bool final_count) {
    const int position = ProgressTenths(elapsedSeconds());
    op_.setProgressPosition(std::min(position, op_.progressMaximum()));
    const int errors = processor_.framingErrors();
    if (errors == shown_framing_errors_) return;
    if (!final_count && framing_shown_.isValid() && framing_shown_.elapsed() < kFieldPaceMs) return;
    shown_framing_errors_ = errors;
    framing_shown_.start();
    op_.setStatusText(QStringLiteral("FE %1").arg(errors));
}

void AcquisitionRun::warnIfBehind() {
    const auto behind = queue_.oldestAge();
    if (warned_behind_ || behind < kBehind) return;
    warned_behind_ = true;
    log_.LogMessage(QStringLiteral("Data processing is not keeping up with the stream"));
    log_.LogMessage(QStringLiteral("Processing is %1 s behind the stream (%2 of %3 chunks queued)")
                        .arg(std::chrono::duration<double>(behind).count(), 0, 'f', 1)
                        .arg(queue_.queued())
                        .arg(queue_.capacity()));
}

AcquisitionRun::DwellEnd AcquisitionRun::endDwell(DwellEnd end) {
    // The read in progress returns at once with what has arrived: all of it
    // belongs to this dwell. Only then does the trigger frame purge the bridge.
    // Every frame made before the stop that the file lacks is missing from it.
    const std::int64_t end_ns = linkNowNs();
    reader_->requestStop();
    reader_->join();
    const std::uint64_t lost = reader_->lostBytes();
    reader_.reset();
    stopTrigger();
    releaseDwellEnd();
    enterPhase(Phase::Draining);
    // Everything the reader queued is still recorded, then the file closes; the
    // next dwell need not wait for the close, but the records decide whether
    // there is one.
    processor_.endDwell(trigger_write_, end_ns);
    waiter_.waitUntil([this] { return processor_.dwellDrained(); });
    showProgress(true);
    totals_.framing_errors += processor_.framingErrors();
    reportLoss(lost);
    reportTiming(processor_.timing());
    if (dwell_observer_)
        dwell_observer_({beam_, file_.path(), processor_.timing().records_written,
                         processor_.timing().missing(), processor_.framingErrors(), lost});
    if (const QString error = processor_.error(); !error.isEmpty()) throw StationError(error);
    if (processor_.framingLimitPassed() && end == DwellEnd::Next) end = endOnFramingErrors();
    return end;
}

// The trigger frame cannot reach a controller whose link is gone: say so, and
// leave it to the next open, which stops the trigger before anything else.
void AcquisitionRun::stopTrigger() {
    log_.LogMessage(QStringLiteral("Stopping trigger"));
    if (session_.commands().StopTrigger()) return;
    session_.markLost();
    log_.LogMessage(
        QStringLiteral("The trigger could not be stopped: the controller cannot be "
                       "reached; it will be stopped when the controller returns"));
}

AcquisitionRun::DwellEnd AcquisitionRun::endOnFramingErrors() {
    log_.LogMessage(QStringLiteral("Framing errors.."));
    session_.markLost();
    fault_ = QStringLiteral("too many framing errors");
    return DwellEnd::Fault;
}

void AcquisitionRun::reportLoss(std::uint64_t lost_bytes) {
    if (lost_bytes == 0) return;
    const auto frames = lost_bytes / StreamDecoder::kFrameSize;
    log_.LogMessage(QStringLiteral("Data lost in this dwell: %1 bytes of the stream (about %2 "
                                   "frames) found no room in the processing queue")
                        .arg(lost_bytes)
                        .arg(frames));
    op_.setLossText(QStringLiteral("Lost %1 frames").arg(frames));
}

// What the file holds against what the time implies; the journal line waits
// for the file to be closed and synced.
void AcquisitionRun::reportTiming(const DwellTiming& timing) {
    totals_.records += timing.records_written;
    totals_.records_lost += timing.missing();
    log_.KeepNote(DwellFileLine(beam_, file_.path(), timing));
    if (timing.missing() > 0) {
        log_.LogMessage(DwellTimingLine(beam_, timing));
        const std::int64_t frames = timing.missing() * std::max(1, config_.run_config.integrations);
        op_.setLossText(QStringLiteral("Lost %1 frames").arg(frames));
    }
    journal_pending_ = DwellEntry{file_.path(),
                                  beam_,
                                  trigger_wall_,
                                  trigger_ns_,
                                  timing,
                                  config_.run_config.geometry,
                                  config_.run_config.identity};
    if (record_sink_)
        record_sink_->dwellPlaced(WallTimeOf(*journal_pending_, timing.trigger_ns).toUTC());
}

const station::TRunConfig& AcquisitionRun::settings() const {
    return config_.run_config;
}

void AcquisitionRun::waitForDwellClosed() {
    waiter_.waitUntil([this] { return processor_.dwellClosed(); });
    if (const QString error = processor_.error(); !error.isEmpty()) throw StationError(error);
    writeJournal();
}

void AcquisitionRun::writeJournal() {
    if (!journal_pending_) return;
    const DwellEntry entry = *journal_pending_;
    journal_pending_.reset();
    if (const QString failure = AppendDwellJournal(entry); !failure.isEmpty())
        log_.LogMessage(QStringLiteral("Cannot write the dwell journal ") + failure);
}

// What an error leaves behind depends on where the run stood.
void AcquisitionRun::cleanUpAfterError() noexcept {
    try {
        // A reader runs from just before the trigger start to the dwell's end.
        if (reader_) {
            reader_->requestStop();
            reader_->join();
            reader_.reset();
        }
        switch (phase_) {
            case Phase::Dwell:
                session_.commands().StopTrigger();
                closeDwellAfterError(true);
                break;
            case Phase::Preparing:
            case Phase::Relay:
            case Phase::Draining:
            case Phase::Recovering:
                closeDwellAfterError(false);  // the last dwell's file may still be closing
                break;
            case Phase::Idle:
                break;
        }
    } catch (...) {
    }
    file_.abandon();
    enterPhase(Phase::Idle);
    session_.releaseLink();
    op_.setStartEnabled(true);
}

// A dwell cut short by an error still counts what its file holds.
void AcquisitionRun::closeDwellAfterError(bool cut_short) {
    enterPhase(Phase::Draining);
    processor_.endDwell(trigger_write_, linkNowNs());
    waiter_.waitUntil([this] { return processor_.dwellClosed(); });
    if (cut_short) reportTiming(processor_.timing());
    writeJournal();
}

}  // namespace zarv::acquisition
