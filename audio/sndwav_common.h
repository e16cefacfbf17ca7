// PCM device set-up and whole-period transfer, shared by WAV and MP3
// playback and recording.
#pragma once

#include <alsa/asoundlib.h>
#include <lame.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "wav_parser.h"

// One open PCM device with its one-period staging buffer. Zero-filled before
// use; SNDWAV_SetParams sizes it, SNDWAV_P_ReleasePcm frees what it holds.
struct SNDPCMContainer_t {
    snd_pcm_t *handle;
    snd_output_t *log;               // set-up dump, attached to standard error
    snd_pcm_uframes_t chunk_size;    // period: frames per transfer
    snd_pcm_uframes_t buffer_size;   // frames
    snd_pcm_format_t format;
    uint16_t channels;
    size_t chunk_bytes;              // chunk_size * bits_per_frame / 8
    size_t bits_per_sample;
    size_t bits_per_frame;
    uint8_t *data_buf;               // exactly chunk_bytes
    int error;                       // last unrecoverable transfer error (0 = none): drop, don't drain
};

// Maps the header's format code and width to a sample format; -1 unless PCM.
int SNDWAV_P_GetFormat(const WAVContainer_t *wav, snd_pcm_format_t *snd_format);

// Configures sndpcm->handle for wav (500 ms buffer at most, a quarter of it
// per period) and allocates data_buf; 0 or -1 (device left open).
int SNDWAV_SetParams(SNDPCMContainer_t *sndpcm, const WAVContainer_t *wav);

// Sends wcount frames (at most one period) from data_buf, completing a short
// period with silence. Returns the frames written (a whole period when wcount
// was short), or -1 when the device failed beyond recovery (sndpcm->error set).
ssize_t SNDWAV_WritePcm(SNDPCMContainer_t *sndpcm, size_t wcount);

// Fills data_buf with one whole period; returns rcount, or -1 on device failure.
ssize_t SNDWAV_ReadPcm(SNDPCMContainer_t *sndpcm, size_t rcount);

// As SNDWAV_ReadPcm; on a short or would-block read it first flushes the
// encoder pLame into pBuff (size_ bytes) and appends the output to nfd.
ssize_t SNDWAV_ReadPcm_MP3(SNDPCMContainer_t *sndpcm, size_t rcount, lame_global_flags *pLame,
                           unsigned char *pBuff, int size_, int nfd);

// Reads until count bytes are in or the file ends; the total, or the error
// (-errno) when nothing was read before it.
ssize_t SNDWAV_P_SaveRead(int fd, void *buf, size_t count);

// Writes all of buf (retrying short writes); the bytes written, which are
// fewer than count only on an error.
size_t SNDWAV_P_WriteAll(int fd, const void *buf, size_t count);

// The fixed recording header: 16-bit stereo PCM at 8000 Hz. nLength 0 gives
// the provisional header of one hour (115200000 data bytes).
int SNDWAV_PrepareWAVParams(WAVContainer_t *wav, uint32_t nLength);

// A 16-bit PCM header for decoded audio; nLength 0 means one hour.
int SNDWAV_PrepareWAVParams_1(WAVContainer_t *wav, int nRate, int nChanel, uint32_t nLength);

// Frees data_buf, closes log and the device; the record is zero afterwards.
void SNDWAV_P_ReleasePcm(SNDPCMContainer_t *sndpcm);
