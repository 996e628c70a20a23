#pragma once

#include <cstddef>
#include <vector>

namespace zarv::radar {

// A dwell's Doppler spectra for the winds: the dwell's records cut into
// consecutive stretches of `points`, counted from its first record (the last
// stretches when there are more than kMostStretches), one spectrum each.
struct StretchPlan {
    static constexpr std::size_t kMostStretches = 16;
    std::size_t first = 0;  // the first record used, counted from the dwell's first
    std::size_t stretches = 0;
};
// dwell_records: all the dwell's records; held: how many of its newest are
// still at hand.
StretchPlan PlanStretches(std::size_t dwell_records, std::size_t held, int points);

// Intermittent clutter (a bird, an aircraft) fills a few of a dwell's spectra
// with far more power than the others hold in the same bins. A spectrum in
// which any bin exceeds kClutterRatio times that bin's median over the dwell's
// spectra is left out; noise and a steady echo reach that in about one bin in
// 2^24, as a periodogram's bin is exponentially distributed about its mean.
inline constexpr double kClutterRatio = 24.0;
// Fewer spectra than this have no median to judge by: all are kept.
inline constexpr int kFewestToJudge = 3;

struct DwellSpectrum {
    std::vector<double> power;  // the mean of the spectra kept; empty when none is
    int stretches = 0;          // spectra looked at
    int kept = 0;               // spectra averaged
};

// spectra: one gate's spectra of one dwell, all of one length.
DwellSpectrum AverageWithoutIntermittentClutter(const std::vector<std::vector<double>>& spectra);

}  // namespace zarv::radar
