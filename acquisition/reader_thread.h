#pragma once

#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "device_IO/ft_api.h"

class UsbLink;

// The stream reader of one beam dwell: reads the link in chunks and has the GUI
// thread take each one over, waiting until it has. It touches nothing else. It
// ends itself after a stop request or a failed read; its owner joins and deletes it
// once it has said so.
class TMyThread : public QThread {
    Q_OBJECT
  public:
    // Runs on the GUI thread with the byte count and status of each read.
    using HandOver = std::function<void(std::uint32_t count, FT_STATUS status)>;

    TMyThread(UsbLink& link, int chunk_size, HandOver hand_over);

    void requestStop() { stop_requested_.store(true); }
    // A read is done and its hand-over is waiting for the GUI thread.
    bool handOverWaiting() const { return hand_over_waiting_.load(); }
    // After finished: joins the thread, so that the object may be deleted.
    void join();

  protected:
    void run() override;

  private:
    Q_INVOKABLE void takeChunk();

    UsbLink& link_;
    const int chunk_size_;
    HandOver hand_over_;
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> hand_over_waiting_{false};
    // Orders the reader's use of the receive buffer and the hand-over's, in a way
    // that thread checkers see; the blocking call alone already keeps them apart.
    std::mutex hand_over_mutex_;
    std::uint32_t count_ = 0;
    FT_STATUS status_ = FT_OK;
};
