#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

namespace zarv::device_io {

// Keeps several bulk IN transfers queued on an FTDI bridge at all times, so the
// chip always has somewhere to send what it receives, and gathers their payload
// (each packet less its two status bytes) into a ring that reads are served from.
// When the ring has no room for another transfer's worth, transfers wait parked
// until a read makes room: the stream backs up into the chip instead of being
// dropped here.
class FtdiReadRing {
  public:
    struct Endpoint {
        libusb_context* context;
        libusb_device_handle* handle;
        unsigned char address;
        int packet_size;
    };
    // 2 MiB queued: the libusb events thread may be held up 140 ms at 14.8 MB/s
    // before the bridge has nowhere to send.
    static constexpr int kTransfers = 32;
    // A second and more of the heaviest stream (14.8 MB/s) while the reader stalls.
    static constexpr std::size_t kRingBytes = 16u << 20;

    FtdiReadRing(Endpoint endpoint, int transfer_size);
    ~FtdiReadRing();
    FtdiReadRing(const FtdiReadRing&) = delete;
    FtdiReadRing& operator=(const FtdiReadRing&) = delete;

    // Waits until count bytes are in, timeout_ms have passed (0: no time-out), the
    // reads are aborted or the bridge is gone. Returns the bytes copied; *gone
    // tells that the bridge went away before count bytes came.
    std::uint32_t read(std::uint8_t* out, std::uint32_t count, std::uint32_t timeout_ms,
                       bool* gone);
    // While aborted, reads return at once with what the ring holds.
    void setAborted(bool aborted);
    // Runs chip_request (a purge or reset of the bridge), then drops whatever came
    // in before it. Returns chip_request's result.
    int flush(const std::function<int()>& chip_request);
    void setTransferSize(int bytes);

    std::size_t queued() const;
    // When the bytes the last read returned came in: the byte *tail bytes before
    // its end arrived at *arrived_ns (steady clock), with the transfer that
    // brought it. False when no transfer that ended in it is known.
    bool lastArrival(std::int64_t* arrived_ns, std::uint32_t* tail) const;
    // The bridge flagged an overrun just before the first byte the last read
    // returned; reads never reach past such a place.
    bool lastReadOverrun() const;
    bool gone() const { return gone_.load(); }

  private:
    static void onTransferDone(libusb_transfer* transfer);
    void completed(libusb_transfer* transfer);
    void storePayloadLocked(const libusb_transfer* transfer);
    void noteReadArrivalLocked();
    bool roomForAnotherLocked() const;
    void submitLocked();
    void takeBackFrontLocked(std::unique_lock<std::mutex>& lock);
    void stopTransfers();
    void allocate(int transfer_size);
    void release();
    void handleEvents();

    Endpoint endpoint_;
    int transfer_size_;
    std::vector<libusb_transfer*> transfers_;
    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0;  // next byte to read
    std::size_t size_ = 0;
    // Where each transfer's payload ended in the stream and when it came in.
    struct Arrival {
        std::uint64_t end;
        std::int64_t ns;
    };
    std::deque<Arrival> arrivals_;
    std::uint64_t stored_ = 0;  // payload bytes ever stored
    std::uint64_t taken_ = 0;   // and read or dropped
    std::optional<Arrival> last_read_arrival_;
    // Where the bridge flagged overruns, as stream offsets not yet read past.
    std::deque<std::uint64_t> overruns_;
    bool last_read_overrun_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<libusb_transfer*> parked_;
    std::deque<libusb_transfer*> flying_;  // submitted, in the order the bridge fills them
    libusb_transfer* awaited_ = nullptr;   // being taken back; null once it is
    bool paused_ = false;
    bool aborted_ = false;
    std::atomic<bool> gone_{false};
    std::atomic<bool> events_stop_{false};
    std::thread events_;
};

}  // namespace zarv::device_io
