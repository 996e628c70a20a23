#include "acquisition_run.h"

#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

#include "app/operator.h"
#include "app/station.h"
#include "app/station_error.h"
#include "reader_thread.h"
#include "run_settings.h"

namespace {
QString hex(std::uint32_t value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}
int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, INT_MAX));
}
constexpr int kShowIntervalMs = 100;
// A chunk that has waited this long means the processing lags behind.
constexpr auto kBehind = std::chrono::milliseconds(500);
}  // namespace

AcquisitionRun::AcquisitionRun(Station& station, int queue_slots)
    : st_(station),
      queue_(queue_slots, kChunkSize),
      processor_(queue_, &station.graph, [this] { lookAgainFromAnyThread(); }) {}

void AcquisitionRun::lookAgainFromAnyThread() {
    // By name, so that the queued call is made entirely inside Qt.
    QMetaObject::invokeMethod(this, "lookAgain", Qt::QueuedConnection);
}

AcquisitionRun::~AcquisitionRun() {
    if (reader_) {
        reader_->requestStop();
        reader_->join();
    }
}

void AcquisitionRun::stop_btnClick() {
    st_.stop_requested = true;
    st_.triggering = false;
    waiter_.wake();
}

void AcquisitionRun::logBytesReceived(int count) {
    st_.LogMessage(QStringLiteral("Bytes Received = %1").arg(count));
}

void AcquisitionRun::start_btnClick() {
    if (st_.run_active) return;
    if (st_.update_active) {  // the flash commands must not meet a run
        st_.LogMessage(QStringLiteral("Firmware update in progress. Start refused"));
        return;
    }
    st_.op.setStartEnabled(false);
    st_.triggering = true;
    st_.stop_requested = false;  // a Stop from here on is never lost
    st_.run_active = true;
    try {
        if (prepare()) runBeams();
    } catch (const StationError& error) {
        cleanUpAfterError();
        st_.LogMessage(QStringLiteral("Run ended: ") + error.text());
        throw;
    } catch (...) {
        cleanUpAfterError();
        throw;
    }
    st_.run_active = false;
    st_.op.setStartEnabled(true);
}

bool AcquisitionRun::prepare() {
    st_.link.GetFTDeviceCount();
    if (st_.link.device_count == 0) {
        st_.LogMessage(QStringLiteral("Zarv not found!"));
        st_.device_open = false;
        return false;
    }
    st_.ReadConfig();
    if (const QString reason = RefuseReason(st_.run_config); !reason.isEmpty()) {
        st_.LogMessage(QStringLiteral("Settings refused: ") + reason);
        return false;
    }
    if (!st_.EnsureDeviceOpen()) return false;
    programController();
    return !st_.stop_requested;
}

void AcquisitionRun::programController() {
    ControllerCommands& cmd = st_.commands;
    TRunConfig& c = st_.run_config;
    cmd.StopTrigger();
    InfoWords info{};
    (void)cmd.ReadControllerInfo(info);  // nothing of it changes the run

    const std::uint32_t ch0 = TuningWord(c.reference_frequency), ch1 = TuningWord(c.test_frequency),
                        ch2 = TuningWord(c.IP_frequency), ch3 = TuningWord(c.QP_frequency);
    st_.LogMessage(QStringLiteral("Programing frequency"));
    const int frequencies = cmd.SetFrequencies(ch0, ch1, ch2, ch3);
    st_.LogMessage(QStringLiteral("Ch0: %1; Ch1: %2").arg(hex(ch0, 8), hex(ch1, 8)));
    st_.LogMessage(QStringLiteral("Ch2: %1; Ch3: %2").arg(hex(ch2, 8), hex(ch3, 8)));
    logBytesReceived(frequencies);

    st_.LogMessage(QStringLiteral("Programing amplitude"));
    const int amplitudes = cmd.SetAmplitudes(
        static_cast<std::uint16_t>(c.reference_level), static_cast<std::uint16_t>(c.test_level),
        static_cast<std::uint16_t>(c.ip_level), static_cast<std::uint16_t>(c.qp_level));
    const auto level = [](std::int32_t v) { return hex(static_cast<std::uint32_t>(v), 4); };
    st_.LogMessage(
        QStringLiteral("Ch0: %1; Ch1: %2").arg(level(c.reference_level), level(c.test_level)));
    st_.LogMessage(QStringLiteral("Ch2: %1; Ch3: %2").arg(level(c.ip_level), level(c.qp_level)));
    logBytesReceived(amplitudes);

    const std::uint16_t dac0 = DacWord(c.dac_channel0), dac1 = DacWord(c.dac_channel1);
    st_.LogMessage(QStringLiteral("Programing DAC"));
    const int dac = cmd.SetDacLevels(dac0, dac1);
    st_.LogMessage(QStringLiteral("Ch0: %1; Ch1: %2").arg(hex(dac0, 4), hex(dac1, 4)));
    logBytesReceived(dac);

    const SweepParameters sweep = SweepFromConfig(c);
    st_.LogMessage(QStringLiteral("Setting sweep parameters"));
    st_.LogMessage(QStringLiteral("Sample Gate counts: %1").arg(sweep.sample_start));
    logBytesReceived(cmd.SetSweepParameters(sweep));

    const auto record_period = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(c.ipp) * static_cast<std::uint32_t>(c.integrations));
    processor_.configure(c.gates, c.integrations, record_period);
}

void AcquisitionRun::runBeams() {
    int beam = 1;
    while (runDwell(beam)) beam = beam % 3 + 1;
}

bool AcquisitionRun::runDwell(int beam) {
    st_.op.setStatusText(QStringLiteral("FE 0"));
    st_.LogMessage(QStringLiteral("Setting Relay to beam direction: %1").arg(beam));
    st_.commands.SetBeamDirection(static_cast<std::uint8_t>(beam));
    st_.op.waitMs(st_.run_config.relay_swith_time);
    // The previous dwell's file is closed by now, or its last records are still
    // being written: either way it must be done before the next one opens.
    waitForDwellClosed();
    if (st_.stop_requested) return false;  // stopped before this dwell began

    startDwell(beam);
    recordUntilDwellEnds();
    endDwell();
    if (st_.stop_requested) {
        waitForDwellClosed();
        return false;
    }
    return true;
}

void AcquisitionRun::startDwell(int beam) {
    st_.op.setProgressMaximum(clampToInt(Nearest(st_.run_config.dwell_time * 10)));
    st_.op.setProgressPosition(0);
    st_.op.setLossText(QString());
    shown_framing_errors_ = 0;
    warned_behind_ = false;
    openDataFile(beam);
    processor_.beginDwell(file_);
    // A read is under way before the first frame leaves the controller.
    startReader();
    st_.LogMessage(QStringLiteral("Starting trigger on beam direction: %1").arg(beam));
    st_.commands.StartTrigger();
    trigger_on_ = true;
    beam_start_.start();
}

void AcquisitionRun::openDataFile(int beam) {
    const QString stem = st_.MakeDataFileStem();
    file_.open(stem + QStringLiteral("_beam%1.txt").arg(beam));
    file_.writeHeader(st_.run_config, stem.right(14), beam);
}

void AcquisitionRun::startReader() {
    reader_ = std::make_unique<TMyThread>(st_.link, queue_, [this] { lookAgainFromAnyThread(); });
    reader_->start(QThread::TimeCriticalPriority);
    reader_->waitUntilReading(200);
}

void AcquisitionRun::recordUntilDwellEnds() {
    const double dwell_time = st_.run_config.dwell_time;
    QTimer dwell_clock;
    dwell_clock.setSingleShot(true);
    dwell_clock.setTimerType(Qt::PreciseTimer);
    connect(&dwell_clock, &QTimer::timeout, this, [this] { waiter_.wake(); });
    dwell_clock.start(clampToInt(static_cast<std::int64_t>(std::ceil(dwell_time * 1000))));
    QTimer show;
    connect(&show, &QTimer::timeout, this, [this] {
        showProgress();
        warnIfBehind();
        waiter_.wake();
    });
    show.start(kShowIntervalMs);

    waiter_.waitUntil([&] {
        return st_.stop_requested || elapsedSeconds() >= dwell_time ||
               processor_.framingLimitPassed() || !processor_.error().isEmpty() ||
               reader_->readFailed();
    });
    showProgress();
    if (const QString error = processor_.error(); !error.isEmpty()) throw StationError(error);
    if (reader_->readFailed()) {
        st_.LogMessage(QStringLiteral("Stream lost: reading from the controller failed"));
        st_.device_open = false;
        st_.stop_requested = true;
    } else if (processor_.framingLimitPassed()) {
        endOnFramingErrors();
    }
    if (elapsedSeconds() >= dwell_time) st_.op.setProgressPosition(st_.op.progressMaximum());
}

void AcquisitionRun::showProgress() {
    const int position = clampToInt(Nearest(elapsedSeconds() * 10));
    st_.op.setProgressPosition(std::min(position, st_.op.progressMaximum()));
    const int errors = processor_.framingErrors();
    if (errors != shown_framing_errors_) {
        shown_framing_errors_ = errors;
        st_.op.setStatusText(QStringLiteral("FE %1").arg(errors));
    }
}

void AcquisitionRun::warnIfBehind() {
    const auto behind = queue_.oldestAge();
    if (warned_behind_ || behind < kBehind) return;
    warned_behind_ = true;
    st_.LogMessage(QStringLiteral("Data processing is not keeping up with the stream"));
    st_.LogMessage(QStringLiteral("Processing is %1 s behind the stream (%2 of %3 chunks queued)")
                       .arg(std::chrono::duration<double>(behind).count(), 0, 'f', 1)
                       .arg(queue_.queued())
                       .arg(queue_.capacity()));
}

void AcquisitionRun::endDwell() {
    // The read in progress returns at once with what has arrived: all of it
    // belongs to this dwell. Only then does the trigger frame purge the bridge.
    reader_->requestStop();
    reader_->join();
    const std::uint64_t lost = reader_->lostBytes();
    reader_.reset();
    st_.LogMessage(QStringLiteral("Stopping trigger"));
    st_.commands.StopTrigger();
    trigger_on_ = false;
    // Everything the reader queued is still recorded, then the file closes; the
    // next dwell need not wait for the close, but the records decide whether
    // there is one.
    processor_.endDwell();
    waiter_.waitUntil([this] { return processor_.dwellDrained(); });
    showProgress();
    if (const QString error = processor_.error(); !error.isEmpty()) throw StationError(error);
    if (processor_.framingLimitPassed() && !st_.stop_requested) endOnFramingErrors();
    reportLoss(lost);
}

void AcquisitionRun::endOnFramingErrors() {
    st_.LogMessage(QStringLiteral("Framing errors.."));
    st_.device_open = false;
    st_.stop_requested = true;
}

void AcquisitionRun::reportLoss(std::uint64_t lost_bytes) {
    if (lost_bytes == 0) return;
    const auto frames = lost_bytes / StreamDecoder::kFrameSize;
    st_.LogMessage(QStringLiteral("Data lost in this dwell: %1 bytes of the stream (about %2 "
                                  "frames) found no room in the processing queue")
                       .arg(lost_bytes)
                       .arg(frames));
    st_.op.setLossText(QStringLiteral("Lost %1 frames").arg(frames));
}

void AcquisitionRun::waitForDwellClosed() {
    waiter_.waitUntil([this] { return processor_.dwellClosed(); });
    if (const QString error = processor_.error(); !error.isEmpty()) throw StationError(error);
}

void AcquisitionRun::cleanUpAfterError() noexcept {
    try {
        if (reader_) {
            reader_->requestStop();
            reader_->join();
            reader_.reset();
        }
        if (trigger_on_) st_.commands.StopTrigger();
        trigger_on_ = false;
        processor_.endDwell();
        waiter_.waitUntil([this] { return processor_.dwellClosed(); });
    } catch (...) {
    }
    file_.abandon();
    st_.run_active = false;
    st_.op.setStartEnabled(true);
}
