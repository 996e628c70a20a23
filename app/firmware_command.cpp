#include "firmware_command.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "device_IO/flash_sectors.h"
#include "firmware/firmware_verify.h"
#include "firmware/hex_image.h"
#include "firmware/image_check.h"
#include "headless.h"
#include "station/hex_text.h"
#include "station/station.h"

namespace zarv::app {

using namespace zarv::firmware;
using namespace zarv::station;

namespace {
void Print(std::FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

// "main sectors H, G, F; code start 0x0041 0x9000"
QString WhatItHolds(const HexImage& image) {
    QStringList held;
    for (char sector : {'H', 'G', 'F'})
        if (image.carries(sector)) held << QString(QLatin1Char(sector));
    return QStringLiteral("main sectors %1; code start 0x%2 0x%3")
        .arg(held.join(QStringLiteral(", ")), Hex(image.word(device_io::kCodeStartAddress), 4),
             Hex(image.word(device_io::kCodeStartAddress + 1), 4));
}

// The image as an update would take it, or the reason on err.
std::optional<HexImage> CheckedImage(const QString& path, std::FILE* err) {
    try {
        HexImage image = ReadHexImage(path);
        CheckImageForUpdate(image);
        return image;
    } catch (const StationError& error) {
        Print(err, RefusalText(path, error).section(QLatin1Char('\n'), 0, 0));
        return std::nullopt;
    }
}
}  // namespace

int CheckImageCommand(const QString& path, std::FILE* out, std::FILE* err) {
    const std::optional<HexImage> image = CheckedImage(path, err);
    if (!image) return kExitImageRefused;
    QString text = QStringLiteral("%1: accepted; %2; SHA-256 %3")
                       .arg(QDir::toNativeSeparators(path), WhatItHolds(*image), image->sha256);
    if (const QString outside = OutsideRecordsText(*image); !outside.isEmpty())
        text += QStringLiteral("; ") + outside;
    Print(out, text);
    return 0;
}

int VerifyFirmwareCommand(device_io::FtApi& api, const QString& path, std::FILE* out,
                          std::FILE* err) {
    const std::optional<HexImage> image = CheckedImage(path, err);
    if (!image) return kExitImageRefused;
    HeadlessOperator op(out, err);
    Station station(op, api);
    station.config.start_dir = QDir::currentPath();
    // In a station directory the verify goes to its daily log; the serial
    // number to open comes from its config.txt.
    if (QFileInfo::exists(QStringLiteral("config.txt"))) {
        station.log.keepDailyLog(station.config.start_dir);
        try {
            station.config.ReadConfig();
        } catch (const StationError& error) {
            op.showError(error.boxText());
            return kExitBadConfig;
        }
    }
    station.log.LogMessage(ImageIdentityText(path, *image));
    if (station.session.countDevices() == 0 || !station.session.ensureOpen()) {
        op.showError(QStringLiteral("Zarv not found!"));
        return kExitNoController;
    }
    FirmwareVerify verify(station.log, station.session);
    const FirmwareVerify::Outcome outcome = verify.compare(*image);
    station.log.LogMessage(VerifyLine(path, outcome.report));
    switch (outcome.verdict) {
        case FirmwareVerify::Verdict::Matches:
            return 0;
        case FirmwareVerify::Verdict::Differs:
            return kExitFirmwareDiffers;
        case FirmwareVerify::Verdict::Unread:
            break;
    }
    return kExitControllerUnread;
}

}  // namespace zarv::app
