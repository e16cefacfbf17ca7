// Test sounds for the audio part of the demo.
#pragma once

#include <string>

// 16-bit stereo PCM, little-endian: a sine tone of `hz` for `seconds`.
std::string tone_pcm(int rate, double hz, double seconds);

// The same in a canonical WAV file (44-byte header).
std::string wav_file(const std::string& pcm, int rate);
