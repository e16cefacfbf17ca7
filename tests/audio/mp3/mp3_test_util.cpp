#include "mp3_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mp3_test {

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void put_le(std::string &s, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(char((v >> (8 * i)) & 0xff));
}

std::string wav_file(const std::string &pcm, uint32_t rate, int channels)
{
    std::string w = "RIFF";
    put_le(w, uint32_t(pcm.size() + 36), 4);
    w += "WAVEfmt ";
    put_le(w, 16, 4);
    put_le(w, 1, 2);
    put_le(w, uint32_t(channels), 2);
    put_le(w, rate, 4);
    put_le(w, rate * uint32_t(channels) * 2, 4);
    put_le(w, uint32_t(channels) * 2, 2);
    put_le(w, 16, 2);
    w += "data";
    put_le(w, uint32_t(pcm.size()), 4);
    return w + pcm;
}

}  // namespace

std::string sine_pcm(size_t frames, int channels, uint32_t rate, int amplitude)
{
    std::string pcm;
    pcm.reserve(frames * size_t(channels) * 2);
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double hz = 440.0 * (c + 1);
            const auto v = int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * double(i) / rate)));
            put_le(pcm, uint16_t(v), 2);
        }
    }
    return pcm;
}

bool run(const std::string &command)
{
    return std::system(command.c_str()) == 0;
}

std::string make_mp3(const std::string &dir, const std::string &name, const std::string &pcm, uint32_t rate,
                     int channels, const std::string &extra)
{
    const std::string wav = dir + "/" + name + ".src.wav";
    const std::string mp3 = dir + "/" + name;
    std::ofstream(wav, std::ios::binary | std::ios::trunc) << wav_file(pcm, rate, channels);
    EXPECT_TRUE(run("lame --quiet " + extra + " '" + wav + "' '" + mp3 + "'")) << "lame could not encode " << name;
    return mp3;
}

std::string fake_id3v2(size_t body)
{
    std::string tag = "ID3";
    tag += '\x03';
    tag += '\x00';
    tag += '\x00';
    for (int shift = 21; shift >= 0; shift -= 7)
        tag += char((body >> shift) & 0x7f);
    // An MPEG-1 layer III frame header (128 kbit/s, 44100 Hz) over and over.
    static const char sync[] = {'\xff', '\xfb', '\x90', '\x64'};
    for (size_t i = 0; i < body; ++i)
        tag += sync[i % 4];
    return tag;
}

std::string lame_decode(const std::string &mp3_path)
{
    const std::string wav = mp3_path + ".decoded.wav";
    if (!run("lame --quiet --decode '" + mp3_path + "' '" + wav + "'"))
        return "";
    return slurp(wav);
}

uint32_t le32(const std::string &s, size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}

}  // namespace mp3_test
