// After the staging has verified: the controller copies the spare sectors into
// its main sectors, the station reads those back, and only when they hold the
// staged image does it write the code start.
#include <algorithm>

#include "device_IO/command_set.h"
#include "device_IO/flash_sectors.h"
#include "flash_update.h"
#include "station/controller_session.h"
#include "station/hex_text.h"
#include "station/operator.h"
#include "station/operator_log.h"
#include "update_fault.h"

namespace zarv::firmware {

using namespace zarv::device_io;
using namespace zarv::station;

namespace {
constexpr char kMain[] = {'H', 'G', 'F'};
constexpr int kCopyWaitMs = 5000;
// Copies tried in one update before the operator is told to run it again.
constexpr int kMostCopies = 3;

enum class CopyAnswer { Accepted, Refused, Unknown };
}  // namespace

std::array<SectorContent, 3> FirmwareUpdate::readMainSectors() {
    std::array<SectorContent, 3> now;
    for (row_ = 1; row_ <= 3; ++row_) {
        const QString sector{QLatin1Char(kMain[row_ - 1])};
        setStep(copy_sent_ ? QStringLiteral("reading back") : QStringLiteral("reading"), sector);
        now[static_cast<std::size_t>(row_ - 1)] = readAgreeing(sector);
        advance();
    }
    return now;
}

void FirmwareUpdate::copyAndVerify() {
    before_ = readMainSectors();
    for (int copies = 1;; ++copies) {
        log_.LogMessage(QStringLiteral("Copying image to main frame.. please wait."));
        op_.setStatusText(QStringLiteral("Copying E, D and C into H, G and F"));
        step_ = QStringLiteral("copying the staged image into the main sectors");
        op_.pumpEvents();
        QString refusal;
        const bool carried_out = sendCopy(&refusal);
        if (carried_out) op_.waitMs(kCopyWaitMs);
        advance();
        const std::array<SectorContent, 3> now = readMainSectors();
        if (now == staged_) break;
        const QString what =
            refusal.isEmpty()
                ? QStringLiteral("The main sectors do not hold the staged image after the copy.")
                : QStringLiteral("The controller refused the copy (%1).").arg(refusal);
        const QString state = QStringLiteral(
                                  "%1\n\n%2\n\nThe staged image in E, D and C is still verified, "
                                  "and the code start was not written.")
                                  .arg(what, describeMain(now));
        const bool again =
            copies < kMostCopies
                ? op_.askYesCancel(state + QStringLiteral(" Copy again?"))
                : (op_.showMessage(state + QStringLiteral(" Run the update again.")), false);
        if (!again) {
            log_.LogMessage(CodeStartKeptLine());
            return;
        }
        op_.setProgressMaximum(op_.progressMaximum() + 1 + 3);
    }
    finishWithCodeStart();
}

// True unless the controller said it did not copy; refusal then says its reply.
bool FirmwareUpdate::sendCopy(QString* refusal) {
    const int received = session_.commands().CopyImageToMainFrame();
    if (!session_.commands().frameWritten())
        stop(QStringLiteral("the copy command did not reach the controller"));
    copy_sent_ = true;
    const std::uint8_t reply = session_.link().rx_buffer[0];
    const QStringList said = boxes_->take();
    if (received == 1 && reply == +ReplyCode::Ack) return true;
    if (received == 1 &&
        (reply == +ReplyCode::ChecksumError || reply == +ReplyCode::UnexpectedData)) {
        *refusal = QStringLiteral("reply 0x%1: %2").arg(Hex(reply, 2), said.join(QLatin1Char(' ')));
        return false;
    }
    if (session_.link().HandleGone()) {
        session_.markLost();
        throw UpdateStopped{step_, QStringLiteral("the USB link to the controller was lost"), true};
    }
    return true;  // no answer: it may be copying; the read-back tells
}

// What each main sector holds now: the staged image, the old firmware, or neither.
QString FirmwareUpdate::describeMain(const std::array<SectorContent, 3>& now) const {
    QStringList lines;
    for (std::size_t i = 0; i < 3; ++i) {
        const QString sector{QLatin1Char(kMain[i])};
        if (now[i] == staged_[i])
            lines << QStringLiteral("Sector %1 holds the new image.").arg(sector);
        else if (now[i] == before_[i])
            lines << QStringLiteral("Sector %1 still holds the old firmware.").arg(sector);
        else
            lines << QStringLiteral(
                         "Sector %1 holds neither the old firmware nor the new image: do "
                         "not power cycle before it does.")
                         .arg(sector);
    }
    return lines.join(QLatin1Char('\n'));
}

void FirmwareUpdate::finishWithCodeStart() {
    step_ = QStringLiteral("writing the code start");
    op_.setStatusText(QStringLiteral("Writing the code start"));
    if (!VerifyCodeStart()) {
        const bool lost = session_.link().HandleGone();
        if (lost) session_.markLost();
        const QStringList said = boxes_->take();
        op_.showMessage(
            QStringLiteral("Code Start Verification failed\n\nSectors H, G and F hold the new "
                           "image, verified, but the code start did not read back as written%1. "
                           "Do not power cycle the controller: %2run the update again with the "
                           "same image, which writes the code start again.")
                .arg(lost             ? QStringLiteral(": the USB link to the controller was lost")
                     : said.isEmpty() ? QString()
                                      : QStringLiteral(" (%1)").arg(said.join(QLatin1Char(' '))),
                     lost ? QStringLiteral("check the USB connection, then ") : QString()));
        return;
    }
    advance();
    log_.LogMessage(QStringLiteral("Firmware updated... Please power cycle and restart"));
    op_.setProgressPosition(op_.progressMaximum());
}

bool FirmwareUpdate::VerifyCodeStart() {
    if (!image_) return false;
    CodeStartBlock block;
    block.fill(0xFFFF);
    block[0] = image_->word(kCodeStartAddress);
    block[1] = image_->word(kCodeStartAddress + 1);
    const int received = session_.commands().WriteCodeStart(block);
    if (received != 1 || session_.link().rx_buffer[0] != +ReplyCode::Ack) return false;
    CodeStartWords words{};
    if (!session_.commands().ReadCodeStart(words)) return false;
    return std::equal(block.begin(), block.end(), words.begin() + kCodeStartInRead);
}

}  // namespace zarv::firmware
