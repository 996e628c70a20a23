#include "station_dir.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

// The resource lives in a static library: its registration is called for.
static void InitExampleResource() {
    Q_INIT_RESOURCE(station_example);
}

namespace zarv::app {

namespace {
const QString kConfig = QStringLiteral("config.txt");

bool HasConfig(const QString& dir) {
    return QFileInfo(QDir(dir).filePath(kConfig)).isFile();
}

QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("zarv"),
                     QStringLiteral("zarv"));
}
}  // namespace

QString RememberedStationDir() {
    return UserSettings().value(QStringLiteral("station_dir")).toString();
}

void RememberStationDir(const QString& dir) {
    QSettings settings = UserSettings();
    settings.setValue(QStringLiteral("station_dir"), QDir(dir).absolutePath());
    settings.sync();
}

QString MakeStationDir(const QString& dir) {
    if (!QDir().mkpath(dir)) return QStringLiteral("cannot make the directory %1").arg(dir);
    if (HasConfig(dir)) return QString();
    InitExampleResource();
    QFile example(QStringLiteral(":/station/config.txt"));
    QFile config(QDir(dir).filePath(kConfig));
    if (!example.open(QIODevice::ReadOnly) ||
        !config.open(QIODevice::NewOnly | QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(config.fileName(), config.errorString());
    const QByteArray text = example.readAll();
    if (config.write(text) != text.size() || !config.flush())
        return QStringLiteral("cannot write %1: %2").arg(config.fileName(), config.errorString());
    return QString();
}

StartPlace FindStationDir(const QString& station_dir, const QString& current,
                          StationDirAsker& asker) {
    if (!station_dir.isEmpty() || HasConfig(current)) return {current, true};
    if (const QString remembered = RememberedStationDir();
        !remembered.isEmpty() && HasConfig(remembered))
        return {remembered, true};
    QString where = current;
    while (true) {
        const StationDirAnswer answer = asker.ask(where);
        switch (answer.kind) {
            case StationDirAnswer::Kind::Cancel:
                return {current, false};
            case StationDirAnswer::Kind::Open:
                if (HasConfig(answer.dir)) return {answer.dir, true};
                where = answer.dir;  // no station there either: ask again
                break;
            case StationDirAnswer::Kind::Make:
                if (MakeStationDir(answer.dir).isEmpty()) return {answer.dir, true};
                where = answer.dir;
                break;
        }
    }
}

StartPlace EnterStationDir(const QString& station_dir, StationDirAsker& asker) {
    StartPlace place = FindStationDir(station_dir, QDir::currentPath(), asker);
    QDir::setCurrent(place.dir);
    place.dir = QDir::currentPath();
    if (place.chosen && HasConfig(place.dir)) RememberStationDir(place.dir);
    return place;
}

StationDirAnswer QtStationDirAsker::ask(const QString& where) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Zarv"),
                    QStringLiteral("There is no config.txt in %1, so this is no station "
                                   "directory.")
                        .arg(QDir::toNativeSeparators(where)));
    box.setInformativeText(QStringLiteral(
        "Open a station directory, or make a new station from the example configuration."));
    QPushButton* open = box.addButton(QStringLiteral("&Open Station..."), QMessageBox::AcceptRole);
    QPushButton* make = box.addButton(QStringLiteral("&New Station..."), QMessageBox::ActionRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(open);
    box.exec();
    StationDirAnswer answer;
    if (box.clickedButton() != open && box.clickedButton() != make) return answer;
    const QString dir = QFileDialog::getExistingDirectory(
        nullptr,
        box.clickedButton() == open ? QStringLiteral("Open Station Directory")
                                    : QStringLiteral("New Station Directory"),
        QDir::homePath());
    if (dir.isEmpty()) return answer;
    answer.kind =
        box.clickedButton() == open ? StationDirAnswer::Kind::Open : StationDirAnswer::Kind::Make;
    answer.dir = dir;
    return answer;
}

}  // namespace zarv::app
