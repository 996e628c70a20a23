#include "dwell_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "station/sync_directory.h"

namespace zarv::acquisition {

namespace {
QString utcText(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString offsetText(const QDateTime& local) {
    const int seconds = local.offsetFromUtc();
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString zoneName(const QDateTime& local) {
    const QByteArray id = local.timeZone().id();
    return id.isEmpty() ? QString::fromUtf8(QTimeZone::systemTimeZoneId()) : QString::fromUtf8(id);
}

QString writeAll(int fd, const QByteArray& bytes, const std::function<int(int)>& sync) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
        }
    }
    // A file system that cannot sync (EINVAL) has nothing more to give.
    if ((sync ? sync(fd) : ::fdatasync(fd)) != 0 && errno != EINVAL)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

QJsonObject geometryObject(station::RadarGeometry geometry) {
    QJsonObject out;
    int count = 0;
    const station::GeometryKey* keys = station::GeometryKeys(&count);
    for (int i = 0; i < count; ++i)
        if (const std::optional<double> value = *keys[i].slot(geometry))
            out.insert(QString::fromLatin1(keys[i].name), *value);
    if (geometry.dc_notch) out.insert(QStringLiteral("dc_notch"), *geometry.dc_notch);
    return out;
}

QJsonObject identityObject(const station::StationIdentity& identity) {
    QJsonObject out;
    if (!identity.name.isEmpty()) out.insert(QStringLiteral("name"), identity.name);
    if (!identity.wigos_id.isEmpty()) out.insert(QStringLiteral("wigos_id"), identity.wigos_id);
    return out;
}

}  // namespace

QDateTime WallTimeOf(const DwellEntry& entry, std::int64_t link_ns) {
    const std::int64_t since_ns = link_ns - entry.wall_at_ns;
    return entry.wall.addMSecs(std::llround(static_cast<double>(since_ns) / 1e6));
}

QByteArray DwellJournalLine(const DwellEntry& entry) {
    const DwellTiming& t = entry.timing;
    QJsonArray gaps;
    for (const Discontinuity& gap : t.gaps) {
        QJsonObject object{
            {QStringLiteral("record"), static_cast<qint64>(gap.record)},
            {QStringLiteral("missing"), static_cast<qint64>(gap.missing)},
            {QStringLiteral("at"), utcText(WallTimeOf(entry, gap.at_ns))},
            {QStringLiteral("cause"), QString::fromLatin1(GapCauseName(gap.cause))},
        };
        // A count the bridge left open: how few and how many it can be.
        if (!gap.certain()) {
            object.insert(QStringLiteral("missing_min"), static_cast<qint64>(gap.missing_min));
            object.insert(QStringLiteral("missing_max"), static_cast<qint64>(gap.missing_max));
        }
        gaps.append(object);
    }
    QJsonObject line{
        {QStringLiteral("file"), QFileInfo(entry.data_file).fileName()},
        {QStringLiteral("beam"), entry.beam},
        {QStringLiteral("trigger_start"), utcText(WallTimeOf(entry, t.trigger_ns))},
        {QStringLiteral("trigger_write"),
         QJsonArray{utcText(WallTimeOf(entry, t.write.began_ns)),
                    utcText(WallTimeOf(entry, t.write.returned_ns))}},
        {QStringLiteral("trigger_from"),
         t.trigger_from_stream ? QStringLiteral("stream") : QStringLiteral("write")},
        {QStringLiteral("time_zone"), zoneName(entry.wall)},
        {QStringLiteral("utc_offset"), offsetText(entry.wall)},
        {QStringLiteral("end"), utcText(WallTimeOf(entry, t.end_ns))},
        {QStringLiteral("record_period_s"), t.record_period_ns / 1e9},
        {QStringLiteral("records_written"), static_cast<qint64>(t.records_written)},
        {QStringLiteral("records_implied"), static_cast<qint64>(t.records_implied)},
        {QStringLiteral("discontinuities"), gaps},
    };
    if (const QJsonObject radar = geometryObject(entry.geometry); !radar.isEmpty())
        line.insert(QStringLiteral("radar"), radar);
    if (!entry.identity.empty())
        line.insert(QStringLiteral("station"), identityObject(entry.identity));
    return QJsonDocument(line).toJson(QJsonDocument::Compact);
}

QString AppendDwellJournal(const DwellEntry& entry, const JournalSync& sync) {
    const QString dir = QFileInfo(entry.data_file).absolutePath();
    const QString path = dir + QLatin1Char('/') + QLatin1String(kDwellJournalName);
    const QByteArray name = QFile::encodeName(path);
    const bool existed = ::access(name.constData(), F_OK) == 0;
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    const QString failure = writeAll(fd, DwellJournalLine(entry) + '\n', sync.file);
    ::close(fd);
    if (!existed) sync.directory ? sync.directory(dir) : station::SyncDirectory(dir);
    return failure.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(path, failure);
}

}  // namespace zarv::acquisition
