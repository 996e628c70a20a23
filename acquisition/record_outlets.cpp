#include "record_outlets.h"

#include "graph_capture.h"

namespace zarv::acquisition {

void RecordOutlets::addRecord(const int* values, int words, std::int32_t record_period_us) {
    addRecords(values, words, 1, record_period_us);
}

void RecordOutlets::addRecords(const int* values, int words, int count,
                               std::int32_t record_period_us) {
    if (graph_) graph_->addRecords(values, words, count, record_period_us);
    if (RecordSink* sink = extra_.load(std::memory_order_relaxed))
        sink->addRecords(values, words, count, record_period_us);
}

}  // namespace zarv::acquisition
