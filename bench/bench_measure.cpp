// bench_measure.cpp - the sampling loop on std::chrono::steady_clock.
#include "bench_measure.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace vxb {

Timing Measure(const MeasureLimits &limits, const std::function<void()> &setup,
               const std::function<void()> &body) {
    using Clock = std::chrono::steady_clock;
    constexpr size_t kMaxSamples = 2'000'000;
    std::vector<double> samples;
    samples.reserve(1024);
    double total = 0;
    for (;;) {
        if (setup) setup();
        Clock::time_point start = Clock::now();
        body();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        samples.push_back(seconds);
        total += seconds;
        size_t count = samples.size();
        if (count >= static_cast<size_t>(limits.repetitions) && total >= limits.minSeconds) break;
        if (count >= 3 && total >= limits.maxSeconds) break;
        if (count >= kMaxSamples) break;
    }
    Timing timing;
    timing.samples = samples.size();
    timing.bestSeconds = *std::min_element(samples.begin(), samples.end());
    auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    timing.medianSeconds = *middle;
    if (samples.size() % 2 == 0) {
        double below = *std::max_element(samples.begin(), middle);
        timing.medianSeconds = (timing.medianSeconds + below) / 2;
    }
    return timing;
}

}  // namespace vxb
