#pragma once

#include <atomic>

#include "record_sink.h"

namespace zarv::acquisition {

class GraphCapture;

// Where the decoded records go besides the file: the graph's capture and one
// more taker (the radar view's feed, the live winds), both fed a chunk's worth
// of records at a time.
class RecordOutlets : public RecordSink {
  public:
    explicit RecordOutlets(GraphCapture* graph = nullptr) : graph_(graph) {}
    // Null for none; safe to change while records flow.
    void setExtra(RecordSink* sink) { extra_.store(sink); }

    void addRecord(const int* values, int words, std::int32_t record_period_us) override;
    void addRecords(const int* values, int words, int count,
                    std::int32_t record_period_us) override;

  private:
    GraphCapture* graph_;
    std::atomic<RecordSink*> extra_{nullptr};
};

}  // namespace zarv::acquisition
