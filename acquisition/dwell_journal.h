#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

#include "dwell_timeline.h"
#include "station/radar_geometry.h"
#include "station/station_identity.h"

namespace zarv::acquisition {

// The dwell journal: beside the data files of an hour, one JSON line per dwell
// in dwells.jsonl, saying when the trigger started (UTC, to the millisecond,
// with the station's time zone), when reading ended, how many records the file
// got and the time implies, and each gap: the file's record after it, the
// records missing and the true time of that record, and the radar's geometry
// as config.txt gave it. The data files stay as
// they are; readers place records in time from here.
inline constexpr char kDwellJournalName[] = "dwells.jsonl";

struct DwellEntry {
    QString data_file;  // full path
    int beam = 0;
    QDateTime wall;               // the station's clock at wall_at_ns
    std::int64_t wall_at_ns = 0;  // on the link's clock, as the timing
    DwellTiming timing;
    station::RadarGeometry geometry;    // its keys that config.txt set, under "radar"
    station::StationIdentity identity;  // under "station", when config.txt names it
};

// The wall-clock time of an instant of the dwell on the link's clock.
QDateTime WallTimeOf(const DwellEntry& entry, std::int64_t steady_ns);
// One line, without its line end.
QByteArray DwellJournalLine(const DwellEntry& entry);
// How a journal line reaches the disk: the file's data (fdatasync unless
// given) and, for a journal just made, its directory entry (SyncDirectory
// unless given). A test sees every sync and makes one fail.
struct JournalSync {
    std::function<int(int fd)> file;
    std::function<void(const QString& dir)> directory;
};

// Appends the line to the journal in the data file's directory and syncs it;
// why it could not, or empty.
QString AppendDwellJournal(const DwellEntry& entry, const JournalSync& sync = {});

}  // namespace zarv::acquisition
