// MP3 playback and recording, called by the playback and recording threads
// instead of the WAV loops when the file name says MP3 (SNDWAV_IsMp3Name).
//
// All functions run on the playback or recording thread that calls them.
// Keep the unit's decoder/encoder state per thread (thread_local): after a
// "playwave" that had to give up waiting, an abandoned playback thread may
// still be finishing while the next playback runs.
//
// What the loops may use: sndwav_common.h (SNDWAV_SetParams, SNDWAV_WritePcm,
// SNDWAV_ReadPcm_MP3, SNDWAV_PrepareWAVParams_1, SNDWAV_P_WriteAll),
// sndwav_play.h (SNDWAV_PlayShouldStop, SNDWAV_PlayGap, record_status,
// SND_TIME_RUNNING) and snd_shared.h (sendTimerInfo, play_BackRepeat).
// A transfer returning -1 means the device failed: end like a stop (report
// time -1, return -1); the thread then drops instead of draining.
#pragma once

#include "sndwav_common.h"

// Creates the decoder; false when it cannot (the playback then ends like a
// failed start, with the error report).
bool init_play_mp3();

// nType 0 frees nothing; any other value frees the decoder. Called with 2.
void release_play_mp3(int nType);

// Decodes and plays fd. sndpcm is opened but not configured: configure it
// (SNDWAV_SetParams with a header from SNDWAV_PrepareWAVParams_1 into wav)
// at the first frame header. 0 when the file ended and no repeat is wanted,
// -1 when stopped on request or failed.
int SNDMp3_Play(SNDPCMContainer_t *sndpcm, WAVContainer_t *wav, int fd);

// Creates and sets up the encoder and writes the ID3v2 tag at the start of
// the (empty) recording file fd; false when it cannot (the recording then
// ends like a failed start).
bool init_record_mp3(int fd);

// nType 0 frees nothing; 1 closes the encoder; any other value also frees the
// output buffer. Called with 2.
void release_record_mp3(int nType);

// Records from the configured capture device sndpcm (16-bit stereo, 8000 Hz)
// into fd until record_status is no longer SND_RUNNING; wav is not used.
// 0 when stopped on request, -1 when encoding, writing or the device failed.
int SNDMp3_Record(SNDPCMContainer_t *sndpcm, WAVContainer_t *wav, int fd);
