#pragma once

#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>

#include "device_IO/ft_api.h"

class UsbLink;

// The stream reader of one beam dwell: reads the link in chunks and has the GUI
// thread take each one over, waiting until it has. It touches nothing else. It
// ends after a stop request or a failed read, and deletes itself when it ends.
class TMyThread : public QThread {
    Q_OBJECT
  public:
    // Runs on the GUI thread with the byte count and status of each read.
    using HandOver = std::function<void(std::uint32_t count, FT_STATUS status)>;

    TMyThread(UsbLink& link, int chunk_size, QObject* gui_context, HandOver hand_over);

    void requestStop() { stop_requested_.store(true); }
    // A read is done and its hand-over is waiting for the GUI thread.
    bool handOverWaiting() const { return hand_over_waiting_.load(); }

  protected:
    void run() override;

  private:
    UsbLink& link_;
    const int chunk_size_;
    QObject* gui_context_;
    HandOver hand_over_;
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> hand_over_waiting_{false};
};
