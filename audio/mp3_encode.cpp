#include "mp3_encode.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sndwav_common.h"

namespace {

constexpr int MP3_P_RATE = 8000;
constexpr int MP3_P_CHANNELS = 2;

void MP3_P_SetTags(lame_global_flags *gfp)
{
    id3tag_init(gfp);
    id3tag_add_v2(gfp);
    id3tag_space_v1(gfp);
    id3tag_pad_v2(gfp);
    id3tag_set_artist(gfp, "corvane");
    id3tag_set_album(gfp, "");
    id3tag_set_track(gfp, "0");
    id3tag_set_year(gfp, "2024");
    id3tag_set_comment(gfp, "Zereroziz Edizi");
    id3tag_set_genre(gfp, "");
}

bool MP3_P_Append(int fd, const unsigned char *buf, int n)
{
    return n <= 0 || SNDWAV_P_WriteAll(fd, buf, size_t(n)) == size_t(n);
}

}  // namespace

bool MP3_EncoderInit(MP3Encoder_t *enc, int fd)
{
    *enc = MP3Encoder_t{};
    lame_global_flags *gfp = lame_init();
    if (!gfp) {
        puts("lame_init failed");
        return false;
    }
    lame_set_in_samplerate(gfp, MP3_P_RATE);
    lame_set_out_samplerate(gfp, MP3_P_RATE);
    lame_set_num_channels(gfp, MP3_P_CHANNELS);
    // The tags are written here, each once, where they belong. Left to the
    // library, every flush would also put an ID3v1 tag into the stream: a
    // second one at the end, and 128 bytes of garbage mid-stream whenever a
    // short capture read flushes the encoder.
    lame_set_write_id3tag_automatic(gfp, 0);
    const int params = lame_init_params(gfp);
    MP3_P_SetTags(gfp);
    if (params < 0) {
        fprintf(stderr, "Error lame_init_params: %d\n", params);
        lame_close(gfp);
        return false;
    }
    enc->mp3Gfp = gfp;
    enc->mp3_buff = static_cast<unsigned char *>(calloc(MP3_OUT_SIZE, 1));
    if (!enc->mp3_buff) {
        fprintf(stderr, "Error malloc: [mp3_buff]\n");
        MP3_EncoderRelease(enc, 2);
        return false;
    }

    const size_t want = lame_get_id3v2_tag(gfp, nullptr, 0);
    printf("lame_get_id3v2_tag_0 %d\n", int(want));
    // A tag larger than the buffer is not fetched (the library reports its size only).
    const size_t got = want <= size_t(MP3_OUT_SIZE) ? lame_get_id3v2_tag(gfp, enc->mp3_buff, want) : 0;
    printf("lame_get_id3v2_tag %d\n", int(got));
    if (got > 0 && got <= size_t(MP3_OUT_SIZE)) {
        enc->id3tagLen = int(got);
        if (!MP3_P_Append(fd, enc->mp3_buff, enc->id3tagLen)) {
            perror("write sound data file failed");
            MP3_EncoderRelease(enc, 2);
            return false;
        }
    }
    return true;
}

int MP3_EncodePcm(MP3Encoder_t *enc, const short *pcm, size_t frames, int fd)
{
    // In slices the output buffer is sure to hold, whatever the period size.
    while (frames > 0) {
        const size_t n = frames < MP3_ENCODE_MAX_FRAMES ? frames : MP3_ENCODE_MAX_FRAMES;
        // The library only reads the samples.
        const int bytes = lame_encode_buffer_interleaved(enc->mp3Gfp, const_cast<short *>(pcm), int(n),
                                                         enc->mp3_buff, MP3_OUT_SIZE);
        if (bytes < 0) {
            printf("lame_encode_buffer_interleaved returned %d\n", bytes);
            return -1;
        }
        if (!MP3_P_Append(fd, enc->mp3_buff, bytes)) {
            perror("write sound data file failed");
            return -1;
        }
        pcm += n * MP3_P_CHANNELS;
        frames -= n;
    }
    return 0;
}

void MP3_EncoderFinish(MP3Encoder_t *enc, int fd, bool flush)
{
    unsigned char *buf = enc->mp3_buff;
    if (flush) {
        const int n = lame_encode_flush(enc->mp3Gfp, buf, MP3_OUT_SIZE);
        if (n > 0) {
            fprintf(stderr, "writing %d mp3 bytes\n", n);
            if (!MP3_P_Append(fd, buf, n))
                fprintf(stderr, "'writing mp3 bytes error\n");
        } else {
            fprintf(stderr, "writing mp3 bytes 0\n");
        }
    }
    // Where the audio ends; the LAME tag frame must land inside it.
    const off_t audio_end = lseek(fd, 0, SEEK_END);

    const size_t v1 = lame_get_id3v1_tag(enc->mp3Gfp, buf, MP3_OUT_SIZE);
    fprintf(stderr, "lame_get_id3v1_tag %d mp3 bytes\n", int(v1));
    if (v1 > 0 && v1 <= size_t(MP3_OUT_SIZE))
        MP3_P_Append(fd, buf, int(v1));

    fprintf(stderr, "lame_get_lametag_frame\n");
    const size_t lt = lame_get_lametag_frame(enc->mp3Gfp, buf, MP3_OUT_SIZE);
    fprintf(stderr, "lame_get_lametag_frame %d mp3 bytes\n", int(lt));
    if (lt > 0 && lt <= size_t(MP3_OUT_SIZE) && audio_end >= off_t(enc->id3tagLen + lt)) {
        if (pwrite(fd, buf, lt, enc->id3tagLen) != ssize_t(lt))
            perror("write sound data file failed");
    }
}

void MP3_EncoderRelease(MP3Encoder_t *enc, int nType)
{
    if (nType == 0)
        return;
    if (nType != 1) {
        free(enc->mp3_buff);
        enc->mp3_buff = nullptr;
    }
    if (enc->mp3Gfp)
        lame_close(enc->mp3Gfp);
    enc->mp3Gfp = nullptr;
}
