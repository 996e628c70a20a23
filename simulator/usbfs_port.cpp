#include "usbfs_port.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "ftdi_chip.h"

namespace zarv::sim {

struct UsbfsPort::Urb {
    UMockdevIoctlClient* client = nullptr;
    UMockdevIoctlData* data = nullptr;  // the client's usbdevfs_urb, kept for the reap
    unsigned long address = 0;
    std::uint8_t type = 0;
    std::uint8_t endpoint = 0;
    int length = 0;
    int status = 0;
    int actual = 0;
    std::vector<std::uint8_t> in_bytes;  // what a bulk IN transfer brings back
    bool cancelled = false;
    bool orphaned = false;  // its client closed the handle

    ~Urb() {
        if (data) g_object_unref(data);
    }
};

namespace {
// As a host controller with scatter-gather: libusb sends each transfer as one URB.
constexpr unsigned kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
constexpr int kUsbSpeedHigh = 3;
// The bus's side: above the station's reader and its libusb events thread (10).
constexpr int kBusPriority = 12;

void finishRequest(UMockdevIoctlClient* client, int errno_value) {
    umockdev_ioctl_client_complete(client, errno_value ? -1 : 0, errno_value);
}

// A local copy of client memory that a pointer in data points to; written back
// when the request completes.
struct Resolved {
    UMockdevIoctlData* p;
    Resolved(UMockdevIoctlData* data, std::size_t offset, std::size_t length)
        : p(umockdev_ioctl_data_resolve(data, offset, length, nullptr)) {}
    ~Resolved() {
        if (p) g_object_unref(p);
    }
    Resolved(const Resolved&) = delete;
    Resolved& operator=(const Resolved&) = delete;
    UMockdevIoctlData* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// Real-time, above the station's reader, where the system allows it.
bool RaiseToBusPriority() {
    sched_param priority{};
    priority.sched_priority = kBusPriority;
    return pthread_setschedparam(pthread_self(), SCHED_RR, &priority) == 0;
}

UsbSetup parseSetup(const std::uint8_t* p) {
    UsbSetup s;
    s.request_type = p[0];
    s.request = p[1];
    s.value = static_cast<std::uint16_t>(p[2] | (p[3] << 8));
    s.index = static_cast<std::uint16_t>(p[4] | (p[5] << 8));
    s.length = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
    return s;
}
}  // namespace

UsbfsPort::UsbfsPort(FtdiChip& chip, std::string devnode, std::string node_path, bool busy)
    : chip_(chip), devnode_(std::move(devnode)), node_path_(std::move(node_path)), busy_(busy) {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsPort::onIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&UsbfsPort::onClientVanished), this);
    pump_thread_ = std::thread([this] { pump(); });
    published_.store(true, std::memory_order_release);
}

UsbfsPort::~UsbfsPort() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    chip_.interruptTake();
    pump_thread_.join();
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
    if (fifo_fd_ >= 0) ::close(fifo_fd_);
}

bool UsbfsPort::makeNodePollable() {
    ::unlink(node_path_.c_str());
    if (::mkfifo(node_path_.c_str(), 0666) != 0) return false;
    fifo_fd_ = ::open(node_path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fifo_fd_ < 0) return false;
    ::fcntl(fifo_fd_, F_SETPIPE_SZ, 4096);  // one page: one byte makes it full
    std::lock_guard<std::mutex> lock(mutex_);
    updateReadinessLocked();
    return true;
}

void UsbfsPort::updateReadinessLocked() {
    if (fifo_fd_ < 0) return;
    const bool want_full = done_.empty();
    if (want_full == fifo_full_) return;
    char byte = 0;
    const ssize_t n = want_full ? ::write(fifo_fd_, &byte, 1) : ::read(fifo_fd_, &byte, 1);
    if (n == 1) fifo_full_ = want_full;
}

int UsbfsPort::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    // A kernel answers usbfs in the calling thread, at its priority: the thread
    // that stands in for it here runs ahead of the station's own, as the pump
    // does, so that a busy machine delays the station and not its bus.
    thread_local const bool raised = RaiseToBusPriority();
    (void)raised;
    auto* port = static_cast<UsbfsPort*>(self);
    port->published_.load(std::memory_order_acquire);
    return port->handle(client, umockdev_ioctl_client_get_request(client),
                        umockdev_ioctl_client_get_arg(client))
               ? TRUE
               : FALSE;
}

void UsbfsPort::onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    static_cast<UsbfsPort*>(self)->published_.load(std::memory_order_acquire);
    static_cast<UsbfsPort*>(self)->dropClient(client);
}

bool UsbfsPort::handle(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg) {
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        reap(client, arg);
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!attached_) {
            finishRequest(client, ENODEV);
            return true;
        }
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            const Resolved caps(arg, 0, sizeof(std::uint32_t));
            if (caps) std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
            finishRequest(client, 0);
            return true;
        }
        case USBDEVFS_SUBMITURB:
            submit(client, arg);
            return true;
        case USBDEVFS_DISCARDURB:
            finishRequest(client, discard(client, *reinterpret_cast<unsigned long*>(arg->data)));
            return true;
        case USBDEVFS_CLAIMINTERFACE:
            claim(client, arg, false);
            return true;
        case USBDEVFS_DISCONNECT_CLAIM:
            claim(client, arg, true);
            return true;
        case USBDEVFS_RELEASEINTERFACE: {
            std::lock_guard<std::mutex> lock(mutex_);
            if (claimed_by_ == client) claimed_by_ = nullptr;
            finishRequest(client, 0);
            return true;
        }
        case USBDEVFS_IOCTL:
            driverCommand(client, arg);
            return true;
        case USBDEVFS_GETDRIVER:
            getDriver(client, arg);
            return true;
        case USBDEVFS_GET_SPEED:
            umockdev_ioctl_client_complete(client, kUsbSpeedHigh, 0);
            return true;
        case USBDEVFS_RESET:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
            finishRequest(client, 0);
            return true;
        default:
            finishRequest(client, ENOTTY);
            return true;
    }
}

void UsbfsPort::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!data) {
        finishRequest(client, EFAULT);
        return;
    }
    const auto* raw = reinterpret_cast<const usbdevfs_urb*>(data->data);
    auto urb = std::make_shared<Urb>();
    urb->client = client;
    urb->data = data;
    urb->address = data->client_addr;
    urb->type = raw->type;
    urb->endpoint = raw->endpoint;
    urb->length = raw->buffer_length;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!attached_) {  // gone since the request came in
        lock.unlock();
        finishRequest(client, ENODEV);
        return;
    }
    log_.push_back({urb->type, urb->endpoint, urb->length});
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        lock.unlock();
        completeControl(*urb);
        lock.lock();
        finishLocked(urb);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == FtdiChip::kOutEndpoint) {
        lock.unlock();
        const Resolved buffer(data, offsetof(usbdevfs_urb, buffer),
                              static_cast<std::size_t>(urb->length));
        if (buffer) chip_.bulkOut(buffer->data, static_cast<std::size_t>(buffer->data_len));
        urb->actual = urb->length;
        lock.lock();
        finishLocked(urb);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == FtdiChip::kInEndpoint) {
        in_queue_.push_back(urb);
        chip_.setHostWaiting(true);
        wake_.notify_all();
    } else {
        lock.unlock();
        finishRequest(client, EINVAL);
        return;
    }
    lock.unlock();
    finishRequest(client, 0);
}

// A control transfer's buffer holds the 8-byte setup packet, then its data.
void UsbfsPort::completeControl(Urb& urb) {
    const Resolved buffer(urb.data, offsetof(usbdevfs_urb, buffer),
                          static_cast<std::size_t>(urb.length));
    if (!buffer || buffer->data_len < 8) {
        urb.status = -EINVAL;
        return;
    }
    const UsbSetup setup = parseSetup(buffer->data);
    const auto reply = chip_.control(setup, buffer->data + 8);
    if (!reply) {
        urb.status = -EPIPE;
        return;
    }
    if (setup.isIn()) {
        const auto n = std::min<std::size_t>(reply->size(), buffer->data_len - 8u);
        std::memcpy(buffer->data + 8, reply->data(), n);
        urb.actual = static_cast<int>(n);
    } else {
        urb.actual = setup.length;
    }
}

void UsbfsPort::finishLocked(std::shared_ptr<Urb> urb) {
    done_.push_back(std::move(urb));
    updateReadinessLocked();
}

void UsbfsPort::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    std::shared_ptr<Urb> urb;
    bool attached = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        attached = attached_;
        const auto it = std::find_if(done_.begin(), done_.end(),
                                     [client](const auto& u) { return u->client == client; });
        if (it != done_.end()) {
            urb = *it;
            done_.erase(it);
            updateReadinessLocked();
        }
    }
    if (!urb) {
        finishRequest(client, attached ? EAGAIN : ENODEV);
        return;
    }
    if (!urb->in_bytes.empty()) {
        const Resolved buffer(urb->data, offsetof(usbdevfs_urb, buffer), urb->in_bytes.size());
        if (buffer) std::memcpy(buffer->data, urb->in_bytes.data(), urb->in_bytes.size());
        urb->actual = static_cast<int>(urb->in_bytes.size());
    }
    auto* raw = reinterpret_cast<usbdevfs_urb*>(urb->data->data);
    raw->status = urb->status;
    raw->actual_length = urb->actual;
    const Resolved pointer(arg, 0, sizeof(void*));  // where the client wants the URB's address
    if (pointer) umockdev_ioctl_data_set_ptr(pointer.p, 0, urb->data);
    finishRequest(client, 0);
}

int UsbfsPort::discard(UMockdevIoctlClient* client, unsigned long urb_address) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto matches = [&](const std::shared_ptr<Urb>& u) {
        return u->client == client && u->address == urb_address;
    };
    if (in_pump_ && matches(in_pump_)) {
        in_pump_->cancelled = true;
        chip_.interruptTake();
        return 0;
    }
    const auto it = std::find_if(in_queue_.begin(), in_queue_.end(), matches);
    if (it == in_queue_.end()) return EINVAL;  // already completed
    (*it)->status = -ENOENT;
    auto urb = *it;
    in_queue_.erase(it);
    finishLocked(urb);
    return 0;
}

void UsbfsPort::claim(UMockdevIoctlClient* client, UMockdevIoctlData*, bool detach) {
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (busy_ || (claimed_by_ && claimed_by_ != client)) {
            error = EBUSY;
        } else if (driver_bound_ && !detach) {
            error = EBUSY;
        } else {
            driver_bound_ = false;
            claimed_by_ = client;
        }
    }
    finishRequest(client, error);
}

// Detaching and re-attaching the serial driver.
void UsbfsPort::driverCommand(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    const Resolved resolved(arg, 0, sizeof(usbdevfs_ioctl));
    if (!resolved) {
        finishRequest(client, EFAULT);
        return;
    }
    const auto* command = reinterpret_cast<const usbdevfs_ioctl*>(resolved->data);
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (!driver_bound_) error = ENODATA;
            driver_bound_ = false;
        } else if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            if (claimed_by_) error = EBUSY;
            driver_bound_ = !claimed_by_;
        } else {
            error = ENOTTY;
        }
    }
    finishRequest(client, error);
}

void UsbfsPort::getDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (claimed_by_)
            name = "usbfs";
        else if (driver_bound_)
            name = "ftdi_sio";
    }
    if (name.empty()) {
        finishRequest(client, ENODATA);
        return;
    }
    const Resolved resolved(arg, 0, sizeof(usbdevfs_getdriver));
    if (!resolved) {
        finishRequest(client, EFAULT);
        return;
    }
    auto* request = reinterpret_cast<usbdevfs_getdriver*>(resolved->data);
    std::memset(request->driver, 0, sizeof request->driver);
    std::memcpy(request->driver, name.data(), name.size());
    finishRequest(client, 0);
}

// A closed handle: the kernel releases its interface and forgets its transfers.
void UsbfsPort::dropClient(UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto mine = [client](const std::shared_ptr<Urb>& u) { return u->client == client; };
    in_queue_.erase(std::remove_if(in_queue_.begin(), in_queue_.end(), mine), in_queue_.end());
    done_.erase(std::remove_if(done_.begin(), done_.end(), mine), done_.end());
    if (in_pump_ && mine(in_pump_)) {
        in_pump_->cancelled = true;
        in_pump_->orphaned = true;
        chip_.interruptTake();
    }
    if (claimed_by_ == client) claimed_by_ = nullptr;
    updateReadinessLocked();
}

void UsbfsPort::disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    attached_ = false;
    for (auto& urb : in_queue_) {
        urb->status = -ESHUTDOWN;
        done_.push_back(urb);
    }
    in_queue_.clear();
    chip_.setHostWaiting(false);
    if (in_pump_) chip_.interruptTake();
    updateReadinessLocked();
    wake_.notify_all();
}

// The chip's side of the bus never stalls: where the system allows, the pump runs
// ahead of the station's own threads, so that it is the host that keeps up or not.
void UsbfsPort::pump() {
    RaiseToBusPriority();
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || (attached_ && !in_queue_.empty()); });
        if (stopping_) return;
        in_pump_ = in_queue_.front();
        in_queue_.pop_front();
        const auto capacity = static_cast<std::size_t>(in_pump_->length);
        lock.unlock();
        FtdiChip::InPayload payload = chip_.takePayload(capacity);
        lock.lock();
        auto urb = std::move(in_pump_);
        in_pump_.reset();
        if (urb->orphaned || !attached_) {
            chip_.unread(payload);  // never sent: it stays in the chip
            urb->status = -ESHUTDOWN;
        } else if (urb->cancelled) {
            // A cancelled transfer hands back the packets it had received.
            if (!payload.bytes.empty())
                urb->in_bytes = FtdiChip::packetize(payload.bytes, payload.overrun);
            urb->status = -ENOENT;
        } else {
            urb->in_bytes = FtdiChip::packetize(payload.bytes, payload.overrun);
        }
        if (!urb->orphaned) finishLocked(urb);
        // With another transfer queued the chip streams on into it; with none it
        // holds what its own buffer takes.
        chip_.setHostWaiting(attached_ && !in_queue_.empty());
    }
}

std::vector<EmulatedUsb::UrbRecord> UsbfsPort::submitted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

int UsbfsPort::inPending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(in_queue_.size()) + (in_pump_ ? 1 : 0);
}

}  // namespace zarv::sim
