#include "chunk_queue.h"

namespace zarv::acquisition {

namespace {
std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               ChunkQueue::Clock::now().time_since_epoch())
        .count();
}
}  // namespace

ChunkQueue::ChunkQueue(int slot_count, int slot_size)
    : slot_size_(slot_size), slots_(static_cast<std::size_t>(slot_count)) {
    for (Chunk& c : slots_)
        c.bytes.assign(static_cast<std::size_t>(kHeadroom + slot_size + kTailRoom), 0);
}

int ChunkQueue::queued() const {
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    return static_cast<int>(tail_.load(std::memory_order_acquire) - head);
}

ChunkQueue::Clock::duration ChunkQueue::oldestAge() const {
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    if (tail_.load(std::memory_order_acquire) == head) return Clock::duration::zero();
    const std::int64_t at = slots_[head % slots_.size()].received_ns.load();
    return at == 0 ? Clock::duration::zero() : std::chrono::nanoseconds(nowNs() - at);
}

std::uint8_t* ChunkQueue::acquire() {
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) == slots_.size()) return nullptr;
    return slot(tail).data();
}

void ChunkQueue::publish(std::uint32_t count, std::uint64_t lost_before, ChunkArrival arrival) {
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) == slots_.size()) return;  // none lent
    Chunk& c = slot(tail);
    c.count = count;
    c.lost_before = lost_before;
    const std::int64_t now = nowNs();
    c.received_ns.store(now);
    c.arrived_ns = arrival.ns != 0 ? arrival.ns : now;
    c.arrival_tail = arrival.tail;
    c.overrun_before = arrival.overrun;
    tail_.store(tail + 1, std::memory_order_release);
    ready_.release();
}

ChunkQueue::Chunk* ChunkQueue::waitFront(Clock::duration timeout) {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    if (tail_.load(std::memory_order_acquire) != head) return &slot(head);
    // Releases left over from chunks taken without waiting end this wait early;
    // the caller then finds the queue empty and simply waits again.
    (void)ready_.try_acquire_for(timeout);
    if (tail_.load(std::memory_order_acquire) != head) return &slot(head);
    return nullptr;
}

void ChunkQueue::release() {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    if (tail_.load(std::memory_order_acquire) == head) return;
    slot(head).received_ns.store(0);
    head_.store(head + 1, std::memory_order_release);
}

void ChunkQueue::wake() {
    ready_.release();
}

}  // namespace zarv::acquisition
