#include "image_check.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <atomic>
#include <memory>
#include <thread>
#include <variant>

#include "station/delay.h"
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

// The reader thread hands its outcome over and wakes the GUI thread's wait.
struct Handover {
    EventWaiter waiter;
    std::atomic<bool> done{false};
    std::optional<Outcome> outcome;
};

Outcome readOffThread(const QString& path) {
    auto handover = std::make_shared<Handover>();
    std::thread reader([handover, path] {
        handover->outcome = readAndCheck(path);
        handover->done = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handover] { handover->waiter.wake(); },
            Qt::QueuedConnection);
    });
    handover->waiter.waitUntil([&] { return handover->done.load(); });
    reader.join();
    return std::move(*handover->outcome);
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

std::optional<HexImage> LoadImageForUpdate(const QString& path, OperatorLog& log) {
    Operator& op = log.op();
    const bool large = QFileInfo(path).size() > kReadOffThreadBytes;
    if (large) op.setStatusText(QStringLiteral("Checking %1").arg(QFileInfo(path).fileName()));
    Outcome outcome =
        large && QCoreApplication::instance() ? readOffThread(path) : readAndCheck(path);
    if (large) op.setStatusText(QString());
    if (auto* image = std::get_if<HexImage>(&outcome)) return std::move(*image);
    const StationError& error = std::holds_alternative<ImageRefused>(outcome)
                                    ? std::get<ImageRefused>(outcome)
                                    : std::get<StationError>(outcome);
    log.LogMessage(QStringLiteral("File is not recognised. Aborting ..."));
    op.showMessage(RefusalText(path, error));
    return std::nullopt;
}

}  // namespace zarv::firmware
