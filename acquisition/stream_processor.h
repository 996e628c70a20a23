#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "chunk_queue.h"
#include "dwell_timeline.h"
#include "record_outlets.h"
#include "stream_decoder.h"

namespace zarv::acquisition {

static_assert(ChunkQueue::kHeadroom >= StreamDecoder::kHeadroom &&
                  ChunkQueue::kTailRoom >= StreamDecoder::kTailRoom,
              "chunks are decoded where they lie");

class DataFile;
class GraphCapture;

// The processing of the stream on a thread of its own: takes the reader's chunks
// from the queue in order, decodes them, writes the records of the dwell's data
// file and offers the averages to the graph capture. The run hands it the open
// file at the start of a dwell and has it drain the queue and close the file at
// the end; everything the GUI thread shows it reads from here, never waits for.
class StreamProcessor : private StreamEvents {
  public:
    // Called on the processing thread when the run should look again: the
    // framing error limit was passed, a write failed, or a dwell has been closed.
    using Notify = std::function<void()>;

    StreamProcessor(ChunkQueue& queue, GraphCapture* graph, Notify notify);
    ~StreamProcessor() override;
    StreamProcessor(const StreamProcessor&) = delete;
    StreamProcessor& operator=(const StreamProcessor&) = delete;

    // Between dwells only.
    void configure(int gates, int integrations, std::int32_t record_period_us);
    // A new dwell into file, which stays the processor's until dwellClosed().
    void beginDwell(DataFile& file);
    // Every chunk queued so far is still recorded; then the file is closed and
    // the dwell's timing worked out: the trigger was started by the write and
    // reading ended at end_ns (the link's clock).
    void endDwell(TriggerWrite trigger = {}, std::int64_t end_ns = 0);
    // Once dwellClosed(): where the dwell's records belong in time.
    DwellTiming timing() const;
    // Every chunk of the dwell has been recorded; the file may still be closing.
    bool dwellDrained() const;
    bool dwellClosed() const;

    int framingErrors() const { return framing_errors_.load(); }
    bool framingLimitPassed() const { return framing_limit_passed_.load(); }
    // The write or close error that ended the dwell's recording; empty if none.
    QString error() const;
    std::int64_t recordsWritten() const { return records_.load(); }

    // Runs on the processing thread before each chunk: a writer that stalls,
    // for tests and benchmarks. Set it between runs only.
    void setBeforeChunk(std::function<void()> hook) { before_chunk_ = std::move(hook); }
    // Counts the thread's turns: it turns at least four times a second while
    // it lives, so a count that stands still means a thread that hangs.
    std::int64_t heartbeats() const { return heartbeats_.load(std::memory_order_relaxed); }
    // Another taker of every record, such as the radar view's feed; null for none.
    void setRecordSink(RecordSink* sink) { outlets_.setExtra(sink); }

  private:
    enum class Phase { Idle, Recording, Draining, Closing };

    void loop();
    void process(ChunkQueue::Chunk& chunk);
    void finishDwell();
    void fail(const QString& text);
    void framingError(int count) override;
    void tooManyFramingErrors() override;

    ChunkQueue& queue_;
    GraphCapture* graph_;
    RecordOutlets outlets_;
    Notify notify_;
    StreamDecoder decoder_;
    DwellTimeline timeline_;
    std::int32_t record_period_us_ = 0;
    int integrations_ = 1;
    std::function<void()> before_chunk_;
    std::atomic<std::int64_t> heartbeats_{0};

    mutable std::mutex mutex_;  // guards the fields below up to the atomics
    Phase phase_ = Phase::Idle;
    DataFile* file_ = nullptr;
    bool discarding_ = false;  // the dwell's recording has ended early
    QString error_;
    bool quit_ = false;
    TriggerWrite trigger_;
    std::int64_t end_ns_ = 0;
    DwellTiming timing_;

    std::atomic<int> framing_errors_{0};
    std::atomic<bool> framing_limit_passed_{false};
    std::atomic<std::int64_t> records_{0};
    std::thread thread_;
};

}  // namespace zarv::acquisition
