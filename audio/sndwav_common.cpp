#include "sndwav_common.h"

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr unsigned MAX_BUFFER_TIME_US = 500000;  // half a second of latency at most
constexpr int MAX_RECOVERIES = 16;               // consecutive xruns/suspends before giving up
constexpr int MAX_STALLS = 10;                   // consecutive 1 s waits without progress
constexpr int RESUME_TRIES = 10;                 // 100 ms apart

// After an xrun or a suspend; 0 when the stream can go on.
int SNDWAV_P_Recover(snd_pcm_t *handle, int err)
{
    if (err == -EPIPE) {
        int r = snd_pcm_prepare(handle);
        fprintf(stderr, "<<<<<<<<<<<<<<< Buffer Underrun >>>>>>>>>>>>>>>\n");
        return r;
    }
    fprintf(stderr, "<<<<<<<<<<<<<<< Need suspend >>>>>>>>>>>>>>>\n");
    int r = -EAGAIN;
    for (int i = 0; i < RESUME_TRIES && (r = snd_pcm_resume(handle)) == -EAGAIN; ++i)
        usleep(100000);
    if (r < 0)  // resume unsupported or still suspended: start afresh
        r = snd_pcm_prepare(handle);
    return r;
}

// Called when a read or write came back short or would block, before waiting.
using ShortHook = void (*)(void *user, snd_pcm_sframes_t result);

// Moves one whole period between data_buf and the device.
int SNDWAV_P_TransferPeriod(SNDPCMContainer_t *p, bool capture, ShortHook hook, void *user)
{
    const size_t frame_bytes = p->bits_per_frame / 8;
    size_t done = 0;
    int recoveries = 0, stalls = 0;
    while (done < p->chunk_size) {
        uint8_t *at = p->data_buf + done * frame_bytes;
        const snd_pcm_uframes_t want = p->chunk_size - done;
        const snd_pcm_sframes_t r = capture ? snd_pcm_readi(p->handle, at, want) : snd_pcm_writei(p->handle, at, want);
        if (r == -EAGAIN || (r >= 0 && snd_pcm_uframes_t(r) < want)) {
            if (hook)
                hook(user, r);
            if (r > 0) {
                done += size_t(r);
                stalls = 0;
            } else if (++stalls > MAX_STALLS) {
                fprintf(stderr, "Error snd_pcm_writei: [%s]\n", "device stalled");
                p->error = -EIO;
                return -1;
            }
            snd_pcm_wait(p->handle, 1000);
        } else if (r == -EPIPE || r == -ESTRPIPE) {
            const int rr = ++recoveries > MAX_RECOVERIES ? int(r) : SNDWAV_P_Recover(p->handle, int(r));
            if (rr < 0) {
                fprintf(stderr, "Error snd_pcm_writei: [%s]\n", snd_strerror(rr));
                p->error = rr;
                return -1;
            }
        } else if (r < 0) {
            fprintf(stderr, "Error snd_pcm_writei: [%s]\n", snd_strerror(int(r)));
            p->error = int(r);
            return -1;
        } else {
            done += size_t(r);
            recoveries = stalls = 0;
        }
    }
    return 0;
}

struct Mp3Flush {
    lame_global_flags *lame;
    unsigned char *buf;
    int size;
    int fd;
};

void SNDWAV_P_FlushMp3(void *user, snd_pcm_sframes_t r)
{
    auto *f = static_cast<Mp3Flush *>(user);
    const int n = lame_encode_flush(f->lame, f->buf, f->size);
    fprintf(stderr, "r = %d lame_encode_flush %d\n", int(r), n);
    if (n > 0)
        SNDWAV_P_WriteAll(f->fd, f->buf, size_t(n));
}

}  // namespace

int SNDWAV_P_GetFormat(const WAVContainer_t *wav, snd_pcm_format_t *snd_format)
{
    if (wav->format.format != 1)
        return -1;
    switch (wav->format.sample_length) {
    case 8: *snd_format = SND_PCM_FORMAT_U8; break;
    case 16: *snd_format = SND_PCM_FORMAT_S16_LE; break;
    default: *snd_format = SND_PCM_FORMAT_UNKNOWN; break;
    }
    return 0;
}

int SNDWAV_SetParams(SNDPCMContainer_t *sndpcm, const WAVContainer_t *wav)
{
    snd_pcm_hw_params_t *params;
    snd_pcm_hw_params_alloca(&params);
    snd_pcm_t *h = sndpcm->handle;

    if (snd_pcm_hw_params_any(h, params) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_any\n");
        return -1;
    }
    if (snd_pcm_hw_params_set_access(h, params, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_set_access\n");
        return -1;
    }
    snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
    if (SNDWAV_P_GetFormat(wav, &format) < 0) {
        fprintf(stderr, "Error get_snd_pcm_format\n");
        return -1;
    }
    // alsa-lib asserts on an unknown format instead of refusing it.
    if (format == SND_PCM_FORMAT_UNKNOWN || snd_pcm_hw_params_set_format(h, params, format) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_set_format\n");
        return -1;
    }
    sndpcm->format = format;
    if (snd_pcm_hw_params_set_channels(h, params, wav->format.channels) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_set_channels\n");
        return -1;
    }
    sndpcm->channels = wav->format.channels;
    unsigned rate = wav->format.sample_rate;
    if (snd_pcm_hw_params_set_rate_near(h, params, &rate, nullptr) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_set_rate_near\n");
        return -1;
    }
    if (rate != wav->format.sample_rate)
        fprintf(stderr, "The rate %d Hz is not supported by your hardware.\n ==> Using %d Hz instead.\n",
                int(wav->format.sample_rate), int(rate));

    unsigned buffer_time = 0;
    if (snd_pcm_hw_params_get_buffer_time_max(params, &buffer_time, nullptr) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_get_buffer_time_max\n");
        return -1;
    }
    if (buffer_time > MAX_BUFFER_TIME_US)
        buffer_time = MAX_BUFFER_TIME_US;
    unsigned period_time = buffer_time / 4;
    if (snd_pcm_hw_params_set_buffer_time_near(h, params, &buffer_time, nullptr) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_set_buffer_time_near\n");
        return -1;
    }
    if (snd_pcm_hw_params_set_period_time_near(h, params, &period_time, nullptr) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params_set_period_time_near\n");
        return -1;
    }
    if (snd_pcm_hw_params(h, params) < 0) {
        fprintf(stderr, "Error snd_pcm_hw_params(handle, params)\n");
        return -1;
    }
    snd_pcm_hw_params_get_period_size(params, &sndpcm->chunk_size, nullptr);
    snd_pcm_hw_params_get_buffer_size(params, &sndpcm->buffer_size);
    if (sndpcm->chunk_size == sndpcm->buffer_size) {
        fprintf(stderr, "Can't use period equal to buffer size (%lu == %lu)\n", sndpcm->chunk_size, sndpcm->chunk_size);
        return -1;
    }
    sndpcm->bits_per_sample = size_t(snd_pcm_format_physical_width(format));
    sndpcm->bits_per_frame = sndpcm->bits_per_sample * wav->format.channels;
    sndpcm->chunk_bytes = sndpcm->chunk_size * sndpcm->bits_per_frame / 8;
    fprintf(stderr, "sndpcm->chunk_bytes: [%d]\n", int(sndpcm->chunk_bytes));

    free(sndpcm->data_buf);
    sndpcm->data_buf = static_cast<uint8_t *>(malloc(sndpcm->chunk_bytes));
    if (!sndpcm->data_buf) {
        fprintf(stderr, "Error malloc: [data_buf]\n");
        return -1;
    }
    return 0;
}

ssize_t SNDWAV_WritePcm(SNDPCMContainer_t *sndpcm, size_t wcount)
{
    if (wcount < sndpcm->chunk_size) {
        snd_pcm_format_set_silence(sndpcm->format, sndpcm->data_buf + wcount * sndpcm->bits_per_frame / 8,
                                   unsigned((sndpcm->chunk_size - wcount) * sndpcm->channels));
        wcount = sndpcm->chunk_size;
    }
    if (SNDWAV_P_TransferPeriod(sndpcm, false, nullptr, nullptr) < 0)
        return -1;
    return ssize_t(wcount);
}

ssize_t SNDWAV_ReadPcm(SNDPCMContainer_t *sndpcm, size_t rcount)
{
    if (SNDWAV_P_TransferPeriod(sndpcm, true, nullptr, nullptr) < 0)
        return -1;
    return ssize_t(rcount);
}

ssize_t SNDWAV_ReadPcm_MP3(SNDPCMContainer_t *sndpcm, size_t rcount, lame_global_flags *pLame,
                           unsigned char *pBuff, int size_, int nfd)
{
    Mp3Flush flush{pLame, pBuff, size_, nfd};
    if (SNDWAV_P_TransferPeriod(sndpcm, true, SNDWAV_P_FlushMp3, &flush) < 0)
        return -1;
    return ssize_t(rcount);
}

ssize_t SNDWAV_P_SaveRead(int fd, void *buf, size_t count)
{
    auto *p = static_cast<uint8_t *>(buf);
    size_t total = 0;
    while (total < count) {
        const ssize_t r = read(fd, p + total, count - total);
        if (r == 0)
            break;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return total ? ssize_t(total) : -errno;
        }
        total += size_t(r);
    }
    return ssize_t(total);
}

size_t SNDWAV_P_WriteAll(int fd, const void *buf, size_t count)
{
    auto *p = static_cast<const uint8_t *>(buf);
    size_t total = 0;
    while (total < count) {
        const ssize_t r = write(fd, p + total, count - total);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        total += size_t(r);
    }
    return total;
}

int SNDWAV_PrepareWAVParams(WAVContainer_t *wav, uint32_t nLength)
{
    assert(wav);
    return SNDWAV_PrepareWAVParams_1(wav, 8000, 2, nLength);
}

int SNDWAV_PrepareWAVParams_1(WAVContainer_t *wav, int nRate, int nChanel, uint32_t nLength)
{
    assert(wav);
    const uint16_t channels = uint16_t(nChanel);
    const uint32_t rate = uint16_t(nRate);
    wav->header.magic = WAV_RIFF;
    wav->header.type = WAV_WAVE;
    wav->format.magic = WAV_FMT;
    wav->format.fmt_size = 16;
    wav->format.format = 1;
    wav->format.channels = channels;
    wav->format.sample_rate = rate;
    wav->format.sample_length = 16;
    wav->format.blocks_align = uint16_t(channels * 2);
    wav->format.bytes_p_second = uint32_t(wav->format.blocks_align) * rate;
    wav->chunk.type = WAV_DATA;
    wav->chunk.length = nLength ? nLength : wav->format.bytes_p_second * 3600;
    wav->header.length = wav->chunk.length + 36;
    return 0;
}

void SNDWAV_P_ReleasePcm(SNDPCMContainer_t *sndpcm)
{
    free(sndpcm->data_buf);
    if (sndpcm->log)
        snd_output_close(sndpcm->log);
    if (sndpcm->handle)
        snd_pcm_close(sndpcm->handle);
    *sndpcm = SNDPCMContainer_t{};
}
