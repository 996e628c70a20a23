#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "flash_status.h"
#include "ft_api.h"
#include "link_sizes.h"

namespace zarv::device_io {

class MessageBoxes;

// The one link to the controller: its handle, the device text buffer and the
// receive and transmit buffers every byte passes through. Every wrapper makes one
// library call and hands a failing status to ReportFTError.
class UsbLink {
  public:
    static constexpr std::uint32_t kRxBufferSize = kLinkBufferBytes;
    static constexpr std::uint32_t kFrameSize = kLinkFrameBytes;
    static constexpr int kTextCut = 49;
    static inline const QString kNotOpen = QStringLiteral("NotOpen");

    UsbLink(FtApi& api, MessageBoxes& op);
    // Closes the handle, so that the bridge is free for whoever opens it next.
    ~UsbLink();
    UsbLink(const UsbLink&) = delete;
    UsbLink& operator=(const UsbLink&) = delete;

    FT_STATUS GetFTDeviceCount();
    FT_STATUS GetFTDeviceSerialNo(std::uint32_t index);
    FT_STATUS GetFTDeviceDescription(std::uint32_t index);
    FT_STATUS Open_USB_Device_By_Serial_Number(const QString& serial);
    FT_STATUS ResetFTDevice();
    FT_STATUS PurgeFTDeviceTx();
    FT_STATUS PurgeFTDeviceRx();
    FT_STATUS SetFTDeviceTimeouts(std::uint32_t read_ms, std::uint32_t write_ms);
    // Sends the first count bytes of tx_buffer; returns the number written.
    std::uint32_t WriteFTDevice(std::uint32_t count);
    // Reads into the start of rx_buffer; returns the number read. The library's
    // status goes to *status when asked for (the stream reader needs it).
    std::uint32_t ReadFTDevice(std::uint32_t count, FT_STATUS* status = nullptr);
    // When what a stream read returned came in: the byte tail bytes before its
    // end arrived at ns (on clock()). from_link: the link told; otherwise it is
    // the read's return, with a tail of 0.
    struct Arrival {
        std::int64_t ns = 0;
        std::uint32_t tail = 0;
        bool from_link = false;
        bool overrun = false;  // the bridge dropped bytes before the read's first
    };
    // Reads the stream into a buffer of the caller's; returns the number read.
    std::uint32_t ReadStream(std::uint8_t* into, std::uint32_t count, FT_STATUS* status,
                             Arrival* arrival = nullptr);
    // The time the stream runs on: stamps, dwells and waits are kept by it.
    const LinkClock& clock() const { return api_.StreamClock(); }
    // Bytes received and not yet read; 0 when the link cannot tell.
    std::uint32_t QueuedBytes();
    // Makes a stream read in progress, and every read until resumed, return at once.
    void AbortReads();
    void ResumeReads();

    // Opens device 0 of the library's list, or the one with the wanted serial
    // number, and configures the bridge. Returns "NotOpen" or the description,
    // " [", the serial number and "]".
    QString OpenController(const QString& wanted_serial = QString());
    // After a "NotOpen" with a bridge attached: which bridge and why, in words an
    // operator can act on. Empty when no bridge is attached.
    QString openFailure() const { return open_failure_; }
    // True once a call on the open handle has reported the device gone, or when
    // the bridge no longer answers on it (asked each time until then).
    bool HandleGone();
    // True once for each loss: whoever gets it opens the link again.
    bool TakeReopenTurn() { return lost_.load() && !reopen_taken_.exchange(true); }

    // Last failing status and its text; written to standard error, never shown.
    void ReportFTError(const char* label, FT_STATUS status);
    FT_STATUS lastStatus() const { return last_status_.load(); }
    QString lastErrorText() const;

    FT_HANDLE ft_handle = 0;
    std::uint32_t device_count = 0;
    QString last_device_text;
    std::vector<std::uint8_t> rx_buffer;
    std::array<std::uint8_t, kFrameSize> tx_buffer{};
    FlashStatusText flash_status_text;

  private:
    FT_STATUS listByIndex(std::uint32_t index, std::uint32_t flags, const char* label);
    FT_STATUS noteHandleStatus(FT_STATUS status);
    std::uint32_t findSerial(const QString& wanted);
    void explainOpenFailure(const QString& wanted, const QString& serial,
                            const QString& description);
    void setDeviceText(const QString& text);
    QString deviceText() const;

    FtApi& api_;
    MessageBoxes& op_;
    std::array<char, FT_DEVICE_TEXT_SIZE> device_text_{};
    std::atomic<FT_STATUS> last_status_{FT_OK};
    std::atomic<bool> lost_{false};
    std::atomic<bool> reopen_taken_{false};
    QString open_failure_;
    mutable std::mutex error_mutex_;
    QString last_error_text_;
};

}  // namespace zarv::device_io
