#include "daily_log.h"

#include <QDir>

namespace zarv::station {

void DailyLog::setStartDir(const QString& dir) {
    dir_ = dir;
    file_.close();
    day_ = QDate();
}

QString DailyLog::pathFor(const QDate& day) const {
    return dir_ + QStringLiteral("/log/zarv-") + day.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".log");
}

bool DailyLog::openFor(const QDate& day) {
    if (file_.isOpen() && day == day_) return true;
    file_.close();
    day_ = day;
    if (!QDir().mkpath(dir_ + QStringLiteral("/log"))) return false;
    file_.setFileName(pathFor(day));
    if (keep_days_ > 0) removeBefore(day.addDays(1 - keep_days_));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    if (file_.size() == 0 && !first_line_.isEmpty()) {
        const QByteArray first = first_line_.toUtf8() + '\n';
        return file_.write(first) == first.size();
    }
    return true;
}

void DailyLog::removeBefore(const QDate& first_kept) const {
    QDir logs(dir_ + QStringLiteral("/log"));
    for (const QString& name : logs.entryList({QStringLiteral("zarv-????????.log")}, QDir::Files)) {
        const QDate day = QDate::fromString(name.mid(5, 8), QStringLiteral("yyyyMMdd"));
        if (day.isValid() && day < first_kept) logs.remove(name);
    }
}

QString DailyLog::append(const QString& line, const QDate& day) {
    if (dir_.isEmpty()) return QString();
    const QByteArray bytes = line.toUtf8() + '\n';
    if (openFor(day) && file_.write(bytes) == bytes.size() && file_.flush()) return QString();
    const QString cause = file_.isOpen() ? file_.errorString() : QStringLiteral("cannot create it");
    file_.close();
    day_ = QDate();  // try again with the next line
    if (failure_reported_) return QString();
    failure_reported_ = true;
    return QStringLiteral("Cannot write the daily log %1: %2").arg(pathFor(day), cause);
}

}  // namespace zarv::station
