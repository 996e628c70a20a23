#include "flash_update.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <vector>

#include "app/operator.h"
#include "app/station.h"
#include "app/station_error.h"
#include "flash_sectors.h"
#include "hex_image.h"
#include "sector_files.h"

// One row of the staging map: an image sector and the spare sector it is staged in.
struct StagingRow {
    const char* image_file;
    const char* image_sector;
    const char* staging_sector;
    const char* read_back_file;
    const char* read_text;
    bool verdict_when_missing;  // sector H must be in the image, G and F may not
};

namespace {
constexpr StagingRow kStagingMap[] = {
    {"sector_h.txt", "H", "E", "sector_e.txt", "Reading complete", false},
    {"sector_g.txt", "G", "D", "sector_d.txt", "Reading complete.", true},
    {"sector_f.txt", "F", "C", "sector_c.txt", "Reading complete.", true},
};
constexpr int kMaxBlockWords = 16;

// Marks the link as held for as long as the update runs.
class UpdateActive {
  public:
    explicit UpdateActive(Station& st) : st_(st) { st_.update_active = true; }
    ~UpdateActive() { st_.update_active = false; }
    UpdateActive(const UpdateActive&) = delete;
    UpdateActive& operator=(const UpdateActive&) = delete;

  private:
    Station& st_;
};

std::uint32_t baseOf(const char* letter) {
    return SectorByLetter(QLatin1String(letter))->first_address;
}
}  // namespace

QString FirmwareUpdate::inStartDir(const char* name) const {
    return st_.start_dir + QLatin1Char('/') + QLatin1String(name);
}

void FirmwareUpdate::FirmwareUpgrade1Click() {
    if (st_.update_active) {
        st_.LogMessage(QStringLiteral("Firmware update in progress. Aborting ..."));
        return;
    }
    const QString path = st_.op.chooseFile(kFilter);
    if (path.isEmpty()) return;
    if (!st_.op.askYesCancel(
            QStringLiteral("About to Update Firmware. Do you want to continue?"))) {
        st_.LogMessage(QStringLiteral("Firmware update cancelled"));
        return;
    }
    if (!AcceptHexImage(path)) {
        st_.LogMessage(QStringLiteral("File is not recognised. Aborting ..."));
        return;
    }
    if (st_.triggering || st_.linkBusy()) {
        st_.LogMessage(
            QStringLiteral("System is triggering. Stop trigger and try again. Aborting ..."));
        return;
    }
    if (!st_.EnsureDeviceOpen()) return;
    UpdateActive active(st_);
    UpdateFirmware(path);
}

void FirmwareUpdate::UpdateFirmware(const QString& image_path) {
    st_.op.setProgressPosition(st_.op.progressMinimum());
    st_.LogMessage(QStringLiteral("Processing HEX file"));
    ConvertHexImage(image_path, st_.start_dir);
    checkImageFilesFit();

    bool all_verified = true;
    for (const StagingRow& row : kStagingMap) all_verified = stageRow(row) && all_verified;

    if (!VerifyCodeStart()) {
        st_.op.showMessage(QStringLiteral("Code Start Verification failed"));
        return;
    }
    if (!all_verified) {
        st_.op.showMessage(QStringLiteral("Verification failed"));
        return;
    }
    st_.LogMessage(QStringLiteral("Copying image to main frame.. please wait."));
    st_.op.setProgressPosition(st_.op.progressMinimum());
    st_.op.pumpEvents();
    st_.commands.CopyImageToMainFrame();
    st_.op.waitMs(5000);
    st_.LogMessage(QStringLiteral("Firmware updated... Please power cycle and restart"));
    st_.op.setProgressPosition(st_.op.progressMaximum());
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
    if (!QFileInfo::exists(image_file)) return row.verdict_when_missing;
    const QString staging = QLatin1String(row.staging_sector);
    st_.LogMessage(QStringLiteral("Erasing Sector %1.. please wait").arg(staging));
    st_.op.pumpEvents();
    EraseFlashSector(staging);
    st_.LogMessage(QStringLiteral("Erasing complete"));
    st_.op.pumpEvents();
    ProgramSectorFile(staging, QLatin1String(row.image_sector), image_file);
    st_.LogMessage(QStringLiteral("Reading data from Sector %1").arg(staging));
    st_.op.pumpEvents();
    const QString read_back = inStartDir(row.read_back_file);
    const bool read_whole = ReadBackSector(staging, read_back);
    st_.LogMessage(QLatin1String(row.read_text));
    st_.op.pumpEvents();
    if (!read_whole || !QFileInfo::exists(read_back)) return false;
    const bool same = CompareSectorFiles(baseOf(row.image_sector), baseOf(row.staging_sector),
                                         image_file, read_back);
    st_.LogMessage(same ? QStringLiteral("Data Verified") : QStringLiteral("Data does not match"));
    return same;
}

void FirmwareUpdate::EraseFlashSector(const QString& sector) {
    const int received = st_.commands.EraseSector(sector);
    if (received != 2) {
        st_.op.showMessage(QStringLiteral("Did not recive 2 data bytes"));
        return;
    }
    if (const int status = st_.commands.flashStatus(); status != 0)
        st_.op.showMessage(st_.link.flash_status_text.text(status));
}

bool FirmwareUpdate::programBlock(const QString& target, const std::uint16_t* words, int count,
                                  int offset) {
    BlockWords block{};
    std::copy(words, words + count, block.begin());
    if (st_.commands.ProgramSectorBlock(block, count, target, offset) != 2) {
        st_.op.showMessage(QStringLiteral("Did not recive 2 data bytes"));
        return false;
    }
    if (const int status = st_.commands.flashStatus(); status != 0) {
        st_.op.showMessage(QStringLiteral("Error while writing offset_adr 0x%1: %2")
                               .arg(Hex(static_cast<std::uint32_t>(offset + 1), 4),
                                    st_.link.flash_status_text.text(status)));
        return false;
    }
    return true;
}

void FirmwareUpdate::ProgramSectorFile(const QString& target, const QString& source,
                                       const QString& file) {
    const FlashSector* sector = SectorByLetter(source);
    if (!sector || !SectorByLetter(target)) {
        st_.op.showMessage(QStringLiteral("Invalid Sector name: ") + (sector ? target : source));
        return;
    }
    st_.op.setProgressPosition(st_.op.progressMinimum());
    for (const QString& text : ReadTextLines(file)) {
        const SectorLine line = ParseSectorLine(text);
        const int offset = static_cast<int>(line.address - sector->first_address);
        const int count = static_cast<int>(line.words.size());
        st_.LogMessage(QStringLiteral("Writing %1 WORDS to Sector %2 at address offset of 0x%3")
                           .arg(count)
                           .arg(target, Hex(static_cast<std::uint32_t>(offset) & 0xFFFF, 4)));
        st_.op.stepProgress();
        st_.op.pumpEvents();
        // A line longer than one command carries goes out in several, at consecutive offsets.
        bool ok = true;
        int done = 0;
        do {
            const int n = std::min(kMaxBlockWords, count - done);
            ok = programBlock(target, line.words.data() + done, n, offset + done);
            done += n;
        } while (ok && done < count);
        if (!ok) break;
    }
    st_.LogMessage(QStringLiteral("Sector ") + target + QStringLiteral("writing complete"));
    st_.op.setProgressPosition(st_.op.progressMaximum());
}

bool FirmwareUpdate::ReadBackSector(const QString& sector, const QString& file) {
    const FlashSector* s = SectorByLetter(sector);
    if (!s) {
        st_.op.showMessage(QStringLiteral("Invalid Sector name: ") + sector);
        return false;
    }
    SectorWords words;
    if (!st_.commands.ReadSector(sector, words)) {
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
        return l.left(8) == QLatin1String("003F7FF6");
    });
    if (found == lines.end()) return false;
    CodeStartBlock block;
    block.fill(0xFFFF);
    block[0] = ParseHexField(found->mid(8, 4));
    block[1] = ParseHexField(found->mid(12, 4));
    st_.commands.WriteCodeStart(block);
    CodeStartWords words{};
    if (!st_.commands.ReadCodeStart(words)) return false;
    return std::equal(block.begin(), block.end(), words.begin() + 118);
}
