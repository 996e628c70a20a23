#include "ftdi_chip.h"

#include <algorithm>
#include <chrono>

#include "sim_controller.h"

namespace zarv::sim {

using namespace zarv::device_io;

namespace {
constexpr std::uint8_t kModemStatus = 0x31;   // CTS and DSR
constexpr std::uint8_t kLineStatus = 0x60;    // transmitter empty
constexpr std::uint8_t kOverrunError = 0x02;  // line status: bytes were dropped
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;

enum : std::uint8_t {
    kSioReset = 0x00,
    kSioSetModemCtrl = 0x01,
    kSioSetFlowCtrl = 0x02,
    kSioSetBaudRate = 0x03,
    kSioSetData = 0x04,
    kSioPollModemStatus = 0x05,
    kSioSetEventChar = 0x06,
    kSioSetErrorChar = 0x07,
    kSioSetLatencyTimer = 0x09,
    kSioGetLatencyTimer = 0x0A,
    kSioSetBitMode = 0x0B,
    kSioReadPins = 0x0C,
    kSioReadEeprom = 0x90,
};
enum : std::uint16_t { kResetSio = 0, kFlushToChip = 1, kFlushToHost = 2 };

QString listed(SimController* controller, std::uint32_t kind) {
    char text[FT_DEVICE_TEXT_SIZE] = {};
    if (!controller || controller->FT_ListDevices(nullptr, text, FT_LIST_BY_INDEX | kind) != FT_OK)
        return {};
    return QString::fromLatin1(text);
}

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
}  // namespace

FtdiChip::FtdiChip(SimController* controller, QString serial, QString description)
    : controller_(controller),
      serial_(serial.isEmpty() ? listed(controller, FT_OPEN_BY_SERIAL_NUMBER) : serial),
      description_(description.isEmpty() ? listed(controller, FT_OPEN_BY_DESCRIPTION)
                                         : description) {
    if (!controller_) return;
    const QByteArray wanted = serial_.toLatin1();
    FT_HANDLE handle = 0;
    if (controller_->FT_OpenEx(wanted.constData(), FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK) {
        controller_ = nullptr;  // a bridge whose controller does not answer
        return;
    }
    handle_ = handle;
    controller_->FT_SetTimeouts(handle_, static_cast<std::uint32_t>(latency_ms_.load()), 500);
}

FtdiChip::~FtdiChip() {
    if (controller_) controller_->FT_Close(handle_);
}

std::vector<std::uint8_t> FtdiChip::descriptors() const {
    std::vector<std::uint8_t> d = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
    putLe16(d, kVendor);
    putLe16(d, kProduct);
    putLe16(d, 0x0900);  // bcdDevice of the single-channel high-speed chip
    d.insert(d.end(), {1, 2, 3, 1});
    // One configuration: one vendor interface with a bulk IN and a bulk OUT endpoint.
    d.insert(d.end(), {9, 2, 32, 0, 1, 1, 0, 0x80, 50});
    d.insert(d.end(), {9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2});
    for (const std::uint8_t ep : {kInEndpoint, kOutEndpoint}) {
        d.insert(d.end(), {7, 5, ep, 2});
        putLe16(d, kPacketSize);
        d.push_back(0);
    }
    return d;
}

std::vector<std::uint8_t> FtdiChip::stringDescriptor(int index) const {
    std::vector<std::uint8_t> d;
    if (index == 0) {
        d = {4, 3};
        putLe16(d, kLanguageEnglishUs);
        return d;
    }
    const QString text = index == 1   ? QStringLiteral("FTDI")
                         : index == 2 ? description_
                         : index == 3 ? serial_
                                      : QString();
    d = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (const QChar c : text) putLe16(d, c.unicode());
    return d;
}

std::optional<std::vector<std::uint8_t>> FtdiChip::control(const UsbSetup& setup,
                                                           const std::uint8_t*) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        control_log_.push_back(setup);
    }
    std::optional<std::vector<std::uint8_t>> reply;
    if (setup.request_type == 0x80 && setup.request == 6) {  // GET_DESCRIPTOR
        const int type = setup.value >> 8;
        const int index = setup.value & 0xFF;
        if (type == 3) {
            reply = stringDescriptor(index);
        } else if (type == 1 || type == 2) {
            const auto all = descriptors();
            reply = type == 1 ? std::vector<std::uint8_t>(all.begin(), all.begin() + 18)
                              : std::vector<std::uint8_t>(all.begin() + 18, all.end());
        }
    } else if ((setup.request_type & 0x60) == 0x40) {
        reply = vendorRequest(setup);
    }
    if (reply && reply->size() > setup.length) reply->resize(setup.length);
    return reply;
}

std::optional<std::vector<std::uint8_t>> FtdiChip::vendorRequest(const UsbSetup& setup) {
    switch (setup.request) {
        case kSioReset:
            if (setup.value == kResetSio || setup.value == kFlushToHost) purgeReceived();
            if (setup.value == kResetSio || setup.value == kFlushToChip) {
                std::lock_guard<std::mutex> lock(mutex_);
                out_pending_.clear();
            }
            return std::vector<std::uint8_t>{};
        case kSioSetModemCtrl:
        case kSioSetFlowCtrl:
        case kSioSetBaudRate:
        case kSioSetData:
        case kSioSetEventChar:
        case kSioSetErrorChar:
        case kSioSetBitMode:  // the stream's FIFO mode comes from the EEPROM
            return std::vector<std::uint8_t>{};
        case kSioSetLatencyTimer: {
            const int ms = std::max(1, setup.value & 0xFF);
            latency_ms_.store(ms);
            if (controller_)
                controller_->FT_SetTimeouts(handle_, static_cast<std::uint32_t>(ms), 500);
            return std::vector<std::uint8_t>{};
        }
        case kSioGetLatencyTimer:
            return std::vector<std::uint8_t>{static_cast<std::uint8_t>(latency_ms_.load())};
        case kSioPollModemStatus:
            return std::vector<std::uint8_t>{kModemStatus, kLineStatus};
        case kSioReadPins:
            return std::vector<std::uint8_t>{0};
        case kSioReadEeprom:
            return std::vector<std::uint8_t>{0xFF, 0xFF};  // a blank EEPROM word
        default:
            return std::nullopt;
    }
}

void FtdiChip::purgeReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    carry_.clear();
    carry_overruns_.clear();
    if (controller_) controller_->FT_Purge(handle_, FT_PURGE_RX);
}

void FtdiChip::bulkOut(const std::uint8_t* data, std::size_t count) {
    std::vector<std::uint8_t> frames;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        out_pending_.insert(out_pending_.end(), data, data + count);
        const std::size_t whole = out_pending_.size() - out_pending_.size() % 50;
        frames.assign(out_pending_.begin(), out_pending_.begin() + static_cast<long>(whole));
        out_pending_.erase(out_pending_.begin(), out_pending_.begin() + static_cast<long>(whole));
    }
    if (!controller_ || frames.empty()) return;
    std::uint32_t written = 0;
    controller_->FT_Write(handle_, frames.data(), static_cast<std::uint32_t>(frames.size()),
                          &written);
}

std::size_t FtdiChip::payloadRoom(std::size_t capacity) {
    const std::size_t packets = std::max<std::size_t>(1, capacity / kPacketSize);
    return packets * kPayloadPerPacket;
}

FtdiChip::InPayload FtdiChip::takePayload(std::size_t capacity) {
    const std::size_t room = payloadRoom(capacity);
    InPayload payload;
    bool overrun_next = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!carry_overruns_.empty() && carry_overruns_.front() == 0 && !carry_.empty()) {
            payload.overrun = true;
            carry_overruns_.pop_front();
        }
        std::size_t n = std::min(room, carry_.size());
        if (!carry_overruns_.empty() && carry_overruns_.front() <= n) {
            n = carry_overruns_.front();
            overrun_next = true;
        }
        payload.bytes.assign(carry_.begin(), carry_.begin() + static_cast<long>(n));
        carry_.erase(carry_.begin(), carry_.begin() + static_cast<long>(n));
        for (std::size_t& at : carry_overruns_) at -= n;
    }
    if (!controller_) {
        waitLatency();
    } else if (!overrun_next) {
        readUntilLatency(payload, room);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (interrupted_) {
        interrupted_ = false;
        if (controller_) controller_->AbortReads(handle_, false);
    }
    return payload;
}

// The chip sends every full packet at once and a partial one when the latency
// timer runs out, which happens only when less than a packet came in during a
// whole latency period: a steady stream fills the transfer.
void FtdiChip::readUntilLatency(InPayload& payload, std::size_t room) {
    std::vector<std::uint8_t> more(room);
    while (payload.bytes.size() < room) {
        std::uint32_t got = 0;
        controller_->FT_Read(handle_, more.data(),
                             static_cast<std::uint32_t>(room - payload.bytes.size()), &got);
        const bool overrun = got > 0 && controller_->LastReadOverrun(handle_);
        std::lock_guard<std::mutex> lock(mutex_);
        if (overrun && !payload.bytes.empty()) {
            // What came after the hole goes out in the next transfer, flagged.
            carry_overruns_.push_back(carry_.size());
            carry_.insert(carry_.end(), more.begin(), more.begin() + got);
            break;
        }
        payload.overrun = payload.overrun || overrun;
        payload.bytes.insert(payload.bytes.end(), more.begin(), more.begin() + got);
        if (got < kPayloadPerPacket || interrupted_) break;
    }
}

void FtdiChip::waitLatency() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(latency_ms_.load()),
                   [this] { return interrupted_; });
}

void FtdiChip::unread(const InPayload& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    carry_.insert(carry_.begin(), payload.bytes.begin(), payload.bytes.end());
    for (std::size_t& at : carry_overruns_) at += payload.bytes.size();
    if (payload.overrun) carry_overruns_.push_front(0);
}

void FtdiChip::setHostWaiting(bool waiting) {
    if (controller_) controller_->setHostWaiting(waiting);
}

void FtdiChip::interruptTake() {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = true;
    if (controller_) controller_->AbortReads(handle_, true);
    wake_.notify_all();
}

std::vector<std::uint8_t> FtdiChip::packetize(const std::vector<std::uint8_t>& payload,
                                              bool overrun) {
    std::vector<std::uint8_t> wire;
    wire.reserve(payload.size() + (payload.size() / kPayloadPerPacket + 1) * kStatusBytes);
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(kPayloadPerPacket, payload.size() - at);
        wire.push_back(kModemStatus);
        wire.push_back(at == 0 && overrun ? kLineStatus | kOverrunError : kLineStatus);
        wire.insert(wire.end(), payload.begin() + static_cast<long>(at),
                    payload.begin() + static_cast<long>(at + n));
        at += n;
    } while (at < payload.size());
    return wire;
}

std::vector<UsbSetup> FtdiChip::controlLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return control_log_;
}

}  // namespace zarv::sim
