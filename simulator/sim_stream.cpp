// The simulated controller's sample stream: frames produced in real time from
// the trigger start, read back byte by byte with the injected faults applied.
#include <algorithm>
#include <cstdio>

#include "sim_controller.h"
#include "sim_waveform.h"

namespace zarv::sim {

void SimController::startTriggerLocked(bool on) {
    const auto now = clock_->now();
    if (on) {
        if (!first_trigger_at_) scheduleFaultsLocked(now);
        // A silence that has begun lasts until this trigger start.
        if (silent_at_ && now >= *silent_at_) silent_at_.reset();
        if (programmed_.triggering && !trigger_stop_) return;
        programmed_.triggering = true;
        trigger_start_ = now;
        trigger_stop_.reset();
        stream_consumed_ = 0;
        holes_.clear();
        hole_bytes_ahead_ = 0;
        hole_passed_ = false;
        frame_cache_index_ = -1;
        stream_faults_ = std::move(pending_faults_);
        pending_faults_.clear();
        stream_stop_frames_ = pending_stop_frames_;
        pending_stop_frames_.reset();
        ++trigger_starts_;
        if (atmosphere_ && geometry_source_) geometry_ = geometry_source_();
    } else if (programmed_.triggering && !trigger_stop_) {
        chargeIdleOverrunLocked(now);
        trigger_stop_ = now;
        programmed_.triggering = false;
    }
}

std::int64_t SimController::framesEmittedLocked(Clock::time_point at) const {
    const std::uint32_t period = programmed_.sweep.pulse_period;
    if (trigger_starts_ == 0 || period == 0) return 0;
    auto end = trigger_stop_ ? std::min(*trigger_stop_, at) : at;
    if (silent_at_ && *silent_at_ > trigger_start_) end = std::min(end, *silent_at_);
    if (end < trigger_start_) return 0;
    const double elapsed = std::chrono::duration<double>(end - trigger_start_).count();
    std::int64_t frames = static_cast<std::int64_t>(elapsed / (period / kSimClockHz)) + 1;
    if (stream_stop_frames_) frames = std::min(frames, *stream_stop_frames_);
    return frames;
}

// Frame n leaves the controller n pulse periods after the trigger start.
SimController::Clock::time_point SimController::frameDueLocked(std::int64_t frame) const {
    const double period_s = programmed_.sweep.pulse_period / kSimClockHz;
    return trigger_start_ + std::chrono::nanoseconds(static_cast<std::int64_t>(
                                static_cast<double>(frame) * period_s * 1e9));
}

bool SimController::silentLocked(Clock::time_point at) const {
    return silent_at_ && *silent_at_ > trigger_start_ && at >= *silent_at_;
}

void SimController::scheduleFaultsLocked(Clock::time_point first_trigger) {
    first_trigger_at_ = first_trigger;
    const auto after = [&](double seconds) {
        return first_trigger +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    };
    if (plug_faults_ && plan_.unplug_at) unplug_at_ = after(*plan_.unplug_at);
    if (plug_faults_ && plan_.replug_at) replug_at_ = after(*plan_.replug_at);
    if (plan_.silent_at) silent_at_ = after(*plan_.silent_at);
    if (plan_.stall_at) stall_at_ = after(*plan_.stall_at);
}

// A reader held up (a stopped or starved process) keeps its read in flight but
// drains nothing: the read returns after the stall, and what arrived meanwhile
// beyond the driver's buffers and the bridge's own is lost.
void SimController::stallIfDueLocked(std::unique_lock<std::mutex>& lock) {
    if (!stall_at_ || clock_->now() < *stall_at_) return;
    const auto until = *stall_at_ + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(plan_.stall_for));
    stall_at_.reset();
    while (!reads_aborted_ && clock_->now() < until) clock_->waitUntil(lock, wake_, until, false);
}

// While a read waits the driver drains the bridge into its own buffers; only a
// reader held up for longer than they last loses bytes.
void SimController::chargeHeldReadLocked(Clock::time_point at, std::uint32_t room) {
    const std::int64_t holds = std::int64_t{room} + driver_buffer_size_ + bridge_buffer_size_;
    const std::int64_t excess = bufferedLocked(at) - holds;
    if (excess <= 0) return;
    const std::int64_t end = streamAvailableLocked(at);
    holes_.emplace_back(end - excess, end);
    hole_bytes_ahead_ += excess;
    overrun_bytes_ += static_cast<std::uint64_t>(excess);
    overrun_holes_.push_back(static_cast<std::uint64_t>(excess));
    held_holes_.add(excess, at - read_began_, trigger_starts_, at - trigger_start_);
}

std::int64_t SimController::streamAvailableLocked(Clock::time_point at) {
    return framesEmittedLocked(at) * kSimFrameBytes;
}

std::int64_t SimController::bufferedLocked(Clock::time_point at) {
    return streamAvailableLocked(at) - stream_consumed_ - hole_bytes_ahead_;
}

// Bytes that arrived while nobody read pile up in the bridge; what does not fit
// was never stored. Called before a read begins, and whenever the pile is looked
// at without a read in flight. Bytes that arrived while the simulator itself was
// still producing the last read's bytes are not the reader's fault: a real
// bridge hands them over in microseconds.
void SimController::chargeIdleOverrunLocked(Clock::time_point at) {
    if (reads_in_flight_ > 0 || host_waiting_) return;
    const std::int64_t arrived_busy =
        std::max<std::int64_t>(0, streamAvailableLocked(last_read_end_) - stream_consumed_);
    const std::int64_t excess = bufferedLocked(at) - arrived_busy - bridge_buffer_size_;
    if (excess <= 0) return;
    const std::int64_t end = streamAvailableLocked(at);
    holes_.emplace_back(end - excess, end);
    hole_bytes_ahead_ += excess;
    overrun_bytes_ += static_cast<std::uint64_t>(excess);
    overrun_holes_.push_back(static_cast<std::uint64_t>(excess));
    idle_holes_.add(excess, at - last_read_end_, trigger_starts_, at - trigger_start_);
}

void SimController::HoleCause::add(std::int64_t excess, Clock::duration wait, int dwell,
                                   Clock::duration into) {
    if (holes < 8) {
        char at[48];
        std::snprintf(at, sizeof at, "%s%d@%.3fs", holes ? " " : "", dwell,
                      std::chrono::duration<double>(into).count());
        where += at;
    }
    ++holes;
    bytes += static_cast<std::uint64_t>(excess);
    longest_wait = std::max(longest_wait, wait);
}

void SimController::setAtmosphere(std::optional<SimAtmosphere> atmosphere,
                                  GeometrySource geometry) {
    std::lock_guard<std::mutex> lock(mutex_);
    atmosphere_ = std::move(atmosphere);
    geometry_source_ = std::move(geometry);
    geometry_ = geometry_source_ ? geometry_source_() : SimGeometry{};
    frame_cache_index_ = -1;
}

// The echo of the wind at the gate's height, weaker with height, and now and
// then something stronger elsewhere in the band.
SimSample SimController::atmosphereSampleLocked(std::int64_t frame, int gate) const {
    const std::uint32_t period = programmed_.sweep.pulse_period;
    const auto run = static_cast<std::uint64_t>(trigger_starts_);
    SimSample echo = SimTone(frame, 300.0 - 5.0 * gate,
                             atmosphere_->dopplerHz(geometry_, programmed_.beam, gate),
                             0.7 * gate + static_cast<double>(run % 7), period);
    const auto add = [&echo](const SimSample& other) {
        echo.ip += other.ip;
        echo.qp += other.qp;
    };
    if (const auto outlier = atmosphere_->outlierHz(run, gate, geometry_.record_period_s))
        add(SimTone(frame, 900.0, *outlier, 0.0, period));
    if (const auto bird = atmosphere_->birdOf(run, gate, geometry_.record_period_s)) {
        const double t = static_cast<double>(frame) * (period / kSimClockHz);
        if (t >= bird->start_s && t < bird->start_s + SimAtmosphere::kBirdSeconds)
            add(SimTone(frame, SimAtmosphere::kBirdAmplitude, bird->hz, 0.0, period));
    }
    if (atmosphere_->clutter > 0) add({static_cast<int>(std::lround(atmosphere_->clutter)), 0});
    if (atmosphere_->interference > 0)
        add(SimTone(frame, atmosphere_->interference, atmosphere_->interference_hz, 0.0, period));
    return echo;
}

void SimController::setNoise(double sigma) {
    std::lock_guard<std::mutex> lock(mutex_);
    noise_sigma_ = std::max(sigma, 0.0);
}

std::uint8_t SimController::streamByteLocked(std::int64_t offset) {
    const std::int64_t frame = offset / kSimFrameBytes;
    if (frame != frame_cache_index_) {
        frame_cache_.assign(kSimFrameBytes, 0);
        frame_cache_[0] = 0xFE;
        frame_cache_[1] = 0xFF;
        frame_cache_[2] = 0xFE;
        frame_cache_[3] = 0xFF;
        const int gates = std::min<int>(programmed_.sweep.gates, 36);
        for (int g = 1; g <= gates; ++g) {
            const SimSample s = SimNoisySample(
                atmosphere_
                    ? atmosphereSampleLocked(frame, g)
                    : SimWaveform(frame, programmed_.beam, g, programmed_.sweep.pulse_period),
                SimNoise(noise_sigma_, static_cast<std::uint64_t>(trigger_starts_), frame, g));
            const std::uint16_t ip = SimWireWord(s.ip);
            const std::uint16_t qp = SimWireWord(s.qp);
            const int at = 4 + 4 * (g - 1);
            frame_cache_[at] = static_cast<std::uint8_t>(ip);
            frame_cache_[at + 1] = static_cast<std::uint8_t>(ip >> 8);
            frame_cache_[at + 2] = static_cast<std::uint8_t>(qp);
            frame_cache_[at + 3] = static_cast<std::uint8_t>(qp >> 8);
        }
        frame_cache_index_ = frame;
    }
    return frame_cache_[offset % kSimFrameBytes];
}

std::uint32_t SimController::copyStreamLocked(std::uint8_t* out, std::uint32_t want,
                                              Clock::time_point at, std::uint32_t already) {
    const std::int64_t available = streamAvailableLocked(at);
    std::uint32_t got = 0;
    while (got < want && stream_consumed_ < available) {
        if (!holes_.empty() && stream_consumed_ >= holes_.front().first) {
            // The bridge flags the packet after an overrun: a read ends before it.
            if (already + got > 0) {
                stopped_at_hole_ = true;
                break;
            }
            hole_passed_ = true;
            const std::int64_t skipped = holes_.front().second - stream_consumed_;
            stream_consumed_ = holes_.front().second;
            hole_bytes_ahead_ -= skipped;
            holes_.pop_front();
            continue;
        }
        const std::int64_t offset = stream_consumed_++;
        bool dropped = false;
        std::optional<std::uint8_t> corrupted;
        for (const StreamFault& f : stream_faults_) {
            if (f.count > 0 && offset >= f.offset && offset < f.offset + f.count) dropped = true;
            if (f.count == 0 && offset == f.offset) corrupted = f.value;
        }
        if (dropped) continue;
        if (hole_passed_) {
            hole_passed_ = false;
            last_read_overrun_ = true;
        }
        out[got++] = corrupted ? *corrupted : streamByteLocked(offset);
        last_copied_offset_ = offset;
    }
    return got;
}

}  // namespace zarv::sim
