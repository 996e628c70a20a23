#include "run_figures.h"

#include <QLocale>

#include "dwell_timeline.h"

#include <cmath>

#include "station/run_config.h"

namespace zarv::acquisition {

int RecordBytesAtMost(int gates) {
    return 2 * gates * 6 + 3;
}

double ConfiguredBytesPerSecond(const TRunConfig& c) {
    const double record_period_us = static_cast<double>(c.ipp) * std::max(1, c.integrations);
    if (record_period_us <= 0) return 0;
    return 1e6 / record_period_us * RecordBytesAtMost(c.gates);
}

QString FreeSpaceWarning(const QString& data_dir, qint64 free_bytes, double bytes_per_second) {
    if (free_bytes < 0 || bytes_per_second <= 0) return QString();
    const double hours = static_cast<double>(free_bytes) / bytes_per_second / 3600;
    if (hours >= 1) return QString();
    return QStringLiteral("Low disk space: %1 MB free for %2 lasts about %3 min at up to %4 MB/s")
        .arg(static_cast<double>(free_bytes) / 1e6, 0, 'f', 1)
        .arg(data_dir)
        .arg(hours * 60, 0, 'f', 0)
        .arg(bytes_per_second / 1e6, 0, 'f', 2);
}

QString FormatDuration(double seconds) {
    const auto s = static_cast<std::int64_t>(std::max(0.0, std::floor(seconds)));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString RunSummary(const RunTotals& t) {
    return QStringLiteral(
               "Last run: %1 dwells, %2 records, %3 MB, %4 framing errors, %5 records lost, %6")
        .arg(t.dwells)
        .arg(t.records)
        .arg(static_cast<double>(t.bytes) / 1e6, 0, 'f', 1)
        .arg(t.framing_errors)
        .arg(t.records_lost)
        .arg(FormatDuration(t.seconds));
}

namespace {
QString grouped(std::int64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qint64>(n));
}

QString spanText(double seconds) {
    if (seconds >= 0.1) return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    if (seconds >= 0.001) return QStringLiteral("%1 ms").arg(seconds * 1000, 0, 'f', 0);
    return QStringLiteral("%1 ms").arg(seconds * 1000, 0, 'f', 2);
}
}  // namespace

QString DwellTimingLine(int beam, const DwellTiming& t) {
    QString line = QStringLiteral("Dwell beam %1: %2 of %3 records")
                       .arg(beam)
                       .arg(grouped(t.records_written), grouped(t.records_implied));
    for (const Discontinuity& gap : t.gaps) {
        line += QStringLiteral("; %1 missing after record %2 (%3)")
                    .arg(grouped(gap.missing), grouped(gap.record),
                         spanText(static_cast<double>(gap.missing) * t.record_period_ns / 1e9));
    }
    return line;
}

QString DwellFileLine(int beam, const QString& file_path, const DwellTiming& t) {
    return QStringLiteral("Dwell beam %1 recorded in %2: %3 of %4 records")
        .arg(beam)
        .arg(file_path, grouped(t.records_written), grouped(t.records_implied));
}

}  // namespace zarv::acquisition
