#pragma once

#include <cstdint>

namespace zarv::monitoring {

// The usual process_* figures Prometheus clients give, read from /proc when
// asked: a restart shows as a new start time. -1 where unknown.
struct ProcessFigures {
    double start_time_s = -1;  // Unix time
    double cpu_s = -1;         // user and system
    double resident_bytes = -1;
    double virtual_bytes = -1;
    double open_fds = -1;
    double max_fds = -1;
};

ProcessFigures ReadProcessFigures();

}  // namespace zarv::monitoring
