#include "bufr_outbox.h"

#include <QDir>
#include <QSaveFile>

#include "station/operator_log.h"
#include "station/run_config.h"
#include "wind_bufr.h"
#include "winds/wind_profiler.h"

namespace zarv::products {

QString BufrFileName(const QString& wigos_id, const QDateTime& end_utc) {
    return QStringLiteral("zarv_%1_%2.bufr")
        .arg(wigos_id, end_utc.toUTC().toString(QStringLiteral("yyyyMMddHHmm")));
}

QString WriteBufrFile(const QString& dir, const QString& name, const QByteArray& message) {
    const QString path = QDir(dir).filePath(name);
    if (!QDir().mkpath(dir))
        return QStringLiteral("Cannot write the BUFR message %1: cannot make the directory")
            .arg(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size() || !file.commit())
        return QStringLiteral("Cannot write the BUFR message %1: %2").arg(path, file.errorString());
    return QStringLiteral("BUFR message written: %1").arg(path);
}

BufrOutbox::BufrOutbox(const radar::RadarFeed& feed, const station::TRunConfig& settings,
                       station::OperatorLog& log, winds::WindFeed::Clock clock)
    : radar_feed_(feed), settings_(settings), log_(log), clock_(std::move(clock)) {
    placed_listener_ = feed.addPlacedListener([this] {
        if (winds::WindFeed* winds = windFeed(); winds && winds->takePlaced()) writeClosed();
    });
    timer_.setInterval(kPollMs);
    connect(&timer_, &QTimer::timeout, this, &BufrOutbox::poll);
    timer_.start();
}

BufrOutbox::~BufrOutbox() {
    radar_feed_.removePlacedListener(placed_listener_);
}

winds::WindFeed* BufrOutbox::windFeed() {
    if (settings_.bufr_dir.isEmpty()) return nullptr;
    if (!feed_) feed_ = std::make_unique<winds::WindFeed>(radar_feed_, settings_, clock_);
    return feed_.get();
}

void BufrOutbox::poll() {
    if (winds::WindFeed* winds = windFeed(); winds && winds->poll()) writeClosed();
}

void BufrOutbox::finishRun() {
    winds::WindFeed* winds = windFeed();
    if (!winds) return;
    winds->finish();
    writeClosed();
}

// Every period closed since the last look, oldest first.
void BufrOutbox::writeClosed() {
    const winds::WindProfiler* profiler = feed_->profiler();
    if (!profiler) return;
    for (const winds::WindProfile& profile : profiler->profiles()) {
        if (written_up_to_.isValid() && profile.middle <= written_up_to_) continue;
        written_up_to_ = profile.middle;
        writeProfile(profile, profiler->settings().period_s);
    }
}

void BufrOutbox::writeProfile(const winds::WindProfile& profile, double period_s) {
    const QDateTime end = PeriodEnd(profile, period_s);
    const QString when = end.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    if (const QStringList needs = BufrNeeds(settings_); !needs.isEmpty()) {
        const QString why = QStringLiteral("No BUFR winds: config.txt gives no ") +
                            needs.join(QStringLiteral(", "));
        if (why != said_why_not_) log_.LogMessage(why);
        said_why_not_ = why;
        return;
    }
    said_why_not_.clear();
    if (!HasGoodWind(profile)) {
        log_.LogMessage(
            QStringLiteral("No good wind in the period ending %1 UTC: no BUFR message").arg(when));
        return;
    }
    QString error;
    const QByteArray message = WindBufrMessage(profile, settings_, period_s, &error);
    if (message.isEmpty()) {
        log_.LogMessage(QStringLiteral("BUFR message of the period ending %1 UTC not made: %2")
                            .arg(when, error));
        return;
    }
    log_.LogMessage(
        WriteBufrFile(settings_.bufr_dir, BufrFileName(settings_.identity.wigos_id, end), message));
}

}  // namespace zarv::products
