#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulated_usb.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace zarv::sim {

class FtdiChip;

// One device node of the emulated bus: answers the usbfs requests of every
// client that opened it, queues their bulk IN transfers for the bridge, and
// tells their poll() when a transfer can be reaped.
//
// usbfs signals completions as POLLOUT on the node. The node here is a FIFO of
// one page that is kept full while nothing is to be reaped, so a waiting libusb
// sleeps in poll() instead of spinning on an always-ready file.
class UsbfsPort {
  public:
    UsbfsPort(FtdiChip& chip, std::string devnode, std::string node_path, bool busy);
    ~UsbfsPort();
    UsbfsPort(const UsbfsPort&) = delete;
    UsbfsPort& operator=(const UsbfsPort&) = delete;

    UMockdevIoctlBase* handler() const { return handler_; }
    const std::string& devnode() const { return devnode_; }
    FtdiChip& chip() const { return chip_; }
    // Makes the node a FIFO; called once the testbed has made it.
    bool makeNodePollable();
    void disconnect();

    std::vector<EmulatedUsb::UrbRecord> submitted() const;
    int inPending() const;

  private:
    struct Urb;

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void onClientVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client,
                                 void* self);
    bool handle(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void completeControl(Urb& urb);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    int discard(UMockdevIoctlClient* client, unsigned long urb_address);
    void claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool detach);
    void driverCommand(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void getDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void dropClient(UMockdevIoctlClient* client);
    void finishLocked(std::shared_ptr<Urb> urb);
    void updateReadinessLocked();
    void pump();

    FtdiChip& chip_;
    // The handler runs on umockdev's worker thread, which learns of this object
    // through GLib: the atomic makes the hand-over visible to ThreadSanitizer.
    std::atomic<bool> published_{false};
    std::string devnode_;
    std::string node_path_;
    UMockdevIoctlBase* handler_ = nullptr;
    int fifo_fd_ = -1;
    bool fifo_full_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool attached_ = true;
    bool busy_ = false;
    bool driver_bound_ = true;  // the serial driver, until a client detaches it
    UMockdevIoctlClient* claimed_by_ = nullptr;
    std::deque<std::shared_ptr<Urb>> in_queue_;
    std::shared_ptr<Urb> in_pump_;
    std::deque<std::shared_ptr<Urb>> done_;
    std::vector<EmulatedUsb::UrbRecord> log_;
    bool stopping_ = false;
    std::thread pump_thread_;
};

}  // namespace zarv::sim
