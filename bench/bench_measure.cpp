// bench_measure.cpp - the sampling loop on std::chrono::steady_clock.
#include "bench_measure.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace vxb {

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    double median = *middle;
    if (values.size() % 2 == 0) median = (median + *std::max_element(values.begin(), middle)) / 2;
    return median;
}

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
    timing.medianSeconds = Median(std::move(samples));
    return timing;
}

}  // namespace vxb
