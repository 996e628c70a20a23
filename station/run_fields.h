#pragma once

#include <QString>
#include <QtGlobal>

namespace zarv::station {

// How a run is going, for the status line; refreshed ten times a second.
struct RunFields {
    int beam = 0;
    double dwell_s = 0;         // time into the dwell
    double dwell_length_s = 0;  // dwell_time
    double run_s = 0;           // since Start
    QString file_path;          // the data file being written
    double records_per_s = 0;
    double megabytes_per_s = 0;
    qint64 free_bytes = -1;  // on the data directory's file system; -1: unknown
    double hours_left = -1;  // at the current rate; -1: nothing is being written
    QString disk_warning;    // "less than a day of recording left", or empty
    int disk_low = 0;        // 0 enough, 1 less than a day, 2 less than an hour
    QString summary;         // after the run: what it recorded
};

}  // namespace zarv::station
