// Arbitrary config.txt contents through GetConfigValue and the conversions of a reading.
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "station/run_config.h"
#include "station/station_error.h"

using namespace zarv::station;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.path() + "/config.txt";
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    int count = 0;
    const ConfigKey* keys = ConfigKeys(&count);
    for (int i = 0; i < count; ++i) {
        try {
            const QString value = GetConfigValue(path, QString::fromLatin1(keys[i].name));
            if (keys[i].kind == ConfigKind::Integer) {
                (void)ParseConfigInteger(value);
            } else if (keys[i].kind == ConfigKind::Float) {
                if (const auto v = ParseConfigFloat(value)) (void)FormatGeneral(*v);
            }
        } catch (const StationError&) {
        }
    }
    return 0;
}
