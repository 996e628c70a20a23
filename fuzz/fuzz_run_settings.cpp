// Arbitrary run settings through the checks that refuse them and the conversions
// into controller units that follow when they pass: nothing may overflow, and
// what passes must give a record period and sweep the controller can take.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "acquisition/run_settings.h"
#include "station/run_config.h"

using namespace zarv::acquisition;
using namespace zarv::station;

namespace {
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    template <typename T>
    T next() {
        T value{};
        const std::size_t n = size_ < sizeof value ? size_ : sizeof value;
        std::memcpy(&value, data_, n);
        data_ += n, size_ -= n;
        return value;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    TRunConfig c;
    for (std::int32_t TRunConfig::*field :
         {&TRunConfig::tx_enable, &TRunConfig::integrations, &TRunConfig::relay_swith_time,
          &TRunConfig::ipp, &TRunConfig::pulse_length, &TRunConfig::lo_gate_length,
          &TRunConfig::start_time, &TRunConfig::resolution, &TRunConfig::test_gate_length,
          &TRunConfig::test_gate_delay, &TRunConfig::gates, &TRunConfig::audio_enable,
          &TRunConfig::dac_channel0, &TRunConfig::dac_channel1, &TRunConfig::reference_frequency,
          &TRunConfig::IP_frequency, &TRunConfig::QP_frequency, &TRunConfig::test_frequency})
        c.*field = in.next<std::int32_t>();
    c.dwell_time = in.next<double>();
    // What the configuration reader does to integrations.
    if (c.integrations < 1) c.integrations = 1;

    (void)FormatGeneral(c.dwell_time);
    for (std::int32_t hz :
         {c.reference_frequency, c.IP_frequency, c.QP_frequency, c.test_frequency})
        (void)TuningWord(hz);
    (void)DacWord(c.dac_channel0);
    (void)DacWord(c.dac_channel1);
    (void)ProgressTenths(c.dwell_time);
    (void)DwellTimerMs(c.dwell_time);
    if (!RefuseReason(c).isEmpty()) return 0;

    const SweepParameters sweep = SweepFromConfig(c);
    if (sweep.gates != c.gates || c.start_time < kStartTimeFloorNs) std::abort();
    const std::int64_t record_period = std::int64_t{c.ipp} * c.integrations;
    if (record_period <= 0 || record_period > INT32_MAX) std::abort();
    if (ProgressTenths(c.dwell_time) < 0 || DwellTimerMs(c.dwell_time) <= 0) std::abort();
    return 0;
}
