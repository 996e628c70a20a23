#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace zarv::sim {

class FtdiChip;

// A USB bus in a umockdev testbed with FTDI bridges plugged into it. Every
// program started with the testbed's environment and libumockdev-preload sees
// them under /dev/bus/usb and /sys, so the real libusb and libftdi1 talk to them
// unchanged. The usbfs requests are answered here; a bridge is a FtdiChip.
class EmulatedUsb {
  public:
    struct UrbRecord {
        std::uint8_t type;
        std::uint8_t endpoint;
        int length;
    };

    EmulatedUsb();
    ~EmulatedUsb();
    EmulatedUsb(const EmulatedUsb&) = delete;
    EmulatedUsb& operator=(const EmulatedUsb&) = delete;

    // The testbed root (the child's UMOCKDEV_DIR).
    QString rootDir() const;
    // Plugs a bridge in at the next free address and returns its port. A busy
    // bridge is held by another program: it lists, but its interface cannot be
    // claimed.
    int plug(FtdiChip& chip, bool busy = false);
    // Takes it away: its node disappears, transfers in flight end with the device
    // gone and every later request on an old handle fails with ENODEV.
    void unplug(int port);
    // Unplugs and plugs the same bridge in again at a new address.
    int replug(int port);

    std::vector<UrbRecord> submittedUrbs(int port) const;
    // Bulk IN transfers queued on the port and not yet completed.
    int inTransfersPending(int port) const;
    QString devnode(int port) const;

    struct Port;

  private:
    std::shared_ptr<Port> port(int id) const;

    UMockdevTestbed* testbed_ = nullptr;
    QString root_dir_;
    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<Port>> ports_;
    int next_bus_ = 1;
};

}  // namespace zarv::sim
