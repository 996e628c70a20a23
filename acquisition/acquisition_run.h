#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

#include "chunk_queue.h"
#include "data_file.h"
#include "disk_warning.h"
#include "dwell_journal.h"
#include "graph_capture.h"
#include "run_figures.h"
#include "station/delay.h"
#include "stream_processor.h"

namespace zarv::station {
struct TRunConfig;
class ControllerSession;
class OperatorLog;
class Operator;
class StationConfig;
}  // namespace zarv::station

namespace zarv::acquisition {

using station::ControllerSession;
using station::EventWaiter;
using station::Operator;
using station::OperatorLog;
using station::StationConfig;

class TMyThread;

// How the last run ended, for a caller that must tell (headless exit status).
enum class RunEnd {
    Stopped,       // Stop, a signal, the end of the recording time
    NoController,  // none attached, or it could not be opened at Start
    BadSettings,   // config.txt missing or a setting refused
    Cancelled,     // the operator declined the low-space question
    Fault,         // the link, the stream or framing errors ended it
    Failed,        // an error the run cannot go on after (a data file write)
};

// Start and Stop: programs the controller from config.txt, then records beam
// after beam (1, 2, 3, 1, ...) into one data file per dwell until Stop, too many
// framing errors or a lost stream. The run's control flow stays on the GUI thread
// inside the Start handler and keeps the window responsive while it waits; the
// stream itself is read on the reader thread and recorded on the processing
// thread, so a busy GUI thread never costs a record.
class AcquisitionRun : public QObject {
    Q_OBJECT
  public:
    static constexpr int kChunkSize = StreamDecoder::kChunkSize;
    // 16 MiB: a second and more of the heaviest stream (14.8 MB/s) while the
    // disk or the processing thread stalls.
    static constexpr int kQueueSlots = 128;

    AcquisitionRun(OperatorLog& log, ControllerSession& session, StationConfig& config,
                   int queue_slots = kQueueSlots);
    ~AcquisitionRun() override;

    // Start: returns when the run has ended. Stop: asks the run to end.
    void start();
    void stop();

    // A lost link, a silent stream or framing errors lead into recovery instead
    // of ending the run, whatever config.txt says (unattended recording).
    void setAlwaysRecover(bool always) { always_recover_ = always; }
    RunEnd lastEnd() const { return end_; }
    // Where the run stands, for the status line and for tests.
    enum class Phase { Idle, Preparing, Relay, Dwell, Draining, Recovering };
    Phase phase() const { return phase_; }
    // The beam of the dwell under way, or of the last one; 0 before any.
    int beam() const { return beam_; }
    // A stream that brought nothing for this long counts as stopped; at least
    // this, or three pulse periods.
    void setSilenceLimitMs(int ms) { silence_limit_ms_ = ms; }

    // The settings config.txt gave at the last Start.
    const station::TRunConfig& settings() const;
    // What the status line shows; the totals are those of the last run.
    const RunTotals& totals() const { return totals_; }

    // What the graph window shows: filled by the processing thread.
    GraphCapture& graph() { return graph_; }
    ChunkQueue& queue() { return queue_; }
    StreamProcessor& processor() { return processor_; }
    // What each dwell recorded, told as its records are all in (monitoring
    // counts them); set between runs.
    struct DwellOutcome {
        int beam = 0;
        QString file_path;
        std::int64_t records_written = 0;
        std::int64_t records_missing = 0;
        int framing_errors = 0;
        std::uint64_t lost_bytes = 0;
    };
    void setDwellObserver(std::function<void(const DwellOutcome&)> observer) {
        dwell_observer_ = std::move(observer);
    }
    // Another taker of the records and of each dwell's beam; set between runs.
    void setRecordSink(RecordSink* sink) {
        record_sink_ = sink;
        processor_.setRecordSink(sink);
    }

  private:
    // Queued from the reader and processing threads: the run looks again.
    Q_INVOKABLE void lookAgain() { waiter_.wake(); }
    void lookAgainFromAnyThread();

    // How a dwell ended: its time was up, Stop, or a fault (whose text says why).
    enum class DwellEnd { Next, Stop, Fault };

    bool prepare();  // start steps up to the programmed controller
    bool spaceAllowsStart();
    void showRunFields();
    void endFigures();
    void programController();
    void runBeams();
    DwellEnd runDwell(int beam);
    void startDwell(int beam);
    DwellEnd recordUntilDwellEnds();
    bool streamSilent() const;
    // The framing error count changes on screen at most twice a second, but
    // at the dwell's end as it stands.
    void showProgress(bool final_count = false);
    void warnIfBehind();
    DwellEnd endDwell(DwellEnd end);
    void stopTrigger();
    DwellEnd endOnFramingErrors();
    void reportLoss(std::uint64_t lost_bytes);
    void reportTiming(const DwellTiming& timing);
    void waitForDwellClosed();
    void writeJournal();
    // Waits up to ms of the link's time, ending at once on Stop.
    void waitListening(int ms);
    void holdDwellEnd(std::int64_t ns);
    void releaseDwellEnd();
    // Recovery (run_recovery.cpp): true when the next beam may follow.
    bool recoveryWanted() const;
    bool recover();
    bool reopenAndProgram();
    void openDataFile(int beam);
    void startReader();
    void cleanUpAfterError() noexcept;
    void closeDwellAfterError(bool cut_short);
    // The one place the run's phase changes.
    void enterPhase(Phase next) { phase_ = next; }
    void logBytesReceived(int count);
    // Times on the link's clock: the controller's time is what a dwell lasts.
    std::int64_t linkNowNs() const;
    double elapsedSeconds() const;
    std::int64_t runMs() const;

    OperatorLog& log_;
    Operator& op_;
    ControllerSession& session_;
    StationConfig& config_;
    GraphCapture graph_;
    ChunkQueue queue_;
    DataFile file_;  // the processor's between beginDwell and the dwell's close
    StreamProcessor processor_;
    EventWaiter waiter_;
    std::unique_ptr<TMyThread> reader_;
    Phase phase_ = Phase::Idle;
    RecordSink* record_sink_ = nullptr;
    int beam_ = 0;
    std::int64_t run_start_ns_ = 0;
    RunTotals totals_;
    std::int64_t records_at_start_ = 0;
    std::int64_t bytes_at_start_ = 0;
    // The rates are taken over about a second.
    struct RateSample {
        std::int64_t ms = 0;
        std::int64_t records = 0;
        std::int64_t bytes = 0;
    };
    RateSample rate_from_;
    double records_per_s_ = 0;
    double megabytes_per_s_ = 0;
    qint64 free_bytes_ = -1;
    DiskWarning disk_;
    bool warned_behind_ = false;
    int shown_framing_errors_ = 0;
    QElapsedTimer framing_shown_;
    std::int64_t beam_start_ns_ = 0;
    TriggerWrite trigger_write_;
    std::int64_t trigger_ns_ = 0;  // the write's middle, on the link's clock
    std::optional<std::int64_t> held_dwell_end_ns_;
    QDateTime trigger_wall_;  // the station's clock then
    std::optional<DwellEntry> journal_pending_;
    QString fault_;  // why the last dwell ended early
    bool always_recover_ = false;
    std::function<void(const DwellOutcome&)> dwell_observer_;
    RunEnd end_ = RunEnd::Stopped;
    int silence_limit_ms_ = 2000;
};

}  // namespace zarv::acquisition
