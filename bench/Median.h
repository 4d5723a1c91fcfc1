// The median of a benchmark's rounds: the middle one of an odd count, sorted.
#pragma once

#include <algorithm>
#include <vector>

namespace kurumu::bench {

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace kurumu::bench
