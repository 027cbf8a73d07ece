#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace platform {

// Sums the sounds that play at the same time into one stream of 16-bit samples (interleaved channels, as the
// output takes them). Not thread-safe: its owner guards it with the output's lock.
class Mixer
{
public:
    using Samples = std::shared_ptr<const std::vector<std::int16_t>>;

    // Starts a sound from its first sample; a looping one starts over at its end.
    void add(Samples samples, bool loop);
    // Ends every sound, looping or not.
    void stopAll();
    // Fills `out` with the next samples of every sound, summed and clamped to 16 bits; silence when none plays.
    // A sound that has played to its end and does not loop is dropped.
    void mix(std::span<std::int16_t> out);
    // Sounds still playing.
    std::size_t playing() const { return m_voices.size(); }

private:
    struct Voice
    {
        Samples samples;
        std::size_t position = 0;
        bool loop = false;
    };
    std::vector<Voice> m_voices;
};

} // namespace platform
