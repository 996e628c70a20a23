#include "status_page.h"

namespace zarv::monitoring {

namespace {
QString Row(const QString& what, const QString& value) {
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(what, value.toHtmlEscaped());
}

QString Colour(const QString& glance) {
    if (glance == QLatin1String("recording")) return QStringLiteral("#1d7a2e");
    if (glance == QLatin1String("recovering")) return QStringLiteral("#b36b00");
    return QStringLiteral("#a31515");
}

QString Disk(const StationState& s) {
    if (s.free_bytes < 0) return QStringLiteral("unknown");
    QString text =
        QStringLiteral("%1 GB free").arg(static_cast<double>(s.free_bytes) / 1e9, 0, 'f', 1);
    if (s.hours_left >= 0)
        text += QStringLiteral(", %1 h of recording").arg(s.hours_left, 0, 'f', 1);
    if (!s.disk_warning.isEmpty()) text += QStringLiteral(": ") + s.disk_warning;
    return text;
}
QString Picture(const StationState& s) {
    if (s.picture_png.isEmpty()) return QString();
    return QStringLiteral(
               "<h2>Range-time intensity</h2>\n<img src=\"rti.png?%1\" "
               "alt=\"The radar view's range-time intensity, as of %2 UTC\" "
               "style=\"width:100%;max-width:60em;image-rendering:pixelated\">\n")
        .arg(s.picture_at.toMSecsSinceEpoch())
        .arg(s.picture_at.toUTC().toString(QStringLiteral("hh:mm:ss")));
}

// "Zarv", or "Zarv Andøya" when config.txt names the station.
QString Heading(const StationState& s) {
    const QString name = s.station_name.isEmpty() ? s.wigos_id : s.station_name;
    return name.isEmpty() ? QStringLiteral("Zarv") : QStringLiteral("Zarv ") + name.toHtmlEscaped();
}
}  // namespace

QString Glance(const StationState& s) {
    if (s.recovering()) return QStringLiteral("recovering");
    return s.recording() ? QStringLiteral("recording") : QStringLiteral("stopped");
}

QByteArray StatusPage(const StationState& s) {
    const QString glance = Glance(s);
    QString rows;
    rows += Row(QStringLiteral("Beam"), s.beam > 0 ? QString::number(s.beam) : QStringLiteral("-"));
    rows +=
        Row(QStringLiteral("Dwell"),
            QStringLiteral("%1 / %2 s").arg(s.dwell_s, 0, 'f', 1).arg(s.dwell_length_s, 0, 'f', 1));
    rows += Row(QStringLiteral("Data file"), s.file_path);
    rows += Row(QStringLiteral("Rate"), QStringLiteral("%1 rec/s, %2 MB/s")
                                            .arg(s.records_per_s, 0, 'f', 0)
                                            .arg(s.megabytes_per_s, 0, 'f', 2));
    rows += Row(QStringLiteral("Disk"), Disk(s));
    rows += Row(QStringLiteral("Dwells"), QString::number(s.dwells));
    std::int64_t written = 0;
    std::int64_t missing = 0;
    for (int i = 0; i < 3; ++i) {
        written += s.recordsWritten(i + 1);
        missing += s.records_missing[i];
    }
    rows += Row(QStringLiteral("Records"),
                QStringLiteral("%1 written, %2 missing").arg(written).arg(missing));
    rows += Row(QStringLiteral("Framing errors"), QString::number(s.framing_errors));
    rows += Row(QStringLiteral("Status"), s.status_text);
    if (!s.loss_text.isEmpty()) rows += Row(QStringLiteral("Data lost"), s.loss_text);
    if (!s.last_summary.isEmpty()) rows += Row(QStringLiteral("Last run"), s.last_summary);
    const QString log = s.last_log_lines.join(QLatin1Char('\n')).toHtmlEscaped();
    const QString errors =
        s.last_errors.isEmpty()
            ? QString()
            : QStringLiteral("<h2>Last errors</h2><pre class=\"errors\">%1</pre>\n")
                  .arg(s.last_errors.join(QLatin1Char('\n')).toHtmlEscaped());
    const QString page =
        QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
            "<meta http-equiv=\"refresh\" content=\"5\">\n"
            "<title>%9: %1</title>\n<style>\n"
            "body{font-family:sans-serif;margin:1.5em;max-width:60em}\n"
            ".glance{color:#fff;background:%2;padding:.4em .8em;"
            "border-radius:.3em;display:inline-block;font-size:1.6em}\n"
            "th{text-align:left;padding-right:1.5em;font-weight:normal;"
            "color:#555}\n"
            "pre{background:#f4f4f4;padding:.6em;overflow-x:auto}\n"
            ".errors{color:#a31515}\n</style></head><body>\n"
            "<h1>%9 <span class=\"glance\" id=\"glance\">%1</span></h1>\n"
            "<table>\n%3</table>\n%8%4"
            "<h2>Log</h2><pre>%5</pre>\n"
            "<p><small>Zarv %6, updated %7 UTC. Also as "
            "<a href=\"status.json\">status.json</a> and "
            "<a href=\"metrics\">metrics</a>.</small></p>\n"
            "</body></html>\n")
            .arg(glance, Colour(glance), rows, errors, log, s.version.toHtmlEscaped(),
                 s.updated.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), Picture(s),
                 Heading(s));
    return page.toUtf8();
}

}  // namespace zarv::monitoring
