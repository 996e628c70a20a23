#include <gtest/gtest.h>

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
