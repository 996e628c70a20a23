#include "station_config.h"

#include "operator.h"
#include "operator_log.h"
#include "station_error.h"

namespace zarv::station {

void StationConfig::ReadConfig() {
    const QDateTime stamp = log_.now();
    const QString prefix = OperatorLog::LogPrefix(stamp);
    Operator& op = log_.op();
    op.clearLog();
    op.appendLogLine(prefix + QStringLiteral("Reading configuration file [") + configPath() +
                     QStringLiteral("]"));
    int count = 0;
    const ConfigKey* keys = ConfigKeys(&count);
    for (int i = 0; i < count; ++i) {
        const ConfigKey& key = keys[i];
        const QString value = GetConfigValue(configPath(), QString::fromLatin1(key.name));
        QString echo;
        switch (key.kind) {
            case ConfigKind::Integer: {
                const auto number = ParseConfigInteger(value);
                if (!number) throw notValidInteger(value);
                std::int32_t stored = *number;
                if (key.integer == &TRunConfig::integrations && stored < 1) stored = 1;
                run_config.*key.integer = stored;
                echo = QString::number(stored);
                break;
            }
            case ConfigKind::Float: {
                const auto number = ParseConfigFloat(value);
                if (!number) throw notValidFloat(value);
                run_config.*key.floating = *number;
                echo = FormatGeneral(*number);
                break;
            }
            case ConfigKind::Text:
                run_config.*key.text = value;
                echo = value;
                break;
        }
        op.appendLogLine(prefix + QString::fromLatin1(key.label) + echo);
    }
    // Optional: picks the bridge by serial number when several are attached.
    run_config.device_serial = GetConfigValue(configPath(), QStringLiteral("device_serial"));
    if (!run_config.device_serial.isEmpty())
        op.appendLogLine(prefix + QStringLiteral("device_serial: ") + run_config.device_serial);
    MakeHourTree(run_config.data_dir, stamp);
}

QString StationConfig::MakeDataFileStem() {
    const QDateTime stamp = log_.now();
    MakeHourTree(run_config.data_dir, stamp);
    return DataFileStem(run_config.data_dir, stamp);
}

}  // namespace zarv::station
