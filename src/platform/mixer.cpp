#include "platform/mixer.h"

#include <algorithm>

namespace platform {

void Mixer::add(Samples samples, bool loop)
{
    if (samples && !samples->empty())
        m_voices.push_back({std::move(samples), 0, loop});
}

void Mixer::stopAll()
{
    m_voices.clear();
}

void Mixer::mix(std::span<std::int16_t> out)
{
    std::vector<int> sum(out.size(), 0);
    for (Voice &voice : m_voices) {
        for (int &sample : sum) {
            if (voice.position >= voice.samples->size()) {
                if (!voice.loop)
                    break;
                voice.position = 0;
            }
            sample += (*voice.samples)[voice.position++];
        }
    }
    std::erase_if(m_voices, [](const Voice &v) { return !v.loop && v.position >= v.samples->size(); });
    std::transform(sum.begin(), sum.end(), out.begin(),
        [](int sample) { return static_cast<std::int16_t>(std::clamp(sample, -32768, 32767)); });
}

} // namespace platform
