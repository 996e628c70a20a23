#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/headless.h"
#include "app/journal_lines.h"

using namespace zarv::app;

namespace {

TEST(JournalLines, ErrorsWarningsAndNoticesCarryTheirPriority) {
    EXPECT_EQ(JournalPriority("Zarv not found!", LineKind::Error), 3);
    EXPECT_EQ(JournalPriority("Start cancelled", LineKind::Message), 4);
    const QString stamp = QStringLiteral("08/12/26 06:01:02: ");
    EXPECT_EQ(JournalPriority(stamp + "Recovering: the link to the controller was lost; the "
                                      "controller is opened again",
                              LineKind::Log),
              4);
    EXPECT_EQ(JournalPriority(stamp + "Dwell beam 2: 83,335 of 100,000 records; 16,665 missing "
                                      "after record 23,405 (1.7 s)",
                              LineKind::Log),
              4);
    EXPECT_EQ(
        JournalPriority(stamp + "Disk space: less than an hour of recording left", LineKind::Log),
        4);
    EXPECT_EQ(JournalPriority(stamp + "Starting trigger on beam direction: 1", LineKind::Log), 5);
    EXPECT_EQ(JournalPriority("Last run: 3 dwells, 1,500 records", LineKind::Log), 5);
    EXPECT_EQ(JournalPriority(stamp + "ipp: 1000", LineKind::Log), 6);
}

// Only a stream that JOURNAL_STREAM names is the journal: a terminal or a
// file gets the lines as they are.
TEST(JournalLines, LinesCarryPrioritiesOnlyIntoTheJournal) {
    QTemporaryDir dir;
    const QString journal_path = dir.path() + "/journal";
    const QString plain_path = dir.path() + "/plain";
    std::FILE* journal = std::fopen(journal_path.toLocal8Bit().constData(), "w");
    std::FILE* plain = std::fopen(plain_path.toLocal8Bit().constData(), "w");
    ASSERT_TRUE(journal && plain);
    struct stat st {};
    ASSERT_EQ(::fstat(fileno(journal), &st), 0);
    qputenv("JOURNAL_STREAM", QByteArray::number(static_cast<qulonglong>(st.st_dev)) + ':' +
                                  QByteArray::number(static_cast<qulonglong>(st.st_ino)));
    EXPECT_TRUE(IsJournal(journal));
    EXPECT_FALSE(IsJournal(plain));
    {
        HeadlessOperator op(journal, plain);
        op.appendLogLine(
            QStringLiteral("08/12/26 06:01:02: Starting trigger on beam direction: 1"));
        op.appendLogLine(QStringLiteral("08/12/26 06:01:02: gates: 4"));
        op.showError(QStringLiteral("Zarv not found!"));
    }
    qunsetenv("JOURNAL_STREAM");
    std::fclose(journal);
    std::fclose(plain);
    QFile j(journal_path);
    QFile p(plain_path);
    ASSERT_TRUE(j.open(QIODevice::ReadOnly) && p.open(QIODevice::ReadOnly));
    EXPECT_EQ(j.readAll(),
              "<5>08/12/26 06:01:02: Starting trigger on beam direction: 1\n"
              "<6>08/12/26 06:01:02: gates: 4\n");
    EXPECT_EQ(p.readAll(), "Error: Zarv not found!\n");
}

}  // namespace
