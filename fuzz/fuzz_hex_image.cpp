// Arbitrary HEX text through the acceptance test, the conversion and the reading of
// the sector word files it leaves.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "firmware/hex_image.h"
#include "firmware/sector_files.h"
#include "station/station_error.h"

using namespace zarv::firmware;
using namespace zarv::station;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString image = dir.path() + "/image.hex";
    {
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    try {
        if (!AcceptHexImage(image)) return 0;
        ConvertHexImage(image, dir.path());
    } catch (const StationError&) {
    }
    for (const QString& name : QDir(dir.path()).entryList({"sector_*.txt"})) {
        try {
            for (const QString& line : ReadTextLines(dir.path() + '/' + name))
                (void)ParseSectorLine(line);
        } catch (const StationError&) {
        }
    }
    return 0;
}
