#pragma once

#include <vector>

namespace zarv::winds {

struct WindProfile;

// What each wind (and each beam's share of it) may be, as the products carry it.
enum class WindFlag : int {
    Good = 0,
    BelowThreshold = 1,          // no dwell's echo was trusted at that height
    ConsensusFailed = 2,         // the dwells' velocities did not agree enough
    ContaminationSuspected = 3,  // a wind that does not fit its neighbours
    NotDetermined = 4,           // a beam without dwells or gates there
};
inline constexpr const char* kWindFlagMeanings =
    "good below_threshold consensus_failed contamination_suspected not_determined";

// One beam at one height: why it gave no velocity, or Good.
WindFlag BeamFlag(bool reaches, int dwells, int trusted_votes, bool has_velocity);
// The wind's flag from its beams' when it has no value: the first cause found of
// NotDetermined, BelowThreshold and ConsensusFailed, in that order.
WindFlag WindlessFlag(const std::vector<WindFlag>& beams);

// Continuity, in the manner of Weber and Wuertz: a wind whose u or v lies
// further from the median of its valid neighbours (two heights up and down in
// its period, and the same heights in the period before, when that one is the
// period just before) than kContinuityLimit plus kContinuitySpreads times their
// own spread (1.4826 times their median absolute deviation) is flagged
// ContaminationSuspected; at least kFewestNeighbours are needed to judge.
inline constexpr double kContinuityLimit = 2.0;  // m/s
inline constexpr double kContinuitySpreads = 3.0;
inline constexpr int kContinuityHeights = 2;
inline constexpr int kFewestNeighbours = 3;
void FlagDiscontinuities(WindProfile& profile, const WindProfile* before);

}  // namespace zarv::winds
