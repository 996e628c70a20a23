#pragma once

#include <QString>

#include "run_config.h"

namespace zarv::station {

class OperatorLog;

// The start directory, the run settings read from its config.txt, and the data
// directory's hour tree.
class StationConfig {
  public:
    explicit StationConfig(OperatorLog& log) : log_(log) {}

    QString start_dir;
    TRunConfig run_config;

    QString configPath() const { return start_dir + QStringLiteral("/config.txt"); }
    // Clears the log, reads every key into run_config echoing it with one time
    // stamp, then makes the hour directory. Throws on a missing file or a bad value,
    // leaving the keys before the failing one updated.
    void ReadConfig();
    // Makes the missing levels of the hour directory and returns the stem of a
    // data file for the current second.
    QString MakeDataFileStem();

  private:
    OperatorLog& log_;
};

}  // namespace zarv::station
