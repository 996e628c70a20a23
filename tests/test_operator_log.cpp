#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include "recorder_operator.h"
#include "station/operator_log.h"

namespace {

// Every line goes to the day's file, named by the station's own date: at half
// past midnight two hours east of Greenwich it is already the next day there.
TEST(OperatorLogTest, TheDailyLogIsNamedByTheLocalDateAroundMidnight) {
    QTemporaryDir dir;
    RecorderOperator op;
    QDateTime at(QDate(2026, 12, 8), QTime(23, 59, 30), Qt::OffsetFromUTC, 7200);
    OperatorLog log(op, [&] { return at; });
    log.keepDailyLog(dir.path());
    log.LogMessage("before midnight");
    at = at.addSecs(60);  // 00:00:30 on the 9th there, 22:00:30 on the 8th in UTC
    log.LogMessage("after midnight");
    log.KeepNote("kept only");
    const auto read = [&](const char* name) {
        QFile f(dir.path() + "/log/" + name);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    EXPECT_EQ(read("zarv-20261208.log"), "08/12/26 23:59:30: before midnight\n");
    EXPECT_EQ(read("zarv-20261209.log"),
              "09/12/26 00:00:30: after midnight\n09/12/26 00:00:30: kept only\n");
    EXPECT_EQ(log.dailyLogPath(), dir.path() + "/log/zarv-20261209.log");
    EXPECT_EQ(op.log.size(), 2);
    EXPECT_EQ(op.kept, QStringList{"09/12/26 00:00:30: kept only"});
}

// Only the last days' logs are kept, today's included, once a day's file opens;
// other files in log/ are the operator's.
TEST(OperatorLogTest, DailyLogsOlderThanTheDaysKeptAreRemovedAsADayBegins) {
    QTemporaryDir dir;
    RecorderOperator op;
    QDir().mkpath(dir.path() + "/log");
    for (const char* name : {"zarv-20261201.log", "zarv-20261205.log", "zarv-20261206.log",
                             "zarv-2026120x.log", "notes.txt"}) {
        QFile f(dir.path() + "/log/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QDateTime at(QDate(2026, 12, 8), QTime(10, 0), Qt::OffsetFromUTC, 0);
    OperatorLog log(op, [&] { return at; });
    log.keepDailyLog(dir.path());
    log.keepDailyLogsFor(3);  // the 6th, 7th and 8th
    log.LogMessage("a line");
    QStringList kept = QDir(dir.path() + "/log").entryList(QDir::Files);
    QStringList expected{"notes.txt", "zarv-2026120x.log", "zarv-20261206.log",
                         "zarv-20261208.log"};
    kept.sort();
    expected.sort();
    EXPECT_EQ(kept, expected);
}

TEST(OperatorLogTest, ADailyLogThatCannotBeWrittenIsSaidOnceInTheLog) {
    QTemporaryDir dir;
    QFile blocker(dir.path() + "/log");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder would be
    RecorderOperator op;
    OperatorLog log(op);
    log.keepDailyLog(dir.path());
    log.LogMessage("one");
    log.LogMessage("two");
    ASSERT_EQ(op.messages().size(), 3);
    EXPECT_TRUE(
        op.messages()[1].startsWith("Cannot write the daily log " + dir.path() + "/log/zarv-"));
}
}  // namespace
