#include "run_watch.h"

#include "state_board.h"
#include "station/controller_session.h"
#include "station/run_config.h"

namespace zarv::monitoring {

using acquisition::AcquisitionRun;

namespace {
QString PhaseName(AcquisitionRun::Phase phase) {
    switch (phase) {
        case AcquisitionRun::Phase::Idle:
            return QStringLiteral("idle");
        case AcquisitionRun::Phase::Preparing:
            return QStringLiteral("preparing");
        case AcquisitionRun::Phase::Relay:
            return QStringLiteral("relay");
        case AcquisitionRun::Phase::Dwell:
            return QStringLiteral("dwell");
        case AcquisitionRun::Phase::Draining:
            return QStringLiteral("draining");
        case AcquisitionRun::Phase::Recovering:
            return QStringLiteral("recovering");
    }
    return QStringLiteral("idle");
}
}  // namespace

RunWatch::RunWatch(StateBoard& board, AcquisitionRun& run,
                   const station::ControllerSession& session, QObject* parent)
    : QObject(parent), board_(board), run_(run), session_(session) {
    run_.setDwellObserver([this](const AcquisitionRun::DwellOutcome& d) { countDwell(d); });
    timer_.setInterval(kIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &RunWatch::look);
    timer_.start();
    look();
}

void RunWatch::look() {
    const std::int64_t records = run_.processor().recordsWritten();
    const bool more_records = records != last_records_;
    last_records_ = records;
    board_.change([&](StationState& s) {
        s.phase = PhaseName(run_.phase());
        s.link_up = session_.device_open();
        s.trigger_on = session_.triggering();
        s.queue_lag = run_.queue().queued();
        s.queue_lag_s = std::chrono::duration<double>(run_.queue().oldestAge()).count();
        s.queue_fill = static_cast<double>(s.queue_lag) / std::max(1, run_.queue().capacity());
        s.station_name = run_.settings().identity.name;
        s.wigos_id = run_.settings().identity.wigos_id;
        if (more_records && records > 0) s.last_record = QDateTime::currentDateTimeUtc();
        // The open dwell's records go to the run's own beam: the status line
        // names the next beam only a moment after its records begin.
        s.beam = run_.beam();
        s.dwell_records = std::max<std::int64_t>(0, records - dwell_base_);
    });
}

void RunWatch::countDwell(const AcquisitionRun::DwellOutcome& d) {
    dwell_base_ = run_.processor().recordsWritten();
    board_.change([&](StationState& s) {
        s.dwell_records = 0;
        ++s.dwells;
        if (d.beam >= 1 && d.beam <= 3) {
            s.records_written[d.beam - 1] += d.records_written;
            s.records_missing[d.beam - 1] += d.records_missing;
        }
        s.framing_errors += d.framing_errors;
        s.bytes_lost += static_cast<std::int64_t>(d.lost_bytes);
    });
    look();
}

}  // namespace zarv::monitoring
