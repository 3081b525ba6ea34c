#pragma once

// What a benchmark that times its rounds by hand makes of the times it kept: the median, a percentile, the
// slowest, and the counters that carry them into the figures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace bench {

// The sample below which `share` of the samples lie, by nearest rank (of an even count the median is the
// upper of the middle two); 0 without samples.
inline double percentile(std::vector<double> samples, double share) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const auto rank = std::size_t(share * double(samples.size() - 1) + 0.5);
    return samples[std::min(samples.size() - 1, rank)];
}

inline double median(std::vector<double> samples) {
    return percentile(std::move(samples), 0.5);
}

// 0 without samples.
inline double slowest(const std::vector<double>& samples) {
    return samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
}

// The counters "<name>median_ms" and "<name>max_ms" of times kept in milliseconds.
inline void countTimes(benchmark::State& state, const std::string& name, const std::vector<double>& ms) {
    state.counters[name + "median_ms"] = median(ms);
    state.counters[name + "max_ms"] = slowest(ms);
}

} // namespace bench
