// Arbitrary HEX text through the image checks, the conversion and the reading of
// the sector word files it leaves: what the files say is what the image set.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
    HexImage read;
    try {
        read = ReadHexImage(image);
        WriteSectorFiles(read, dir.path());
    } catch (const StationError&) {
        return 0;
    }
    for (const QString& name : QDir(dir.path()).entryList({"sector_*.txt"})) {
        for (const QString& text : ReadTextLines(dir.path() + '/' + name)) {
            const SectorLine line = ParseSectorLine(text);
            for (std::size_t i = 0; i < line.words.size(); ++i)
                if (read.word(line.address + static_cast<std::uint32_t>(i)) != line.words[i])
                    std::abort();  // a file that says other than the image
        }
    }
    return 0;
}
