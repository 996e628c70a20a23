#include "operator_log.h"

#include "operator.h"

namespace zarv::station {

QString OperatorLog::LogPrefix(const QDateTime& at) {
    return at.toString(QStringLiteral("dd/MM/yy hh:mm:ss")) + QStringLiteral(": ");
}

void OperatorLog::LogMessage(const QString& text) {
    op_.appendLogLine(LogPrefix(now()) + text);
}

void OperatorLog::KeepNote(const QString& text) {
    op_.appendKeptLine(LogPrefix(now()) + text);
}

}  // namespace zarv::station
