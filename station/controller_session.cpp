#include "controller_session.h"

#include "operator.h"
#include "operator_log.h"
#include "run_config.h"

namespace zarv::station {

using namespace zarv::device_io;

ControllerSession::ControllerSession(FtApi& api, OperatorLog& log, const TRunConfig& config)
    : log_(log), config_(config), link_(api, log.op()), commands_(link_, log.op()) {
    commands_.setReopen([this] { return ensureOpen(); });
}

std::uint32_t ControllerSession::countDevices() {
    link_.GetFTDeviceCount();
    return link_.device_count;
}

bool ControllerSession::ensureOpen() {
    // The StopTrigger that follows an open does not open again.
    if (stopping_after_open_) return device_open_;
    if (device_open_ && !link_.HandleGone()) return true;
    if (device_open_) log_.LogMessage(QStringLiteral("USB device was lost: opening it again"));
    device_open_ = false;
    const QString text = link_.OpenController(config_.device_serial);
    if (text == UsbLink::kNotOpen) {
        log_.LogMessage(QStringLiteral("USB device not found.."));
        if (!link_.openFailure().isEmpty()) log_.LogMessage(link_.openFailure());
        return false;
    }
    log_.LogMessage(text);
    device_open_ = true;
    // The controller may still be triggering from before the link went: nothing
    // else is sent until its trigger is stopped.
    stopping_after_open_ = true;
    if (commands_.StopTrigger()) trigger_may_be_on_ = false;
    stopping_after_open_ = false;
    return true;
}

bool ControllerSession::stopTriggerIfBack() {
    if (!trigger_may_be_on_ || linkBusy() || countDevices() == 0) return false;
    if (!ensureOpen() || trigger_may_be_on_) return false;
    log_.LogMessage(QStringLiteral("The controller is back: its trigger is stopped"));
    return true;
}

void ControllerSession::beginRun() {
    holder_ = LinkHolder::Run;
    triggering_ = true;
    stop_requested_ = false;
}

void ControllerSession::requestStop() {
    stop_requested_ = true;
    triggering_ = false;
}

}  // namespace zarv::station
