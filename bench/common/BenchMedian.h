#pragma once

// The median of repeated measurements, which one disturbed run cannot move far.
#include <algorithm>
#include <vector>

namespace ludex::bench {

inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace ludex::bench
