#include "flash_update.h"

#include <QDir>
#include <QFileInfo>

#include "device_IO/flash_sectors.h"
#include "image_check.h"
#include "sector_files.h"
#include "station/controller_session.h"
#include "station/operator.h"
#include "station/operator_log.h"
#include "station/station_config.h"
#include "update_fault.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

// One row of the staging map: a main sector and the spare sector it is staged
// in. A main sector that the image does not carry keeps its content: its
// present words are read into main_file and staged like the image's.
struct StagingRow {
    const char* image_file;
    char image_sector;
    const char* staging_sector;
    const char* read_back_file;
    const char* read_text;
    const char* main_file;
};

namespace {
constexpr int kStagingReads = 3;  // reads of a staged sector before it is called different
constexpr StagingRow kStagingMap[] = {
    {"sector_h.txt", 'H', "E", "sector_e.txt", "Reading complete", nullptr},
    {"sector_g.txt", 'G', "D", "sector_d.txt", "Reading complete.", "main_g.txt"},
    {"sector_f.txt", 'F', "C", "sector_c.txt", "Reading complete.", "main_f.txt"},
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

QString letter(char c) {
    return QString(QLatin1Char(c));
}
int linesOf(const HexImage& image, char sector) {
    const auto code = static_cast<std::size_t>(SectorByLetter(letter(sector))->code);
    return static_cast<int>(image.lines[code].size());
}
std::uint32_t baseOf(const QString& sector) {
    return SectorByLetter(sector)->first_address;
}
}  // namespace

QString FirmwareUpdate::inStartDir(const char* name) const {
    return config_.start_dir + QLatin1Char('/') + QLatin1String(name);
}

FirmwareUpdate::FirmwareUpdate(OperatorLog& log, ControllerSession& session,
                               const StationConfig& config)
    : log_(log), op_(log.op()), session_(session), config_(config) {}

FirmwareUpdate::~FirmwareUpdate() = default;

void FirmwareUpdate::run() {
    if (session_.holder() == LinkHolder::Update) {
        log_.LogMessage(QStringLiteral("Firmware update in progress. Aborting ..."));
        return;
    }
    if (refusedWhileTriggering()) return;  // before the operator picks anything
    const QString path = op_.chooseFile(kFilter);
    if (path.isEmpty()) return;
    const std::optional<HexImage> image = LoadImageForUpdate(path, log_);
    if (!image) return;
    logImage(path, *image);
    if (!op_.askYesCancel(confirmation(path, *image))) {
        log_.LogMessage(QStringLiteral("Firmware update cancelled"));
        return;
    }
    if (refusedWhileTriggering()) return;
    if (!session_.ensureOpen()) return;
    UpdateActive active(session_);
    UpdateFirmware(*image);
}

bool FirmwareUpdate::refusedWhileTriggering() {
    if (!session_.triggering() && !session_.linkBusy()) return false;
    log_.LogMessage(
        QStringLiteral("System is triggering. Stop trigger and try again. Aborting ..."));
    return true;
}

// Which main sectors the image replaces and which keep their content go to the
// kept log; data the update does not write is said in the window's log too.
void FirmwareUpdate::logImage(const QString& path, const HexImage& image) {
    QStringList replaced, kept;
    for (const StagingRow& row : kStagingMap)
        (image.carries(row.image_sector) ? replaced : kept) << letter(row.image_sector);
    const auto list = [](const QStringList& l) {
        return l.isEmpty() ? QStringLiteral("none") : l.join(QStringLiteral(", "));
    };
    log_.KeepNote(QStringLiteral("Image %1: main sectors replaced: %2; keeping their content: %3")
                      .arg(QFileInfo(path).fileName(), list(replaced), list(kept)));
    if (const QString outside = OutsideRecordsText(image); !outside.isEmpty())
        log_.LogMessage(QStringLiteral("Image %1: %2").arg(QFileInfo(path).fileName(), outside));
}

QString FirmwareUpdate::confirmation(const QString& path, const HexImage& image) const {
    QStringList staged;
    for (const StagingRow& row : kStagingMap)
        staged << (image.carries(row.image_sector) ? QStringLiteral("image %1 into %2")
                                                   : QStringLiteral("present %1 (kept) into %2"))
                      .arg(letter(row.image_sector), QLatin1String(row.staging_sector));
    QString text = QStringLiteral(
                       "About to Update Firmware. Do you want to continue?\n\nImage: %1\n"
                       "Staged: %2")
                       .arg(QDir::toNativeSeparators(path), staged.join(QStringLiteral(", ")));
    if (const QString outside = OutsideRecordsText(image); !outside.isEmpty())
        text += QStringLiteral("\n") + outside;
    return text;
}

void FirmwareUpdate::UpdateFirmware(const QString& image_path) {
    const HexImage image = ReadHexImage(image_path);
    CheckImageForUpdate(image);
    UpdateFirmware(image);
}

void FirmwareUpdate::UpdateFirmware(const HexImage& image) {
    // However the update ends, a thrown file error included, the command
    // layer's boxes go back to the operator.
    struct Ending {
        FirmwareUpdate& update;
        ~Ending() {
            update.op_.setStatusText(QString());
            update.boxes_.reset();
            update.image_ = nullptr;
        }
    } ending{*this};
    image_ = &image;
    boxes_ = std::make_unique<GatheredBoxes>(session_.commands());
    copy_sent_ = false;
    done_ = 0;
    int units = 3 + 1 + 3 + 1;  // main sectors read, copy, read back, code start
    for (const StagingRow& row : kStagingMap)
        units += image.carries(row.image_sector) ? 2 + linesOf(image, row.image_sector) : 3;
    op_.setProgressMaximum(units);
    op_.setProgressPosition(0);
    log_.LogMessage(QStringLiteral("Processing HEX file"));
    WriteSectorFiles(image, config_.start_dir);
    try {
        runSequence();
    } catch (const UpdateStopped& stopped) {
        tellStopped(stopped);
    }
}

void FirmwareUpdate::runSequence() {
    bool all_verified = true;
    for (row_ = 1; row_ <= 3; ++row_)
        all_verified = stageRow(kStagingMap[row_ - 1]) && all_verified;
    if (!all_verified) {
        log_.LogMessage(CodeStartKeptLine());
        op_.showMessage(QStringLiteral(
            "Verification failed\n\nThe spare sectors did not read back as staged, so nothing "
            "was copied: the main firmware and the code start are unchanged. Run the update "
            "again."));
        return;
    }
    copyAndVerify();
}

bool FirmwareUpdate::stageRow(const StagingRow& row) {
    if (image_->carries(row.image_sector)) return stageFile(row, inStartDir(row.image_file));
    return keepMainSector(row);
}

// The staging sector must end up holding the main sector's present words, so
// that the copy leaves the main sector as it is: read both, and stage again only
// where they differ.
bool FirmwareUpdate::keepMainSector(const StagingRow& row) {
    const QString main = letter(row.image_sector);
    const QString staging = QLatin1String(row.staging_sector);
    log_.LogMessage(
        QStringLiteral("Sector %1 is not in the image: it keeps its content").arg(main));
    log_.LogMessage(QStringLiteral("Reading data from Sector %1").arg(main));
    op_.pumpEvents();
    setStep(QStringLiteral("reading"), main);
    SectorContent& kept = staged_[static_cast<std::size_t>(row_ - 1)];
    kept = readAgreeing(main);
    const QString main_file = inStartDir(row.main_file);
    WriteReadBackFile(main_file, baseOf(main), kept);
    log_.LogMessage(QStringLiteral("Reading data from Sector %1").arg(staging));
    op_.pumpEvents();
    setStep(QStringLiteral("reading back"), staging);
    if (readSector(staging) == kept) {
        advance();
        log_.LogMessage(QStringLiteral("Data Verified"));
        return true;
    }
    advance();
    log_.LogMessage(
        QStringLiteral("Sector %1 differs from sector %2: staging it again").arg(staging, main));
    op_.setProgressMaximum(op_.progressMaximum() + 2 + 512);
    return stageFile(row, main_file);
}

// Erases the staging sector, programs file into it, reads it back and compares.
bool FirmwareUpdate::stageFile(const StagingRow& row, const QString& image_file) {
    const QString staging = QLatin1String(row.staging_sector);
    const QString source = letter(row.image_sector);
    if (image_->carries(row.image_sector))
        staged_[static_cast<std::size_t>(row_ - 1)] =
            image_->words[static_cast<std::size_t>(SectorByLetter(source)->code)];
    log_.LogMessage(QStringLiteral("Erasing Sector %1.. please wait").arg(staging));
    op_.pumpEvents();
    setStep(QStringLiteral("erasing"), staging);
    EraseFlashSector(staging);
    advance();
    log_.LogMessage(QStringLiteral("Erasing complete"));
    op_.pumpEvents();
    setStep(QStringLiteral("programming"), staging);
    ProgramSectorFile(staging, source, image_file);
    log_.LogMessage(QStringLiteral("Reading data from Sector %1").arg(staging));
    op_.pumpEvents();
    setStep(QStringLiteral("reading back"), staging);
    const QString read_back = inStartDir(row.read_back_file);
    ReadBackSector(staging, read_back);
    advance();
    log_.LogMessage(QLatin1String(row.read_text));
    op_.pumpEvents();
    bool same = CompareSectorFiles(baseOf(source), baseOf(staging), image_file, read_back);
    // A read writes nothing: a sector that reads back wrong is read again before
    // it is called different, so that one misread word does not end the update.
    for (int read = 1; !same && read < kStagingReads; ++read) {
        log_.KeepNote(
            QStringLiteral("Sector %1 read back unlike the image: reading it again").arg(staging));
        ReadBackSector(staging, read_back);
        same = CompareSectorFiles(baseOf(source), baseOf(staging), image_file, read_back);
    }
    log_.LogMessage(same ? QStringLiteral("Data Verified") : QStringLiteral("Data does not match"));
    return same;
}

// "Programming D (2 of 3)" on the status line; "programming sector D (2 of 3)"
// in a message should the step fail.
void FirmwareUpdate::setStep(const QString& doing, const QString& sector) {
    const QString of = QStringLiteral("(%1 of 3)").arg(row_);
    op_.setStatusText(
        QStringLiteral("%1%2 %3 %4").arg(doing.left(1).toUpper(), doing.mid(1), sector, of));
    step_ = QStringLiteral("%1 sector %2 %3").arg(doing, sector, of);
}

void FirmwareUpdate::advance(int units) {
    done_ = std::min(done_ + units, op_.progressMaximum());
    op_.setProgressPosition(done_);
}

}  // namespace zarv::firmware
