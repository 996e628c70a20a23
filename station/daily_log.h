#pragma once

#include <QDate>
#include <QFile>
#include <QString>

namespace zarv::station {

// Every operator-log line, time stamp included, also goes to the day's file
// log/zarv-yyyymmdd.log under the start directory, made as needed. The file
// outlives the window and its clearing at Start.
class DailyLog {
  public:
    void setStartDir(const QString& dir);
    QString pathFor(const QDate& day) const;
    // Keeps the daily logs of the last days only (today included): older ones
    // are removed as a new day's file is opened. 0 keeps them all.
    void setKeepDays(int days) { keep_days_ = days; }
    // A new day's file begins with this line (the station's name); empty: none.
    void setFirstLine(const QString& line) { first_line_ = line; }
    // Appends the line to the day's file. The first write that fails gives its
    // cause; later failures and every success give an empty text.
    QString append(const QString& line, const QDate& day);

  private:
    bool openFor(const QDate& day);
    void removeBefore(const QDate& first_kept) const;

    QString dir_;
    QFile file_;
    QDate day_;
    bool failure_reported_ = false;
    int keep_days_ = 0;
    QString first_line_;
};

}  // namespace zarv::station
