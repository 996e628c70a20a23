// The single steps of the update on one sector: erase, program, read back,
// compare; and how a step that cannot be carried out ends the update.
#include <QFile>
#include <algorithm>

#include "device_IO/flash_sectors.h"
#include "flash_update.h"
#include "sector_files.h"
#include "sector_reads.h"
#include "station/controller_session.h"
#include "station/operator.h"
#include "station/operator_log.h"
#include "station/station_error.h"
#include "update_fault.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

namespace {
// Reads of a sector that may disagree before two in a row agree.
constexpr int kMostReads = 5;
}  // namespace

// Ends the update: a link found gone is named as such, else why, with what the
// command layer said about it.
void FirmwareUpdate::stop(const QString& why) {
    UpdateStopped stopped{step_, why, false};
    const QStringList said = boxes_ ? boxes_->take() : QStringList();
    if (session_.link().HandleGone()) {
        stopped.link_lost = true;
        stopped.why = QStringLiteral("the USB link to the controller was lost");
    } else if (!said.isEmpty()) {
        stopped.why += QStringLiteral(" (") + said.join(QStringLiteral(" ")) + QLatin1Char(')');
    }
    throw stopped;
}

void FirmwareUpdate::EraseFlashSector(const QString& sector) {
    const int received = session_.commands().EraseSector(sector);
    if (received != 2) stop(QStringLiteral("Did not recive 2 data bytes"));
    if (const int status = session_.commands().flashStatus().value_or(0); status != 0)
        stop(session_.commands().flashStatusText(status));
}

bool FirmwareUpdate::programBlock(const QString& target, const std::uint16_t* words, int count,
                                  int offset) {
    BlockWords block{};
    std::copy(words, words + count, block.begin());
    if (session_.commands().ProgramSectorBlock(block, count, target, offset) != 2) return false;
    return session_.commands().flashStatus().value_or(0) == 0;
}

void FirmwareUpdate::ProgramSectorFile(const QString& target, const QString& source,
                                       const QString& file) {
    const FlashSector* sector = SectorByLetter(source);
    if (!sector || !SectorByLetter(target)) {
        op_.showMessage(QStringLiteral("Invalid Sector name: ") + (sector ? target : source));
        return;
    }
    for (const QString& text : ReadTextLines(file)) {
        const SectorLine line = ParseSectorLine(text);
        const int offset = static_cast<int>(line.address - sector->first_address);
        const int count = static_cast<int>(line.words.size());
        log_.LogMessage(QStringLiteral("Writing %1 WORDS to Sector %2 at address offset of 0x%3")
                            .arg(count)
                            .arg(target, Hex(static_cast<std::uint32_t>(offset) & 0xFFFF, 4)));
        advance();
        op_.pumpEvents();
        // A line longer than one command carries goes out in several, at consecutive offsets.
        for (int done = 0; done == 0 || done < count;) {
            const int n = std::min(commands::kMaxBlockWords, count - done);
            if (!programBlock(target, line.words.data() + done, n, offset + done)) {
                log_.LogMessage(QStringLiteral("Sector ") + target +
                                QStringLiteral("writing complete"));
                const auto status = session_.commands().flashStatus();
                stop(status ? QStringLiteral("Error while writing offset_adr 0x%1: %2")
                                  .arg(Hex(static_cast<std::uint32_t>(offset + done + 1), 4),
                                       session_.commands().flashStatusText(*status))
                            : QStringLiteral("Did not recive 2 data bytes"));
            }
            done += std::max(n, 1);
        }
    }
    log_.LogMessage(QStringLiteral("Sector ") + target + QStringLiteral("writing complete"));
}

SectorContent FirmwareUpdate::readSector(const QString& sector) {
    SectorWords words;
    if (!session_.commands().ReadSector(sector, words))
        stop(QStringLiteral("the sector could not be read whole"));
    return words;
}

// A sector whose words are kept or checked is read until two reads in a row
// agree: one word misread must not pass as the content.
SectorContent FirmwareUpdate::readAgreeing(const QString& sector) {
    int disagreements = 0;
    auto words = ReadUntilTwoAgree(session_.commands(), sector, kMostReads, &disagreements);
    if (disagreements > 0)
        log_.KeepNote(QStringLiteral("Sector %1: %2 reads differed from the one before")
                          .arg(sector)
                          .arg(disagreements));
    if (!words)
        stop(disagreements + 1 >= kMostReads
                 ? QStringLiteral("no two reads of sector %1 in a row agreed").arg(sector)
                 : QStringLiteral("the sector could not be read whole"));
    return std::move(*words);
}

void FirmwareUpdate::ReadBackSector(const QString& sector, const QString& file) {
    const FlashSector* s = SectorByLetter(sector);
    if (!s) {
        op_.showMessage(QStringLiteral("Invalid Sector name: ") + sector);
        return;
    }
    QFile::remove(file);  // nothing stale may be compared
    WriteReadBackFile(file, s->first_address, readSector(sector));
}

bool FirmwareUpdate::CompareSectorFiles(std::uint32_t image_base, std::uint32_t read_base,
                                        const QString& image_file, const QString& read_file) {
    const auto image = LoadSectorWords(image_file, image_base);
    const auto read = LoadSectorWords(read_file, read_base);
    WriteComparisonReport(inStartDir("out.txt"), image, read);
    return FirstDifference(image, read) < 0;
}

void FirmwareUpdate::tellStopped(const UpdateStopped& stopped) {
    if (stopped.link_lost) session_.markLost();
    log_.LogMessage(CodeStartKeptLine());
    const QString held =
        copy_sent_ ? QStringLiteral(
                         "The copy into sectors H, G and F had been sent: what they hold now "
                         "is not known, and the code start was not written. Before power "
                         "cycling, check them with Help > Verify Firmware.")
                   : QStringLiteral(
                         "The main firmware is unchanged: nothing was copied into sectors H, "
                         "G and F, and the code start was not written.");
    const QString next =
        stopped.link_lost ? QStringLiteral("Check the USB connection, then run the update again.")
                          : QStringLiteral("Run the update again.");
    op_.showMessage(QStringLiteral("The firmware update stopped while %1: %2.\n\n%3 %4")
                        .arg(stopped.step, stopped.why, held, next));
}

}  // namespace zarv::firmware
