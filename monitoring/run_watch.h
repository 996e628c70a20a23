#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>

#include "acquisition/acquisition_run.h"

namespace zarv::station {
class ControllerSession;
}  // namespace zarv::station

namespace zarv::monitoring {

class StateBoard;

// Copies where the run stands onto the board, twice a second and as each dwell
// closes: the phase, the link, the trigger, the queue and what each beam
// recorded. Lives on the GUI thread, which the run's waits keep turning.
class RunWatch : public QObject {
    Q_OBJECT
  public:
    static constexpr int kIntervalMs = 500;

    RunWatch(StateBoard& board, acquisition::AcquisitionRun& run,
             const station::ControllerSession& session, QObject* parent = nullptr);
    void look();

  private:
    void countDwell(const acquisition::AcquisitionRun::DwellOutcome& dwell);

    StateBoard& board_;
    acquisition::AcquisitionRun& run_;
    const station::ControllerSession& session_;
    QTimer timer_;
    std::int64_t last_records_ = 0;
    std::int64_t dwell_base_ = 0;  // the processor's count when the last dwell closed
};

}  // namespace zarv::monitoring
