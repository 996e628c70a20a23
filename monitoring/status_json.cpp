#include "status_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zarv::monitoring {

namespace {
QJsonArray PerBeam(const std::array<std::int64_t, 3>& counts) {
    return {static_cast<double>(counts[0]), static_cast<double>(counts[1]),
            static_cast<double>(counts[2])};
}

QJsonArray Written(const StationState& s) {
    return {static_cast<double>(s.recordsWritten(1)), static_cast<double>(s.recordsWritten(2)),
            static_cast<double>(s.recordsWritten(3))};
}

QJsonValue Time(const QDateTime& t) {
    return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonValue Known(double value) {
    return value >= 0 ? QJsonValue(value) : QJsonValue();
}
}  // namespace

QByteArray StatusJson(const StationState& s) {
    const QJsonObject dwell{{"beam", s.beam},
                            {"seconds", s.dwell_s},
                            {"length_seconds", s.dwell_length_s},
                            {"file", s.file_path},
                            {"records", static_cast<double>(s.dwell_records)}};
    const QJsonObject totals{{"dwells", s.dwells},
                             {"records_written", Written(s)},
                             {"records_missing", PerBeam(s.records_missing)},
                             {"framing_errors", s.framing_errors},
                             {"lost_bytes", static_cast<double>(s.bytes_lost)}};
    const QJsonObject disk{
        {"free_bytes", Known(static_cast<double>(s.free_bytes))},
        {"hours_left", Known(s.hours_left)},
        {"warning", s.disk_warning},
    };
    const QJsonObject station{
        {"name", s.station_name.isEmpty() ? QJsonValue() : QJsonValue(s.station_name)},
        {"wigos_id", s.wigos_id.isEmpty() ? QJsonValue() : QJsonValue(s.wigos_id)},
    };
    const QJsonObject root{
        {"version", s.version},
        {"station", station},
        {"phase", s.phase},
        {"recording", s.recording()},
        {"recovering", s.recovering()},
        {"link_up", s.link_up},
        {"trigger_on", s.trigger_on},
        {"run_seconds", s.run_s},
        {"dwell", dwell},
        {"records_per_second", s.records_per_s},
        {"megabytes_per_second", s.megabytes_per_s},
        {"queue_lag_chunks", s.queue_lag},
        {"queue_lag_seconds", s.queue_lag_s},
        {"disk", disk},
        {"totals", totals},
        {"status_text", s.status_text},
        {"loss_text", s.loss_text},
        {"last_run", s.last_summary},
        {"last_record", Time(s.last_record)},
        {"last_errors", QJsonArray::fromStringList(s.last_errors)},
        {"last_log_lines", QJsonArray::fromStringList(s.last_log_lines)},
        {"updated", Time(s.updated)},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

}  // namespace zarv::monitoring
