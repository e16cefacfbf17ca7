// PLACEHOLDER, to be replaced by the MP3 implementation: every MP3 playback
// and recording fails to start (error report to the client) until then.
#include "sndwav_mp3.h"

#include <cstdio>

bool init_play_mp3()
{
    fprintf(stderr, "MP3 playback is not available\n");
    return false;
}

void release_play_mp3(int) {}

int SNDMp3_Play(SNDPCMContainer_t *, WAVContainer_t *, int) { return -1; }

bool init_record_mp3(int)
{
    fprintf(stderr, "MP3 recording is not available\n");
    return false;
}

void release_record_mp3(int) {}

int SNDMp3_Record(SNDPCMContainer_t *, WAVContainer_t *, int) { return -1; }
