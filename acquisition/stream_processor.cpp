#include "stream_processor.h"

#include <algorithm>

#include "data_file.h"
#include "graph_capture.h"
#include "station/station_error.h"

namespace zarv::acquisition {

using namespace zarv::station;

namespace {
// Written records reach the disk at least this often while the stream is quiet.
constexpr std::chrono::milliseconds kIdleWake{250};
}  // namespace

StreamProcessor::StreamProcessor(ChunkQueue& queue, GraphCapture* graph, Notify notify)
    : queue_(queue), graph_(graph), outlets_(graph), notify_(std::move(notify)) {
    thread_ = std::thread([this] { loop(); });
}

StreamProcessor::~StreamProcessor() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    queue_.wake();
    thread_.join();
}

void StreamProcessor::configure(int gates, int integrations, std::int32_t record_period_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    decoder_.configure(gates, integrations);
    record_period_us_ = record_period_us;
    integrations_ = std::max(integrations, 1);
    error_.clear();
    if (graph_) graph_->setRecordPeriod(record_period_us);
}

void StreamProcessor::beginDwell(DataFile& file) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        decoder_.reset();
        timeline_.begin(static_cast<double>(record_period_us_) * 1000.0 / integrations_,
                        integrations_);
        timing_ = DwellTiming{};
        framing_errors_.store(0);
        framing_limit_passed_.store(false);
        error_.clear();
        discarding_ = false;
        file_ = &file;
        phase_ = Phase::Recording;
    }
    queue_.wake();
}

void StreamProcessor::endDwell(TriggerWrite trigger, std::int64_t end_ns) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        trigger_ = trigger;
        end_ns_ = end_ns;
        if (phase_ == Phase::Recording) phase_ = Phase::Draining;
    }
    queue_.wake();
}

DwellTiming StreamProcessor::timing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timing_;
}

bool StreamProcessor::dwellDrained() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return phase_ == Phase::Closing || phase_ == Phase::Idle;
}

bool StreamProcessor::dwellClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return phase_ == Phase::Idle;
}

QString StreamProcessor::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void StreamProcessor::loop() {
    while (true) {
        ChunkQueue::Chunk* chunk = queue_.waitFront(kIdleWake);
        heartbeats_.fetch_add(1, std::memory_order_relaxed);
        Phase phase;
        bool discarding;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (quit_) return;
            phase = phase_;
            discarding = discarding_;
        }
        // The decoder and the file are this thread's while a dwell lasts; the run
        // touches them only between dwells. Nothing here holds the lock, so the
        // GUI thread never waits for a write.
        if (chunk) {
            // Outside a dwell a chunk belongs to no file.
            if (phase != Phase::Idle && !discarding) process(*chunk);
            queue_.release();
        } else if (phase == Phase::Draining) {
            // The queue was seen empty before the phase was read: what the
            // reader queued in between is still this dwell's.
            if (queue_.queued() == 0) finishDwell();
        } else if (phase == Phase::Recording && !discarding) {
            try {
                file_->syncIfDue();
            } catch (const StationError& e) {
                fail(e.text());
            }
        }
    }
}

void StreamProcessor::process(ChunkQueue::Chunk& chunk) {
    if (before_chunk_) before_chunk_();
    // A hole in the stream: no record may mix frames from both sides of it. The
    // queue counted what it lost; the bridge only says that it lost something.
    if (chunk.lost_before > 0 || chunk.overrun_before) decoder_.breakStream(chunk.lost_before);
    decoder_.HandOverChunk(chunk.data(), chunk.count);
    const std::int64_t before = decoder_.recordsEmitted();
    try {
        decoder_.ProcessChunk(file_, &outlets_, record_period_us_, *this);
    } catch (const StationError& e) {
        fail(e.text());
    }
    const bool hole = chunk.lost_before > 0 || chunk.overrun_before;
    const GapCause cause = chunk.overrun_before ? GapCause::Overrun
                           : hole               ? GapCause::Queue
                                                : GapCause::Framing;
    timeline_.noteChunk(chunk.arrived_ns, decoder_.streamOffset() - chunk.arrival_tail,
                        hole ? decoder_.chunkStart() : decoder_.firstFramingError(), cause);
    records_.fetch_add(decoder_.recordsEmitted() - before);
    if (framing_limit_passed_.load()) {
        std::lock_guard<std::mutex> lock(mutex_);
        discarding_ = true;
    }
}

void StreamProcessor::finishDwell() {
    // Every record has been flushed to the file by now: the timing counts them
    // before the close, so that the run has it once the dwell is drained.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timing_ = timeline_.finish(trigger_, end_ns_, file_->records());
        phase_ = Phase::Closing;
    }
    if (notify_) notify_();
    QString error;
    try {
        file_->close();  // after a failed write it is closed already
    } catch (const StationError& e) {
        error = e.text();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error_.isEmpty()) error_ = error;
        file_ = nullptr;
        phase_ = Phase::Idle;
    }
    if (notify_) notify_();
}

void StreamProcessor::fail(const QString& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = text;
        discarding_ = true;
    }
    if (notify_) notify_();
}

void StreamProcessor::framingError(int count) {
    framing_errors_.store(count);
}

void StreamProcessor::tooManyFramingErrors() {
    framing_limit_passed_.store(true);
    if (notify_) notify_();
}

}  // namespace zarv::acquisition
