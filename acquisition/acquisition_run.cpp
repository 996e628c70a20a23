#include "acquisition_run.h"

#include <algorithm>
#include <climits>

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
}  // namespace

AcquisitionRun::AcquisitionRun(Station& station) : st_(station) {}

AcquisitionRun::~AcquisitionRun() {
    if (!reader_) return;
    reader_->requestStop();
    if (!reader_running_) {
        reader_->join();
        delete reader_;
    }  // else it may be blocked in a hand-over that can no longer run: leave it
}

void AcquisitionRun::stop_btnClick() {
    st_.stop_requested = true;
    st_.triggering = false;
}

void AcquisitionRun::framingError(int count) {
    st_.op.setStatusText(QStringLiteral("FE %1").arg(count));
}

void AcquisitionRun::tooManyFramingErrors() {
    st_.LogMessage(QStringLiteral("Framing errors.."));
    st_.device_open = false;
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
    if (!st_.device_open) {
        const QString text = st_.link.OpenController();
        if (text == UsbLink::kNotOpen) {
            st_.LogMessage(QStringLiteral("USB device not found.."));
            return false;
        }
        st_.LogMessage(text);
        st_.device_open = true;
    }
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

    decoder_.configure(c.gates, c.integrations);
}

void AcquisitionRun::runBeams() {
    int beam = 1;
    while (runDwell(beam)) beam = beam % 3 + 1;
}

bool AcquisitionRun::runDwell(int beam) {
    decoder_.framing_errors = 0;
    st_.op.setStatusText(QStringLiteral("FE 0"));
    st_.LogMessage(QStringLiteral("Setting Relay to beam direction: %1").arg(beam));
    st_.commands.SetBeamDirection(static_cast<std::uint8_t>(beam));
    st_.op.waitMs(st_.run_config.relay_swith_time);
    if (st_.stop_requested) return false;  // stopped before this dwell began

    decoder_.reset();
    st_.op.setProgressMaximum(clampToInt(Nearest(st_.run_config.dwell_time * 10)));
    st_.op.setProgressPosition(0);
    decoder_.chunk_ready = false;
    openDataFile(beam);

    st_.LogMessage(QStringLiteral("Starting trigger on beam direction: %1").arg(beam));
    st_.commands.StartTrigger();
    trigger_on_ = true;
    beam_start_.start();
    startReader();
    recordUntilDwellEnds();

    stopReaderAndTrigger();
    if (st_.stop_requested) {
        file_.close();
        return false;
    }
    return true;
}

void AcquisitionRun::openDataFile(int beam) {
    const QString stem = st_.MakeDataFileStem();
    file_.open(stem + QStringLiteral("_beam%1.txt").arg(beam));
    file_.writeHeader(st_.run_config, stem.right(14), beam);
}

void AcquisitionRun::recordUntilDwellEnds() {
    const TRunConfig& c = st_.run_config;
    const auto record_period = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(c.ipp) * static_cast<std::uint32_t>(c.integrations));
    bool dwell_done = false;
    while (!st_.stop_requested && !dwell_done) {
        waiter_.waitUntil([this] { return decoder_.chunk_ready || read_failed_; });
        if (read_failed_) {
            st_.LogMessage(QStringLiteral("Stream lost: reading from the controller failed"));
            st_.device_open = false;
            st_.stop_requested = true;
            break;
        }
        decoder_.chunk_ready = false;
        decoder_.ProcessChunk(file_.isOpen() ? &file_ : nullptr, &st_.graph, record_period, *this);
        const double elapsed = beam_start_.nsecsElapsed() / 1e9;
        st_.op.setProgressPosition(clampToInt(Nearest(elapsed * 10)));
        if (elapsed >= c.dwell_time) {
            dwell_done = true;
            file_.close();
        }
        if (decoder_.framing_errors > StreamDecoder::kFramingErrorLimit) {
            dwell_done = true;
            st_.stop_requested = true;
        }
        if (decoder_.chunk_ready || (reader_ && reader_->handOverWaiting()))
            st_.LogMessage(QStringLiteral("Data processing is not keeping up with the stream"));
    }
}

void AcquisitionRun::startReader() {
    read_failed_ = false;
    auto* reader =
        new TMyThread(st_.link, kChunkSize, [this](std::uint32_t count, FT_STATUS status) {
            if (status != FT_OK) {
                read_failed_ = true;
            } else {
                decoder_.HandOverChunk(st_.link.rx_buffer.data(), count);
            }
            waiter_.wake();
        });
    connect(reader, &QThread::finished, this, [this] {
        reader_running_ = false;
        waiter_.wake();
    });
    reader_ = reader;
    reader_running_ = true;
    reader->start(QThread::TimeCriticalPriority);
}

void AcquisitionRun::stopReaderAndTrigger() {
    if (reader_) reader_->requestStop();
    st_.LogMessage(QStringLiteral("Stopping trigger"));
    st_.commands.StopTrigger();
    trigger_on_ = false;
    // The next command must not meet a read of this reader, nor its last chunk
    // the next dwell.
    waitForReaderToEnd();
}

void AcquisitionRun::waitForReaderToEnd() {
    // Pumping, so that a hand-over still pending can run; never a plain wait().
    waiter_.waitUntil([this] { return !reader_running_; });
    if (reader_) {
        reader_->join();  // it has left its loop: this returns at once
        delete reader_;
        reader_ = nullptr;
    }
}

void AcquisitionRun::cleanUpAfterError() noexcept {
    try {
        if (reader_running_) {
            if (reader_) reader_->requestStop();
            if (trigger_on_) st_.commands.StopTrigger();
            trigger_on_ = false;
            waitForReaderToEnd();
        } else if (trigger_on_) {
            st_.commands.StopTrigger();
            trigger_on_ = false;
        }
    } catch (...) {
    }
    file_.abandon();
    st_.run_active = false;
    st_.op.setStartEnabled(true);
}
