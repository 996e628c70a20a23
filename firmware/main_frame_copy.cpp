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
constexpr int kMostCodeStartReads = 3;

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
        if (copies >= kMostCopies ||
            !op_.askYesCancel(copyState(now, refusal) + QStringLiteral(" Copy again?"))) {
            tellCopyFailed(now, refusal, copies >= kMostCopies);
            return;
        }
        op_.setProgressMaximum(op_.progressMaximum() + 1 + 3);
    }
    finishWithCodeStart();
}

// Whether the main sectors hold some of the image's sectors but not all: an
// earlier update that stopped half way leaves them so.
bool FirmwareUpdate::partlyNew(const std::array<SectorContent, 3>& main) const {
    int carried = 0;
    int fresh = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!image_->carries(kMain[i])) continue;
        ++carried;
        fresh += main[i] == staged_[i];
    }
    return fresh > 0 && fresh < carried;
}

// What the copy left, and whether the controller may be power cycled as it is:
// not once a main sector differs from what its code start was written for.
QString FirmwareUpdate::copyState(const std::array<SectorContent, 3>& now,
                                  const QString& refusal) const {
    const QString what =
        refusal.isEmpty()
            ? QStringLiteral("The main sectors do not hold the staged image after the copy.")
            : QStringLiteral("The controller refused the copy (%1).").arg(refusal);
    QString state = QStringLiteral(
                        "%1\n\n%2\n\nThe staged image in E, D and C is still verified, and the "
                        "code start was not written.")
                        .arg(what, describeMain(now));
    if (now != before_ || partlyNew(before_))
        state += QStringLiteral(
            "\n\nDo not power cycle the controller: its main sectors no longer hold the "
            "firmware its code start was written for, and it may not start.");
    return state;
}

void FirmwareUpdate::tellCopyFailed(const std::array<SectorContent, 3>& now, const QString& refusal,
                                    bool last_copy) {
    log_.LogMessage(CodeStartKeptLine());
    const QString next =
        now != before_ || partlyNew(before_)
            ? QStringLiteral(
                  " Run the update again with the same image: it copies the staged "
                  "image again and writes the code start once all three sectors "
                  "hold it.")
        : last_copy ? QStringLiteral(" Run the update again.")
                    : QStringLiteral(
                          " The controller keeps its old firmware and starts as "
                          "before.");
    op_.showMessage(copyState(now, refusal) + next);
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
                           "%2\n\nDo not power cycle the controller: %3run the update again "
                           "with the same image, which writes the code start again.")
                .arg(lost             ? QStringLiteral(": the USB link to the controller was lost")
                     : said.isEmpty() ? QString()
                                      : QStringLiteral(" (%1)").arg(said.join(QLatin1Char(' '))),
                     describeCodeStart(codeStartBlock()),
                     lost ? QStringLiteral("check the USB connection, then ") : QString()));
        return;
    }
    advance();
    log_.LogMessage(QStringLiteral("Firmware updated... Please power cycle and restart"));
    op_.setProgressPosition(op_.progressMaximum());
}

CodeStartBlock FirmwareUpdate::codeStartBlock() const {
    CodeStartBlock block;
    block.fill(0xFFFF);
    block[0] = image_->word(kCodeStartAddress);
    block[1] = image_->word(kCodeStartAddress + 1);
    return block;
}

namespace {
bool Holds(const CodeStartWords& words, const CodeStartBlock& block) {
    return std::equal(block.begin(), block.end(), words.begin() + kCodeStartInRead);
}
}  // namespace

// A refused write is a failure whatever the code start reads; a reply lost on
// the way is not: the code start, read back, says whether the write was done.
bool FirmwareUpdate::VerifyCodeStart() {
    if (!image_) return false;
    const CodeStartBlock block = codeStartBlock();
    const int received = session_.commands().WriteCodeStart(block);
    const bool refused = received == 1 && session_.link().rx_buffer[0] != +ReplyCode::Ack;
    if (!session_.link().HandleGone()) readCodeStart(block);
    return !refused && code_start_read_ && Holds(*code_start_read_, block);
}

// A read writes nothing: one that fails or differs is made again, a few times.
void FirmwareUpdate::readCodeStart(const CodeStartBlock& block) {
    code_start_read_.reset();
    for (int read = 0; read < kMostCodeStartReads && !session_.link().HandleGone(); ++read) {
        CodeStartWords words{};
        if (!session_.commands().ReadCodeStart(words)) continue;
        code_start_read_ = words;
        if (Holds(words, block)) return;
    }
}

QString FirmwareUpdate::describeCodeStart(const CodeStartBlock& block) const {
    if (!code_start_read_) return QStringLiteral("The code start could not be read.");
    const auto& words = *code_start_read_;
    const QString read = QStringLiteral("%1 %2").arg(Hex(words[kCodeStartInRead], 4),
                                                     Hex(words[kCodeStartInRead + 1], 4));
    if (Holds(words, block))
        return QStringLiteral("The code start reads %1, the new image's.").arg(read);
    return QStringLiteral("The code start reads %1, not the new image's %2 %3.")
        .arg(read, Hex(block[0], 4), Hex(block[1], 4));
}

}  // namespace zarv::firmware
