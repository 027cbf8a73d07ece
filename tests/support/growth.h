#pragma once

#include <algorithm>
#include <cstddef>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

// Whether `work` costs in proportion to its input: on `makeInput(2 * n)` it may take less than 8 times as long
// as on `makeInput(n / 2)`, a fourth of the size. A cost in proportion gives about 4, a square one 16; the bound
// lies a factor of two from either. Each input is made once, outside the timing, and worked on as many times as
// the smaller one needs to last two milliseconds. Keep the inputs to some ten kilobytes, so that both sizes (and a
// sanitizer's shadow of them, and what the work allocates for them) stay on the same side of the cache levels
// and of the allocator's thresholds.
//
// A loaded machine makes the figure noisier, never a fault out of a sound parser:
// - it counts this thread's processor time, so time spent waiting for a core is not counted;
// - the two sizes are timed in turn, round after round, so that a busy stretch (caches flushed by neighbours,
//   a slower clock) falls on both, and each size counts its fastest round, since noise only ever adds;
// - a ratio over the bound is measured afresh, up to three times: a cost that grows as the square exceeds it
//   every time, noise hardly ever three times in a row.
template <typename MakeInput, typename Work>
::testing::AssertionResult growsInProportion(MakeInput makeInput, Work work, std::size_t n)
{
    constexpr double Bound = 8.0;
    constexpr int Rounds = 7;
    constexpr int Attempts = 3;
    const auto threadSeconds = [] {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    };
    const auto timed = [&](const auto &input, int repeats) {
        const double start = threadSeconds();
        for (int i = 0; i < repeats; ++i)
            work(input);
        return threadSeconds() - start;
    };
    const auto small = makeInput(n / 2);
    const auto large = makeInput(2 * n);
    int repeats = 1;
    while (repeats < (1 << 20) && timed(small, repeats) < 0.002)
        repeats *= 2;
    std::string ratios;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        double fastestSmall = 1e300;
        double fastestLarge = 1e300;
        for (int round = 0; round < Rounds; ++round) {
            fastestSmall = std::min(fastestSmall, timed(small, repeats));
            fastestLarge = std::min(fastestLarge, timed(large, repeats));
        }
        const double ratio = fastestLarge / std::max(fastestSmall, 1e-9);
        if (ratio < Bound)
            return ::testing::AssertionSuccess();
        ratios += " " + std::to_string(ratio);
    }
    return ::testing::AssertionFailure() << "4 times the input cost" << ratios << " times as much (bound " << Bound
                                         << ")";
}

// `unit` written `copies` times over.
inline std::string repeated(const std::string &unit, std::size_t copies)
{
    std::string out;
    out.reserve(unit.size() * copies);
    for (std::size_t i = 0; i < copies; ++i)
        out += unit;
    return out;
}
