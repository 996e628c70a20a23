#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace zarv::monitoring {

// What the station shows to those watching it from afar: a copy taken on the
// GUI thread and read by the status server's thread.
struct StationState {
    // Where the run stands: "idle", "preparing", "relay", "dwell", "draining",
    // "recovering".
    QString phase = QStringLiteral("idle");
    bool link_up = false;
    bool trigger_on = false;

    // The current dwell, as the status line shows it.
    int beam = 0;
    double dwell_s = 0;
    double dwell_length_s = 0;
    double run_s = 0;
    QString file_path;
    double records_per_s = 0;
    double megabytes_per_s = 0;
    qint64 free_bytes = -1;  // on the data file system; -1: unknown
    double hours_left = -1;  // at the current rate; -1: nothing is being written
    QString disk_warning;    // "less than a day of recording left", or empty
    int disk_low = 0;        // 0 enough, 1 less than a day, 2 less than an hour
    QString status_text;
    QString loss_text;
    QString last_summary;  // of the last run that ended

    // Since the program started; index 0 is beam 1.
    int dwells = 0;
    std::array<std::int64_t, 3> records_written{};  // dwells closed
    std::int64_t dwell_records = 0;                 // the current dwell's, so far
    std::array<std::int64_t, 3> records_missing{};
    int framing_errors = 0;
    std::int64_t bytes_lost = 0;
    int queue_lag = 0;       // chunks read and not yet recorded
    double queue_lag_s = 0;  // how long the oldest of them has waited
    double queue_fill = 0;   // of the queue's capacity
    QDateTime last_record;

    // Each beam's last dwell placed: its gates, those with a trusted echo, and
    // their median SNR in dB; echo_gates 0 before the first.
    std::array<int, 3> echo_gates{};
    std::array<int, 3> echo_trusted{};
    std::array<double, 3> echo_snr_db{};

    QByteArray picture_png;  // the radar view's range-time picture, while it is shown
    QDateTime picture_at;
    QStringList last_log_lines;
    QStringList last_errors;
    QDateTime updated;
    QString version;
    QString station_name;  // config.txt's station_name and wigos_id, when given
    QString wigos_id;

    // Written for a beam: its closed dwells and, for the current beam, what its
    // dwell holds so far.
    std::int64_t recordsWritten(int of_beam) const {
        return records_written[of_beam - 1] + (of_beam == beam ? dwell_records : 0);
    }
    bool recording() const { return phase != QLatin1String("idle"); }
    bool recovering() const { return phase == QLatin1String("recovering"); }
};

}  // namespace zarv::monitoring
