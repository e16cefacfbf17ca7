// Sound device listing and volume setting.
#pragma once

#include <cstddef>

inline constexpr int SND_LIST_MAX_ITEMS = 15;

// The list object as it is written: prefix, items, "]}". Items that would not
// fit the buffer (with the suffix) are left out, as are those past the 15th,
// so the text is always complete JSON and never longer than the buffer.
struct snd_list_t {
    char *buf;
    size_t size;
    size_t len;
    int count;  // devices seen, including those left out
    bool cut;   // an item was left out for lack of room
};

void snd_list_begin(snd_list_t *list, char *buf, size_t size, int nPlaySnd);
void snd_list_add(snd_list_t *list, const char *card_name, const char *pcm_name, int card, int device);
void snd_list_end(snd_list_t *list);

// Writes the playback (nPlaySnd != 0) or capture list object into sDeviceName
// (size bytes, at least 32) and returns the number of devices found.
int snd_device_list(int nPlaySnd, char *sDeviceName, size_t size);

// The amixer arguments for a volume change, as they would read on a command
// line ("amixer -c 1 cset numid=4 50%"); false when sDevice names no card
// (nothing after its first colon).
struct snd_mixer_cmd_t {
    char card[24];
    char level[16];
    const char *argv[8];
};
bool snd_mixer_command(const char *sDevice, int volume, int nSpk, snd_mixer_cmd_t *cmd);

// Raw level for the log line (a 0-1008 scale for the speaker, 0-496 for the
// microphone); prints the "find:" line when it interpolates.
int snd_mixer_raw_level(int volume, int nSpk);

// Runs amixer (found on PATH, no shell) to set the level and waits for it.
void set_volume_mixer(const char *sDevice, int volume, int nSpk);
