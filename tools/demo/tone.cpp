#include "tone.h"

#include <cmath>
#include <cstdint>

namespace {

void put16(std::string& s, uint16_t v)
{
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}

void put32(std::string& s, uint32_t v)
{
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
}

}  // namespace

std::string tone_pcm(int rate, double hz, double seconds)
{
    std::string pcm;
    const long frames = std::lround(rate * seconds);
    pcm.reserve(static_cast<size_t>(frames) * 4);
    for (long i = 0; i < frames; ++i) {
        auto v = static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
        put16(pcm, static_cast<uint16_t>(v));
        put16(pcm, static_cast<uint16_t>(v));
    }
    return pcm;
}

std::string wav_file(const std::string& pcm, int rate)
{
    std::string w = "RIFF";
    put32(w, static_cast<uint32_t>(36 + pcm.size()));
    w += "WAVEfmt ";
    put32(w, 16);
    put16(w, 1);  // PCM
    put16(w, 2);  // channels
    put32(w, static_cast<uint32_t>(rate));
    put32(w, static_cast<uint32_t>(rate * 4));
    put16(w, 4);
    put16(w, 16);
    w += "data";
    put32(w, static_cast<uint32_t>(pcm.size()));
    return w + pcm;
}
