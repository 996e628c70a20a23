#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace zarv::sim {

class SimController;

// The setup packet of a USB control request.
struct UsbSetup {
    std::uint8_t request_type = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;

    bool isIn() const { return (request_type & 0x80) != 0; }
    bool operator==(const UsbSetup&) const = default;
};

// A high-speed single-channel FTDI bridge (0403:6014) as the host sees it over
// USB: its descriptors, the vendor requests libftdi1 sends, bulk OUT into the
// controller behind it and bulk IN in 512-byte packets, each led by the two
// modem-status bytes. With no controller behind it the bridge is silent.
class FtdiChip {
  public:
    static constexpr std::uint16_t kVendor = 0x0403;
    static constexpr std::uint16_t kProduct = 0x6014;
    static constexpr int kPacketSize = 512;
    static constexpr int kStatusBytes = 2;
    static constexpr int kPayloadPerPacket = kPacketSize - kStatusBytes;
    static constexpr std::uint8_t kInEndpoint = 0x81;
    static constexpr std::uint8_t kOutEndpoint = 0x02;

    // The controller's own listing gives the serial number and description.
    explicit FtdiChip(SimController* controller, QString serial = {}, QString description = {});
    ~FtdiChip();
    FtdiChip(const FtdiChip&) = delete;
    FtdiChip& operator=(const FtdiChip&) = delete;

    QString serial() const { return serial_; }
    QString description() const { return description_; }
    // Device and configuration descriptors, as sysfs keeps them.
    std::vector<std::uint8_t> descriptors() const;

    // Answers a control request: the data of an IN request, empty for an OUT
    // request; nothing when the bridge stalls it.
    std::optional<std::vector<std::uint8_t>> control(const UsbSetup& setup,
                                                     const std::uint8_t* out_data);
    void bulkOut(const std::uint8_t* data, std::size_t count);
    // What one bulk IN transfer carries. overrun: the chip's buffer overflowed
    // and dropped bytes just before the first of these; its first packet says so.
    struct InPayload {
        std::vector<std::uint8_t> bytes;
        bool overrun = false;
    };
    // The payload of one bulk IN transfer of capacity bytes: as much as its
    // packets hold, or what has come in when the latency timer runs out. It
    // ends early before an overrun, so that the next transfer reports it.
    InPayload takePayload(std::size_t capacity);
    // Puts back a payload whose transfer was cancelled before it went out.
    void unread(const InPayload& payload);
    // Makes a takePayload in progress return at once with what it has.
    void interruptTake();
    // A bulk IN transfer is queued for the chip's stream, so that what comes in
    // goes on into it rather than piling up in the chip's own buffer.
    void setHostWaiting(bool waiting);
    // The bytes on the wire: each packet of up to 510 payload bytes is led by the
    // two status bytes; an empty payload is the status bytes alone. The first
    // packet after an overrun carries the overrun error in its line status.
    static std::vector<std::uint8_t> packetize(const std::vector<std::uint8_t>& payload,
                                               bool overrun = false);
    static std::size_t payloadRoom(std::size_t capacity);

    std::vector<UsbSetup> controlLog() const;
    int latencyMs() const { return latency_ms_.load(); }

  private:
    std::vector<std::uint8_t> stringDescriptor(int index) const;
    std::optional<std::vector<std::uint8_t>> vendorRequest(const UsbSetup& setup);
    void purgeReceived();
    void waitLatency();
    void readUntilLatency(InPayload& payload, std::size_t room);

    SimController* controller_;
    std::uint32_t handle_ = 0;
    QString serial_;
    QString description_;
    std::atomic<int> latency_ms_{16};

    mutable std::mutex mutex_;
    std::vector<UsbSetup> control_log_;
    std::vector<std::uint8_t> out_pending_;   // bytes of a frame not yet whole
    std::deque<std::uint8_t> carry_;          // read from the controller, not yet sent
    std::deque<std::size_t> carry_overruns_;  // where in carry_ an overrun lies, in order
    std::condition_variable wake_;
    bool interrupted_ = false;
};

}  // namespace zarv::sim
