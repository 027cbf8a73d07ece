#include "platform/sound.h"

#include <SDL.h>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// SDL's description of a sample format: rate, sample type, channels.
using AudioFormat = ::SDL_AudioSpec;

struct Voice
{
    std::shared_ptr<const std::vector<Sint16>> samples; // interleaved stereo at the device rate
    std::size_t position = 0;
    bool loop = false;
};

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
        m_voices.push_back({std::move(samples), 0, loop});
        SDL_UnlockAudioDevice(m_device);
    }

    void stopLoops() override
    {
        if (m_device == 0)
            return;
        SDL_LockAudioDevice(m_device);
        std::erase_if(m_voices, [](const Voice &v) { return v.loop; });
        SDL_UnlockAudioDevice(m_device);
    }

private:
    std::shared_ptr<const std::vector<Sint16>> decode(const std::string &wavBytes) const
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
        auto *out = reinterpret_cast<Sint16 *>(stream);
        const std::size_t count = static_cast<std::size_t>(length) / sizeof(Sint16);
        std::vector<int> sum(count, 0);
        for (Voice &voice : self->m_voices) {
            for (std::size_t i = 0; i < count; ++i) {
                if (voice.position >= voice.samples->size()) {
                    if (!voice.loop)
                        break;
                    voice.position = 0;
                }
                sum[i] += (*voice.samples)[voice.position++];
            }
        }
        std::erase_if(self->m_voices, [](const Voice &v) { return !v.loop && v.position >= v.samples->size(); });
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<Sint16>(std::clamp(sum[i], -32768, 32767));
    }

    SDL_AudioDeviceID m_device = 0;
    AudioFormat m_output{};
    std::vector<Voice> m_voices; // guarded by the audio device lock
};

} // namespace

std::unique_ptr<Sound> createSound()
{
    return std::make_unique<SdlSound>();
}

} // namespace platform
