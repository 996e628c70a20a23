#include "usb_link.h"

#include <cstdio>
#include <cstring>

#include "message_boxes.h"

namespace zarv::device_io {

UsbLink::UsbLink(FtApi& api, MessageBoxes& op) : rx_buffer(kRxBufferSize, 0), api_(api), op_(op) {}

UsbLink::~UsbLink() {
    if (ft_handle != 0) api_.FT_Close(ft_handle);
}

FT_STATUS UsbLink::GetFTDeviceCount() {
    const FT_STATUS status = api_.FT_ListDevices(&device_count, nullptr, FT_LIST_NUMBER_ONLY);
    if (status != FT_OK) ReportFTError("GetFTDeviceCount", status);
    return status;
}

FT_STATUS UsbLink::listByIndex(std::uint32_t index, std::uint32_t flags, const char* label) {
    device_text_.fill(0);
    void* index_arg = reinterpret_cast<void*>(static_cast<std::uintptr_t>(index));
    const FT_STATUS status = api_.FT_ListDevices(index_arg, device_text_.data(), flags);
    if (status != FT_OK) {
        ReportFTError(label, status);
        return status;
    }
    device_text_.back() = 0;
    last_device_text = deviceText();
    return status;
}

FT_STATUS UsbLink::GetFTDeviceSerialNo(std::uint32_t index) {
    return listByIndex(index, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER, "GetFTDeviceSerialNo");
}

FT_STATUS UsbLink::GetFTDeviceDescription(std::uint32_t index) {
    return listByIndex(index, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION, "GetFTDeviceDescription");
}

QString UsbLink::deviceText() const {
    const std::size_t n = strnlen(device_text_.data(), device_text_.size());
    return QString::fromLatin1(device_text_.data(),
                               static_cast<int>(std::min<std::size_t>(n, kTextCut)));
}

void UsbLink::setDeviceText(const QString& text) {
    device_text_.fill(0);
    const QByteArray bytes = text.left(kTextCut).toLatin1();
    std::memcpy(device_text_.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

FT_STATUS UsbLink::Open_USB_Device_By_Serial_Number(const QString& serial) {
    setDeviceText(serial);
    const FT_STATUS status =
        api_.FT_OpenEx(device_text_.data(), FT_OPEN_BY_SERIAL_NUMBER, &ft_handle);
    if (status != FT_OK) ReportFTError("Open_USB_Device_By_Serial_Number", status);
    return status;
}

FT_STATUS UsbLink::ResetFTDevice() {
    const FT_STATUS status = noteHandleStatus(api_.FT_ResetDevice(ft_handle));
    if (status != FT_OK) ReportFTError("FT_ResetDevice", status);
    return status;
}

FT_STATUS UsbLink::PurgeFTDeviceTx() {
    const FT_STATUS status = noteHandleStatus(api_.FT_Purge(ft_handle, FT_PURGE_TX));
    if (status != FT_OK) ReportFTError("FT_Purge TX", status);
    return status;
}

FT_STATUS UsbLink::PurgeFTDeviceRx() {
    const FT_STATUS status = noteHandleStatus(api_.FT_Purge(ft_handle, FT_PURGE_RX));
    if (status != FT_OK) ReportFTError("FT_Purge RX", status);
    return status;
}

FT_STATUS UsbLink::SetFTDeviceTimeouts(std::uint32_t read_ms, std::uint32_t write_ms) {
    const FT_STATUS status = noteHandleStatus(api_.FT_SetTimeouts(ft_handle, read_ms, write_ms));
    if (status != FT_OK) ReportFTError("FT_SetTimeouts", status);
    return status;
}

std::uint32_t UsbLink::WriteFTDevice(std::uint32_t count) {
    std::uint32_t written = 0;
    const FT_STATUS status =
        noteHandleStatus(api_.FT_Write(ft_handle, tx_buffer.data(), count, &written));
    if (status != FT_OK) ReportFTError("FT_Write", status);
    return status == FT_OK ? written : 0;
}

std::uint32_t UsbLink::ReadFTDevice(std::uint32_t count, FT_STATUS* status_out) {
    if (count > kRxBufferSize) count = kRxBufferSize;
    std::uint32_t received = 0;
    const FT_STATUS status =
        noteHandleStatus(api_.FT_Read(ft_handle, rx_buffer.data(), count, &received));
    if (status != FT_OK) ReportFTError("FT_Read", status);
    if (status_out) *status_out = status;
    return received <= count ? received : count;
}

std::uint32_t UsbLink::ReadStream(std::uint8_t* into, std::uint32_t count, FT_STATUS* status_out,
                                  Arrival* arrival) {
    std::uint32_t received = 0;
    const FT_STATUS status = noteHandleStatus(api_.FT_Read(ft_handle, into, count, &received));
    if (status != FT_OK) ReportFTError("FT_Read", status);
    *status_out = status;
    received = received <= count ? received : count;
    if (!arrival) return received;
    arrival->overrun = received > 0 && api_.LastReadOverrun(ft_handle);
    arrival->from_link = api_.LastReadArrival(ft_handle, &arrival->ns, &arrival->tail);
    if (!arrival->from_link) {
        arrival->ns = api_.StreamClock().nowNs();
        arrival->tail = 0;
    }
    return received;
}

std::uint32_t UsbLink::QueuedBytes() {
    std::uint32_t queued = 0;
    return api_.FT_GetQueueStatus(ft_handle, &queued) == FT_OK ? queued : 0;
}

void UsbLink::AbortReads() {
    api_.AbortReads(ft_handle, true);
}

void UsbLink::ResumeReads() {
    api_.AbortReads(ft_handle, false);
}

// Index of the listed bridge with the wanted serial number; device_count when none.
std::uint32_t UsbLink::findSerial(const QString& wanted) {
    for (std::uint32_t i = 0; i < device_count; ++i)
        if (GetFTDeviceSerialNo(i) == FT_OK && last_device_text == wanted) return i;
    return device_count;
}

QString UsbLink::OpenController(const QString& wanted_serial) {
    // A handle left open by an earlier open would keep the device busy.
    if (ft_handle != 0) {
        api_.FT_Close(ft_handle);
        ft_handle = 0;
    }
    lost_.store(false);
    reopen_taken_.store(false);
    open_failure_.clear();
    GetFTDeviceCount();
    QString serial = wanted_serial;
    QString description;
    const std::uint32_t index = wanted_serial.isEmpty() ? 0 : findSerial(wanted_serial);
    if (index < device_count) {
        if (GetFTDeviceSerialNo(index) == FT_OK) serial = last_device_text;
        if (GetFTDeviceDescription(index) == FT_OK) description = last_device_text;
    }
    QString result = kNotOpen;
    if (Open_USB_Device_By_Serial_Number(serial) == FT_OK) {
        ResetFTDevice();
        SetFTDeviceTimeouts(500, 500);
        const FT_STATUS latency = api_.FT_SetLatencyTimer(ft_handle, 5);
        if (latency != FT_OK)
            op_.showMessage(QStringLiteral("FT_SetLatencyTimer setup failed: %1").arg(latency));
        const FT_STATUS usb = api_.FT_SetUSBParameters(ft_handle, 65536, 0);
        if (usb != FT_OK)
            op_.showMessage(QStringLiteral("FT_SetUSBParameters setup failed: %1").arg(usb));
        result = description + QStringLiteral(" [") + serial + QStringLiteral("]");
    } else {
        explainOpenFailure(wanted_serial, serial, description);
    }
    flash_status_text.rebuild();
    return result;
}

void UsbLink::explainOpenFailure(const QString& wanted, const QString& serial,
                                 const QString& description) {
    if (device_count == 0) return;
    const QString help = QStringLiteral(". See Troubleshooting in the README.");
    if (!wanted.isEmpty() && findSerial(wanted) == device_count) {
        open_failure_ = QStringLiteral(
                            "None of the %1 attached FTDI bridges has the serial "
                            "number %2 that device_serial asks for")
                            .arg(device_count)
                            .arg(wanted) +
                        help;
        return;
    }
    QString cause = QString::fromStdString(api_.DescribeOpenFailure());
    if (cause.isEmpty())
        cause = QStringLiteral("status %1%2").arg(lastStatus()).arg(lastErrorText());
    open_failure_ = QStringLiteral("USB bridge %1 [%2] is attached but cannot be opened: %3")
                        .arg(description, serial, cause) +
                    help;
}

FT_STATUS UsbLink::noteHandleStatus(FT_STATUS status) {
    if (status == FT_IO_ERROR || status == FT_INVALID_HANDLE) lost_.store(true);
    return status;
}

bool UsbLink::HandleGone() {
    if (ft_handle == 0 || lost_.load()) return true;
    std::uint32_t queued = 0;
    noteHandleStatus(api_.FT_GetQueueStatus(ft_handle, &queued));
    return lost_.load();
}

namespace {
const char* statusSuffix(FT_STATUS status) {
    switch (status) {
        case 1:
            return " - Invalid Handle...";
        case 2:
            return " - Device Not Found...";
        case 3:
            return " - Device Not Opened...";
        case 4:
            return " - General IO Error...";
        case 5:
            return " - Insufficient Resources...";
        case 6:
            return " - Invalid Parameter ...";
        default:
            return "";
    }
}
}  // namespace

void UsbLink::ReportFTError(const char* label, FT_STATUS status) {
    last_status_.store(status);
    const QString text = QString::fromLatin1(label) + QString::fromLatin1(statusSuffix(status));
    {
        std::lock_guard<std::mutex> lock(error_mutex_);
        last_error_text_ = text;
    }
    std::fprintf(stderr, "%s (status %u)\n", text.toLatin1().constData(), status);
}

QString UsbLink::lastErrorText() const {
    std::lock_guard<std::mutex> lock(error_mutex_);
    return last_error_text_;
}

}  // namespace zarv::device_io
