// The dwell journal's durability: every line is on disk when its sync is asked
// for, a journal just made has its directory entry synced, and a sync that
// fails is said, not swallowed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cerrno>
#include <cstring>

#include "acquisition/dwell_journal.h"

using namespace zarv::acquisition;

namespace {

class JournalSyncTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        entry.data_file = dir.filePath(QStringLiteral("20261208120000_beam1.txt"));
        entry.beam = 1;
        entry.wall = QDateTime(QDate(2026, 12, 8), QTime(12, 0), QTimeZone::utc());
        sync.file = [this](int) {
            on_disk_at_sync << journalText().count('\n');
            return 0;
        };
        sync.directory = [this](const QString& d) { synced_dirs << d; };
    }
    QByteArray journalText() const {
        QFile f(dir.filePath(QStringLiteral("dwells.jsonl")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    DwellEntry entry;
    JournalSync sync;
    QList<qsizetype> on_disk_at_sync;
    QStringList synced_dirs;
};

TEST_F(JournalSyncTest, EachLineIsWrittenBeforeItsSyncAndANewJournalsDirectoryIsSynced) {
    EXPECT_EQ(AppendDwellJournal(entry, sync), QString());
    entry.beam = 2;
    EXPECT_EQ(AppendDwellJournal(entry, sync), QString());
    // One sync per line, each after its whole line was written.
    EXPECT_EQ(on_disk_at_sync, QList<qsizetype>({1, 2}));
    // The directory entry only when the journal was made.
    EXPECT_EQ(synced_dirs, QStringList({QDir(dir.path()).absolutePath()}));
    EXPECT_EQ(journalText(), DwellJournalLine([&] {
                                 DwellEntry first = entry;
                                 first.beam = 1;
                                 return first;
                             }()) +
                                 '\n' + DwellJournalLine(entry) + '\n');
}

TEST_F(JournalSyncTest, ASyncThatFailsIsSaidWithTheJournalsPath) {
    sync.file = [](int) {
        errno = EIO;
        return -1;
    };
    const QString failure = AppendDwellJournal(entry, sync);
    EXPECT_EQ(failure, dir.filePath(QStringLiteral("dwells.jsonl")) + QStringLiteral(": ") +
                           QString::fromLocal8Bit(std::strerror(EIO)));
    // A file system that cannot sync at all is no failure of the station's.
    sync.file = [](int) {
        errno = EINVAL;
        return -1;
    };
    EXPECT_EQ(AppendDwellJournal(entry, sync), QString());
}

}  // namespace
