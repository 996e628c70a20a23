#include "firmware_verify.h"

#include <QFileInfo>

#include "device_IO/flash_sectors.h"
#include "flash_update.h"
#include "image_check.h"
#include "sector_reads.h"
#include "station/controller_session.h"
#include "station/hex_text.h"
#include "station/operator.h"
#include "station/operator_log.h"
#include "update_fault.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

namespace {
// The link is held while the controller is read, as during an update.
class LinkHeld {
  public:
    explicit LinkHeld(ControllerSession& session) : session_(session) { session_.beginUpdate(); }
    ~LinkHeld() { session_.releaseLink(); }
    LinkHeld(const LinkHeld&) = delete;
    LinkHeld& operator=(const LinkHeld&) = delete;

  private:
    ControllerSession& session_;
};
}  // namespace

QString VerifyLine(const QString& path, const QString& report) {
    return QStringLiteral("Verify %1: %2")
        .arg(QFileInfo(path).fileName(), QString(report).replace('\n', ' '));
}

FirmwareVerify::FirmwareVerify(OperatorLog& log, ControllerSession& session)
    : log_(log), session_(session) {}

void FirmwareVerify::run() {
    Operator& op = log_.op();
    if (session_.linkBusy() || session_.triggering()) {
        log_.LogMessage(
            QStringLiteral("System is triggering. Stop trigger and try again. Aborting ..."));
        return;
    }
    const QString path = op.chooseFile(FirmwareUpdate::kFilter);
    if (path.isEmpty()) return;
    const std::optional<HexImage> image = LoadImageForUpdate(path, log_);
    if (!image || !session_.ensureOpen()) return;
    LinkHeld held(session_);
    op.setStatusText(
        QStringLiteral("Verifying the firmware against %1").arg(QFileInfo(path).fileName()));
    const QString report = compare(*image).report;
    op.setStatusText(QString());
    log_.LogMessage(VerifyLine(path, report));
    op.showMessage(QStringLiteral("The controller against %1:\n\n%2\n\nNothing was written.")
                       .arg(QFileInfo(path).fileName(), report));
}

FirmwareVerify::Outcome FirmwareVerify::compare(const HexImage& image) {
    GatheredBoxes boxes(session_.commands());
    QStringList lines;
    bool match = true;
    for (char sector : {'H', 'G', 'F'}) {
        lines << sectorVerdict(image, sector, &match);
        if (lines.last().isEmpty()) {
            const bool lost = session_.link().HandleGone();
            if (lost) session_.markLost();
            return {Verdict::Unread,
                    QStringLiteral("Sector %1 could not be read (%2): nothing is known of it.")
                        .arg(QLatin1Char(sector))
                        .arg(lost ? QStringLiteral("the USB link to the controller was lost")
                                  : boxes.take().join(QLatin1Char(' ')))};
        }
    }
    bool unread = false;
    lines << codeStartVerdict(image, &match, &unread);
    const Verdict verdict = unread ? Verdict::Unread : match ? Verdict::Matches : Verdict::Differs;
    return {verdict, lines.join(QLatin1Char('\n'))};
}

QString FirmwareVerify::sectorVerdict(const HexImage& image, char sector, bool* match) {
    const QString name{QLatin1Char(sector)};
    const auto words = ReadUntilTwoAgree(session_.commands(), name);
    if (!words) return QString();
    if (!image.carries(sector)) return QStringLiteral("Sector %1 is not in the image.").arg(name);
    const auto& expected = image.words[static_cast<std::size_t>(SectorByLetter(name)->code)];
    int differing = 0, first = -1;
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != (*words)[i]) {
            if (first < 0) first = static_cast<int>(i);
            ++differing;
        }
    if (differing == 0) return QStringLiteral("Sector %1 matches.").arg(name);
    *match = false;
    return QStringLiteral("Sector %1 differs in %2 words, the first at offset 0x%3.")
        .arg(name)
        .arg(differing)
        .arg(Hex(static_cast<std::uint32_t>(first), 4));
}

QString FirmwareVerify::codeStartVerdict(const HexImage& image, bool* match, bool* unread) {
    CodeStartWords words{};
    if (!session_.commands().ReadCodeStart(words)) {
        *match = false;
        *unread = true;
        return QStringLiteral("The code start could not be read.");
    }
    const std::uint32_t expected[2] = {image.word(kCodeStartAddress),
                                       image.word(kCodeStartAddress + 1)};
    const std::uint32_t* found = words.data() + kCodeStartInRead;
    if (found[0] == expected[0] && found[1] == expected[1])
        return QStringLiteral("The code start matches.");
    *match = false;
    return QStringLiteral("The code start differs: 0x%1 0x%2, the image has 0x%3 0x%4.")
        .arg(Hex(found[0], 4), Hex(found[1], 4), Hex(expected[0], 4), Hex(expected[1], 4));
}

}  // namespace zarv::firmware
