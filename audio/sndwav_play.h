// One playback and one recording at a time, each on a thread of its own,
// controlled through two state words.
#pragma once

#include <atomic>

#include "sndwav_common.h"

// Values of play_status and record_status.
enum : int {
    SND_IDLE = 0,
    SND_RUNNING = 1,  // playing or recording
    SND_PAUSED = 2,   // playback only: no data reaches the device
    SND_STOP = 3,     // stop requested
};

extern std::atomic<int> play_status;
extern std::atomic<int> record_status;

// Control operations, called from the command readers.
void Start_Play_Wav();   // starts a playback of play_FileName on play_DeviceName when idle
void Pause_Play_Wav();   // 1 -> 2
void Resume_Play_Wav();  // 2 -> 1
void Exit_Play_Wav();    // 1 or 2 -> 3
void Start_Record_Wav(); // starts a recording of record_DeviceName into record_FileName when idle
void Exit_Record_Wav();  // 1 -> 3

// Waits up to ms milliseconds for the playback to become idle; true when it is.
bool SNDWAV_WaitPlayIdle(int ms);

// Gives up waiting for a playback that did not end: the state becomes idle at
// once. The old thread keeps its own file, device and buffers and, from now
// on, sees a stop request.
void SNDWAV_ForcePlayIdle();

// --- for the playback and recording loops (WAV here, MP3 in sndwav_mp3) ---

// Playback state as the calling playback thread must see it: SND_STOP once
// this playback has been superseded by a newer one.
int SNDWAV_PlayStatus();

// Waits out a pause (waking at once on resume or stop); true when this
// playback is to stop. Call before every period.
bool SNDWAV_PlayShouldStop();

// The gap between repeat passes: sleeps up to ms, ending early on a stop
// request; true when this playback is to stop.
bool SNDWAV_PlayGap(int ms);

// Value for sendTimerInfo's nTT that asks for a running (once a second) report.
inline constexpr int SND_TIME_RUNNING = 1;

// A name containing ".mp3", ".MP3" or ".Mp3" anywhere is an MP3 file.
bool SNDWAV_IsMp3Name(const char *filename);

// WAV playback of fd (positioned at the first sample) as described by wav:
// 0 when the file ended and no repeat is wanted, -1 when stopped on request
// or when the file or the device failed (reported like a stop).
int SNDWAV_Play(SNDPCMContainer_t *sndpcm, WAVContainer_t *wav, int fd);

// WAV recording into fd until a stop request; the header is written first and
// rewritten with the true data length at the end. 0, or -1 when the header,
// the file or the device failed.
int SNDWAV_Record(SNDPCMContainer_t *sndpcm, WAVContainer_t *wav, int fd);
