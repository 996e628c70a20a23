#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <deque>

#include "app/station_dir.h"
#include "main_form_fixture.h"

namespace {

// Answers the station-directory question from a script and keeps every
// question asked.
class ScriptedAsker : public StationDirAsker {
  public:
    std::deque<StationDirAnswer> answers;
    QStringList asked;
    StationDirAnswer ask(const QString& where) override {
        asked << where;
        if (answers.empty()) return {};
        StationDirAnswer next = answers.front();
        answers.pop_front();
        return next;
    }
};

// The user's configuration in a directory of the test's own.
class StationDirTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());
        home = path("home");
        QDir().mkpath(home);
    }
    QStringList entries(const QString& where) const {
        return QDir(where).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    QTemporaryDir settings_dir;
    QString home;
    ScriptedAsker asker;
};

using Kind = StationDirAnswer::Kind;

TEST_F(StationDirTest, AStationDirectoryIsUsedWithoutAQuestion) {
    writeDefaultConfig();
    EXPECT_EQ(FindStationDir({}, dir.path(), asker).dir, dir.path());
    EXPECT_TRUE(FindStationDir({}, dir.path(), asker).chosen);
    // Given on the command line it counts as chosen, config.txt or not.
    EXPECT_TRUE(FindStationDir(QStringLiteral("elsewhere"), home, asker).chosen);
    EXPECT_TRUE(asker.asked.isEmpty());
}

TEST_F(StationDirTest, CancelStartsWhereWeAreWritingNothing) {
    const StartPlace place = FindStationDir({}, home, asker);
    EXPECT_EQ(asker.asked, QStringList{home});
    EXPECT_EQ(place.dir, home);
    EXPECT_FALSE(place.chosen);
    EXPECT_TRUE(entries(home).isEmpty());
    EXPECT_TRUE(RememberedStationDir().isEmpty());
}

TEST_F(StationDirTest, OpeningADirectoryWithoutAStationAsksAgain) {
    writeDefaultConfig();
    asker.answers = {{Kind::Open, home}, {Kind::Open, dir.path()}};
    const StartPlace place = FindStationDir({}, path("nowhere"), asker);
    EXPECT_EQ(asker.asked, (QStringList{path("nowhere"), home}));
    EXPECT_EQ(place.dir, dir.path());
    EXPECT_TRUE(place.chosen);
    EXPECT_TRUE(entries(home).isEmpty());
}

TEST_F(StationDirTest, ANewStationGetsTheExampleConfiguration) {
    const QString station = path("new/station");
    asker.answers = {{Kind::Make, station}};
    const StartPlace place = FindStationDir({}, home, asker);
    EXPECT_EQ(place.dir, station);
    EXPECT_TRUE(place.chosen);
    EXPECT_EQ(entries(station), QStringList{"config.txt"});
    const QByteArray example = readFile(station + "/config.txt");
    EXPECT_TRUE(example.contains("tx_enable")) << example.toStdString();
    // A config.txt already there is kept as it is.
    writeFile(QStringLiteral("new/station/config.txt"), "gates=4\n");
    EXPECT_EQ(MakeStationDir(station), QString());
    EXPECT_EQ(readFile(station + "/config.txt"), "gates=4\n");
}

TEST_F(StationDirTest, TheLastStationIsRememberedAndEnteredNextTime) {
    writeDefaultConfig();
    asker.answers = {{Kind::Open, dir.path()}};
    QDir::setCurrent(home);
    EXPECT_EQ(EnterStationDir({}, asker).dir, dir.path());
    EXPECT_EQ(QDir::currentPath(), dir.path());
    EXPECT_EQ(RememberedStationDir(), dir.path());
    // Next start, from the home directory again: no question.
    QDir::setCurrent(home);
    const StartPlace next = EnterStationDir({}, asker);
    EXPECT_EQ(next.dir, dir.path());
    EXPECT_EQ(asker.asked.size(), 1);
    // A remembered station whose config.txt is gone is asked about again.
    QFile::remove(path("config.txt"));
    QDir::setCurrent(home);
    EXPECT_FALSE(EnterStationDir({}, asker).chosen);
    EXPECT_EQ(asker.asked.size(), 2);
    EXPECT_EQ(RememberedStationDir(), dir.path());  // a cancelled start is not remembered
}

TEST_F(StationDirTest, AWindowStartedWhereNobodyChoseWritesNothingThere) {
    QDir::setCurrent(home);
    TMainForm form(*sim, &dialogs, {}, false);
    form.start_btn->trigger();  // no config.txt: refused again, still nothing written
    EXPECT_EQ(dialogs.errors.size(), 2);
    EXPECT_TRUE(dialogs.errors.front().contains(home + "/config.txt"));
    EXPECT_TRUE(entries(home).isEmpty());
}

}  // namespace
