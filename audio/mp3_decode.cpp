#include "mp3_decode.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// A call that returns no samples does not always mean the decoder is empty:
// after it has read a VBR/Info header frame it returns 0 once and decodes the
// next frame only on the following call. Two zeros in a row do mean it.
constexpr int MP3_P_MAX_ZEROS = 2;
// Damaged data makes calls fail while the decoder resyncs; give the rest of
// the data back to the next block (or the end of the file) after this many.
constexpr int MP3_P_MAX_IDLE = 16;

constexpr size_t MP3_P_ID3_HEADER = 10;
constexpr unsigned char MP3_P_ID3_FOOTER_FLAG = 0x10;

}  // namespace

struct MP3Decoder_t {
    hip_t hip = nullptr;
    mp3data_struct mp3data{};
    const unsigned char *data = nullptr;  // fed, not yet given to the decoder
    size_t len = 0;
    size_t id3_skip = 0;    // tag bytes still to drop
    bool id3_check = true;  // the next fed byte may start a tag
    short pcm_l[MP3_PCM_SIZE];
    short pcm_r[MP3_PCM_SIZE];
};

MP3Decoder_t *MP3_DecoderCreate(lame_report_function report)
{
    hip_t hip = hip_decode_init();
    if (!hip)
        return nullptr;
    auto *dec = new (std::nothrow) MP3Decoder_t;
    if (!dec) {
        hip_decode_exit(hip);
        return nullptr;
    }
    dec->hip = hip;
    if (report) {
        hip_set_errorf(hip, report);
        hip_set_debugf(hip, report);
        hip_set_msgf(hip, report);
    }
    return dec;
}

void MP3_DecoderDestroy(MP3Decoder_t *dec)
{
    if (!dec)
        return;
    hip_decode_exit(dec->hip);
    delete dec;
}

void MP3_DecoderRewind(MP3Decoder_t *dec)
{
    dec->id3_skip = 0;
    dec->id3_check = true;
    dec->data = nullptr;
    dec->len = 0;
}

size_t MP3_Id3v2Length(const unsigned char *d, size_t len)
{
    if (len < MP3_P_ID3_HEADER || memcmp(d, "ID3", 3) != 0 || d[3] == 0xFF || d[4] == 0xFF)
        return 0;
    if ((d[6] | d[7] | d[8] | d[9]) & 0x80)  // the size is a 28-bit "syncsafe" number
        return 0;
    const size_t body = size_t(d[6]) << 21 | size_t(d[7]) << 14 | size_t(d[8]) << 7 | size_t(d[9]);
    return MP3_P_ID3_HEADER + body + (d[5] & MP3_P_ID3_FOOTER_FLAG ? MP3_P_ID3_HEADER : 0);
}

void MP3_DecoderFeed(MP3Decoder_t *dec, const unsigned char *data, size_t len)
{
    // The decoder would take a tag's bytes for audio: it finds false frame
    // syncs in them and may lose the real first frames.
    while (len > 0) {
        if (dec->id3_skip > 0) {
            const size_t n = std::min(dec->id3_skip, len);
            dec->id3_skip -= n;
            data += n;
            len -= n;
            continue;
        }
        if (!dec->id3_check)
            break;
        dec->id3_skip = MP3_Id3v2Length(data, len);
        if (dec->id3_skip == 0)
            dec->id3_check = false;
    }
    dec->data = data;
    dec->len = len;
}

int MP3_DecoderNext(MP3Decoder_t *dec, MP3Frame_t *frame)
{
    int samples = 0;
    for (int zeros = 0, idle = 0; zeros < MP3_P_MAX_ZEROS && idle < MP3_P_MAX_IDLE; ++idle) {
        // The decoder copies the new bytes into its own buffer and only reads them.
        samples = hip_decode1_headers(dec->hip, const_cast<unsigned char *>(dec->data), dec->len, dec->pcm_l,
                                      dec->pcm_r, &dec->mp3data);
        dec->data = nullptr;
        dec->len = 0;
        if (samples > 0)
            break;
        zeros = samples == 0 ? zeros + 1 : 0;
    }
    samples = std::clamp(samples, 0, int(MP3_PCM_SIZE));
    const mp3data_struct &h = dec->mp3data;
    frame->samples = samples;
    frame->header = h.header_parsed == 1;
    frame->channels = frame->header ? h.stereo : 0;
    frame->rate = frame->header ? h.samplerate : 0;
    frame->left = dec->pcm_l;
    frame->right = dec->pcm_r;
    return samples;
}

size_t MP3_StageFrames(MP3Stage_t *st, const MP3Frame_t *frame, size_t from)
{
    const bool stereo_in = frame->channels >= 2;
    const bool stereo_out = st->channels >= 2;
    const size_t frame_bytes = stereo_out ? 4 : 2;
    const size_t n = frame->samples > 0 ? size_t(frame->samples) : 0;
    size_t i = from;
    for (; i < n && st->staged + frame_bytes <= st->size; ++i) {
        const short l = frame->left[i];
        const short r = stereo_in ? frame->right[i] : l;
        short out[2];
        if (stereo_out) {
            out[0] = l;
            out[1] = r;
        } else {
            out[0] = short((int(l) + int(r)) / 2);
        }
        memcpy(st->buf + st->staged, out, frame_bytes);  // the device takes little-endian samples, as the host
        st->staged += frame_bytes;
    }
    return i - from;
}
