#pragma once

#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace zarv::device_io {
class UsbLink;
}  // namespace zarv::device_io

namespace zarv::acquisition {

using device_io::UsbLink;

class ChunkQueue;

// The stream reader of one beam dwell. It does nothing but read the link into the
// queue's free slots, so that a read is always in flight: when every slot is
// taken it reads on into a scratch buffer and counts what it could not queue,
// rather than let the bridge overrun. It ends after a stop request, which also
// cuts the read in progress short, or after a failed read.
class TMyThread : public QThread {
    Q_OBJECT
  public:
    // Runs on the reader thread when a read fails.
    using OnFailure = std::function<void()>;

    TMyThread(UsbLink& link, ChunkQueue& queue, OnFailure on_failure);

    // Any thread: the reader ends within a read call's return.
    void requestStop();
    // After requestStop: waits for the thread and lets the link read again.
    void join();
    // Blocks until the first read is under way (or the thread has ended), at most
    // timeout_ms; so that the trigger starts only once somebody is reading.
    void waitUntilReading(int timeout_ms);

    bool readFailed() const { return read_failed_.load(); }
    // Stream bytes that found no free slot, this dwell.
    std::uint64_t lostBytes() const { return lost_bytes_.load(); }
    // When stream bytes last arrived (the link's clock, ns); the reader's start
    // until then.
    std::int64_t lastDataNs() const { return last_data_ns_.load(); }
    // When a read last came back empty-handed: a reader held up (a stopped
    // process) returns nothing at all, which is no sign of a silent stream.
    std::int64_t lastEmptyReadNs() const { return last_empty_read_ns_.load(); }

  protected:
    void run() override;

  private:
    std::int64_t readChunk(std::uint32_t want, std::uint64_t& unqueued);

    UsbLink& link_;
    ChunkQueue& queue_;
    OnFailure on_failure_;
    std::vector<std::uint8_t> scratch_;
    bool overrun_unqueued_ = false;  // the bridge overran before bytes the queue lost
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> read_failed_{false};
    std::atomic<bool> reading_{false};
    std::atomic<std::uint64_t> lost_bytes_{0};
    std::atomic<std::int64_t> last_data_ns_{0};
    std::atomic<std::int64_t> last_empty_read_ns_{0};
    // Held by run() throughout and taken by join(): orders the thread's last
    // steps before the owner's next ones in a way thread checkers see, which
    // QThread::wait() alone does not.
    std::mutex running_;
};

}  // namespace zarv::acquisition
