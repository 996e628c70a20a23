// Arbitrary images and controller faults through the whole firmware update,
// against the simulated controller's flash. Whatever happens, the main sectors
// end either as they were or as the image (or their kept content) says: nothing
// half-staged is ever copied into them.
#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device_IO/command_set.h"
#include "device_IO/flash_sectors.h"
#include "firmware/flash_update.h"
#include "firmware/sector_files.h"
#include "null_operator.h"
#include "simulator/sim_controller.h"
#include "station/station.h"
#include "station/station_error.h"

using namespace zarv::device_io;
using namespace zarv::firmware;
using namespace zarv::sim;
using namespace zarv::station;

namespace {
const QString kDir = QDir::tempPath() + QStringLiteral("/zarv-fuzz-update");

// Faults drawn from the first four bytes: which command misbehaves and how, and
// the flash status an erase or a program reports.
void injectFaults(SimController& sim, const std::uint8_t* data, std::size_t size) {
    if (size < 4) return;
    static constexpr CommandCode kFlashCommands[] = {
        CommandCode::EraseSector,    CommandCode::ProgramSectorBlock,
        CommandCode::ReadSector,     CommandCode::CopyImageToMainFrame,
        CommandCode::WriteCodeStart, CommandCode::ReadCodeStart};
    const auto fault = static_cast<SimController::ReplyFault>(data[0] % 7);
    sim.setReplyFault(+kFlashCommands[data[1] % 6], fault, data[1] >> 4);
    if (data[2] & 1) sim.setEraseStatus(data[2] >> 5, data[3] % 48);
    if (data[2] & 2) sim.setProgramStatusAt((data[3] & 0x3F) * 16, 30);
    if ((data[2] & 0x1C) == 0x1C) sim.setWriteTimeout(true);
}

std::vector<std::uint16_t> wordsOfFile(const QString& path, std::uint32_t base) {
    std::vector<std::uint16_t> words(kFlashSectorWords, 0xFFFF);
    for (const QString& text : ReadTextLines(path)) {
        const SectorLine line = ParseSectorLine(text);
        for (std::size_t i = 0; i < line.words.size(); ++i) {
            const std::int64_t at =
                std::int64_t{line.address} - base + static_cast<std::int64_t>(i);
            if (at >= 0 && at < kFlashSectorWords)
                words[static_cast<std::size_t>(at)] = line.words[i];
        }
    }
    return words;
}

bool copySent(const SimController& sim) {
    for (const auto& frame : sim.writtenFrames())
        if (frame[1] == +CommandCode::CopyImageToMainFrame) return true;
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QDir(kDir).removeRecursively();
    QDir().mkpath(kDir);
    const QString image = kDir + QStringLiteral("/image.hex");
    {
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly)) return 0;
        if (size > 4)
            file.write(reinterpret_cast<const char*>(data + 4), static_cast<qint64>(size - 4));
    }
    SimController sim(QString(), QString(), SimClock::skippingIdle());
    injectFaults(sim, data, size);
    const char kMain[] = {'H', 'G', 'F'};
    std::vector<std::uint16_t> before[3];
    for (int i = 0; i < 3; ++i) before[i] = sim.flashSector(kMain[i]);

    NullOperator op;
    op.yes = true;
    op.file = image;
    Station station(op, sim);
    station.config.start_dir = kDir;
    try {
        FirmwareUpdate(station.log, station.session, station.config).run();
    } catch (const StationError&) {
    }

    const bool copied = copySent(sim);
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::uint16_t> now = sim.flashSector(kMain[i]);
        if (!copied) {
            if (now != before[i]) std::abort();  // changed without a copy
            continue;
        }
        const QString letter = QString(QLatin1Char(kMain[i]));
        const QString file = kDir + QStringLiteral("/sector_%1.txt").arg(letter.toLower());
        const std::vector<std::uint16_t> expected =
            QFile::exists(file) ? wordsOfFile(file, SectorByLetter(letter)->first_address)
                                : before[i];
        if (now != expected) std::abort();  // a sector copied that was not verified
    }
    return 0;
}
