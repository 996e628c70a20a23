#include "watching_operator.h"

#include "state_board.h"

namespace zarv::monitoring {

void WatchingOperator::showMessage(const QString& text) {
    board_.addError(text);
    inner_.showMessage(text);
}

void WatchingOperator::appendLogLine(const QString& line) {
    board_.addLogLine(line);
    inner_.appendLogLine(line);
}

void WatchingOperator::showError(const QString& text) {
    board_.addError(text);
    inner_.showError(text);
}

void WatchingOperator::setStatusText(const QString& text) {
    board_.change([&](StationState& s) { s.status_text = text; });
    inner_.setStatusText(text);
}

void WatchingOperator::setLossText(const QString& text) {
    board_.change([&](StationState& s) { s.loss_text = text; });
    inner_.setLossText(text);
}

void WatchingOperator::setRunFields(const station::RunFields& f) {
    board_.change([&](StationState& s) {
        if (!f.summary.isEmpty()) {
            s.last_summary = f.summary;
            s.records_per_s = 0;
            s.megabytes_per_s = 0;
        } else {
            s.beam = f.beam;
            s.dwell_s = f.dwell_s;
            s.dwell_length_s = f.dwell_length_s;
            s.run_s = f.run_s;
            s.records_per_s = f.records_per_s;
            s.megabytes_per_s = f.megabytes_per_s;
        }
        s.file_path = f.file_path;
        s.free_bytes = f.free_bytes;
        s.hours_left = f.hours_left;
        s.disk_warning = f.disk_warning;
        s.disk_low = f.disk_low;
    });
    inner_.setRunFields(f);
}

}  // namespace zarv::monitoring
