// Recovery: a lost link, a silent stream or framing errors end the dwell with
// its file closed whole; the controller is opened again, with a growing wait
// between attempts, its trigger stopped and programmed as Start does, and the
// next beam follows. Only Stop ends it.
#include <algorithm>

#include "acquisition_run.h"
#include "station/controller_session.h"
#include "station/operator.h"
#include "station/operator_log.h"
#include "station/station_config.h"

namespace zarv::acquisition {

using namespace zarv::station;

namespace {
constexpr int kFirstWaitS = 1;
constexpr int kLongestWaitS = 60;
}  // namespace

bool AcquisitionRun::recoveryWanted() const {
    return always_recover_ || config_.run_config.auto_recovery;
}

bool AcquisitionRun::recover() {
    enterPhase(Phase::Recovering);
    op_.setStatusText(QStringLiteral("Recovering"));
    log_.LogMessage(QStringLiteral("Recovering: %1; the controller is opened again and "
                                   "programmed as at Start")
                        .arg(fault_));
    waitForDwellClosed();
    int wait_s = kFirstWaitS;
    while (!session_.stop_requested()) {
        if (reopenAndProgram()) {
            log_.LogMessage(QStringLiteral("Recovered: recording goes on with the next beam"));
            return true;
        }
        if (session_.stop_requested()) break;
        log_.LogMessage(
            QStringLiteral("The controller does not answer; next attempt in %1 s").arg(wait_s));
        waitListening(wait_s * 1000);
        wait_s = std::min(wait_s * 2, kLongestWaitS);
    }
    return false;
}

// Opening the link again stops the trigger before anything else is sent.
bool AcquisitionRun::reopenAndProgram() {
    if (session_.countDevices() == 0) return false;
    if (!session_.ensureOpen()) return false;
    enterPhase(Phase::Preparing);
    programController();
    if (!session_.link().HandleGone()) return true;
    session_.markLost();  // lost again while being programmed
    enterPhase(Phase::Recovering);
    return false;
}

}  // namespace zarv::acquisition
