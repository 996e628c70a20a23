#include "station_config.h"

#include <QStorageInfo>

#include "operator.h"
#include "operator_log.h"
#include "station_error.h"
#include "unknown_keys.h"

namespace zarv::station {

void StationConfig::ReadConfig() {
    const QDateTime stamp = log_.now();
    log_.op().clearLog();
    nameStationInDailyLog();
    log_.LogAt(stamp,
               QStringLiteral("Reading configuration file [") + configPath() + QStringLiteral("]"));
    const ConfigLines lines = readLinesNamingTheFile();
    int count = 0;
    const ConfigKey* keys = ConfigKeys(&count);
    for (int i = 0; i < count; ++i) {
        const ConfigKey& key = keys[i];
        const QString value = ConfigValue(lines, QString::fromLatin1(key.name));
        QString echo;
        switch (key.kind) {
            case ConfigKind::Integer: {
                const auto number = ParseConfigInteger(value);
                if (!number) throw badValue(key, notValidInteger(value));
                std::int32_t stored = *number;
                if (key.integer == &TRunConfig::integrations && stored < 1) stored = 1;
                run_config.*key.integer = stored;
                echo = QString::number(stored);
                break;
            }
            case ConfigKind::Float: {
                const auto number = ParseConfigFloat(value);
                if (!number) throw badValue(key, notValidFloat(value));
                run_config.*key.floating = *number;
                echo = FormatGeneral(*number);
                break;
            }
            case ConfigKind::Text:
                run_config.*key.text = value;
                echo = value;
                break;
        }
        log_.LogAt(stamp, QString::fromLatin1(key.label) + echo);
    }
    // Optional: picks the bridge by serial number when several are attached.
    readOptionalText(lines, "device_serial", run_config.device_serial, stamp);
    readOptionalText(lines, "status_listen", run_config.status_listen, stamp);
    readOptionalText(lines, "status_token_file", run_config.status_token_file, stamp);
    readAutoRecovery(lines, stamp);
    readLogKeepDays(lines, stamp);
    readGeometry(lines, stamp);
    readIdentity(lines, stamp);
    readOptionalText(lines, "bufr_dir", run_config.bufr_dir, stamp);
    // In the daily log only: the window's log shows what was read.
    for (const QString& note : UnknownKeyNotes(lines)) log_.KeepNote(note);
    (void)MakeHourTree(run_config.data_dir, stamp);  // quietly: a run says more
}

// Optional text: absent means empty, and only a set key is echoed.
void StationConfig::readOptionalText(const ConfigLines& lines, const char* key, QString& value,
                                     const QDateTime& stamp) {
    value = ConfigValue(lines, QString::fromLatin1(key));
    if (!value.isEmpty())
        log_.LogAt(stamp, QString::fromLatin1(key) + QStringLiteral(": ") + value);
}

// Optional, a whole number of days from 0 (keep all) up.
void StationConfig::readLogKeepDays(const ConfigLines& lines, const QDateTime& stamp) {
    static const ConfigKey key{"log_keep_days", "log_keep_days: ", ConfigKind::Integer,
                               nullptr,         nullptr,           nullptr};
    const QString value = ConfigValue(lines, QString::fromLatin1(key.name));
    run_config.log_keep_days = 0;
    if (!value.isEmpty()) {
        const auto number = ParseConfigInteger(value);
        if (!number || *number < 0)
            throw badValue(key,
                           StationError(QStringLiteral("'%1' is not a number of days").arg(value)));
        run_config.log_keep_days = *number;
        log_.LogAt(stamp, QString::fromLatin1(key.label) + value);
    }
    log_.keepDailyLogsFor(run_config.log_keep_days);
}

// Optional numbers within their ranges, echoed only when set.
void StationConfig::readGeometry(const ConfigLines& lines, const QDateTime& stamp) {
    RadarGeometry geometry;
    int count = 0;
    const GeometryKey* keys = GeometryKeys(&count);
    for (int i = 0; i < count; ++i) {
        const QString value = ConfigValue(lines, QString::fromLatin1(keys[i].name));
        if (value.isEmpty()) continue;
        const auto number = ParseConfigFloat(value);
        if (!number || *number < keys[i].low || *number > keys[i].high)
            throw badValue(keys[i].name,
                           StationError(QStringLiteral("'%1' is not a number from %2 to %3")
                                            .arg(ShownValue(value), FormatGeneral(keys[i].low),
                                                 FormatGeneral(keys[i].high))));
        *keys[i].slot(geometry) = *number;
        echoOptional(keys[i].name, FormatGeneral(*number), stamp);
    }
    const QString notch = ConfigValue(lines, QStringLiteral("dc_notch"));
    if (!notch.isEmpty()) {
        const auto bins = ParseConfigInteger(notch);
        if (!bins || *bins < 0 || *bins > kDcNotchMost)
            throw badValue("dc_notch",
                           StationError(QStringLiteral("'%1' is not a number of bins from 0 to %2")
                                            .arg(ShownValue(notch))
                                            .arg(kDcNotchMost)));
        geometry.dc_notch = *bins;
        echoOptional("dc_notch", notch, stamp);
    }
    run_config.geometry = geometry;
}

// Optional: the name as written, blanks inside kept; the WIGOS identifier checked.
void StationConfig::readIdentity(const ConfigLines& lines, const QDateTime& stamp) {
    StationIdentity identity;
    identity.name = ConfigText(lines, QStringLiteral("station_name"));
    if (!identity.name.isEmpty()) {
        if (const QString problem = StationNameProblem(identity.name); !problem.isEmpty())
            throw badValue("station_name", StationError(problem));
        echoOptional("station_name", identity.name, stamp);
    }
    identity.wigos_id = ConfigValue(lines, QStringLiteral("wigos_id"));
    if (!identity.wigos_id.isEmpty()) {
        if (const QString problem = WigosIdProblem(identity.wigos_id); !problem.isEmpty())
            throw badValue("wigos_id", StationError(problem));
        echoOptional("wigos_id", identity.wigos_id, stamp);
    }
    run_config.identity = identity;
    log_.nameStation(IdentityText(identity));
}

// A new day's log begins with the station's name: config.txt is looked at
// before its first line is written. A key it refuses names nothing.
void StationConfig::nameStationInDailyLog() {
    try {
        const ConfigLines lines = ReadConfigLines(configPath());
        StationIdentity identity{ConfigText(lines, QStringLiteral("station_name")),
                                 ConfigValue(lines, QStringLiteral("wigos_id"))};
        if (!StationNameProblem(identity.name).isEmpty()) identity.name.clear();
        if (!WigosIdProblem(identity.wigos_id).isEmpty()) identity.wigos_id.clear();
        log_.nameStation(IdentityText(identity));
    } catch (const StationError&) {
        // ReadConfig says what is wrong with the file.
    }
}

void StationConfig::echoOptional(const char* key, const QString& value, const QDateTime& stamp) {
    log_.LogAt(stamp, QString::fromLatin1(key) + QStringLiteral(": ") + value);
}

// Optional, 0 or 1: absent means 0, and only a set key is echoed.
void StationConfig::readAutoRecovery(const ConfigLines& lines, const QDateTime& stamp) {
    static const ConfigKey key{"auto_recovery", "auto_recovery: ", ConfigKind::Integer,
                               nullptr,         nullptr,           nullptr};
    const QString value = ConfigValue(lines, QString::fromLatin1(key.name));
    run_config.auto_recovery = false;
    if (value.isEmpty()) return;
    const auto number = ParseConfigInteger(value);
    if (!number || (*number != 0 && *number != 1))
        throw badValue(key, StationError(QStringLiteral("'%1' is not 0 or 1").arg(value)));
    run_config.auto_recovery = *number == 1;
    log_.LogAt(stamp, QString::fromLatin1(key.label) + value);
}

// The error box's text is fixed; the kept log says which file or key it means.
ConfigLines StationConfig::readLinesNamingTheFile() {
    try {
        return ReadConfigLines(configPath());
    } catch (const StationError& error) {
        log_.KeepNote(error.text() + QStringLiteral(": ") + configPath());
        throw StationError(error.text(), configPath());
    }
}

StationError StationConfig::badValue(const ConfigKey& key, const StationError& error) {
    return badValue(key.name, error);
}

StationError StationConfig::badValue(const char* key, const StationError& error) {
    const QString where =
        QStringLiteral("Key %1 in %2").arg(QString::fromLatin1(key), configPath());
    log_.KeepNote(where + QStringLiteral(": ") + error.text());
    return StationError(error.text(), where);
}

qint64 StationConfig::FreeBytes(const QString& dir) {
    const QStorageInfo storage(dir);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

QString StationConfig::MakeDataFileStem() {
    const QDateTime stamp = log_.now();
    // The data file's open will fail too; this names the directory and the cause.
    if (const QString failure = MakeHourTree(run_config.data_dir, stamp); !failure.isEmpty())
        log_.LogMessage(QStringLiteral("Cannot make the data directory ") + failure);
    return DataFileStem(run_config.data_dir, stamp);
}

}  // namespace zarv::station
