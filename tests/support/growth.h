#pragma once

#include <algorithm>
#include <cstddef>
#include <ctime>
#include <string>

// How much longer `work` takes on `makeInput(2 * n)` than on `makeInput(n)`; about 2 for a cost in proportion
// to the input, 4 for a square one. Each input is made once, outside the timing. A run works on it as many
// times as one run on the smaller input needs to last two milliseconds; the best of `runs` runs counts, in
// this thread's processor time, so other work on the machine makes the figure noisier but not larger. Keep
// the inputs to some ten kilobytes, so that both sizes (and a sanitizer's shadow of them) are read from the
// same cache level.
template <typename MakeInput, typename Work>
double growthRatio(MakeInput makeInput, Work work, std::size_t n, int runs = 7)
{
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
    const auto best = [&](const auto &input, int repeats) {
        double fastest = timed(input, repeats);
        for (int i = 1; i < runs; ++i)
            fastest = std::min(fastest, timed(input, repeats));
        return fastest;
    };
    const auto single = makeInput(n);
    int repeats = 1;
    while (repeats < (1 << 20) && timed(single, repeats) < 0.002)
        repeats *= 2;
    const double singleTime = best(single, repeats);
    return best(makeInput(2 * n), repeats) / std::max(singleTime, 1e-9);
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
