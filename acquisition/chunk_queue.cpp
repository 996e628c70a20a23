#include "chunk_queue.h"

ChunkQueue::ChunkQueue(int slots, int slot_size) : slot_size_(slot_size) {
    slots_.resize(static_cast<std::size_t>(slots));
    for (Chunk& c : slots_)
        c.bytes.assign(static_cast<std::size_t>(kHeadroom + slot_size + kTailRoom), 0);
}

int ChunkQueue::queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}

ChunkQueue::Clock::duration ChunkQueue::oldestAge() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (size_ == 0) return Clock::duration::zero();
    return Clock::now() - slots_[static_cast<std::size_t>(head_)].received;
}

std::uint8_t* ChunkQueue::acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (size_ == capacity()) return nullptr;
    const int tail = (head_ + size_) % capacity();
    return slots_[static_cast<std::size_t>(tail)].data();
}

void ChunkQueue::publish(std::uint32_t count, std::uint64_t lost_before) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (size_ == capacity()) return;  // nothing was lent
        Chunk& c = slots_[static_cast<std::size_t>((head_ + size_) % capacity())];
        c.count = count;
        c.lost_before = lost_before;
        c.received = Clock::now();
        ++size_;
    }
    ready_.notify_one();
}

ChunkQueue::Chunk* ChunkQueue::waitFront(Clock::duration timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return size_ > 0 || woken_; });
    if (size_ > 0) return &slots_[static_cast<std::size_t>(head_)];
    woken_ = false;  // kept while chunks are handed out: the wake is for after them
    return nullptr;
}

void ChunkQueue::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (size_ == 0) return;
    head_ = (head_ + 1) % capacity();
    --size_;
}

void ChunkQueue::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    ready_.notify_all();
}

void ChunkQueue::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    head_ = 0;
    size_ = 0;
    woken_ = false;
}
