#include "sndwav_mp3.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "mp3_decode.h"
#include "mp3_encode.h"
#include "snd_shared.h"
#include "sndwav_play.h"

namespace {

// Per thread: a playback thread that was given up on may still be finishing
// while the next one runs.
thread_local MP3Decoder_t *mp3_hip = nullptr;
thread_local MP3Encoder_t mp3_enc{};

// What one playback keeps besides the decoder.
struct MP3Play_t {
    SNDPCMContainer_t *pcm;
    WAVContainer_t *wav;
    MP3Stage_t stage;  // over the device's data_buf once it is configured
    int nBegin;
};

enum MP3BlockResult_t { MP3_BLOCK_DONE, MP3_BLOCK_STOP, MP3_BLOCK_FAILED };

// The first frame header decides the device set-up; later headers never
// change it (their samples are converted to it).
bool SNDMp3_P_Configure(MP3Play_t *p, const MP3Frame_t *f)
{
    SNDWAV_PrepareWAVParams_1(p->wav, f->rate, f->channels, 0);
    fprintf(stderr, "SNDWAV_PrepareWAVParams: %d %d %d\n", f->channels, f->rate, 16);
    if (SNDWAV_SetParams(p->pcm, p->wav) < 0) {
        fprintf(stderr, "Error set_snd_pcm_params\n");
        return false;
    }
    if (p->pcm->log)
        snd_pcm_dump(p->pcm->handle, p->pcm->log);
    p->stage = MP3Stage_t{p->pcm->data_buf, p->pcm->chunk_bytes, 0, p->pcm->channels};
    return true;
}

bool SNDMp3_P_SendStage(MP3Play_t *p)
{
    const size_t frames = p->stage.staged * 8 / p->pcm->bits_per_frame;
    p->stage.staged = 0;
    return SNDWAV_WritePcm(p->pcm, frames) >= 0;
}

// Decodes what was fed last, sending every full period to the device.
MP3BlockResult_t SNDMp3_P_DecodeBlock(MP3Play_t *p)
{
    for (;;) {
        if (SNDWAV_PlayStatus() == SND_STOP)
            return MP3_BLOCK_STOP;
        MP3Frame_t f;
        const int n = MP3_DecoderNext(mp3_hip, &f);
        if (f.header && !p->stage.buf && !SNDMp3_P_Configure(p, &f))
            return MP3_BLOCK_FAILED;
        sendTimerInfo(p->nBegin, SND_TIME_RUNNING, SND_REPORT_PLAY);
        if (n <= 0)
            return MP3_BLOCK_DONE;
        if (!p->stage.buf)
            continue;  // samples before any header: nothing to play them on
        for (size_t at = 0; at < size_t(n);) {
            const size_t taken = MP3_StageFrames(&p->stage, &f, at);
            if (taken == 0 && p->stage.staged == 0)
                break;  // a period shorter than one frame: cannot happen with a configured device
            at += taken;
            if ((taken == 0 || p->stage.staged == p->stage.size) && !SNDMp3_P_SendStage(p))
                return MP3_BLOCK_FAILED;
        }
    }
}

}  // namespace

bool init_play_mp3()
{
    mp3_hip = MP3_DecoderCreate();
    if (!mp3_hip) {
        puts("lame_init failed");
        return false;
    }
    return true;
}

void release_play_mp3(int nType)
{
    if (nType == 0)
        return;
    MP3_DecoderDestroy(mp3_hip);
    mp3_hip = nullptr;
}

int SNDMp3_Play(SNDPCMContainer_t *sndpcm, WAVContainer_t *wav, int fd)
{
    MP3Play_t p{sndpcm, wav, {}, int(time(nullptr))};
    sendTimerInfo(p.nBegin, 0, SND_REPORT_PLAY);
    if (!mp3_hip) {
        sendTimerInfo(p.nBegin, -1, SND_REPORT_PLAY);
        return -1;
    }
    unsigned char mp3_buffer[MP3_BLOCK_SIZE];
    MP3_DecoderRewind(mp3_hip);
    for (;;) {
        if (SNDWAV_PlayShouldStop()) {
            sendTimerInfo(p.nBegin, -1, SND_REPORT_PLAY);
            return -1;
        }
        // A read error ends the pass like the end of the file.
        const ssize_t len = SNDWAV_P_SaveRead(fd, mp3_buffer, sizeof mp3_buffer);
        // At the end of the file the decoder still holds the last frames:
        // with nothing more fed, it gives them up.
        MP3_DecoderFeed(mp3_hip, mp3_buffer, len > 0 ? size_t(len) : 0);
        switch (SNDMp3_P_DecodeBlock(&p)) {
        case MP3_BLOCK_DONE:
            break;
        case MP3_BLOCK_STOP:
            sendTimerInfo(p.nBegin, -1, SND_REPORT_PLAY);
            return -1;
        case MP3_BLOCK_FAILED:
            if (!p.stage.buf) {  // the device refused the stream's format: the start failed
                sndpcm->error = -EINVAL;
                sendErrorInfo(SND_REPORT_PLAY);
            }
            sendTimerInfo(p.nBegin, -1, SND_REPORT_PLAY);
            return -1;
        }
        if (len > 0)
            continue;
        if (play_BackRepeat == 1) {
            if (SNDWAV_PlayGap(2000))
                continue;  // reported as a stop at the top of the loop
            lseek(fd, 0, SEEK_SET);
            MP3_DecoderRewind(mp3_hip);
            p.nBegin = int(time(nullptr));
            sendTimerInfo(p.nBegin, 0, SND_REPORT_PLAY);
            continue;
        }
        // The last, partial period, completed with silence.
        if (p.stage.staged > 0 && !SNDMp3_P_SendStage(&p)) {
            sendTimerInfo(p.nBegin, -1, SND_REPORT_PLAY);
            return -1;
        }
        sendTimerInfo(p.nBegin, -1, SND_REPORT_PLAY);
        return 0;
    }
}

bool init_record_mp3(int fd)
{
    return MP3_EncoderInit(&mp3_enc, fd);
}

void release_record_mp3(int nType)
{
    MP3_EncoderRelease(&mp3_enc, nType);
}

int SNDMp3_Record(SNDPCMContainer_t *sndpcm, WAVContainer_t *, int fd)
{
    const int nBegin = int(time(nullptr));
    sendTimerInfo(nBegin, 0, SND_REPORT_RECORD);
    if (!mp3_enc.mp3Gfp) {
        sendTimerInfo(nBegin, -1, SND_REPORT_RECORD);
        return -1;
    }
    const size_t frames = sndpcm->chunk_bytes * 8 / sndpcm->bits_per_frame;
    int result = 0;
    bool flush = true;
    while (record_status == SND_RUNNING) {
        memset(mp3_enc.mp3_buff, 0, MP3_OUT_SIZE);
        if (SNDWAV_ReadPcm_MP3(sndpcm, frames, mp3_enc.mp3Gfp, mp3_enc.mp3_buff, MP3_OUT_SIZE, fd) < 0) {
            result = -1;  // the device failed; what was captured is still ended properly
            break;
        }
        // data_buf holds 16-bit stereo frames, aligned by malloc.
        const auto *pcm = reinterpret_cast<const short *>(sndpcm->data_buf);
        if (MP3_EncodePcm(&mp3_enc, pcm, sndpcm->chunk_bytes / 4, fd) < 0) {
            result = -1;
            flush = false;
            break;
        }
        sendTimerInfo(nBegin, SND_TIME_RUNNING, SND_REPORT_RECORD);
    }
    MP3_EncoderFinish(&mp3_enc, fd, flush);
    sendTimerInfo(nBegin, -1, SND_REPORT_RECORD);
    return result;
}
