#include "platform/mixer.h"

#include <gtest/gtest.h>

using platform::Mixer;

namespace {

Mixer::Samples samples(std::vector<std::int16_t> values)
{
    return std::make_shared<const std::vector<std::int16_t>>(std::move(values));
}

std::vector<std::int16_t> next(Mixer &mixer, std::size_t count)
{
    std::vector<std::int16_t> out(count, 7);
    mixer.mix(out);
    return out;
}

} // namespace

TEST(Mixer, OverlappingSoundsAddUpAndClampToSixteenBits)
{
    Mixer mixer;
    mixer.add(samples({1000, -1000, 30000, -30000}), false);
    mixer.add(samples({1, 2, 30000, -30000}), false);
    EXPECT_EQ(next(mixer, 6), (std::vector<std::int16_t>{1001, -998, 32767, -32768, 0, 0}));
    EXPECT_EQ(mixer.playing(), 0u);
}

TEST(Mixer, ALoopStartsOverAndAOneShotEnds)
{
    Mixer mixer;
    mixer.add(samples({1, 2, 3}), true);
    mixer.add(samples({10, 10}), false);
    EXPECT_EQ(next(mixer, 4), (std::vector<std::int16_t>{11, 12, 3, 1}));
    EXPECT_EQ(mixer.playing(), 1u);
    EXPECT_EQ(next(mixer, 4), (std::vector<std::int16_t>{2, 3, 1, 2}));
}

TEST(Mixer, StopAllEndsTheOneShotSoundsAsWellAsTheLoops)
{
    Mixer mixer;
    mixer.add(samples({5, 5, 5, 5, 5, 5}), true); // the music
    mixer.add(samples(std::vector<std::int16_t>(100, 3)), false); // a message chime
    EXPECT_EQ(next(mixer, 2), (std::vector<std::int16_t>{8, 8}));
    mixer.stopAll();
    EXPECT_EQ(mixer.playing(), 0u);
    EXPECT_EQ(next(mixer, 3), (std::vector<std::int16_t>{0, 0, 0}));
    mixer.add(samples({4}), false);
    EXPECT_EQ(next(mixer, 2), (std::vector<std::int16_t>{4, 0}));
}
