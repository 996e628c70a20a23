#pragma once

#include <cstdint>

#include "device_IO/controller_commands.h"
#include "device_IO/usb_link.h"

namespace zarv::device_io {
class FtApi;
}  // namespace zarv::device_io

namespace zarv::station {

using device_io::ControllerCommands;
using device_io::FtApi;
using device_io::UsbLink;

class OperatorLog;
struct TRunConfig;

// Who holds the link: nobody, an acquisition run (also after a Stop the run has
// not yet acted on), or a firmware update.
enum class LinkHolder { Idle, Run, Update };

// The one owner of the link to the controller and its command set, and of what
// the station knows of the controller: whether it is open, whether the operator
// wants the trigger on, whether a Stop is pending, and who holds the link.
class ControllerSession {
  public:
    ControllerSession(FtApi& api, OperatorLog& log, const TRunConfig& config);
    ControllerSession(const ControllerSession&) = delete;
    ControllerSession& operator=(const ControllerSession&) = delete;

    UsbLink& link() { return link_; }
    // The time the controller streams on.
    const device_io::LinkClock& clock() const { return link_.clock(); }
    ControllerCommands& commands() { return commands_; }

    // Lists the attached bridges anew; how many there are.
    std::uint32_t countDevices();
    // Opens the controller unless it is open already and still answers, the
    // bridge named by device_serial when there is one; logs the outcome.
    bool ensureOpen();
    // The controller is taken for closed: the next ensureOpen opens it anew.
    // Until then it may still be triggering: nothing stopped it.
    void markLost() {
        device_open_ = false;
        trigger_may_be_on_ = true;
    }
    // The link went while the controller may have been triggering, and no
    // StopTrigger has reached it since.
    bool triggerMayBeOn() const { return trigger_may_be_on_; }
    // With the link free and the controller's trigger perhaps still on: when a
    // bridge is attached again, opens it, which stops the trigger before
    // anything else. Says nothing while none is attached. True when it stopped it.
    bool stopTriggerIfBack();

    bool device_open() const { return device_open_; }
    bool triggering() const { return triggering_; }
    bool stop_requested() const { return stop_requested_; }
    LinkHolder holder() const { return holder_; }
    bool linkBusy() const { return holder_ != LinkHolder::Idle; }

    // Start: the run holds the link and wants the trigger on; a Stop from here on
    // is never lost.
    void beginRun();
    // Stop: the trigger is no longer wanted; the run ends at its next look.
    void requestStop();
    // The run ends by itself (a lost stream, framing errors): the trigger wish
    // stays until Stop.
    void endFromWithin() { stop_requested_ = true; }
    // The run or the update lets go of the link. The trigger wish stays until Stop.
    void releaseLink() { holder_ = LinkHolder::Idle; }
    void beginUpdate() { holder_ = LinkHolder::Update; }

  private:
    OperatorLog& log_;
    const TRunConfig& config_;
    UsbLink link_;
    ControllerCommands commands_;
    bool device_open_ = false;
    bool triggering_ = false;
    bool stop_requested_ = false;
    LinkHolder holder_ = LinkHolder::Idle;
    bool stopping_after_open_ = false;
    bool trigger_may_be_on_ = false;
};

}  // namespace zarv::station
