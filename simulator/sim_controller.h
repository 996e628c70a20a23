#pragma once

#include <QString>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device_IO/controller_commands.h"
#include "device_IO/ft_api.h"
#include "sim_atmosphere.h"
#include "sim_clock.h"
#include "sim_fault_plan.h"
#include "sim_flash.h"
#include "sim_waveform.h"

namespace zarv::sim {

using device_io::FT_HANDLE;
using device_io::FT_OK;
using device_io::FT_STATUS;
using device_io::FtApi;
using device_io::InfoWords;
using device_io::SweepParameters;

// A radar controller behind an FTDI bridge, simulated below the protocol: it takes
// the real 50-byte frames, checks their checksums, answers with the real reply
// lengths and streams real 148-byte frames while triggered. Faults are set through
// the methods under "Faults".
class SimController : public FtApi {
  public:
    using Clock = std::chrono::steady_clock;

    // StrayByteAfter: the reply is followed by a stray checksum-error byte.
    enum class ReplyFault { None, NoReply, Short, ChecksumError, UnexpectedData, StrayByteAfter };

    // What the controller was last programmed with.
    struct Programmed {
        std::array<std::uint32_t, 4> frequencies{};
        std::array<std::uint16_t, 4> amplitudes{};
        std::array<std::uint16_t, 2> dac{};
        SweepParameters sweep{};
        int beam = 0;
        bool triggering = false;
    };

    explicit SimController(QString flash_path = QString(), QString trace_path = QString(),
                           std::shared_ptr<SimClock> clock = SimClock::steady());
    ~SimController() override;

    // FtApi
    FT_STATUS FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
    FT_STATUS FT_OpenEx(const void* arg, std::uint32_t flags, FT_HANDLE* handle) override;
    FT_STATUS FT_Close(FT_HANDLE handle) override;
    FT_STATUS FT_ResetDevice(FT_HANDLE handle) override;
    FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override;
    FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t read_ms,
                             std::uint32_t write_ms) override;
    FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
    FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t in_size,
                                  std::uint32_t out_size) override;
    FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                       std::uint32_t* written) override;
    FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                      std::uint32_t* received) override;
    FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) override;
    void AbortReads(FT_HANDLE handle, bool aborted) override;
    std::string DescribeOpenFailure() override;
    // When the last byte of the stream a read returned left the controller, on
    // StreamClock(): the bridge hands bytes on as they come.
    bool LastReadArrival(FT_HANDLE handle, std::int64_t* arrived_ns, std::uint32_t* tail) override;
    // As a bridge's status bytes tell it: bytes were dropped before the first
    // byte of the stream the last read returned.
    bool LastReadOverrun(FT_HANDLE handle) override;
    // The controller's own time: a fast clock makes the station keep it too.
    const device_io::LinkClock& StreamClock() const override { return stream_clock_; }

    // Gaussian noise of sigma counts on every ip and qp sample of the frames made
    // from now on; 0 for none.
    void setNoise(double sigma);
    // A wind instead of the fixed waveform (nothing: the waveform again), and
    // where the radar looks, asked at every trigger start (the station's
    // config.txt, for zarv-sim); without it, the demo's radar.
    using GeometrySource = std::function<SimGeometry()>;
    void setAtmosphere(std::optional<SimAtmosphere> atmosphere, GeometrySource geometry = {});

    // What tests read back.
    Programmed programmed() const;
    std::vector<std::array<std::uint8_t, 50>> writtenFrames() const;
    // The first frame written after each open of the controller.
    std::vector<std::array<std::uint8_t, 50>> firstFramesAfterOpens() const;
    void clearWrittenFrames();
    std::vector<std::uint16_t> flashSector(char letter) const;
    void setFlashSector(char letter, const std::vector<std::uint16_t>& words);
    bool codeStartWritten() const;
    // The ten code-start words as ReadCodeStart gives them.
    std::array<std::uint16_t, kCodeStartWords> codeStart() const;
    std::uint32_t readTimeoutMs() const;
    std::uint32_t writeTimeoutMs() const;
    // Stream bytes that reached the bridge while its receive buffer was full and
    // no read was waiting for them: a real chip drops them.
    std::uint64_t overrunBytes();
    // The same, one entry per hole, in the order the holes were made.
    std::vector<std::uint64_t> overrunHoles();
    // Why the holes came: no transfer queued (the host late to queue the next),
    // or a read held up longer than the driver's buffers last; the longest wait.
    std::string overrunCauses();
    int triggerStarts() const;
    // Stream frames the controller has produced since the last trigger start.
    std::int64_t framesProduced() const;

    // Faults.
    void setDeviceCount(int count);  // 0, 1 or 2 attached bridges
    void setDeviceTexts(const QString& serial, const QString& description);
    void setListStatus(std::uint32_t flags_kind, FT_STATUS status);  // FT_OPEN_BY_... kind
    void setOpenStatus(FT_STATUS status);
    void setResetStatus(FT_STATUS status);
    void setTimeoutsStatus(FT_STATUS status);
    void setLatencyStatus(FT_STATUS status);
    void setUsbParametersStatus(FT_STATUS status);
    void setWriteTimeout(bool short_writes);
    void setReplyFault(std::uint8_t code, ReplyFault fault, int short_length = 0);
    void setEraseStatus(int sector_code, int status);
    void setProgramStatusAt(int offset, int status);
    void setInfoWord(int index, std::uint32_t value);
    void dropStreamBytes(std::int64_t offset, std::int64_t count);  // offsets since trigger start
    void corruptStreamByte(std::int64_t offset, std::uint8_t value);
    void unplugAfter(std::chrono::milliseconds delay);
    void unplugNow() { unplugAfter(std::chrono::milliseconds(0)); }
    // Plugs the bridge in again after an unplug. The handle open before is dead, as
    // on real USB: every call on it fails, and the controller must be opened anew.
    void plugIn();
    void replugNow() {
        unplugNow();
        plugIn();
    }
    // Pulls the bridge as the frame-th frame written after the open-th open
    // (both from 1) arrives, and plugs it in again replug_after later on the
    // controller's clock: a link lost while the controller is programmed.
    void unplugOnFrame(int open, int frame, std::chrono::milliseconds replug_after);
    void stopStreamAfter(std::int64_t frames);      // the trigger is lost after this many frames
    void setBridgeBufferSize(std::uint32_t bytes);  // 4096 by default
    // The emulated bridge: a host transfer is queued, so the bridge passes the
    // stream on between reads instead of holding it in its own buffer.
    void setHostWaiting(bool waiting);
    // Faults at set times from the first StartTrigger on. The unplug and replug
    // are left to whoever owns the bridge's USB side when plug_faults is false
    // (the emulated bridge pulls its port instead).
    void setFaultPlan(const SimFaultPlan& plan, bool plug_faults = true);
    // When the first StartTrigger arrived; nothing before it.
    std::optional<Clock::time_point> firstTriggerAt() const;

    // While a read waits, the driver keeps draining the bridge into buffers of
    // this size (512 KiB by default; the emulated bridge gives it the 2 MiB
    // that the libftdi1 link keeps queued); a reader held up for longer than
    // they last loses what does not fit.
    void setDriverBufferSize(std::int64_t bytes);

  private:
    struct StreamFault {
        std::int64_t offset;
        std::int64_t count;  // dropped bytes; 0 for a corrupted byte
        std::uint8_t value;
    };

    template <typename T>
    void setLocked(T& field, T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        field = std::move(value);
    }
    bool unpluggedLocked();
    bool pullOnFrameLocked();
    void replugIfDueLocked();
    void scheduleFaultsLocked(Clock::time_point first_trigger);
    bool silentLocked(Clock::time_point at) const;
    void stallIfDueLocked(std::unique_lock<std::mutex>& lock);
    void chargeHeldReadLocked(Clock::time_point at, std::uint32_t room);
    bool streamFlowingLocked() const;
    FT_STATUS checkHandleLocked(FT_HANDLE handle);
    void handleFrameLocked(const std::uint8_t* frame);
    void queueReplyLocked(std::uint8_t code, std::vector<std::uint8_t> reply);
    std::vector<std::uint8_t> executeLocked(std::uint8_t code, const std::uint8_t* payload,
                                            int length);
    std::vector<std::uint8_t> flashReplyLocked(std::uint8_t code, const std::uint8_t* payload,
                                               int length);
    void traceLocked(const std::uint8_t* frame);
    std::int64_t framesEmittedLocked(Clock::time_point at) const;
    Clock::time_point frameDueLocked(std::int64_t frame) const;
    std::int64_t streamAvailableLocked(Clock::time_point at);
    // Copies stream bytes after the already bytes a read holds; stops before a
    // hole the bridge overran when the read holds anything.
    std::uint32_t copyStreamLocked(std::uint8_t* out, std::uint32_t want, Clock::time_point at,
                                   std::uint32_t already);
    std::uint8_t streamByteLocked(std::int64_t offset);
    void startTriggerLocked(bool on);
    void chargeIdleOverrunLocked(Clock::time_point at);
    Clock::time_point nextReadWakeLocked(Clock::time_point now, Clock::time_point deadline,
                                         std::uint32_t missing) const;
    std::int64_t bufferedLocked(Clock::time_point at);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    SimFlash flash_;
    QString trace_path_;
    std::shared_ptr<SimClock> clock_;
    Clock::time_point created_;
    class StreamTime : public device_io::LinkClock {
      public:
        explicit StreamTime(SimClock& clock) : clock_(clock) {}
        std::int64_t nowNs() const override {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(
                       clock_.paced().time_since_epoch())
                .count();
        }
        double rate() const override { return clock_.rate(); }
        bool keepsWallTime() const override { return clock_.keepsWallTime(); }
        void stationWaitedUntilNs(std::int64_t ns) const override {
            clock_.stationWaitedUntil(Clock::time_point(std::chrono::nanoseconds(ns)));
        }
        void holdAtNs(std::int64_t ns) const override {
            clock_.holdAt(Clock::time_point(std::chrono::nanoseconds(ns)));
        }
        void releaseHoldAtNs(std::int64_t ns) const override {
            clock_.releaseHoldAt(Clock::time_point(std::chrono::nanoseconds(ns)));
        }

      private:
        SimClock& clock_;
    };
    StreamTime stream_clock_{*clock_};

    int device_count_ = 1;
    QString serial_ = QStringLiteral("SIM00001");
    QString description_ = QStringLiteral("Radar controller (simulated)");
    std::map<std::uint32_t, FT_STATUS> list_status_;
    FT_STATUS open_status_ = FT_OK;
    FT_STATUS reset_status_ = FT_OK;
    FT_STATUS timeouts_status_ = FT_OK;
    FT_STATUS latency_status_ = FT_OK;
    FT_STATUS usb_parameters_status_ = FT_OK;
    bool short_writes_ = false;
    std::map<std::uint8_t, std::pair<ReplyFault, int>> reply_faults_;
    std::map<int, int> erase_status_;
    int copy_refusals_ = 0;    // copies still to refuse; -1: every one
    QString copy_partial_;     // main sectors the next copy leaves alone
    int misread_sector_ = -1;  // the next read of this sector gets one word wrong
    std::map<int, int> program_status_at_;
    std::optional<Clock::time_point> unplug_at_;
    std::optional<Clock::time_point> replug_at_;
    std::optional<Clock::time_point> silent_at_;
    std::optional<Clock::time_point> stall_at_;
    std::optional<Clock::time_point> first_trigger_at_;
    SimFaultPlan plan_;
    bool plug_faults_ = true;

    FT_HANDLE open_handle_ = 0;
    std::vector<FT_HANDLE> dead_handles_;
    FT_HANDLE next_handle_ = 0x51;
    std::uint32_t read_timeout_ms_ = 0;
    std::uint32_t write_timeout_ms_ = 0;
    std::deque<std::uint8_t> replies_;
    std::vector<std::array<std::uint8_t, 50>> written_;
    std::vector<std::array<std::uint8_t, 50>> first_after_open_;
    bool opened_since_frame_ = false;
    int opens_ = 0;
    int frames_since_open_ = 0;
    struct UnplugOnFrame {
        int open;
        int frame;
        std::chrono::milliseconds replug_after;
    };
    std::optional<UnplugOnFrame> unplug_on_frame_;
    InfoWords info_{};
    Programmed programmed_;

    // Stream state of the current trigger run, in bytes since its start.
    Clock::time_point trigger_start_;
    std::optional<Clock::time_point> trigger_stop_;
    std::int64_t stream_consumed_ = 0;
    std::uint64_t overrun_bytes_ = 0;
    std::vector<std::uint64_t> overrun_holes_;
    struct HoleCause {
        int holes = 0;
        std::uint64_t bytes = 0;
        Clock::duration longest_wait{};
        std::string where;  // the first holes: dwell and seconds into it
        void add(std::int64_t excess, Clock::duration wait, int dwell, Clock::duration into);
    };
    HoleCause idle_holes_, held_holes_;
    Clock::time_point read_began_{};
    // The bridge's receive buffer: what it holds beyond this while no read waits is
    // lost, leaving holes in the stream offsets.
    std::uint32_t bridge_buffer_size_ = 4096;
    std::int64_t driver_buffer_size_ = 512 * 1024;
    int reads_in_flight_ = 0;
    bool host_waiting_ = false;
    Clock::time_point last_read_end_{};
    std::int64_t last_copied_offset_ = -1;  // the stream byte a read returned last
    std::optional<Clock::time_point> last_read_arrival_;
    bool hole_passed_ = false;        // an overrun hole skipped, no byte read since
    bool stopped_at_hole_ = false;    // the read in progress ends before a hole
    bool last_read_overrun_ = false;  // the last read began after a hole
    bool reads_aborted_ = false;
    std::deque<std::pair<std::int64_t, std::int64_t>> holes_;  // [start, end)
    std::int64_t hole_bytes_ahead_ = 0;
    int trigger_starts_ = 0;
    // Stream faults wait for the next trigger start and last for that run.
    std::vector<StreamFault> pending_faults_;
    std::optional<std::int64_t> pending_stop_frames_;
    std::vector<StreamFault> stream_faults_;
    std::optional<std::int64_t> stream_stop_frames_;
    std::vector<std::uint8_t> frame_cache_;
    std::int64_t frame_cache_index_ = -1;
    double noise_sigma_ = 0;
    std::optional<SimAtmosphere> atmosphere_;
    GeometrySource geometry_source_;
    SimGeometry geometry_;
    SimSample atmosphereSampleLocked(std::int64_t frame, int gate) const;
};

}  // namespace zarv::sim
