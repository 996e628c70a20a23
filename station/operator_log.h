#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

namespace zarv::station {

class Operator;

// The operator and the station's clock: log lines are stamped with it.
class OperatorLog {
  public:
    using Clock = std::function<QDateTime()>;

    explicit OperatorLog(Operator& op, Clock clock = &QDateTime::currentDateTime)
        : op_(op), clock_(std::move(clock)) {}

    Operator& op() const { return op_; }
    QDateTime now() const { return clock_(); }
    static QString LogPrefix(const QDateTime& at);
    void LogMessage(const QString& text);
    void KeepNote(const QString& text);  // stamped, into the kept log only

  private:
    Operator& op_;
    Clock clock_;
};

}  // namespace zarv::station
