#pragma once

#include <QString>

class QWidget;

namespace zarv::app {

// Where the station starts when nobody said: a desktop menu starts programs in
// the home directory, which is no station. The last station directory is
// remembered (zarv/zarv.conf under the XDG configuration directory); without
// one the operator chooses a station directory or makes a new one from the
// example configuration. Nothing is written where the operator did not choose.

// The operator's answer to "no config.txt here".
struct StationDirAnswer {
    enum class Kind { Open, Make, Cancel };
    Kind kind = Kind::Cancel;
    QString dir;  // the directory picked for Open or Make
};

class StationDirAsker {
  public:
    virtual ~StationDirAsker() = default;
    // where: the directory without a config.txt, named in the question.
    virtual StationDirAnswer ask(const QString& where) = 0;
};

class QtStationDirAsker : public StationDirAsker {
  public:
    StationDirAnswer ask(const QString& where) override;
};

// The remembered station directory, in the user's configuration.
QString RememberedStationDir();
void RememberStationDir(const QString& dir);

// A new station in dir: the directory made if need be and config.txt written
// from the example, unless one is there already. Empty, or why it failed.
QString MakeStationDir(const QString& dir);

struct StartPlace {
    QString dir;          // where to start
    bool chosen = false;  // somebody chose it: the daily log may be kept there
};

// station_dir: given on the command line, or empty. current: where the
// program was started.
StartPlace FindStationDir(const QString& station_dir, const QString& current,
                          StationDirAsker& asker);

// The window's start: the station directory found, made the current directory
// and remembered when it holds a station.
StartPlace EnterStationDir(const QString& station_dir, StationDirAsker& asker);

}  // namespace zarv::app
