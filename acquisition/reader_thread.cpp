#include "reader_thread.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "chunk_queue.h"
#include "device_IO/usb_link.h"
#include "station/process_priority.h"

namespace zarv::acquisition {

using namespace zarv::device_io;
using namespace zarv::station;

TMyThread::TMyThread(UsbLink& link, ChunkQueue& queue, OnFailure on_failure)
    : link_(link),
      queue_(queue),
      on_failure_(std::move(on_failure)),
      scratch_(static_cast<std::size_t>(queue.slotSize()), 0) {
    last_data_ns_.store(link_.clock().nowNs());
}

void TMyThread::requestStop() {
    stop_requested_.store(true);
    link_.AbortReads();
}

void TMyThread::join() {
    wait();
    std::lock_guard<std::mutex> after_run(running_);
    link_.ResumeReads();
}

void TMyThread::waitUntilReading(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!reading_.load() && !isFinished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void TMyThread::run() {
    std::lock_guard<std::mutex> running(running_);
    // Between two reads the bridge's own buffer lasts a few milliseconds only.
    RaiseThreadToRealTime();
    std::uint64_t unqueued = 0;  // lost since the last chunk queued
    const auto size = static_cast<std::uint32_t>(queue_.slotSize());
    while (!stop_requested_.load()) {
        const auto started = std::chrono::steady_clock::now();
        const std::int64_t count = readChunk(size, unqueued);
        if (count < 0) return;
        // A link that returns empty-handed at once must not keep a real-time
        // thread spinning.
        if (count == 0 && std::chrono::steady_clock::now() - started < std::chrono::milliseconds(1))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // What the link had received when the stop came still belongs to the dwell:
    // on a real bridge that can be most of a USB transfer.
    std::uint32_t left = link_.QueuedBytes();
    while (left > 0) {
        const std::int64_t count = readChunk(std::min(left, size), unqueued);
        if (count <= 0) break;
        left -= std::min<std::uint32_t>(left, static_cast<std::uint32_t>(count));
    }
}

// Reads up to want bytes into the next free slot, or the scratch buffer when
// none is free. Returns the bytes read, or -1 when the read failed.
std::int64_t TMyThread::readChunk(std::uint32_t want, std::uint64_t& unqueued) {
    std::uint8_t* slot = queue_.acquire();
    FT_STATUS status = FT_OK;
    reading_.store(true);
    UsbLink::Arrival arrival;
    const std::uint32_t count =
        link_.ReadStream(slot ? slot : scratch_.data(), want, &status, &arrival);
    const std::int64_t returned_ns = link_.clock().nowNs();
    // What arrived before a failure is the dwell's all the same.
    if (count > 0) {
        last_data_ns_.store(returned_ns);
        if (slot) {
            queue_.publish(
                count, unqueued,
                ChunkArrival{arrival.ns, arrival.tail, arrival.overrun || overrun_unqueued_});
            unqueued = 0;
            overrun_unqueued_ = false;
        } else {
            unqueued += count;
            overrun_unqueued_ = overrun_unqueued_ || arrival.overrun;
            lost_bytes_.fetch_add(count);
        }
    }
    if (status != FT_OK) {
        read_failed_.store(true);
        if (on_failure_) on_failure_();
        return -1;
    }
    if (count == 0) last_empty_read_ns_.store(returned_ns);
    return count;
}

}  // namespace zarv::acquisition
