#include "reader_thread.h"

#include "device_IO/usb_link.h"

TMyThread::TMyThread(UsbLink& link, int chunk_size, HandOver hand_over)
    : link_(link), chunk_size_(chunk_size), hand_over_(std::move(hand_over)) {}

void TMyThread::run() {
    while (!stop_requested_.load()) {
        FT_STATUS status = FT_OK;
        const std::uint32_t count =
            link_.ReadFTDevice(static_cast<std::uint32_t>(chunk_size_), &status);
        {
            std::lock_guard<std::mutex> lock(hand_over_mutex_);
            count_ = count;
            status_ = status;
        }
        hand_over_waiting_.store(true);
        // This object lives on the GUI thread: the call runs there, and returns
        // once it has.
        QMetaObject::invokeMethod(this, "takeChunk", Qt::BlockingQueuedConnection);
        std::lock_guard<std::mutex> taken(hand_over_mutex_);
        if (status != FT_OK) break;  // the link is gone: no stale data, no spinning
    }
    std::lock_guard<std::mutex> last(hand_over_mutex_);  // pairs with join()
}

void TMyThread::join() {
    wait();
    std::lock_guard<std::mutex> after_run(hand_over_mutex_);
}

void TMyThread::takeChunk() {
    hand_over_waiting_.store(false);
    std::lock_guard<std::mutex> lock(hand_over_mutex_);
    hand_over_(count_, status_);
}
