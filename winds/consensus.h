#pragma once

#include <vector>

namespace zarv::winds {

// What consensus averaging keeps of a period's radial velocities at one gate.
struct Consensus {
    // The kept set's median: a value inside the window that an aircraft there by
    // chance barely moves. NaN when too few agree.
    double value = 0;
    int count = 0;              // the largest set that fits inside the window
    double standard_error = 0;  // the kept set's spread over the root of its count
};

// The largest set of the finite values that fits inside a window `window` wide,
// kept when it holds more than min_fraction of `total` votes (invalid ones, NaN,
// counted). Of equally large sets that share values, the one with the least
// spread; two equally large sets with nothing in common are a tie, and a tie
// keeps neither.
Consensus ConsensusOf(std::vector<double> values, int total, double window, double min_fraction);

}  // namespace zarv::winds
