// MP3 decoding for playback, free of any device: leading ID3v2 tags are
// skipped, blocks of file data go to the LAME decoder, and the decoded frames
// are interleaved into a period buffer in the device's channel layout.
//
// A playback pass is: MP3_DecoderRewind, then for each block read from the
// file MP3_DecoderFeed and MP3_DecoderNext until it gives no samples, and at
// the end of the file MP3_DecoderFeed with no data (drain) and
// MP3_DecoderNext until it gives no samples. One decoder belongs to one
// thread at a time.
#pragma once

#include <lame.h>

#include <cstddef>
#include <cstdint>

inline constexpr size_t MP3_BLOCK_SIZE = 8192;  // file data handed to the decoder at once
inline constexpr size_t MP3_PCM_SIZE = 8192;    // samples per channel one decoder call may return

struct MP3Decoder_t;

// What one decoder call produced.
struct MP3Frame_t {
    int samples;         // per channel; 0 when the data given is used up
    int channels;        // of this frame: 1 or 2 (0 while no header is known)
    int rate;            // of this frame, frames per second (0 while no header is known)
    bool header;         // a frame header has been parsed
    const short *left;   // samples of the left (or only) channel
    const short *right;  // samples of the right channel when channels is 2
};

// Creates a decoder; nullptr when LAME cannot. report receives the decoder's
// diagnostics (nullptr keeps LAME's default: standard error).
MP3Decoder_t *MP3_DecoderCreate(lame_report_function report = nullptr);
void MP3_DecoderDestroy(MP3Decoder_t *dec);

// A new pass from the start of the file: the next data may begin with an
// ID3v2 tag again. The decoder itself carries over.
void MP3_DecoderRewind(MP3Decoder_t *dec);

// Hands the next block of file data to the decoder (ID3v2 tag bytes at the
// start of a pass are dropped here). data must stay valid until the next
// MP3_DecoderNext. len 0 means the file has ended: the decoder is drained of
// the frames it still holds.
void MP3_DecoderFeed(MP3Decoder_t *dec, const unsigned char *data, size_t len);

// One step of decoding; fills frame and returns frame->samples (0 when the
// fed data, or at the end the decoder, is used up).
int MP3_DecoderNext(MP3Decoder_t *dec, MP3Frame_t *frame);

// Length of the ID3v2 tag (header, body and footer) at the start of data, or
// 0 when data does not start with a valid tag header.
size_t MP3_Id3v2Length(const unsigned char *data, size_t len);

// The period buffer of a playback: 16-bit little-endian samples, interleaved
// for `channels` device channels. size is a whole number of device frames.
struct MP3Stage_t {
    uint8_t *buf;
    size_t size;    // bytes: one period
    size_t staged;  // bytes filled so far
    int channels;   // of the device: 1 or 2
};

// Stages frame samples from index `from` on, converted to the device's
// channel count (mono is copied to both channels, stereo is mixed down), until
// they are all staged or the buffer is full. Returns the number of samples
// taken; the caller sends a full buffer and sets staged to 0.
size_t MP3_StageFrames(MP3Stage_t *st, const MP3Frame_t *frame, size_t from);
