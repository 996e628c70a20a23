#include "metrics_text.h"

#include <QString>
#include <QSysInfo>
#include <cmath>

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

void ProcessFamilies(Exposition& e, const ProcessFigures& p) {
    const auto family = [&](const char* name, const char* type, const char* help, double value) {
        if (value < 0) return;
        e.family(name, type, help);
        e.sample(value);
    };
    family("process_start_time_seconds", "gauge", "When the process started (Unix time).",
           p.start_time_s);
    family("process_cpu_seconds_total", "counter", "User and system CPU time spent.", p.cpu_s);
    family("process_resident_memory_bytes", "gauge", "Resident memory size.", p.resident_bytes);
    family("process_virtual_memory_bytes", "gauge", "Virtual memory size.", p.virtual_bytes);
    family("process_open_fds", "gauge", "Open file descriptors.", p.open_fds);
    family("process_max_fds", "gauge", "The most open file descriptors allowed.", p.max_fds);
}

// Is the radar seeing anything: per beam, from its last dwell placed.
void EchoFamilies(Exposition& e, const StationState& s) {
    e.family("zarv_echo_gates_trusted_ratio", "gauge",
             "Of the beam's gates in its last dwell, the fraction whose echo is above the SNR "
             "threshold.");
    for (std::size_t i = 0; i < 3; ++i)
        if (s.echo_gates[i] > 0)
            e.sample(static_cast<double>(s.echo_trusted[i]) / s.echo_gates[i],
                     Beam(static_cast<int>(i + 1)));
    e.family("zarv_echo_snr_median_ratio", "gauge",
             "The median signal-to-noise power ratio of the beam's trusted gates in its last "
             "dwell (10 log10 of it in dB); absent when none is trusted.");
    for (std::size_t i = 0; i < 3; ++i)
        if (s.echo_trusted[i] > 0)
            e.sample(std::pow(10.0, s.echo_snr_db[i] / 10), Beam(static_cast<int>(i + 1)));
}
}  // namespace

QByteArray MetricsText(const StationState& s) {
    return MetricsText(s, ReadProcessFigures());
}

QByteArray MetricsText(const StationState& s, const ProcessFigures& process) {
    Exposition e;
    e.family("zarv_build_info", "gauge", "The station's version; always 1.");
    e.sample(1, QStringLiteral("version=") + LabelValue(s.version));
    e.family("zarv_station_info", "gauge",
             "Which station this is: config.txt's station_name and wigos_id, the version and "
             "the host; always 1.");
    e.sample(1, QStringLiteral("station_name=%1,wigos_id=%2,version=%3,host=%4")
                    .arg(LabelValue(s.station_name), LabelValue(s.wigos_id), LabelValue(s.version),
                         LabelValue(QSysInfo::machineHostName())));
    ProcessFamilies(e, process);
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
    e.family("zarv_queue_lag_seconds", "gauge",
             "How long the oldest stream chunk read and not yet recorded has waited.");
    e.sample(s.queue_lag_s);
    e.family("zarv_queue_fill_ratio", "gauge",
             "The fraction of the reader's queue that holds chunks not yet recorded.");
    e.sample(s.queue_fill);
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
    e.family("zarv_data_space_state", "gauge",
             "How long the data disk lasts at the current rate: 1 for the state it is in "
             "(ample, under_a_day, under_an_hour), 0 for the others.");
    const char* const states[] = {"ample", "under_a_day", "under_an_hour"};
    for (int i = 0; i < 3; ++i)
        e.sample(s.disk_low == i ? 1 : 0,
                 QStringLiteral("state=\"%1\"").arg(QLatin1String(states[i])));
    EchoFamilies(e, s);
    e.family("zarv_last_record_timestamp_seconds", "gauge",
             "When a record was last written (Unix time); 0 before the first.");
    e.sample(Seconds(s.last_record));
    e.family("zarv_state_updated_timestamp_seconds", "gauge",
             "When the station last updated this state (Unix time).");
    e.sample(Seconds(s.updated));
    return e.bytes();
}

}  // namespace zarv::monitoring
