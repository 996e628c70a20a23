#pragma once

#include <QString>
#include <functional>

#include "run_config.h"
#include "station_error.h"

namespace zarv::station {

class OperatorLog;

// The start directory, the run settings read from its config.txt, and the data
// directory's hour tree.
class StationConfig {
  public:
    explicit StationConfig(OperatorLog& log) : log_(log) {}

    QString start_dir;
    TRunConfig run_config;
    // Bytes free for a directory's file system; -1 when it cannot be told.
    std::function<qint64(const QString&)> free_space = &FreeBytes;
    static qint64 FreeBytes(const QString& dir);

    QString configPath() const { return start_dir + QStringLiteral("/config.txt"); }
    // Clears the log, reads every key into run_config echoing it with one time
    // stamp, then makes the hour directory. Throws on a missing file or a bad value,
    // leaving the keys before the failing one updated.
    void ReadConfig();
    // Makes the missing levels of the hour directory and returns the stem of a
    // data file for the current second.
    QString MakeDataFileStem();

  private:
    ConfigLines readLinesNamingTheFile();
    void readOptionalText(const ConfigLines& lines, const char* key, QString& value,
                          const QDateTime& stamp);
    void readLogKeepDays(const ConfigLines& lines, const QDateTime& stamp);
    void readAutoRecovery(const ConfigLines& lines, const QDateTime& stamp);
    void readGeometry(const ConfigLines& lines, const QDateTime& stamp);
    void readIdentity(const ConfigLines& lines, const QDateTime& stamp);
    void nameStationInDailyLog();
    void echoOptional(const char* key, const QString& value, const QDateTime& stamp);
    StationError badValue(const ConfigKey& key, const StationError& error);
    StationError badValue(const char* key, const StationError& error);

    OperatorLog& log_;
};

}  // namespace zarv::station
