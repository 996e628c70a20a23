#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// The hand-over from the stream reader to the processing: a ring of pre-allocated
// chunk slots, one producer and one consumer. The reader reads straight into the
// free slot it was lent and publishes it; a full ring is never overwritten, the
// reader is simply lent no slot until the processing has released one.
class ChunkQueue {
  public:
    using Clock = std::chrono::steady_clock;

    struct Chunk {
        // The read lands at data(); there is room before and after it, so that
        // the stream can be decoded where it lies.
        std::uint8_t* data() { return bytes.data() + kHeadroom; }
        std::vector<std::uint8_t> bytes;
        std::uint32_t count = 0;
        // Stream bytes lost between the previous chunk and this one.
        std::uint64_t lost_before = 0;
        Clock::time_point received{};
    };

    static constexpr int kHeadroom = 512;
    static constexpr int kTailRoom = 512;

    ChunkQueue(int slots, int slot_size);

    int slotSize() const { return slot_size_; }
    int capacity() const { return static_cast<int>(slots_.size()); }
    int queued() const;
    // How long the oldest queued chunk has waited; zero when none waits.
    Clock::duration oldestAge() const;

    // Reader: the slot to read into next, or nullptr while every slot is queued.
    std::uint8_t* acquire();
    // Reader: queues the slot last acquired, holding count bytes.
    void publish(std::uint32_t count, std::uint64_t lost_before);

    // Processing: the oldest queued chunk, or nullptr after wake() or the time-out.
    // It stays queued until release().
    Chunk* waitFront(Clock::duration timeout);
    void release();
    // Lets a waitFront in progress, or the next one, return at once.
    void wake();

    // Drops every queued chunk; only while neither side is running.
    void clear();

  private:
    const int slot_size_;
    std::vector<Chunk> slots_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    int head_ = 0;  // oldest queued
    int size_ = 0;
    bool woken_ = false;
};
