#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <semaphore>
#include <vector>

namespace zarv::acquisition {

// When a chunk's bytes came in: the byte tail bytes before its end arrived at ns
// (steady clock; 0: when the chunk is published).
struct ChunkArrival {
    std::int64_t ns = 0;
    std::uint32_t tail = 0;
    bool overrun = false;  // the bridge dropped bytes before the chunk's first
};

// The hand-over from the stream reader to the processing: a ring of pre-allocated
// chunk slots, one producer and one consumer. The reader reads straight into the
// free slot it was lent and publishes it; a full ring is never overwritten, the
// reader is simply lent no slot until the processing has released one. Neither
// side ever takes a lock, so the reader never waits for a thread that a busy
// machine has put aside.
class ChunkQueue {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kHeadroom = 512;
    static constexpr int kTailRoom = 512;

    struct Chunk {
        // The read lands at data(); there is room before and after it, so that
        // the stream can be decoded where it lies.
        std::uint8_t* data() { return bytes.data() + kHeadroom; }
        std::vector<std::uint8_t> bytes;
        std::uint32_t count = 0;
        // Stream bytes lost between the previous chunk and this one.
        std::uint64_t lost_before = 0;
        std::atomic<std::int64_t> received_ns{0};  // read by the GUI thread too
        // When the byte arrival_tail bytes before the chunk's end came in
        // (steady clock): as the link told, else the read's return.
        std::int64_t arrived_ns = 0;
        std::uint32_t arrival_tail = 0;
        // The bridge said its buffer overflowed before the chunk's first byte.
        bool overrun_before = false;
    };

    ChunkQueue(int slot_count, int slot_size);

    int slotSize() const { return slot_size_; }
    int capacity() const { return static_cast<int>(slots_.size()); }
    int queued() const;
    // How long the oldest queued chunk has waited; zero when none waits.
    Clock::duration oldestAge() const;

    // Reader: the slot to read into next, or nullptr while every slot is queued.
    std::uint8_t* acquire();
    // Reader: queues the slot last acquired, holding count bytes.
    void publish(std::uint32_t count, std::uint64_t lost_before, ChunkArrival arrival = {});

    // Processing: the oldest queued chunk, or nullptr after wake() or the time-out
    // when none is queued. It stays queued until release().
    Chunk* waitFront(Clock::duration timeout);
    void release();
    // Lets a waitFront in progress, or the next one, return at once.
    void wake();

  private:
    Chunk& slot(std::uint64_t counter) { return slots_[counter % slots_.size()]; }

    const int slot_size_;
    std::vector<Chunk> slots_;
    std::atomic<std::uint64_t> head_{0};  // chunks released so far; the consumer's alone
    std::atomic<std::uint64_t> tail_{0};  // chunks published so far
    std::counting_semaphore<> ready_{0};  // a release for every chunk and every wake
};

}  // namespace zarv::acquisition
