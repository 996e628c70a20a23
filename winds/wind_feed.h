#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <functional>
#include <memory>

#include "radar/dwell_moments.h"
#include "radar/dwell_spectrum.h"
#include "radar/radar_feed.h"
#include "wind_profiler.h"

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::winds {

// The live winds: each dwell is taken as the run places it (takePlaced, from
// the feed's placed listener), its records all in and the next dwell not begun,
// so that no dwell is missed however fast the controller or slow the GUI
// thread; once a second the GUI thread also asks whether a dwell has ended (a
// beam other than the recording one holds a dwell not taken yet). Each dwell gives one
// radial-velocity profile for the profiler, as zarv-winds makes it. Nothing here runs on the
// processing thread.
class WindFeed {
  public:
    static constexpr int kPoints = radar::DwellMoments::kPoints;
    using Clock = std::function<QDateTime()>;

    WindFeed(const radar::RadarFeed& feed, const station::TRunConfig& settings,
             Clock clock = &QDateTime::currentDateTimeUtc);

    // What the feed's placed listener calls: every dwell not taken yet, none
    // recording. True when a period closed.
    bool takePlaced();

    // True when a period closed and a new profile is there.
    bool poll();
    // The run has ended: its last dwell counts, and the open period closes.
    void finish();
    // Why there are no winds (config.txt lacks the geometry), or empty.
    const QString& whyNone() const { return why_none_; }
    const WindProfiler* profiler() const { return profiler_.get(); }

  private:
    // Takes the ended dwells; true when a period closed.
    bool takeAllBut(int recording);
    void takeEndedDwells(int recording);
    void takeDwell(int beam);
    QDateTime stampOf(int beam, const radar::StretchPlan& plan, double period_s) const;
    void followSettings();

    const radar::RadarFeed& feed_;
    const station::TRunConfig& settings_;
    Clock clock_;
    radar::DwellMoments moments_{feed_};
    std::unique_ptr<WindProfiler> profiler_;
    QString why_none_;
    std::array<std::uint64_t, 3> taken_{};  // per beam, the serial of its dwell taken last
};

}  // namespace zarv::winds
