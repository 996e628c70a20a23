#pragma once

#include <QString>

#include <cstdint>

namespace zarv::station {

// Priority of the whole process: 1 idle, 2 normal, 3 high, 4 real-time, any other
// code no change. Mapped onto nice values; a raise the system refuses is silent.
void SetProcessPriority(std::uint8_t code);

// Gives the calling thread a real-time round-robin priority above every ordinary
// thread, so that a busy machine does not keep it from the CPU for long; where
// the system refuses, the thread keeps its priority, silently.
void RaiseThreadToRealTime();

// Why the stream reader will not get its real-time priority here (neither
// CAP_SYS_NICE nor an RLIMIT_RTPRIO that allows it, as an unprivileged user or
// a unit without them has), or empty when it will.
QString RealTimeShortfall();

}  // namespace zarv::station
