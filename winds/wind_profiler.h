#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <array>
#include <deque>
#include <vector>

#include "wind_solve.h"

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::winds {

// How the winds are made: the beams' directions and the consensus settings,
// from config.txt; the defaults are the README's.
struct WindSettings {
    std::array<double, 3> zenith_deg{};
    std::array<double, 3> azimuth_deg{};
    double period_s = 1800;
    double window_m_s = 4;
    double min_fraction = 0.5;
};
inline constexpr double kDefaultConsensusPeriodS = 1800;
inline constexpr double kDefaultConsensusWindow = 4;
inline constexpr double kDefaultConsensusMinFraction = 0.5;

// The settings config.txt gives, or why it gives no winds (empty when it does).
QString WindSettingsOf(const station::TRunConfig& config, WindSettings& settings);

// One consensus period's wind on the heights of the most nearly vertical beam.
struct WindProfile {
    QDateTime middle;  // UTC, the middle of the period
    std::vector<double> heights_m;
    std::vector<Wind> winds;
    std::array<std::vector<int>, 3> counts;  // per beam, at each height
    std::vector<int> flags;                  // a WindFlag per height
};

// Consensus averaging and the least-squares wind, fed one radial-velocity
// profile per dwell; a profile closes when a dwell comes from the next period.
class WindProfiler {
  public:
    explicit WindProfiler(WindSettings settings, std::size_t kept = 48);

    // beam 1..3; radial velocities per gate (NaN: not trusted), at their ranges.
    void addDwell(const QDateTime& utc, int beam, const std::vector<double>& radial,
                  const std::vector<double>& ranges_m);
    // Closes the open period at once (a run that ends); nothing when it is empty.
    void closePeriod();
    const std::deque<WindProfile>& profiles() const { return profiles_; }
    const WindSettings& settings() const { return settings_; }

  private:
    struct Dwell {
        int beam;
        std::vector<double> radial;
        std::vector<double> ranges;
    };
    qint64 periodOf(const QDateTime& utc) const;
    WindProfile profileOf(qint64 period) const;

    WindSettings settings_;
    std::size_t kept_;
    qint64 open_period_ = -1;
    std::vector<Dwell> dwells_;
    std::deque<WindProfile> profiles_;
};

}  // namespace zarv::winds
