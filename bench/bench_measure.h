// bench_measure.h - repeated timing of one operation: median and best of the samples.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace vxb {

struct MeasureLimits {
    int repetitions = 10;     // at least this many samples
    double minSeconds = 0.5;  // and at least this much timed work in all
    double maxSeconds = 20;   // stop after this much timed work once 3 samples are in
};

struct Timing {
    double medianSeconds = 0;  // one sample is one call of the body
    double bestSeconds = 0;
    size_t samples = 0;
};

// The median of `values` (the mean of the middle two for an even count); 0 when empty.
double Median(std::vector<double> values);

// Times `body` alone; `setup` (may be empty) runs before each call, outside the clock.
Timing Measure(const MeasureLimits &limits, const std::function<void()> &setup,
               const std::function<void()> &body);

}  // namespace vxb
