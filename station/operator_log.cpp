#include "operator_log.h"

#include "operator.h"

namespace zarv::station {

QString OperatorLog::LogPrefix(const QDateTime& at) {
    return at.toString(QStringLiteral("dd/MM/yy hh:mm:ss")) + QStringLiteral(": ");
}

void OperatorLog::LogMessage(const QString& text) {
    LogAt(now(), text);
}

void OperatorLog::LogAt(const QDateTime& at, const QString& text) {
    const QString line = LogPrefix(at) + text;
    op_.appendLogLine(line);
    keep(line, at);
}

void OperatorLog::KeepNote(const QString& text) {
    const QDateTime at = now();
    const QString line = LogPrefix(at) + text;
    op_.appendKeptLine(line);
    keep(line, at);
}

void OperatorLog::keepDailyLog(const QString& start_dir) {
    daily_.setStartDir(start_dir);
}

// A daily log that cannot be written is said once in the window's log.
void OperatorLog::keep(const QString& line, const QDateTime& at) {
    if (const QString failure = daily_.append(line, at.date()); !failure.isEmpty())
        op_.appendLogLine(LogPrefix(at) + failure);
}

}  // namespace zarv::station
