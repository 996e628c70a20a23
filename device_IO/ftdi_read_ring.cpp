#include "ftdi_read_ring.h"

#include <libusb.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstring>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kStatusBytes = 2;
constexpr auto kStopWait = std::chrono::seconds(2);

int roundToPackets(int bytes, int packet) {
    return std::max(packet, (bytes + packet - 1) / packet * packet);
}
}  // namespace

FtdiReadRing::FtdiReadRing(Endpoint endpoint, int transfer_size)
    : endpoint_(endpoint), ring_(kRingBytes) {
    allocate(transfer_size);
    events_ = std::thread([this] { handleEvents(); });
    std::vector<libusb_transfer*> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        all = takeSubmittableLocked();
    }
    submit(all);
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
    const std::size_t promised = static_cast<std::size_t>(in_flight_ + 1) * transfer_size_;
    return ring_.size() - size_ >= promised;
}

std::vector<libusb_transfer*> FtdiReadRing::takeSubmittableLocked() {
    std::vector<libusb_transfer*> out;
    while (!paused_ && !gone_.load() && !parked_.empty() && roomForAnotherLocked()) {
        out.push_back(parked_.back());
        parked_.pop_back();
        ++in_flight_;
    }
    return out;
}

void FtdiReadRing::submit(const std::vector<libusb_transfer*>& transfers) {
    for (libusb_transfer* t : transfers) {
        const int rc = libusb_submit_transfer(t);
        if (rc == 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        --in_flight_;
        parked_.push_back(t);
        if (rc == LIBUSB_ERROR_NO_DEVICE) gone_.store(true);
        changed_.notify_all();
    }
}

void FtdiReadRing::onTransferDone(libusb_transfer* transfer) {
    static_cast<FtdiReadRing*>(transfer->user_data)->completed(transfer);
}

void FtdiReadRing::completed(libusb_transfer* transfer) {
    std::vector<libusb_transfer*> again;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --in_flight_;
        // A cancelled transfer may still bring what the bridge had sent into it.
        if (transfer->status == LIBUSB_TRANSFER_COMPLETED ||
            transfer->status == LIBUSB_TRANSFER_CANCELLED)
            storePayloadLocked(transfer);
        if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE) gone_.store(true);
        parked_.push_back(transfer);
        again = takeSubmittableLocked();
        changed_.notify_all();
    }
    submit(again);
}

// Every packet of max_packet_size bytes (the last may be shorter) begins with the
// bridge's two modem-status bytes; only what follows is stream.
void FtdiReadRing::storePayloadLocked(const libusb_transfer* transfer) {
    const int packet = endpoint_.packet_size;
    for (int at = 0; at < transfer->actual_length; at += packet) {
        const int end = std::min(at + packet, transfer->actual_length);
        for (int i = at + kStatusBytes; i < end;) {
            const std::size_t tail = (head_ + size_) % ring_.size();
            const std::size_t n =
                std::min<std::size_t>(static_cast<std::size_t>(end - i), ring_.size() - tail);
            std::memcpy(ring_.data() + tail, transfer->buffer + i, n);
            size_ += n;
            i += static_cast<int>(n);
        }
    }
}

std::uint32_t FtdiReadRing::read(std::uint8_t* out, std::uint32_t count, std::uint32_t timeout_ms,
                                 bool* gone) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::uint32_t got = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        while (got < count && size_ > 0) {
            const std::size_t n = std::min<std::size_t>({count - got, size_, ring_.size() - head_});
            std::memcpy(out + got, ring_.data() + head_, n);
            head_ = (head_ + n) % ring_.size();
            size_ -= n;
            got += static_cast<std::uint32_t>(n);
        }
        const auto again = takeSubmittableLocked();
        if (!again.empty()) {
            lock.unlock();
            submit(again);
            lock.lock();
            continue;
        }
        if (got >= count || aborted_ || gone_.load()) break;
        if (timeout_ms == 0)
            changed_.wait(lock);
        else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && size_ == 0)
            break;
    }
    *gone = gone_.load() && got < count;
    return got;
}

// An abort first takes back the transfers in flight, so that what the bridge had
// sent into a transfer not yet full reaches the ring and the read that returns.
void FtdiReadRing::setAborted(bool aborted) {
    if (aborted) stopTransfers();
    std::vector<libusb_transfer*> again;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        aborted_ = aborted;
        paused_ = false;
        again = takeSubmittableLocked();
        changed_.notify_all();
    }
    submit(again);
}

// Cancels every transfer in flight and waits until each has come back.
void FtdiReadRing::stopTransfers() {
    std::unique_lock<std::mutex> lock(mutex_);
    paused_ = true;
    for (libusb_transfer* t : transfers_)
        if (std::find(parked_.begin(), parked_.end(), t) == parked_.end())
            libusb_cancel_transfer(t);
    changed_.wait_for(lock, kStopWait, [this] { return in_flight_ == 0; });
}

int FtdiReadRing::flush(const std::function<int()>& chip_request) {
    stopTransfers();
    const int result = chip_request();
    std::vector<libusb_transfer*> again;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        head_ = 0;
        size_ = 0;
        paused_ = false;
        again = takeSubmittableLocked();
    }
    submit(again);
    return result;
}

void FtdiReadRing::setTransferSize(int bytes) {
    stopTransfers();
    std::vector<libusb_transfer*> again;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Should a transfer not have come back, all keep their size.
        if (in_flight_ == 0) {
            release();
            allocate(bytes);
        }
        paused_ = false;
        again = takeSubmittableLocked();
    }
    submit(again);
}

std::size_t FtdiReadRing::queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}

int FtdiReadRing::transfersInFlight() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return in_flight_;
}
