#pragma once

#include <QString>
#include <cstdint>

#include "device_IO/controller_commands.h"

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::acquisition {

using device_io::SweepParameters;
using station::TRunConfig;

// Conversions of the settings into controller units. Every one rounds to the
// nearest integer, halves to the even neighbour.
std::int64_t Nearest(double x);

constexpr double kTimingClockHz = 60000000.0;
constexpr double kSynthesizerClockHz = 400000000.0;
constexpr std::int32_t kStartTimeFloorNs = 2000;

std::uint32_t TuningWord(std::int32_t hertz);
std::uint16_t DacWord(std::int32_t setting);
std::int64_t NanosecondsToCounts(std::int32_t ns);

// Tenths of a second, as the dwell's progress bar counts them: 0 to INT_MAX.
int ProgressTenths(double seconds);
// The dwell's length in whole milliseconds, rounded up: 0 to INT_MAX.
int DwellTimerMs(double seconds);

// Raises start_time to its floor in the configuration, then computes the twelve
// sweep values.
SweepParameters SweepFromConfig(TRunConfig& config);

// The longest dwell the station's clock counts in nanoseconds (some 285 years).
constexpr double kLongestDwellS = 9e9;

// Why these settings cannot run, or empty when they can.
QString RefuseReason(const TRunConfig& config);

}  // namespace zarv::acquisition
