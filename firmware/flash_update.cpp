#include "flash_update.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <vector>

#include "device_IO/flash_sectors.h"
#include "hex_image.h"
#include "sector_files.h"
#include "station/controller_session.h"
#include "station/operator.h"
#include "station/operator_log.h"
#include "station/station_config.h"
#include "station/station_error.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

// One row of the staging map: an image sector and the spare sector it is staged in.
// A sector that the image does not carry keeps its content: its present words are
// read into main_file and staged like the image's.
struct StagingRow {
    const char* image_file;
    const char* image_sector;
    const char* staging_sector;
    const char* read_back_file;
    const char* read_text;
    bool may_be_missing;  // sector H must be in the image, G and F need not
    const char* main_file;
};

namespace {
constexpr StagingRow kStagingMap[] = {
    {"sector_h.txt", "H", "E", "sector_e.txt", "Reading complete", false, nullptr},
    {"sector_g.txt", "G", "D", "sector_d.txt", "Reading complete.", true, "main_g.txt"},
    {"sector_f.txt", "F", "C", "sector_c.txt", "Reading complete.", true, "main_f.txt"},
};

// Marks the link as held for as long as the update runs.
class UpdateActive {
  public:
    explicit UpdateActive(ControllerSession& session) : session_(session) {
        session_.beginUpdate();
    }
    ~UpdateActive() { session_.releaseLink(); }
    UpdateActive(const UpdateActive&) = delete;
    UpdateActive& operator=(const UpdateActive&) = delete;

  private:
    ControllerSession& session_;
};

std::uint32_t baseOf(const char* letter) {
    return SectorByLetter(QLatin1String(letter))->first_address;
}
}  // namespace

QString FirmwareUpdate::inStartDir(const char* name) const {
    return config_.start_dir + QLatin1Char('/') + QLatin1String(name);
}

FirmwareUpdate::FirmwareUpdate(OperatorLog& log, ControllerSession& session,
                               const StationConfig& config)
    : log_(log), op_(log.op()), session_(session), config_(config) {}

void FirmwareUpdate::run() {
    if (session_.holder() == LinkHolder::Update) {
        log_.LogMessage(QStringLiteral("Firmware update in progress. Aborting ..."));
        return;
    }
    if (refusedWhileTriggering()) return;  // before the operator picks anything
    const QString path = op_.chooseFile(kFilter);
    if (path.isEmpty()) return;
    const QString covered = describeImage(path);
    if (!op_.askYesCancel(confirmation(path, covered))) {
        log_.LogMessage(QStringLiteral("Firmware update cancelled"));
        return;
    }
    if (!AcceptHexImage(path)) {
        log_.LogMessage(QStringLiteral("File is not recognised. Aborting ..."));
        return;
    }
    if (refusedWhileTriggering()) return;
    if (!session_.ensureOpen()) return;
    UpdateActive active(session_);
    UpdateFirmware(path);
}

bool FirmwareUpdate::refusedWhileTriggering() {
    if (!session_.triggering() && !session_.linkBusy()) return false;
    log_.LogMessage(
        QStringLiteral("System is triggering. Stop trigger and try again. Aborting ..."));
    return true;
}

// Logs which main sectors the image replaces and which keep their content;
// returns the letters of the sectors the image carries ("?" when it cannot be read).
QString FirmwareUpdate::describeImage(const QString& path) {
    QString covered;
    try {
        covered = HexImageSectors(path);
    } catch (const StationError&) {
        return QStringLiteral("?");  // the update itself will say what is wrong
    }
    QStringList replaced, kept;
    for (const StagingRow& row : kStagingMap)
        (covered.contains(QLatin1String(row.image_sector)) ? replaced : kept)
            << QLatin1String(row.image_sector);
    const auto list = [](const QStringList& l) {
        return l.isEmpty() ? QStringLiteral("none") : l.join(QStringLiteral(", "));
    };
    log_.LogMessage(QStringLiteral("Image %1: main sectors replaced: %2; keeping their content: %3")
                        .arg(QFileInfo(path).fileName(), list(replaced), list(kept)));
    return covered;
}

QString FirmwareUpdate::confirmation(const QString& path, const QString& covered) const {
    QStringList staged;
    for (const StagingRow& row : kStagingMap) {
        const QString sector = QLatin1String(row.image_sector);
        staged << (covered.contains(sector) || covered == QLatin1String("?")
                       ? QStringLiteral("image %1 into %2")
                       : QStringLiteral("present %1 (kept) into %2"))
                      .arg(sector, QLatin1String(row.staging_sector));
    }
    return QStringLiteral(
               "About to Update Firmware. Do you want to continue?\n\nImage: %1\n"
               "Staged: %2")
        .arg(QDir::toNativeSeparators(path), staged.join(QStringLiteral(", ")));
}

void FirmwareUpdate::UpdateFirmware(const QString& image_path) {
    op_.setProgressPosition(op_.progressMinimum());
    log_.LogMessage(QStringLiteral("Processing HEX file"));
    ConvertHexImage(image_path, config_.start_dir);
    checkImageFilesFit();

    bool all_verified = true;
    for (const StagingRow& row : kStagingMap) all_verified = stageRow(row) && all_verified;

    if (!VerifyCodeStart()) {
        op_.showMessage(QStringLiteral("Code Start Verification failed"));
        return;
    }
    if (!all_verified) {
        op_.showMessage(QStringLiteral("Verification failed"));
        return;
    }
    copyToMainFrame();
}

void FirmwareUpdate::copyToMainFrame() {
    log_.LogMessage(QStringLiteral("Copying image to main frame.. please wait."));
    op_.setProgressMaximum(0);  // no steps to show: the bar says "busy"
    op_.setProgressPosition(0);
    op_.pumpEvents();
    session_.commands().CopyImageToMainFrame();
    if (!session_.commands().frameWritten()) {
        op_.setProgressMaximum(1);
        op_.setProgressPosition(0);
        op_.showMessage(
            QStringLiteral("The copy command did not reach the controller. The main firmware is "
                           "unchanged: a frame cut short fails the controller's checksum. Check "
                           "the connection and run the update again."));
        return;
    }
    op_.waitMs(5000);
    log_.LogMessage(QStringLiteral("Firmware updated... Please power cycle and restart"));
    op_.setProgressMaximum(1);
    op_.setProgressPosition(1);
}

// Every line of the files to be programmed must lie within its sector; found out
// before the first erase.
void FirmwareUpdate::checkImageFilesFit() {
    for (const StagingRow& row : kStagingMap) {
        const QString path = inStartDir(row.image_file);
        if (!QFileInfo::exists(path)) continue;
        const std::uint32_t base = baseOf(row.image_sector);
        const QStringList lines = ReadTextLines(path);
        for (int i = 0; i < lines.size(); ++i) {
            const SectorLine line = ParseSectorLine(lines[i]);
            const std::int64_t offset = std::int64_t{line.address} - base;
            if (offset < 0 ||
                offset + static_cast<std::int64_t>(line.words.size()) > kFlashSectorWords)
                throw StationError(
                    QStringLiteral("Line %1 of %2 lies outside sector %3")
                        .arg(i + 1)
                        .arg(QLatin1String(row.image_file), QLatin1String(row.image_sector)));
        }
    }
}

bool FirmwareUpdate::stageRow(const StagingRow& row) {
    const QString image_file = inStartDir(row.image_file);
    if (QFileInfo::exists(image_file)) return stageFile(row, image_file);
    if (!row.may_be_missing) return false;
    return keepMainSector(row);
}

// The staging sector must end up holding the main sector's present words, so
// that the copy leaves the main sector as it is: read both, and stage again only
// where they differ.
bool FirmwareUpdate::keepMainSector(const StagingRow& row) {
    const QString main = QLatin1String(row.image_sector);
    const QString staging = QLatin1String(row.staging_sector);
    log_.LogMessage(
        QStringLiteral("Sector %1 is not in the image: it keeps its content").arg(main));
    log_.LogMessage(QStringLiteral("Reading data from Sector %1").arg(main));
    op_.pumpEvents();
    const QString main_file = inStartDir(row.main_file);
    if (!ReadBackSector(main, main_file)) return false;
    log_.LogMessage(QStringLiteral("Reading data from Sector %1").arg(staging));
    op_.pumpEvents();
    const QString read_back = inStartDir(row.read_back_file);
    if (ReadBackSector(staging, read_back) &&
        CompareSectorFiles(baseOf(row.image_sector), baseOf(row.staging_sector), main_file,
                           read_back)) {
        log_.LogMessage(QStringLiteral("Data Verified"));
        return true;
    }
    log_.LogMessage(
        QStringLiteral("Sector %1 differs from sector %2: staging it again").arg(staging, main));
    return stageFile(row, main_file);
}

// Erases the staging sector, programs file into it, reads it back and compares.
bool FirmwareUpdate::stageFile(const StagingRow& row, const QString& image_file) {
    const QString staging = QLatin1String(row.staging_sector);
    log_.LogMessage(QStringLiteral("Erasing Sector %1.. please wait").arg(staging));
    op_.pumpEvents();
    EraseFlashSector(staging);
    log_.LogMessage(QStringLiteral("Erasing complete"));
    op_.pumpEvents();
    ProgramSectorFile(staging, QLatin1String(row.image_sector), image_file);
    log_.LogMessage(QStringLiteral("Reading data from Sector %1").arg(staging));
    op_.pumpEvents();
    const QString read_back = inStartDir(row.read_back_file);
    const bool read_whole = ReadBackSector(staging, read_back);
    log_.LogMessage(QLatin1String(row.read_text));
    op_.pumpEvents();
    if (!read_whole || !QFileInfo::exists(read_back)) return false;
    const bool same = CompareSectorFiles(baseOf(row.image_sector), baseOf(row.staging_sector),
                                         image_file, read_back);
    log_.LogMessage(same ? QStringLiteral("Data Verified") : QStringLiteral("Data does not match"));
    return same;
}

void FirmwareUpdate::EraseFlashSector(const QString& sector) {
    const int received = session_.commands().EraseSector(sector);
    if (received != 2) {
        op_.showMessage(QStringLiteral("Did not recive 2 data bytes"));
        return;
    }
    if (const int status = session_.commands().flashStatus().value_or(0); status != 0)
        op_.showMessage(session_.commands().flashStatusText(status));
}

bool FirmwareUpdate::programBlock(const QString& target, const std::uint16_t* words, int count,
                                  int offset) {
    BlockWords block{};
    std::copy(words, words + count, block.begin());
    if (session_.commands().ProgramSectorBlock(block, count, target, offset) != 2) {
        op_.showMessage(QStringLiteral("Did not recive 2 data bytes"));
        return false;
    }
    if (const int status = session_.commands().flashStatus().value_or(0); status != 0) {
        op_.showMessage(QStringLiteral("Error while writing offset_adr 0x%1: %2")
                            .arg(Hex(static_cast<std::uint32_t>(offset + 1), 4),
                                 session_.commands().flashStatusText(status)));
        return false;
    }
    return true;
}

void FirmwareUpdate::ProgramSectorFile(const QString& target, const QString& source,
                                       const QString& file) {
    const FlashSector* sector = SectorByLetter(source);
    if (!sector || !SectorByLetter(target)) {
        op_.showMessage(QStringLiteral("Invalid Sector name: ") + (sector ? target : source));
        return;
    }
    const QStringList lines = ReadTextLines(file);
    log_.LogMessage(QStringLiteral("Programming Sector %1 from %2 (%3 lines)")
                        .arg(target, QFileInfo(file).fileName())
                        .arg(lines.size()));
    op_.setProgressMaximum(std::max(1, static_cast<int>(lines.size())));
    op_.setProgressPosition(0);
    int done_lines = 0;
    for (const QString& text : lines) {
        const SectorLine line = ParseSectorLine(text);
        const int offset = static_cast<int>(line.address - sector->first_address);
        const int count = static_cast<int>(line.words.size());
        log_.LogMessage(QStringLiteral("Writing %1 WORDS to Sector %2 at address offset of 0x%3")
                            .arg(count)
                            .arg(target, Hex(static_cast<std::uint32_t>(offset) & 0xFFFF, 4)));
        op_.setProgressPosition(++done_lines);
        op_.pumpEvents();
        // A line longer than one command carries goes out in several, at consecutive offsets.
        bool ok = true;
        int done = 0;
        do {
            const int n = std::min(commands::kMaxBlockWords, count - done);
            ok = programBlock(target, line.words.data() + done, n, offset + done);
            done += n;
        } while (ok && done < count);
        if (!ok) break;
    }
    log_.LogMessage(QStringLiteral("Sector ") + target + QStringLiteral("writing complete"));
    op_.setProgressPosition(op_.progressMaximum());
}

bool FirmwareUpdate::ReadBackSector(const QString& sector, const QString& file) {
    const FlashSector* s = SectorByLetter(sector);
    if (!s) {
        op_.showMessage(QStringLiteral("Invalid Sector name: ") + sector);
        return false;
    }
    SectorWords words;
    if (!session_.commands().ReadSector(sector, words)) {
        QFile::remove(file);  // nothing stale may be compared
        return false;
    }
    WriteReadBackFile(file, s->first_address, words);
    return true;
}

namespace {
void loadWords(const QString& file, std::uint32_t base, std::vector<std::uint16_t>& into) {
    for (const QString& text : ReadTextLines(file)) {
        const SectorLine line = ParseSectorLine(text);
        const std::int64_t first = std::int64_t{line.address} - base;
        for (std::size_t i = 0; i < line.words.size(); ++i) {
            const std::int64_t at = first + static_cast<std::int64_t>(i);
            if (at >= 0 && at < kFlashSectorWords)
                into[static_cast<std::size_t>(at)] = line.words[i];
        }
    }
}
}  // namespace

bool FirmwareUpdate::CompareSectorFiles(std::uint32_t image_base, std::uint32_t read_base,
                                        const QString& image_file, const QString& read_file) {
    std::vector<std::uint16_t> image(kFlashSectorWords, 0xFFFF);
    std::vector<std::uint16_t> read(kFlashSectorWords, 0xFFFF);
    loadWords(image_file, image_base, image);
    loadWords(read_file, read_base, read);
    const bool same = image == read;
    QByteArray report;
    report.reserve(kFlashSectorWords * 16);
    for (int i = 0; i < kFlashSectorWords; ++i)
        report +=
            QStringLiteral("0x%1  0x%2\r\n").arg(Hex(image[i], 4), Hex(read[i], 4)).toLatin1();
    QFile out(inStartDir("out.txt"));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(report) != report.size())
        throw StationError(QStringLiteral("Cannot write %1").arg(out.fileName()));
    return same;
}

bool FirmwareUpdate::VerifyCodeStart() {
    const QStringList lines = ReadTextLines(inStartDir("sector_a.txt"));
    const auto found = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
        return l.left(8) == Hex(kCodeStartAddress, 8);
    });
    if (found == lines.end()) return false;
    CodeStartBlock block;
    block.fill(0xFFFF);
    block[0] = ParseHexField(found->mid(8, 4));
    block[1] = ParseHexField(found->mid(12, 4));
    session_.commands().WriteCodeStart(block);
    CodeStartWords words{};
    if (!session_.commands().ReadCodeStart(words)) return false;
    return std::equal(block.begin(), block.end(), words.begin() + kCodeStartInRead);
}

}  // namespace zarv::firmware
