#include "graph_capture.h"

#include "app/run_config.h"

void GraphCapture::setPointsText(const QString& text) {
    points_ = ParseConfigInteger(text.trimmed());
}

void GraphCapture::setGateText(const QString& text) {
    gate_ = ParseConfigInteger(text.trimmed());
    // No word index is negative or this large, so an unusable gate matches nothing.
    ip_word_ = gate_ ? 2 * (std::int64_t{*gate_} - 1) : -1;
    qp_word_ = gate_ ? ip_word_ + 1 : -1;
}

void GraphCapture::renew() {
    graph_live = true;
    graph_count = 0;
    ip_.clear();
    qp_.clear();
    ++revision_;
}
