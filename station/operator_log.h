#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

#include "daily_log.h"

namespace zarv::station {

class Operator;

// The operator and the station's clock: log lines are stamped with it. Once
// told where, every line, the kept-only ones too, also goes to the day's file
// (named by the clock's own date, as the operator reads it).
class OperatorLog {
  public:
    using Clock = std::function<QDateTime()>;

    explicit OperatorLog(Operator& op, Clock clock = &QDateTime::currentDateTime)
        : op_(op), clock_(std::move(clock)) {}

    Operator& op() const { return op_; }
    QDateTime now() const { return clock_(); }
    static QString LogPrefix(const QDateTime& at);
    void LogMessage(const QString& text);
    // A line stamped at a given time, for lines that belong together.
    void LogAt(const QDateTime& at, const QString& text);
    void KeepNote(const QString& text);  // stamped, into the kept log only

    // From here on lines also go to the daily log under start_dir.
    void keepDailyLog(const QString& start_dir);
    void keepDailyLogsFor(int days) { daily_.setKeepDays(days); }
    // The line a new day's log begins with; empty: none.
    void nameStation(const QString& line) { daily_.setFirstLine(line); }
    QString dailyLogPath() const { return daily_.pathFor(now().date()); }

  private:
    void keep(const QString& line, const QDateTime& at);

    Operator& op_;
    Clock clock_;
    DailyLog daily_;
};

}  // namespace zarv::station
