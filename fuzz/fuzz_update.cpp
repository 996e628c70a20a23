// Arbitrary images and controller faults through the whole firmware update,
// against the simulated controller's flash. After every attempt the main
// sectors and the code start hold either the old firmware or the whole verified
// image; the code start never goes in front of anything but the new image, and
// new sectors behind the old code start are always said.
#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device_IO/command_set.h"
#include "device_IO/flash_sectors.h"
#include "firmware/flash_update.h"
#include "firmware/hex_image.h"
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

// What the main sector of this row must hold after a successful update: the
// image's words, or the content it had when the image does not carry it.
std::vector<std::uint16_t> expectedMain(const HexImage& image, char letter,
                                        const std::vector<std::uint16_t>& before) {
    if (!image.carries(letter)) return before;
    return image
        .words[static_cast<std::size_t>(SectorByLetter(QString(QLatin1Char(letter)))->code)];
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

    bool old_main = true, new_main = true;
    HexImage parsed;
    try {
        parsed = ReadHexImage(image);
    } catch (const StationError&) {
        new_main = false;
        if (copySent(sim)) std::abort();  // a refused image sends nothing
    }
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::uint16_t> now = sim.flashSector(kMain[i]);
        old_main = old_main && now == before[i];
        new_main = new_main && now == expectedMain(parsed, kMain[i], before[i]);
    }
    const auto code_start = sim.codeStart();
    if (!old_main && !new_main) std::abort();  // a sector copied that was not verified
    if (sim.codeStartWritten()) {
        // Written only behind the whole verified image, and as the image says.
        if (!new_main) std::abort();
        if (code_start[0] != parsed.word(kCodeStartAddress) ||
            code_start[1] != parsed.word(kCodeStartAddress + 1))
            std::abort();
    } else if (new_main && !old_main && !op.last_box.startsWith("Code Start Verification failed") &&
               !op.last_box.contains("what they hold now is not known")) {
        std::abort();  // the new image behind the old code start, unsaid
    }
    return 0;
}
