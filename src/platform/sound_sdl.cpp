#include "platform/sound.h"

#include "platform/mixer.h"

#include <SDL.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

namespace {

// SDL's description of a sample format: rate, sample type, channels.
using AudioFormat = ::SDL_AudioSpec;

class SdlSound final : public Sound
{
public:
    SdlSound()
    {
        // SDL would catch SIGINT and SIGTERM for an event queue that nobody reads; the program handles them.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return;
        AudioFormat wanted{};
        wanted.freq = 44100;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = 2;
        wanted.samples = 1024;
        wanted.callback = &SdlSound::mix;
        wanted.userdata = this;
        m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &m_output, 0);
        if (m_device != 0)
            SDL_PauseAudioDevice(m_device, 0);
    }

    ~SdlSound() override
    {
        if (m_device != 0)
            SDL_CloseAudioDevice(m_device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    void play(std::string wavBytes, bool loop) override
    {
        if (m_device == 0)
            return;
        auto samples = decode(wavBytes);
        if (!samples || samples->empty())
            return;
        SDL_LockAudioDevice(m_device);
        m_mixer.add(std::move(samples), loop);
        SDL_UnlockAudioDevice(m_device);
    }

    void stopAll() override
    {
        if (m_device == 0)
            return;
        SDL_LockAudioDevice(m_device);
        m_mixer.stopAll();
        SDL_UnlockAudioDevice(m_device);
    }

private:
    // Interleaved stereo at the device rate; nothing when the bytes are not a WAV file SDL can convert.
    Mixer::Samples decode(const std::string &wavBytes) const
    {
        SDL_RWops *stream = SDL_RWFromConstMem(wavBytes.data(), static_cast<int>(wavBytes.size()));
        AudioFormat wav{};
        Uint8 *buffer = nullptr;
        Uint32 length = 0;
        if (!stream || !SDL_LoadWAV_RW(stream, 1, &wav, &buffer, &length))
            return nullptr;
        SDL_AudioCVT cvt;
        if (SDL_BuildAudioCVT(&cvt, wav.format, wav.channels, wav.freq, AUDIO_S16SYS, 2, m_output.freq) < 0) {
            SDL_FreeWAV(buffer);
            return nullptr;
        }
        std::vector<Uint8> work(static_cast<std::size_t>(length) * static_cast<std::size_t>(cvt.len_mult));
        std::copy(buffer, buffer + length, work.begin());
        SDL_FreeWAV(buffer);
        cvt.len = static_cast<int>(length);
        cvt.buf = work.data();
        if (cvt.needed && SDL_ConvertAudio(&cvt) != 0)
            return nullptr;
        const std::size_t bytes = cvt.needed ? static_cast<std::size_t>(cvt.len_cvt) : length;
        auto samples = std::make_shared<std::vector<Sint16>>(bytes / sizeof(Sint16));
        std::memcpy(samples->data(), work.data(), samples->size() * sizeof(Sint16));
        return samples;
    }

    static void mix(void *userdata, Uint8 *stream, int length)
    {
        auto *self = static_cast<SdlSound *>(userdata);
        self->m_mixer.mix({reinterpret_cast<Sint16 *>(stream), static_cast<std::size_t>(length) / sizeof(Sint16)});
    }

    SDL_AudioDeviceID m_device = 0;
    AudioFormat m_output{};
    Mixer m_mixer; // guarded by the audio device lock
};

} // namespace

std::unique_ptr<Sound> createSound()
{
    return std::make_unique<SdlSound>();
}

} // namespace platform
