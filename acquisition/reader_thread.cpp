#include "reader_thread.h"

#include "device_IO/usb_link.h"

TMyThread::TMyThread(UsbLink& link, int chunk_size, QObject* gui_context, HandOver hand_over)
    : link_(link),
      chunk_size_(chunk_size),
      gui_context_(gui_context),
      hand_over_(std::move(hand_over)) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TMyThread::run() {
    while (!stop_requested_.load()) {
        FT_STATUS status = FT_OK;
        const std::uint32_t count =
            link_.ReadFTDevice(static_cast<std::uint32_t>(chunk_size_), &status);
        hand_over_waiting_.store(true);
        QMetaObject::invokeMethod(
            gui_context_,
            [this, count, status] {
                hand_over_waiting_.store(false);
                hand_over_(count, status);
            },
            Qt::BlockingQueuedConnection);
        if (status != FT_OK) break;  // the link is gone: no stale data, no spinning
    }
}
