#include "state_board.h"

#include <QMutexLocker>

namespace zarv::monitoring {

namespace {
void Keep(QStringList& list, const QString& line, int most) {
    list << line;
    if (list.size() > most) list.remove(0, list.size() - most);
}
}  // namespace

void StateBoard::change(const std::function<void(StationState&)>& edit) {
    QMutexLocker lock(&mutex_);
    edit(state_);
    state_.updated = QDateTime::currentDateTimeUtc();
}

StationState StateBoard::snapshot() const {
    QMutexLocker lock(&mutex_);
    return state_;
}

void StateBoard::addLogLine(const QString& line) {
    change([&](StationState& s) { Keep(s.last_log_lines, line, kLogLines); });
}

void StateBoard::addError(const QString& text) {
    change([&](StationState& s) { Keep(s.last_errors, text, kErrors); });
}

}  // namespace zarv::monitoring
