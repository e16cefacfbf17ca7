// Making MP3 test files with the lame command-line program and reading them
// back, for the MP3 tests.
#pragma once

#include <cstdint>
#include <string>

namespace mp3_test {

// 16-bit samples of a sine (different pitch per channel), `frames` frames.
std::string sine_pcm(size_t frames, int channels, uint32_t rate, int amplitude = 8000);

// Runs a shell command; true when it exited with 0.
bool run(const std::string &command);

// Encodes pcm (16-bit, rate, channels) with lame into mp3_path; extra goes to
// lame's command line. Fails the calling test when lame fails.
std::string make_mp3(const std::string &dir, const std::string &name, const std::string &pcm, uint32_t rate,
                     int channels, const std::string &extra = "");

// An ID3v2.3 tag of `body` bytes whose contents look like MP3 frame syncs:
// data that a decoder must never see.
std::string fake_id3v2(size_t body);

// Decodes an MP3 file with `lame --decode`; the WAV file's bytes, empty on failure.
std::string lame_decode(const std::string &mp3_path);

uint32_t le32(const std::string &s, size_t at);

}  // namespace mp3_test
