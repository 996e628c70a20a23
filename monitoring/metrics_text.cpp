#include "metrics_text.h"

#include <QString>
#include <QSysInfo>

namespace zarv::monitoring {

namespace {
class Exposition {
  public:
    // One metric family: its help, its type, then its samples.
    void family(const char* name, const char* type, const char* help) {
        name_ = name;
        text_ += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                     .arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
    }
    void sample(double value, const QString& labels = {}) {
        text_ += QLatin1String(name_) + (labels.isEmpty() ? QString() : '{' + labels + '}') +
                 QLatin1Char(' ') + QString::number(value, 'g', 17) + QLatin1Char('\n');
    }
    QByteArray bytes() const { return text_.toUtf8(); }

  private:
    const char* name_ = "";
    QString text_;
};

QString LabelValue(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return '"' + escaped + '"';
}

double Seconds(const QDateTime& t) {
    return t.isValid() ? static_cast<double>(t.toMSecsSinceEpoch()) / 1000 : 0;
}

QString Beam(int beam) {
    return QStringLiteral("beam=\"%1\"").arg(beam);
}
}  // namespace

QByteArray MetricsText(const StationState& s) {
    Exposition e;
    e.family("zarv_build_info", "gauge", "The station's version; always 1.");
    e.sample(1, QStringLiteral("version=") + LabelValue(s.version));
    e.family("zarv_station_info", "gauge",
             "Which station this is: config.txt's station_name and wigos_id, and the host; "
             "always 1.");
    e.sample(1, QStringLiteral("station_name=%1,wigos_id=%2,host=%3")
                    .arg(LabelValue(s.station_name), LabelValue(s.wigos_id),
                         LabelValue(QSysInfo::machineHostName())));
    e.family("zarv_records_written_total", "counter", "Records written to data files, by beam.");
    for (int beam = 1; beam <= 3; ++beam)
        e.sample(static_cast<double>(s.recordsWritten(beam)), Beam(beam));
    e.family("zarv_records_missing_total", "counter",
             "Records a dwell's length implies that no data file holds, by beam.");
    for (int beam = 1; beam <= 3; ++beam)
        e.sample(static_cast<double>(s.records_missing[beam - 1]), Beam(beam));
    e.family("zarv_dwells_total", "counter", "Dwells recorded.");
    e.sample(s.dwells);
    e.family("zarv_framing_errors_total", "counter", "Framing errors in the sample stream.");
    e.sample(s.framing_errors);
    e.family("zarv_lost_bytes_total", "counter", "Stream bytes the station could not record.");
    e.sample(static_cast<double>(s.bytes_lost));
    e.family("zarv_queue_lag_chunks", "gauge", "Stream chunks read and not yet recorded.");
    e.sample(s.queue_lag);
    e.family("zarv_link_up", "gauge", "1 while the controller's link is open.");
    e.sample(s.link_up ? 1 : 0);
    e.family("zarv_trigger_on", "gauge", "1 while the controller's trigger runs.");
    e.sample(s.trigger_on ? 1 : 0);
    e.family("zarv_recording", "gauge", "1 while a run is under way.");
    e.sample(s.recording() ? 1 : 0);
    e.family("zarv_recovering", "gauge", "1 while the run recovers from a fault.");
    e.sample(s.recovering() ? 1 : 0);
    if (s.free_bytes >= 0) {
        e.family("zarv_data_free_bytes", "gauge", "Free bytes on the data file system.");
        e.sample(static_cast<double>(s.free_bytes));
    }
    if (s.hours_left >= 0) {
        e.family("zarv_data_remaining_seconds", "gauge",
                 "Recording time the data file system holds at the current rate.");
        e.sample(s.hours_left * 3600);
    }
    e.family("zarv_data_low_space", "gauge",
             "1 with less than a day of recording left on the data disk, 2 with less than an "
             "hour; else 0.");
    e.sample(s.disk_low);
    e.family("zarv_last_record_timestamp_seconds", "gauge",
             "When a record was last written (Unix time); 0 before the first.");
    e.sample(Seconds(s.last_record));
    e.family("zarv_state_updated_timestamp_seconds", "gauge",
             "When the station last updated this state (Unix time).");
    e.sample(Seconds(s.updated));
    return e.bytes();
}

}  // namespace zarv::monitoring
