#include "ftdi_read_ring.h"

#include <libusb.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace zarv::device_io {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kStatusBytes = 2;
// Second status byte, bit 1: the chip's receive buffer overflowed and it
// dropped what came in meanwhile.
constexpr unsigned char kOverrunError = 0x02;
constexpr auto kStopWait = std::chrono::seconds(2);

// libusb hands a transfer from the submitting thread to the one that completes
// it inside its own code; this pair makes the hand-over visible to
// ThreadSanitizer, which sees nothing of libusb's locks.
std::atomic<unsigned> g_submissions{0};

int roundToPackets(int bytes, int packet) {
    return std::max(packet, (bytes + packet - 1) / packet * packet);
}
}  // namespace

FtdiReadRing::FtdiReadRing(Endpoint endpoint, int transfer_size)
    : endpoint_(endpoint), ring_(kRingBytes) {
    allocate(transfer_size);
    events_ = std::thread([this] { handleEvents(); });
    std::lock_guard<std::mutex> lock(mutex_);
    submitLocked();
}

FtdiReadRing::~FtdiReadRing() {
    stopTransfers();
    events_stop_.store(true);
    libusb_interrupt_event_handler(endpoint_.context);
    events_.join();
    release();
}

// Transfers complete in whichever thread handles libusb's events; this one makes
// sure some thread always does, also while nobody else talks to the bridge. It
// runs at the stream reader's real-time priority where the system allows: when it
// stalls, no transfer is queued and the chip's 4 KiB fill in under 3 ms.
void FtdiReadRing::handleEvents() {
    sched_param priority{};
    priority.sched_priority = 10;
    (void)pthread_setschedparam(pthread_self(), SCHED_RR, &priority);
    timeval tick{0, 100000};
    while (!events_stop_.load())
        libusb_handle_events_timeout_completed(endpoint_.context, &tick, nullptr);
}

void FtdiReadRing::allocate(int transfer_size) {
    transfer_size_ = roundToPackets(transfer_size, endpoint_.packet_size);
    for (int i = 0; i < kTransfers; ++i) {
        libusb_transfer* t = libusb_alloc_transfer(0);
        auto* buffer = new unsigned char[static_cast<std::size_t>(transfer_size_)];
        libusb_fill_bulk_transfer(t, endpoint_.handle, endpoint_.address, buffer, transfer_size_,
                                  &FtdiReadRing::onTransferDone, this, 0);
        transfers_.push_back(t);
        parked_.push_back(t);
    }
}

// A transfer that never came back is left to libusb rather than freed under it.
void FtdiReadRing::release() {
    for (libusb_transfer* t : parked_) {
        delete[] t->buffer;
        libusb_free_transfer(t);
    }
    transfers_.clear();
    parked_.clear();
}

bool FtdiReadRing::roomForAnotherLocked() const {
    const std::size_t promised = (flying_.size() + 1) * static_cast<std::size_t>(transfer_size_);
    return ring_.size() - size_ >= promised;
}

// Submitted under the lock, so that flying_ holds the transfers in the order the
// bridge fills them: its front is the one receiving now.
void FtdiReadRing::submitLocked() {
    while (!paused_ && !gone_.load() && !parked_.empty() && roomForAnotherLocked()) {
        libusb_transfer* t = parked_.back();
        g_submissions.fetch_add(1, std::memory_order_release);
        const int rc = libusb_submit_transfer(t);
        if (rc == LIBUSB_ERROR_NO_DEVICE) gone_.store(true);
        if (rc != 0) break;
        parked_.pop_back();
        flying_.push_back(t);
    }
}

namespace {
std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

void FtdiReadRing::onTransferDone(libusb_transfer* transfer) {
    g_submissions.load(std::memory_order_acquire);
    static_cast<FtdiReadRing*>(transfer->user_data)->completed(transfer);
}

void FtdiReadRing::completed(libusb_transfer* transfer) {
    std::lock_guard<std::mutex> lock(mutex_);
    flying_.erase(std::find(flying_.begin(), flying_.end(), transfer));
    // A cancelled transfer may still bring what the bridge had sent into it.
    const bool brought = transfer->status == LIBUSB_TRANSFER_COMPLETED ||
                         transfer->status == LIBUSB_TRANSFER_CANCELLED;
    const std::uint64_t stored_before = stored_;
    if (brought) storePayloadLocked(transfer);
    // A transfer taken back came in when it was cancelled, not when its last
    // byte did, and one of status bytes only brought nothing: neither dates the
    // stream.
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED && stored_ > stored_before)
        arrivals_.push_back(Arrival{stored_, SteadyNs()});
    if (transfer == awaited_) awaited_ = nullptr;
    if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE) gone_.store(true);
    parked_.push_back(transfer);
    submitLocked();
    changed_.notify_all();
}

// Every packet of max_packet_size bytes (the last may be shorter) begins with the
// bridge's two modem-status bytes; only what follows is stream. A packet whose
// status tells of an overrun marks a hole before its payload.
void FtdiReadRing::storePayloadLocked(const libusb_transfer* transfer) {
    const int packet = endpoint_.packet_size;
    for (int at = 0; at < transfer->actual_length; at += packet) {
        const int end = std::min(at + packet, transfer->actual_length);
        if (end - at >= kStatusBytes && (transfer->buffer[at + 1] & kOverrunError) != 0 &&
            (overruns_.empty() || overruns_.back() != stored_))
            overruns_.push_back(stored_);
        for (int i = at + kStatusBytes; i < end;) {
            const std::size_t tail = (head_ + size_) % ring_.size();
            const std::size_t n =
                std::min<std::size_t>(static_cast<std::size_t>(end - i), ring_.size() - tail);
            std::memcpy(ring_.data() + tail, transfer->buffer + i, n);
            size_ += n;
            stored_ += n;
            i += static_cast<int>(n);
        }
    }
}

std::uint32_t FtdiReadRing::read(std::uint8_t* out, std::uint32_t count, std::uint32_t timeout_ms,
                                 bool* gone) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::uint32_t got = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    last_read_overrun_ = false;
    while (true) {
        while (got < count && size_ > 0) {
            // A read begins at an overrun or stops before it.
            if (!overruns_.empty() && overruns_.front() <= taken_) {
                if (got > 0) break;
                overruns_.pop_front();
                last_read_overrun_ = true;
            }
            std::size_t n = std::min<std::size_t>({count - got, size_, ring_.size() - head_});
            if (!overruns_.empty()) n = std::min<std::size_t>(n, overruns_.front() - taken_);
            std::memcpy(out + got, ring_.data() + head_, n);
            head_ = (head_ + n) % ring_.size();
            size_ -= n;
            taken_ += n;
            got += static_cast<std::uint32_t>(n);
        }
        submitLocked();
        const bool at_overrun = got > 0 && !overruns_.empty() && overruns_.front() <= taken_;
        if (got >= count || at_overrun || aborted_ || gone_.load()) break;
        if (timeout_ms == 0)
            changed_.wait(lock);
        else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && size_ == 0)
            break;
    }
    *gone = gone_.load() && got < count;
    noteReadArrivalLocked();
    return got;
}

// An abort first takes back the transfer the bridge is filling, so that what it
// holds reaches the ring and the read that returns; the transfers queued behind
// it stay, and the bridge goes on into them without a gap.
void FtdiReadRing::setAborted(bool aborted) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (aborted) takeBackFrontLocked(lock);
    aborted_ = aborted;
    changed_.notify_all();
}

// Cancels the transfer at the front and waits until it has come back. Bulk IN
// transfers are filled in order: the ones behind it have received nothing yet.
void FtdiReadRing::takeBackFrontLocked(std::unique_lock<std::mutex>& lock) {
    if (flying_.empty()) return;
    awaited_ = flying_.front();
    libusb_cancel_transfer(awaited_);
    // Once back it is queued again at once: its return is told by awaited_.
    changed_.wait_for(lock, kStopWait, [this] { return awaited_ == nullptr; });
    awaited_ = nullptr;
}

// Cancels every transfer in flight and waits until each has come back.
void FtdiReadRing::stopTransfers() {
    std::unique_lock<std::mutex> lock(mutex_);
    paused_ = true;
    for (libusb_transfer* t : flying_) libusb_cancel_transfer(t);
    changed_.wait_for(lock, kStopWait, [this] { return flying_.empty(); });
}

// After the bridge has emptied its buffer, the transfer it was filling may still
// hold bytes from before: it is taken back, then the ring is emptied.
int FtdiReadRing::flush(const std::function<int()>& chip_request) {
    const int result = chip_request();
    std::unique_lock<std::mutex> lock(mutex_);
    takeBackFrontLocked(lock);
    head_ = 0;
    taken_ += size_;
    size_ = 0;
    arrivals_.clear();
    overruns_.clear();
    submitLocked();
    return result;
}

void FtdiReadRing::setTransferSize(int bytes) {
    stopTransfers();
    std::lock_guard<std::mutex> lock(mutex_);
    // Should a transfer not have come back, all keep their size.
    if (flying_.empty()) {
        release();
        allocate(bytes);
    }
    paused_ = false;
    submitLocked();
}

// The newest transfer that ended within what has been read dates the read;
// older ones are no longer needed.
void FtdiReadRing::noteReadArrivalLocked() {
    last_read_arrival_.reset();
    while (!arrivals_.empty() && arrivals_.front().end <= taken_) {
        last_read_arrival_ = arrivals_.front();
        arrivals_.pop_front();
    }
}

bool FtdiReadRing::lastArrival(std::int64_t* arrived_ns, std::uint32_t* tail) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!last_read_arrival_) return false;
    *arrived_ns = last_read_arrival_->ns;
    *tail = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(taken_ - last_read_arrival_->end, 0xFFFFFFFFu));
    return true;
}

bool FtdiReadRing::lastReadOverrun() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_read_overrun_;
}

std::size_t FtdiReadRing::queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}

}  // namespace zarv::device_io
