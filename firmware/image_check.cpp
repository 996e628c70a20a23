#include "image_check.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <atomic>
#include <thread>
#include <variant>

#include "station/operator.h"
#include "station/operator_log.h"

namespace zarv::firmware {

using namespace zarv::station;

namespace {
// Smaller images are read where the command runs: in well under a blink.
constexpr qint64 kReadOffThreadBytes = 1 << 20;

using Outcome = std::variant<HexImage, ImageRefused, StationError>;

Outcome readAndCheck(const QString& path) {
    try {
        HexImage image = ReadHexImage(path);
        CheckImageForUpdate(image);
        return image;
    } catch (const ImageRefused& refused) {
        return refused;
    } catch (const StationError& error) {
        return error;
    }
}

// The check runs on a thread of its own; the GUI thread sleeps in an event loop,
// looking every 10 ms whether it is done, so the window keeps answering.
Outcome readOffThread(const QString& path) {
    std::optional<Outcome> outcome;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        outcome = readAndCheck(path);
        done.store(true, std::memory_order_release);
    });
    QEventLoop loop;
    QTimer look;
    look.setInterval(10);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done.load(std::memory_order_acquire)) loop.quit();
    });
    look.start();
    if (!done.load(std::memory_order_acquire)) loop.exec();
    reader.join();
    return std::move(*outcome);
}
}  // namespace

QString RefusalText(const QString& path, const StationError& error) {
    const QString file = QDir::toNativeSeparators(path);
    QString why;
    if (const auto* refused = dynamic_cast<const ImageRefused*>(&error))
        why = refused->line() > 0
                  ? QStringLiteral("line %1 %2").arg(refused->line()).arg(refused->reason())
                  : QStringLiteral("it %1").arg(refused->reason());
    else
        why = QStringLiteral("it cannot be read (%1)").arg(error.text());
    return QStringLiteral(
               "The firmware image %1 is refused: %2.\n\nNothing was sent to the "
               "controller.")
        .arg(file, why);
}

QString OutsideRecordsText(const HexImage& image) {
    if (image.outside_records == 0) return QString();
    return image.outside_records == 1
               ? QStringLiteral("1 record outside the main sectors is not written")
               : QStringLiteral("%1 records outside the main sectors are not written")
                     .arg(image.outside_records);
}

QString ImageIdentityText(const QString& path, const HexImage& image) {
    return QStringLiteral("Image %1: SHA-256 %2").arg(QFileInfo(path).fileName(), image.sha256);
}

std::optional<HexImage> LoadImageForUpdate(const QString& path, OperatorLog& log) {
    Operator& op = log.op();
    const bool large = QFileInfo(path).size() > kReadOffThreadBytes;
    if (large) op.setStatusText(QStringLiteral("Checking %1").arg(QFileInfo(path).fileName()));
    Outcome outcome =
        large && QCoreApplication::instance() ? readOffThread(path) : readAndCheck(path);
    if (large) op.setStatusText(QString());
    if (auto* image = std::get_if<HexImage>(&outcome)) {
        log.LogMessage(ImageIdentityText(path, *image));
        return std::move(*image);
    }
    const StationError& error = std::holds_alternative<ImageRefused>(outcome)
                                    ? std::get<ImageRefused>(outcome)
                                    : std::get<StationError>(outcome);
    log.LogMessage(QStringLiteral("File is not recognised. Aborting ..."));
    op.showMessage(RefusalText(path, error));
    return std::nullopt;
}

}  // namespace zarv::firmware
