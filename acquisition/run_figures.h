#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::acquisition {

using station::TRunConfig;

// A record line at its longest: every value "-2048 ", then " \r\n".
int RecordBytesAtMost(int gates);
// What the settings write to the data files per second, at most.
double ConfiguredBytesPerSecond(const TRunConfig& config);
// The warning to give at Start when the free space lasts less than an hour at
// that rate; empty when it lasts longer or nothing is known.
QString FreeSpaceWarning(const QString& data_dir, qint64 free_bytes, double bytes_per_second);
// h:mm:ss
QString FormatDuration(double seconds);

// What a run recorded, for the line shown when it ends.
struct RunTotals {
    int dwells = 0;
    std::int64_t records = 0;
    std::int64_t bytes = 0;
    int framing_errors = 0;
    std::int64_t records_lost = 0;
    double seconds = 0;
};
QString RunSummary(const RunTotals& totals);

struct DwellTiming;
// "Dwell beam 2: 83,335 of 100,000 records; 16,665 missing after record 23,405
// (1.7 s)", one clause per gap.
QString DwellTimingLine(int beam, const DwellTiming& timing);
// One line per dwell for the daily log and the journal: "Dwell beam 2 recorded
// in data/.../x_beam2.txt: 100,000 of 100,000 records".
QString DwellFileLine(int beam, const QString& file_path, const DwellTiming& timing);

}  // namespace zarv::acquisition
