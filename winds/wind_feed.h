#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

#include "radar/doppler_spectrum.h"
#include "radar/dwell_spectrum.h"
#include "radar/radar_feed.h"
#include "wind_profiler.h"

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::winds {

// The live winds: once a second the GUI thread asks whether a dwell has ended
// (the feed's beam has changed); the ended dwell's newest records give one
// radial-velocity profile, as the radar view computes it, for the profiler.
// Nothing here runs on the processing thread.
class WindFeed {
  public:
    static constexpr int kPoints = 64;
    using Clock = std::function<QDateTime()>;

    WindFeed(const radar::RadarFeed& feed, const station::TRunConfig& settings,
             Clock clock = &QDateTime::currentDateTimeUtc);

    // True when a period closed and a new profile is there.
    bool poll();
    // The run has ended: its last dwell counts, and the open period closes.
    void finish();
    // Why there are no winds (config.txt lacks the geometry), or empty.
    const QString& whyNone() const { return why_none_; }
    const WindProfiler* profiler() const { return profiler_.get(); }

  private:
    void takeDwell(int beam);
    QDateTime stampOf(int beam, const radar::StretchPlan& plan, double period_s) const;
    void followSettings();

    const radar::RadarFeed& feed_;
    const station::TRunConfig& settings_;
    Clock clock_;
    radar::DopplerSpectrum spectrum_{kPoints};
    std::vector<std::vector<double>> spectra_;  // one gate's, reused
    radar::RecordWindow window_;
    std::unique_ptr<WindProfiler> profiler_;
    QString why_none_;
    int beam_ = 0;  // the beam recording at the last poll
    std::uint64_t fed_ = 0;
    std::uint64_t fed_at_beam_start_ = 0;
};

}  // namespace zarv::winds
