#include "run_settings.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "station/run_config.h"

namespace zarv::acquisition {

using namespace zarv::device_io;
using namespace zarv::station;

std::int64_t Nearest(double x) {
    // nearbyint follows the default rounding mode: to nearest, ties to even.
    const double r = std::nearbyint(x);
    if (!(r > -9.2e18 && r < 9.2e18)) return 0;
    return static_cast<std::int64_t>(r);
}

namespace {
int clampToInt(double v) {
    if (!(v > 0)) return 0;  // NaN too
    return v >= INT_MAX ? INT_MAX : static_cast<int>(v);
}
}  // namespace

int ProgressTenths(double seconds) {
    return clampToInt(static_cast<double>(Nearest(seconds * 10)));
}

int DwellTimerMs(double seconds) {
    return clampToInt(std::ceil(seconds * 1000));
}

std::uint32_t TuningWord(std::int32_t hertz) {
    return static_cast<std::uint32_t>(Nearest(hertz * 4294967296.0 / kSynthesizerClockHz));
}

std::uint16_t DacWord(std::int32_t setting) {
    return static_cast<std::uint16_t>(Nearest(setting * 0.5));
}

std::int64_t NanosecondsToCounts(std::int32_t ns) {
    return Nearest(kTimingClockHz * 1e-9 * ns);
}

SweepParameters SweepFromConfig(TRunConfig& c) {
    if (c.start_time < kStartTimeFloorNs) c.start_time = kStartTimeFloorNs;
    SweepParameters s;
    s.pulse_period = static_cast<std::uint32_t>(Nearest(kTimingClockHz * 1e-6 * c.ipp));
    s.pulse_length = static_cast<std::uint16_t>(NanosecondsToCounts(c.pulse_length));
    s.sample_start = static_cast<std::uint32_t>(Nearest(c.start_time * 0.06));
    s.resolution = static_cast<std::uint16_t>(NanosecondsToCounts(c.resolution));
    s.gates = static_cast<std::uint8_t>(c.gates);
    s.test_gate_delay = static_cast<std::uint16_t>(NanosecondsToCounts(c.test_gate_delay));
    s.test_gate_length = static_cast<std::uint16_t>(NanosecondsToCounts(c.test_gate_length));
    s.lo_gate_length = static_cast<std::uint16_t>(NanosecondsToCounts(c.lo_gate_length));
    s.tx_enable = static_cast<std::uint8_t>(c.tx_enable);
    s.dac_word0 = DacWord(c.dac_channel0);
    s.dac_word1 = DacWord(c.dac_channel1);
    s.audio_enable = static_cast<std::uint8_t>(c.audio_enable);
    return s;
}

QString RefuseReason(const TRunConfig& c) {
    if (c.gates < 0 || c.gates > 36)
        return QStringLiteral("gates must be 0 to 36 (a frame holds 36)");
    if (c.ipp <= 0) return QStringLiteral("ipp must be above 0");
    if (std::int64_t{c.ipp} * c.integrations > std::numeric_limits<std::int32_t>::max())
        return QStringLiteral("integrations x ipp must fit 32 bits");
    if (!std::isfinite(c.dwell_time) || c.dwell_time <= 0)
        return QStringLiteral("dwell_time must be a positive number of seconds");
    const double record_s = static_cast<double>(c.ipp) * std::max(1, c.integrations) * 1e-6;
    if (c.dwell_time < record_s)
        return QStringLiteral(
                   "dwell_time must hold at least one record (ipp x integrations = "
                   "%1 s)")
            .arg(FormatGeneral(record_s));
    if (c.dwell_time > kLongestDwellS)
        return QStringLiteral("dwell_time must be at most %1 s (what the station's clock counts)")
            .arg(FormatGeneral(kLongestDwellS));
    return QString();
}

}  // namespace zarv::acquisition
