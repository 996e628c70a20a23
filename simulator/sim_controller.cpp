#include "sim_controller.h"

#include <QFile>
#include <algorithm>
#include <cstring>

#include "device_IO/command_set.h"
#include "sim_waveform.h"

namespace zarv::sim {

using namespace zarv::device_io;

namespace {
constexpr std::uint8_t kAck = +ReplyCode::Ack;
constexpr std::uint8_t kChecksumError = +ReplyCode::ChecksumError;
constexpr std::uint8_t kUnexpectedData = +ReplyCode::UnexpectedData;
constexpr std::uint32_t kDefaultTimeoutMs = 500;
constexpr int kMisreadOffset = 0x100;  // the word that a misread gets wrong

bool lengthFits(std::uint8_t code, int length) {
    const CommandSpec* spec = FindCommand(code);
    return spec && FrameLengthFits(*spec, length);
}

std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
void putBe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
}  // namespace

SimController::SimController(QString flash_path, QString trace_path,
                             std::shared_ptr<SimClock> clock)
    : flash_(std::move(flash_path)),
      trace_path_(std::move(trace_path)),
      clock_(std::move(clock)),
      created_(clock_->now()) {
    info_[1] = 1001;
    info_[2] = 0x00010002;
    info_[3] = 0x00020010;
    read_timeout_ms_ = kDefaultTimeoutMs;
    write_timeout_ms_ = kDefaultTimeoutMs;
}

SimController::~SimController() = default;

bool SimController::unpluggedLocked() {
    replugIfDueLocked();
    return unplug_at_ && clock_->now() >= *unplug_at_;
}

// A planned replug: as plugIn(), at its time.
void SimController::replugIfDueLocked() {
    if (!replug_at_ || clock_->now() < *replug_at_) return;
    replug_at_.reset();
    unplug_at_.reset();
    if (open_handle_ != 0) dead_handles_.push_back(open_handle_);
    open_handle_ = 0;
    replies_.clear();
    wake_.notify_all();
}

FT_STATUS SimController::checkHandleLocked(FT_HANDLE handle) {
    if (unpluggedLocked()) return FT_IO_ERROR;
    if (std::find(dead_handles_.begin(), dead_handles_.end(), handle) != dead_handles_.end())
        return FT_IO_ERROR;
    if (handle == 0 || handle != open_handle_) return FT_INVALID_HANDLE;
    return FT_OK;
}

FT_STATUS SimController::FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int attached = unpluggedLocked() ? 0 : device_count_;
    if (flags == FT_LIST_NUMBER_ONLY) {
        if (!arg1) return FT_INVALID_PARAMETER;
        *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(attached);
        return FT_OK;
    }
    if ((flags & FT_LIST_BY_INDEX) == 0 || !arg2) return FT_INVALID_PARAMETER;
    const std::uint32_t kind = flags & 0x3;
    if (auto it = list_status_.find(kind); it != list_status_.end() && it->second != FT_OK)
        return it->second;
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if (index >= static_cast<std::uintptr_t>(attached)) return FT_DEVICE_NOT_FOUND;
    QString text;
    if (kind == FT_OPEN_BY_SERIAL_NUMBER)
        text = index == 0 ? serial_ : QStringLiteral("SIM00002");
    else if (kind == FT_OPEN_BY_DESCRIPTION)
        text = index == 0 ? description_ : QStringLiteral("Second FTDI device");
    else
        return FT_INVALID_PARAMETER;
    const QByteArray bytes = text.toLatin1().left(FT_DEVICE_TEXT_SIZE - 1);
    std::memset(arg2, 0, FT_DEVICE_TEXT_SIZE);
    std::memcpy(arg2, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return FT_OK;
}

FT_STATUS SimController::FT_OpenEx(const void* arg, std::uint32_t flags, FT_HANDLE* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (unpluggedLocked() || device_count_ == 0) return FT_DEVICE_NOT_FOUND;
    if (flags != FT_OPEN_BY_SERIAL_NUMBER || !arg || !handle) return FT_INVALID_PARAMETER;
    if (open_status_ != FT_OK) return open_status_;
    const QByteArray wanted(static_cast<const char*>(arg));
    const QByteArray mine = serial_.toLatin1();
    // The station passes at most 49 characters of a serial number.
    const bool matches =
        !wanted.isEmpty() && (wanted == mine || (wanted.size() == 49 && mine.startsWith(wanted)));
    if (device_count_ > 1 && wanted == "SIM00002") {
        *handle = 0x7F;  // a bridge that is not the controller: open, but silent
        return FT_OK;
    }
    if (!matches) return FT_DEVICE_NOT_FOUND;
    if (open_handle_ != 0) return FT_DEVICE_NOT_OPENED;  // still held by an earlier open
    open_handle_ = next_handle_++;
    *handle = open_handle_;
    opened_since_frame_ = true;
    ++opens_;
    frames_since_open_ = 0;
    replies_.clear();
    return FT_OK;
}

FT_STATUS SimController::FT_Close(FT_HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handle == 0 || handle != open_handle_) return FT_INVALID_HANDLE;
    open_handle_ = 0;
    wake_.notify_all();
    return FT_OK;
}

FT_STATUS SimController::FT_ResetDevice(FT_HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    return reset_status_;
}

FT_STATUS SimController::FT_Purge(FT_HANDLE handle, std::uint32_t mask) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    if (mask & FT_PURGE_RX) {
        replies_.clear();
        const auto now = clock_->now();
        chargeIdleOverrunLocked(now);
        stream_consumed_ = std::max(stream_consumed_, streamAvailableLocked(now));
        holes_.clear();
        hole_bytes_ahead_ = 0;
        hole_passed_ = false;
        wake_.notify_all();
    }
    return FT_OK;
}

FT_STATUS SimController::FT_SetTimeouts(FT_HANDLE handle, std::uint32_t read_ms,
                                        std::uint32_t write_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    if (timeouts_status_ != FT_OK) return timeouts_status_;
    read_timeout_ms_ = read_ms;
    write_timeout_ms_ = write_ms;
    return FT_OK;
}

FT_STATUS SimController::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    if (ms == 0) return FT_INVALID_PARAMETER;
    return latency_status_;
}

FT_STATUS SimController::FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t, std::uint32_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    return usb_parameters_status_;
}

FT_STATUS SimController::FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                                  std::uint32_t* written) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (written) *written = 0;
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    if (!buffer || !written) return FT_INVALID_PARAMETER;
    if (short_writes_) return FT_OK;  // the write timed out
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (std::uint32_t at = 0; at + 50 <= count; at += 50) handleFrameLocked(bytes + at);
    *written = count;
    wake_.notify_all();
    return FT_OK;
}

FT_STATUS SimController::FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                                 std::uint32_t* received) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (received) *received = 0;
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    if (!buffer || !received) return FT_INVALID_PARAMETER;
    chargeIdleOverrunLocked(clock_->now());
    ++reads_in_flight_;
    read_began_ = clock_->now();
    last_copied_offset_ = -1;
    last_read_overrun_ = false;
    stopped_at_hole_ = false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    const auto deadline = clock_->now() + std::chrono::milliseconds(read_timeout_ms_);
    std::uint32_t got = 0;
    FT_STATUS status = FT_OK;
    while (true) {
        if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) {
            // What reached the bridge before it was pulled had been read by then.
            if (unplug_at_ && got < count)
                got += copyStreamLocked(out + got, count - got, *unplug_at_, got);
            status = s;
            break;
        }
        while (got < count && !replies_.empty()) {
            out[got++] = replies_.front();
            replies_.pop_front();
        }
        stallIfDueLocked(lock);
        const auto now = clock_->now();
        chargeHeldReadLocked(now, count - got);
        if (got < count) got += copyStreamLocked(out + got, count - got, now, got);
        if (got >= count || stopped_at_hole_ || reads_aborted_ ||
            (read_timeout_ms_ != 0 && now >= deadline))
            break;
        clock_->waitUntil(lock, wake_, nextReadWakeLocked(now, deadline, count - got),
                          !streamFlowingLocked(), [this] { return !streamFlowingLocked(); });
    }
    --reads_in_flight_;
    last_read_end_ = clock_->now();
    last_read_arrival_.reset();
    if (last_copied_offset_ >= 0)
        last_read_arrival_ = frameDueLocked(last_copied_offset_ / kSimFrameBytes);
    *received = got;
    return status;
}

bool SimController::streamFlowingLocked() const {
    return programmed_.triggering && !trigger_stop_ && programmed_.sweep.pulse_period > 0 &&
           !silentLocked(clock_->now());
}

// Until the missing bytes are due, the deadline, or a write, purge or abort.
SimController::Clock::time_point SimController::nextReadWakeLocked(Clock::time_point now,
                                                                   Clock::time_point deadline,
                                                                   std::uint32_t missing) const {
    auto wake_at = read_timeout_ms_ != 0 ? deadline : now + std::chrono::seconds(1);
    if (streamFlowingLocked()) {
        const std::int64_t need = stream_consumed_ + hole_bytes_ahead_ + missing;
        const std::int64_t frame = (need + kSimFrameBytes - 1) / kSimFrameBytes - 1;
        wake_at = std::min(wake_at,
                           std::max(frameDueLocked(frame), now + std::chrono::microseconds(200)));
    }
    if (unplug_at_) wake_at = std::min(wake_at, std::max(*unplug_at_, now));
    return wake_at;
}

FT_STATUS SimController::FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rx_bytes) *rx_bytes = 0;
    if (const FT_STATUS s = checkHandleLocked(handle); s != FT_OK) return s;
    if (!rx_bytes) return FT_INVALID_PARAMETER;
    const auto buffered = std::max<std::int64_t>(0, bufferedLocked(clock_->now()));
    *rx_bytes = static_cast<std::uint32_t>(replies_.size() + static_cast<std::size_t>(buffered));
    return FT_OK;
}

std::string SimController::DescribeOpenFailure() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_status_ == FT_OK) return {};
    return "the simulated bridge refuses to open (status " + std::to_string(open_status_) + ")";
}

bool SimController::LastReadArrival(FT_HANDLE, std::int64_t* arrived_ns, std::uint32_t* tail) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!last_read_arrival_ || !arrived_ns || !tail) return false;
    *arrived_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      clock_->pacedAt(*last_read_arrival_).time_since_epoch())
                      .count();
    *tail = 0;  // replies come first in a read, the stream after them
    return true;
}

bool SimController::LastReadOverrun(FT_HANDLE) {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_read_overrun_;
}

void SimController::AbortReads(FT_HANDLE, bool aborted) {
    std::lock_guard<std::mutex> lock(mutex_);
    reads_aborted_ = aborted;
    wake_.notify_all();
}

void SimController::traceLocked(const std::uint8_t* frame) {
    if (trace_path_.isEmpty()) return;
    QFile file(trace_path_);
    if (!file.open(QIODevice::Append)) return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clock_->now() - created_);
    QByteArray line = QByteArray::number(static_cast<qlonglong>(ms.count())) + " TX";
    for (int i = 0; i < 50; ++i)
        line += ' ' + QByteArray::number(frame[i], 16).rightJustified(2, '0').toUpper();
    // A trigger start also says when it came by the system's clock, so that a
    // bench can hold the station's journal against it.
    if (frame[1] == +CommandCode::Trigger && frame[2] != 0) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        line += " utc_us=" + QByteArray::number(static_cast<qlonglong>(us.count()));
    }
    file.write(line + '\n');
}

void SimController::handleFrameLocked(const std::uint8_t* frame) {
    if (pullOnFrameLocked()) return;  // the bridge was gone before the frame got through
    std::array<std::uint8_t, 50> copy{};
    std::memcpy(copy.data(), frame, 50);
    written_.push_back(copy);
    if (opened_since_frame_) first_after_open_.push_back(copy);
    opened_since_frame_ = false;
    traceLocked(frame);
    const int length = frame[0];
    if (length < 1 || length > 48) {
        queueReplyLocked(0xFF, {kUnexpectedData});
        return;
    }
    std::uint8_t sum = 0;
    for (int i = 0; i <= length; ++i) sum ^= frame[i];
    const std::uint8_t code = frame[1];
    if (sum != frame[length + 1]) {
        if (code != +CommandCode::Trigger) queueReplyLocked(code, {kChecksumError});
        return;
    }
    if (!lengthFits(code, length)) {
        if (code != +CommandCode::Trigger) queueReplyLocked(code, {kUnexpectedData});
        return;
    }
    if (code == +CommandCode::Trigger) {
        startTriggerLocked(frame[2] != 0);
        return;
    }
    // A controller that reports an error code has not carried the command out.
    if (auto it = reply_faults_.find(code);
        it != reply_faults_.end() && (it->second.first == ReplyFault::ChecksumError ||
                                      it->second.first == ReplyFault::UnexpectedData)) {
        queueReplyLocked(code, {});
        return;
    }
    queueReplyLocked(code, executeLocked(code, frame + 2, length - 1));
}

void SimController::queueReplyLocked(std::uint8_t code, std::vector<std::uint8_t> reply) {
    if (auto it = reply_faults_.find(code); it != reply_faults_.end()) {
        switch (it->second.first) {
            case ReplyFault::None:
                break;
            case ReplyFault::NoReply:
                reply.clear();
                break;
            case ReplyFault::Short: {
                const int keep =
                    it->second.second > 0 ? it->second.second : static_cast<int>(reply.size()) / 2;
                reply.resize(std::min<std::size_t>(reply.size(), static_cast<std::size_t>(keep)));
                break;
            }
            case ReplyFault::ChecksumError:
                reply = {kChecksumError};
                break;
            case ReplyFault::UnexpectedData:
                reply = {kUnexpectedData};
                break;
            case ReplyFault::StrayByteAfter:
                reply.push_back(kChecksumError);
                break;
        }
    }
    replies_.insert(replies_.end(), reply.begin(), reply.end());
}

std::vector<std::uint8_t> SimController::executeLocked(std::uint8_t code, const std::uint8_t* p,
                                                       int length) {
    switch (code) {
        case +CommandCode::ReadControllerInfo: {
            std::vector<std::uint8_t> reply;
            for (std::uint32_t word : info_) {
                putBe16(reply, word >> 16);
                putBe16(reply, word & 0xFFFF);
            }
            return reply;
        }
        case +CommandCode::SetSweepParameters: {
            SweepParameters& s = programmed_.sweep;
            s.pulse_period = be32(p);
            s.pulse_length = be16(p + 4);
            s.sample_start = be32(p + 6);
            s.resolution = be16(p + 10);
            s.gates = p[12];
            s.test_gate_delay = be16(p + 13);
            s.test_gate_length = be16(p + 15);
            s.lo_gate_length = be16(p + 17);
            s.tx_enable = p[19];
            s.dac_word0 = be16(p + 20);
            s.dac_word1 = be16(p + 22);
            s.audio_enable = p[24];
            return {kAck};
        }
        case +CommandCode::SetFrequencies:
            for (int i = 0; i < 4; ++i) programmed_.frequencies[i] = be32(p + 4 * i);
            return {kAck};
        case +CommandCode::SetAmplitudes:
            for (int i = 0; i < 4; ++i) programmed_.amplitudes[i] = be16(p + 2 * i);
            return {kAck};
        case +CommandCode::SetBeamDirection:
            programmed_.beam = p[0];
            return {kAck};
        case +CommandCode::SetDacLevels:
            programmed_.dac = {be16(p), be16(p + 2)};
            return {kAck};
        default:
            return flashReplyLocked(code, p, length);
    }
}

std::vector<std::uint8_t> SimController::flashReplyLocked(std::uint8_t code, const std::uint8_t* p,
                                                          int length) {
    switch (code) {
        case +CommandCode::EraseSector: {
            const int sector = p[0];
            const auto fault = erase_status_.find(sector);
            const int status = fault != erase_status_.end() ? fault->second : flash_.erase(sector);
            return {code, static_cast<std::uint8_t>(status)};
        }
        case +CommandCode::ProgramSectorBlock: {
            const int offset = be16(p + 1);
            std::vector<std::uint16_t> words;
            for (int i = 3; i + 1 < length; i += 2) words.push_back(be16(p + i));
            const auto fault = program_status_at_.find(offset);
            const int status = fault != program_status_at_.end()
                                   ? fault->second
                                   : flash_.program(p[0], offset, words);
            return {code, static_cast<std::uint8_t>(status)};
        }
        case +CommandCode::ReadSector: {
            if (p[0] >= SimFlash::kSectors) return {kUnexpectedData};
            std::vector<std::uint8_t> reply;
            reply.reserve(2 * kFlashSectorWords);
            for (std::uint16_t w : flash_.sector(p[0])) putBe16(reply, w);
            if (misread_sector_ == p[0]) {  // one bit of one word, this read only
                reply[2 * kMisreadOffset + 1] ^= 0x01;
                misread_sector_ = -1;
            }
            return reply;
        }
        case +CommandCode::CopyImageToMainFrame:
            if (copy_refusals_ != 0) {  // refused, as a controller that found a fault
                if (copy_refusals_ > 0) --copy_refusals_;
                return {kChecksumError};
            }
            flash_.copyStagedToMain(copy_partial_);
            copy_partial_.clear();  // the next copy is whole
            return {kAck};
        case +CommandCode::WriteCodeStart: {
            std::array<std::uint16_t, kCodeStartWords> words{};
            for (int i = 0; i < kCodeStartWords; ++i) words[i] = be16(p + 2 * i);
            flash_.writeCodeStart(words);
            return {kAck};
        }
        case +CommandCode::ReadCodeStart: {
            std::vector<std::uint8_t> reply;
            for (std::uint16_t w : flash_.readCodeStart()) putBe16(reply, w);
            return reply;
        }
        default:
            return {kUnexpectedData};
    }
}

}  // namespace zarv::sim
