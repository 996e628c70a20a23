#pragma once

#include <vector>

namespace zarv::winds {

// What consensus averaging keeps of a period's radial velocities at one gate.
struct Consensus {
    double mean = 0;  // NaN when too few agree
    int count = 0;    // the largest set that fits inside the window
    double standard_error = 0;
};

// The largest set of the finite values that fits inside a window `window` wide,
// kept when it holds at least min_fraction of `total` values (invalid ones, NaN,
// counted); of equally large sets the one with the least spread.
Consensus ConsensusOf(std::vector<double> values, int total, double window, double min_fraction);

}  // namespace zarv::winds
