#include "ftdi_libftdi.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ftdi_read_ring.h"

namespace zarv::device_io {

struct LibFtdiApi::Device {
    ftdi_context* ctx = nullptr;
    std::unique_ptr<FtdiReadRing> ring;
    std::mutex io;     // held by every control call
    std::mutex write;  // held by writes only
    std::atomic<std::uint32_t> read_timeout_ms{0};

    ~Device() {
        ring.reset();  // its transfers must be back before the handle closes
        if (ctx) {
            ftdi_usb_close(ctx);
            ftdi_free(ctx);
        }
    }
};

namespace {
constexpr int kDefaultTransferSize = 16384;
constexpr int kSerialSize = 16;
constexpr int kDescriptionSize = 64;

// The devices as one enumeration sees them, in the library's order.
struct Enumeration {
    ftdi_context* ctx = ftdi_new();
    ftdi_device_list* list = nullptr;
    std::vector<libusb_device*> devices;

    Enumeration() {
        if (!ctx) return;
        if (ftdi_usb_find_all(ctx, &list, 0, 0) < 0) return;
        for (ftdi_device_list* d = list; d; d = d->next) devices.push_back(d->dev);
    }
    ~Enumeration() {
        if (list) ftdi_list_free(&list);
        if (ctx) ftdi_free(ctx);
    }
    Enumeration(const Enumeration&) = delete;
    Enumeration& operator=(const Enumeration&) = delete;

    // Description and serial number; a device without a serial string has "".
    bool strings(libusb_device* dev, std::string& description, std::string& serial) {
        char desc[kDescriptionSize] = "";
        char ser[kSerialSize] = "";
        const int rc =
            ftdi_usb_get_strings(ctx, dev, nullptr, 0, desc, sizeof desc, ser, sizeof ser);
        if (rc != 0 && rc != -9) return false;
        description = desc;
        serial = rc == -9 ? std::string() : std::string(ser);
        return true;
    }
};
// What each failure of ftdi_usb_open_dev means for whoever sits at the station.
std::string OpenFailureText(int rc) {
    switch (rc) {
        case -4:
            return "its USB device node cannot be opened: no permission (is the udev rule "
                   "installed?)";
        case -5:
            return "its interface cannot be claimed: another program holds the bridge, or its "
                   "serial driver could not be detached";
        case -8:
            return "no permission to detach its serial driver";
        case -3:
        case -12:
            return "its USB configuration cannot be read or set";
        default:
            return "the bridge did not answer while being opened";
    }
}
}  // namespace

LibFtdiApi::LibFtdiApi() = default;
LibFtdiApi::~LibFtdiApi() = default;

void LibFtdiApi::rememberOpenFailure(std::string cause) {
    std::lock_guard<std::mutex> lock(devices_mutex_);
    open_failure_ = std::move(cause);
}

std::string LibFtdiApi::DescribeOpenFailure() {
    std::lock_guard<std::mutex> lock(devices_mutex_);
    return open_failure_;
}

std::shared_ptr<LibFtdiApi::Device> LibFtdiApi::find(FT_HANDLE handle) {
    std::lock_guard<std::mutex> lock(devices_mutex_);
    const auto it = devices_.find(handle);
    return it == devices_.end() ? nullptr : it->second;
}

FT_STATUS LibFtdiApi::FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
    if (flags == FT_LIST_NUMBER_ONLY) rememberOpenFailure({});
    Enumeration e;
    if (!e.ctx) return FT_INSUFFICIENT_RESOURCES;
    if (flags == FT_LIST_NUMBER_ONLY) {
        if (!arg1) return FT_INVALID_PARAMETER;
        *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(e.devices.size());
        return FT_OK;
    }
    if ((flags & FT_LIST_BY_INDEX) == 0 || !arg2) return FT_INVALID_PARAMETER;
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if (index >= e.devices.size()) return FT_DEVICE_NOT_FOUND;
    std::string description, serial;
    if (!e.strings(e.devices[index], description, serial)) {
        rememberOpenFailure(
            "its serial number cannot be read: no permission to open its USB device node "
            "(is the udev rule installed?)");
        return FT_DEVICE_NOT_OPENED;
    }
    const std::string& text = (flags & FT_OPEN_BY_DESCRIPTION) ? description : serial;
    char* out = static_cast<char*>(arg2);
    std::memset(out, 0, FT_DEVICE_TEXT_SIZE);
    std::memcpy(out, text.data(), std::min<std::size_t>(text.size(), FT_DEVICE_TEXT_SIZE - 1));
    return FT_OK;
}

FT_STATUS LibFtdiApi::FT_OpenEx(const void* arg, std::uint32_t flags, FT_HANDLE* handle) {
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || !arg || !handle) return FT_INVALID_PARAMETER;
    const std::string wanted(static_cast<const char*>(arg));
    if (wanted.empty()) return FT_DEVICE_NOT_FOUND;
    auto device = std::make_shared<Device>();
    device->ctx = ftdi_new();
    if (!device->ctx) return FT_INSUFFICIENT_RESOURCES;
    device->ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    ftdi_set_interface(device->ctx, INTERFACE_A);
    ftdi_device_list* list = nullptr;
    if (ftdi_usb_find_all(device->ctx, &list, 0, 0) < 0) return FT_DEVICE_NOT_FOUND;
    bool found = false;
    int rc = -1;
    for (ftdi_device_list* d = list; d && !found; d = d->next) {
        char serial[kSerialSize] = "";
        if (ftdi_usb_get_strings(device->ctx, d->dev, nullptr, 0, nullptr, 0, serial,
                                 sizeof serial) == 0 &&
            wanted == serial) {
            found = true;
            rc = ftdi_usb_open_dev(device->ctx, d->dev);
        }
    }
    ftdi_list_free(&list);
    if (!found) return FT_DEVICE_NOT_FOUND;
    if (rc != 0) {
        rememberOpenFailure(OpenFailureText(rc) +
                            " (libftdi: " + ftdi_get_error_string(device->ctx) + ")");
        return FT_DEVICE_NOT_OPENED;
    }
    const FtdiReadRing::Endpoint in{device->ctx->usb_ctx, device->ctx->usb_dev,
                                    static_cast<unsigned char>(device->ctx->out_ep),
                                    static_cast<int>(device->ctx->max_packet_size)};
    device->ring = std::make_unique<FtdiReadRing>(in, kDefaultTransferSize);
    std::lock_guard<std::mutex> lock(devices_mutex_);
    *handle = next_handle_++;
    devices_[*handle] = std::move(device);
    return FT_OK;
}

FT_STATUS LibFtdiApi::FT_Close(FT_HANDLE handle) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(devices_mutex_);
        const auto it = devices_.find(handle);
        if (it == devices_.end()) return FT_INVALID_HANDLE;
        device = std::move(it->second);
        devices_.erase(it);
    }
    std::scoped_lock both(device->io, device->write);
    return FT_OK;  // the context closes when the last user lets go of it
}

FT_STATUS LibFtdiApi::FT_ResetDevice(FT_HANDLE handle) {
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    std::scoped_lock both(device->io, device->write);
    const int rc = device->ring->flush([&] { return ftdi_usb_reset(device->ctx); });
    return rc == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS LibFtdiApi::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    if ((mask & (FT_PURGE_RX | FT_PURGE_TX)) == 0) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> io(device->io);
    if ((mask & FT_PURGE_RX) &&
        device->ring->flush([&] { return ftdi_tciflush(device->ctx); }) != 0)
        return FT_IO_ERROR;
    if (mask & FT_PURGE_TX) {
        std::lock_guard<std::mutex> write(device->write);
        if (ftdi_tcoflush(device->ctx) != 0) return FT_IO_ERROR;
    }
    return FT_OK;
}

FT_STATUS LibFtdiApi::FT_SetTimeouts(FT_HANDLE handle, std::uint32_t read_ms,
                                     std::uint32_t write_ms) {
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    std::scoped_lock both(device->io, device->write);
    device->read_timeout_ms.store(read_ms);
    // Control requests wait this long too; it must stay well above the latency timer.
    device->ctx->usb_read_timeout =
        read_ms ? static_cast<int>(std::max<std::uint32_t>(read_ms, 100)) : 0;
    device->ctx->usb_write_timeout = static_cast<int>(write_ms);
    return FT_OK;
}

FT_STATUS LibFtdiApi::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    if (ms == 0) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> io(device->io);
    return ftdi_set_latency_timer(device->ctx, ms) == 0 ? FT_OK : FT_IO_ERROR;
}

// The IN size is the size of each queued bulk transfer; the OUT size changes nothing.
FT_STATUS LibFtdiApi::FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t in_size, std::uint32_t) {
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    if (in_size < 64 || in_size > 65536 || in_size % 64 != 0) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> io(device->io);
    device->ring->setTransferSize(static_cast<int>(in_size));
    return FT_OK;
}

FT_STATUS LibFtdiApi::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                               std::uint32_t* written) {
    if (written) *written = 0;
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    if (!buffer || !written) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(device->write);
    const int rc = ftdi_write_data(device->ctx, static_cast<const unsigned char*>(buffer),
                                   static_cast<int>(count));
    if (rc < 0) return FT_IO_ERROR;
    *written = static_cast<std::uint32_t>(rc);
    return FT_OK;
}

FT_STATUS LibFtdiApi::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                              std::uint32_t* received) {
    if (received) *received = 0;
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    if (!buffer || !received) return FT_INVALID_PARAMETER;
    bool gone = false;
    *received = device->ring->read(static_cast<std::uint8_t*>(buffer), count,
                                   device->read_timeout_ms.load(), &gone);
    return gone ? FT_IO_ERROR : FT_OK;
}

FT_STATUS LibFtdiApi::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) {
    if (rx_bytes) *rx_bytes = 0;
    const auto device = find(handle);
    if (!device) return FT_INVALID_HANDLE;
    if (!rx_bytes) return FT_INVALID_PARAMETER;
    if (device->ring->gone()) return FT_IO_ERROR;
    unsigned short modem_status = 0;
    {
        std::lock_guard<std::mutex> io(device->io);  // a request the bridge must answer
        if (ftdi_poll_modem_status(device->ctx, &modem_status) != 0) return FT_IO_ERROR;
    }
    *rx_bytes = static_cast<std::uint32_t>(device->ring->queued());
    return FT_OK;
}

bool LibFtdiApi::LastReadArrival(FT_HANDLE handle, std::int64_t* arrived_ns, std::uint32_t* tail) {
    const auto device = find(handle);
    return device && device->ring->lastArrival(arrived_ns, tail);
}

bool LibFtdiApi::LastReadOverrun(FT_HANDLE handle) {
    const auto device = find(handle);
    return device && device->ring->lastReadOverrun();
}

void LibFtdiApi::AbortReads(FT_HANDLE handle, bool aborted) {
    if (const auto device = find(handle)) device->ring->setAborted(aborted);
}

}  // namespace zarv::device_io
