#pragma once

#include <memory>
#include <string>

namespace platform {

// Plays WAV data from memory. Sounds overlap; a looping sound plays until stopAll(), which ends every sound
// playing at that moment, looping or not. Without an audio device every call does nothing and returns at once.
// Thread-safe.
class Sound
{
public:
    virtual ~Sound() = default;
    virtual void play(std::string wavBytes, bool loop) = 0;
    virtual void stopAll() = 0;
};

// SDL2 audio; silent where no device can be opened.
std::unique_ptr<Sound> createSound();

} // namespace platform
