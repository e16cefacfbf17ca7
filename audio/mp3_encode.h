// MP3 encoding for recording, free of any device: 16-bit stereo at 8000 Hz
// in, a file out that starts with an ID3v2 tag, holds the encoded frames
// (the first of them later replaced by the LAME tag frame) and ends with an
// ID3v1 tag. One encoder belongs to one thread at a time.
#pragma once

#include <lame.h>

#include <cstddef>

// Output buffer of one encoder call: LAME's worst case for 12288 samples per
// channel (1.25 x samples + 7200); also holds the tags.
inline constexpr int MP3_OUT_SIZE = 22560;
inline constexpr size_t MP3_ENCODE_MAX_FRAMES = 12288;

struct MP3Encoder_t {
    lame_global_flags *mp3Gfp;
    unsigned char *mp3_buff;  // MP3_OUT_SIZE bytes
    int id3tagLen;            // the ID3v2 tag at the start of the file
};

// Creates and sets up the encoder and writes the ID3v2 tag to the empty file
// fd. false when the encoder cannot be made or set up or the tag cannot be
// written; nothing is left to release then.
bool MP3_EncoderInit(MP3Encoder_t *enc, int fd);

// Encodes `frames` interleaved stereo frames and appends the output to fd.
// 0, or -1 when encoding or writing failed (with a message).
int MP3_EncodePcm(MP3Encoder_t *enc, const short *pcm, size_t frames, int fd);

// Ends the file: the encoder's last frames (when flush), the ID3v1 tag, and
// the LAME tag frame over the first frame after the ID3v2 tag.
void MP3_EncoderFinish(MP3Encoder_t *enc, int fd, bool flush);

// nType 0 frees nothing; 1 closes the encoder; any other value also frees the
// output buffer.
void MP3_EncoderRelease(MP3Encoder_t *enc, int nType);
