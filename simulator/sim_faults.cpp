// What tests read back from the simulated controller, and the faults they set.
#include <algorithm>
#include <cstdio>

#include "device_IO/flash_sectors.h"
#include "sim_controller.h"

namespace zarv::sim {

using namespace zarv::device_io;

namespace {
int sectorIndex(char letter) {
    const FlashSector* sector = SectorByLetter(QString(QLatin1Char(letter)));
    return sector ? sector->code : -1;
}
}  // namespace

SimController::Programmed SimController::programmed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return programmed_;
}

std::vector<std::array<std::uint8_t, 50>> SimController::writtenFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

std::vector<std::array<std::uint8_t, 50>> SimController::firstFramesAfterOpens() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_after_open_;
}

void SimController::clearWrittenFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    written_.clear();
}

std::vector<std::uint16_t> SimController::flashSector(char letter) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.sector(sectorIndex(letter));
}

void SimController::setFlashSector(char letter, const std::vector<std::uint16_t>& words) {
    std::lock_guard<std::mutex> lock(mutex_);
    flash_.sector(sectorIndex(letter)) = words;
    flash_.save();
}

bool SimController::codeStartWritten() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_.codeStartWritten();
}

std::array<std::uint16_t, kCodeStartWords> SimController::codeStart() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto read = flash_.readCodeStart();
    std::array<std::uint16_t, kCodeStartWords> words{};
    std::copy_n(read.begin() + kCodeStartInRead, kCodeStartWords, words.begin());
    return words;
}

std::uint32_t SimController::readTimeoutMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return read_timeout_ms_;
}

std::uint32_t SimController::writeTimeoutMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return write_timeout_ms_;
}

std::uint64_t SimController::overrunBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    chargeIdleOverrunLocked(clock_->now());
    return overrun_bytes_;
}

std::vector<std::uint64_t> SimController::overrunHoles() {
    std::lock_guard<std::mutex> lock(mutex_);
    chargeIdleOverrunLocked(clock_->now());
    return overrun_holes_;
}

std::string SimController::overrunCauses() {
    std::lock_guard<std::mutex> lock(mutex_);
    chargeIdleOverrunLocked(clock_->now());
    const auto said = [](const HoleCause& c, const char* when) {
        const double ms = std::chrono::duration<double, std::milli>(c.longest_wait).count();
        char line[160];
        std::snprintf(line, sizeof line, "%d %s (%llu bytes, the longest wait %.1f ms", c.holes,
                      when, static_cast<unsigned long long>(c.bytes), ms);
        return std::string(line) + (c.where.empty() ? "" : "; dwell@s " + c.where) + ")";
    };
    return said(idle_holes_, "with no transfer queued") + ", " +
           said(held_holes_, "while a read was held");
}

void SimController::setHostWaiting(bool waiting) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (host_waiting_ == waiting) return;
    if (waiting) chargeIdleOverrunLocked(clock_->now());
    // What came in while a transfer waited went on into it: only what comes
    // after counts against the bridge's own buffer.
    if (!waiting) last_read_end_ = clock_->now();
    host_waiting_ = waiting;
}

void SimController::setDriverBufferSize(std::int64_t bytes) {
    setLocked(driver_buffer_size_, bytes);
}

void SimController::setBridgeBufferSize(std::uint32_t bytes) {
    setLocked(bridge_buffer_size_, bytes);
}

std::int64_t SimController::framesProduced() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return framesEmittedLocked(clock_->now());
}

int SimController::triggerStarts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return trigger_starts_;
}

void SimController::setDeviceCount(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    device_count_ = std::clamp(count, 0, 2);
}

void SimController::setDeviceTexts(const QString& serial, const QString& description) {
    std::lock_guard<std::mutex> lock(mutex_);
    serial_ = serial;
    description_ = description;
}

void SimController::setListStatus(std::uint32_t kind, FT_STATUS status) {
    std::lock_guard<std::mutex> lock(mutex_);
    list_status_[kind] = status;
}

void SimController::setOpenStatus(FT_STATUS status) {
    setLocked(open_status_, status);
}

void SimController::setResetStatus(FT_STATUS status) {
    setLocked(reset_status_, status);
}

void SimController::setTimeoutsStatus(FT_STATUS status) {
    setLocked(timeouts_status_, status);
}

void SimController::setLatencyStatus(FT_STATUS status) {
    setLocked(latency_status_, status);
}

void SimController::setUsbParametersStatus(FT_STATUS status) {
    setLocked(usb_parameters_status_, status);
}

void SimController::setWriteTimeout(bool short_writes) {
    setLocked(short_writes_, short_writes);
}

void SimController::setReplyFault(std::uint8_t code, ReplyFault fault, int short_length) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_faults_[code] = {fault, short_length};
}

void SimController::setEraseStatus(int sector_code, int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    erase_status_[sector_code] = status;
}

void SimController::setProgramStatusAt(int offset, int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    program_status_at_[offset] = status;
}

void SimController::setInfoWord(int index, std::uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    info_.at(static_cast<std::size_t>(index)) = value;
}

void SimController::dropStreamBytes(std::int64_t offset, std::int64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_faults_.push_back({offset, std::max<std::int64_t>(count, 1), 0});
}

void SimController::corruptStreamByte(std::int64_t offset, std::uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_faults_.push_back({offset, 0, value});
}

void SimController::unplugAfter(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    unplug_at_ = clock_->now() + delay;
    wake_.notify_all();
}

void SimController::unplugOnFrame(int open, int frame, std::chrono::milliseconds replug_after) {
    std::lock_guard<std::mutex> lock(mutex_);
    unplug_on_frame_ = UnplugOnFrame{open, frame, replug_after};
}

bool SimController::pullOnFrameLocked() {
    ++frames_since_open_;
    if (!unplug_on_frame_ || unplug_on_frame_->open != opens_ ||
        unplug_on_frame_->frame != frames_since_open_)
        return false;
    const auto now = clock_->now();
    unplug_at_ = now;
    replug_at_ = now + unplug_on_frame_->replug_after;
    unplug_on_frame_.reset();
    wake_.notify_all();
    return true;
}

void SimController::plugIn() {
    std::lock_guard<std::mutex> lock(mutex_);
    unplug_at_.reset();
    if (open_handle_ != 0) dead_handles_.push_back(open_handle_);
    open_handle_ = 0;
    replies_.clear();
    wake_.notify_all();
}

void SimController::setFaultPlan(const SimFaultPlan& plan, bool plug_faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_ = plan;
    plug_faults_ = plug_faults;
    copy_refusals_ = plan.copy_refusals;
    copy_partial_ = plan.copy_partial;
    misread_sector_ = plan.misread_once ? sectorIndex(*plan.misread_once) : -1;
    if (first_trigger_at_) scheduleFaultsLocked(*first_trigger_at_);
}

std::optional<SimController::Clock::time_point> SimController::firstTriggerAt() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_trigger_at_;
}

void SimController::stopStreamAfter(std::int64_t frames) {
    setLocked(pending_stop_frames_, std::optional<std::int64_t>(frames));
}

}  // namespace zarv::sim
