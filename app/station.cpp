#include "station.h"

#include "operator.h"
#include "station_error.h"

Station::Station(Operator& op_, FtApi& api, Clock clock)
    : op(op_), link(api, op_), commands(link, op_), clock_(std::move(clock)) {
    commands.setReopen([this] { return EnsureDeviceOpen(); });
}

QString Station::LogPrefix(const QDateTime& at) {
    return at.toString(QStringLiteral("dd/MM/yy hh:mm:ss")) + QStringLiteral(": ");
}

void Station::LogMessage(const QString& text) {
    op.appendLogLine(LogPrefix(now()) + text);
}

void Station::ReadConfig() {
    const QDateTime stamp = now();
    const QString prefix = LogPrefix(stamp);
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

QString Station::MakeDataFileStem() {
    const QDateTime stamp = now();
    MakeHourTree(run_config.data_dir, stamp);
    return DataFileStem(run_config.data_dir, stamp);
}

bool Station::EnsureDeviceOpen() {
    if (device_open && !link.HandleGone()) return true;
    if (device_open) LogMessage(QStringLiteral("USB device was lost: opening it again"));
    device_open = false;
    const QString text = link.OpenController(run_config.device_serial);
    if (text == UsbLink::kNotOpen) {
        LogMessage(QStringLiteral("USB device not found.."));
        if (!link.openFailure().isEmpty()) LogMessage(link.openFailure());
        return false;
    }
    LogMessage(text);
    device_open = true;
    return true;
}
