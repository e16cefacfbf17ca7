// State that the command readers hand to the playback and recording threads,
// and the writers of the reports those threads send to the client.
#pragma once

#include <atomic>

// Name buffers filled by "playwave" / "recordwave". Guarded by the command
// lock of each kind (see server.cpp); the threads work on their own copies.
inline constexpr int SND_FILENAME_SIZE = 256;
inline constexpr int SND_DEVICE_SIZE = 64;
extern char play_FileName[SND_FILENAME_SIZE];
extern char play_DeviceName[SND_DEVICE_SIZE];
extern char record_FileName[SND_FILENAME_SIZE];
extern char record_DeviceName[SND_DEVICE_SIZE];

// 1 = play the file again each time it ends. Read by the playback loops.
extern std::atomic<int> play_BackRepeat;

// Last elapsed-seconds value reported, shared by playback and recording.
extern std::atomic<int> nTimer;

// Report types.
inline constexpr int SND_REPORT_RECORD = 0;
inline constexpr int SND_REPORT_PLAY = 1;

// Progress report "{"type":..,"msg":"escaptime","time":..}" to the client.
// nTT 0 (pass start) and -1 (end) are always sent; any other value sends the
// whole seconds since nBegin when they differ from the last value reported.
// Thread-safe; never blocks on a slow client (a report that does not fit the
// socket buffer is dropped).
void sendTimerInfo(int nBegin, int nTT, int isPlay);

// Error report "{"type":..,"error":"vexcard"}": a playback (1) or recording
// (0) could not start. Thread-safe.
void sendErrorInfo(int isPlay);

// The report connection is the one accepted last, while it is open. A reader
// attaches its descriptor with the connection's accept sequence number when
// it starts (a reader that starts late never takes over from a newer
// connection) and detaches it when it ends; snd_detach_client also closes fd,
// under the same lock as the report writes, so a report never reaches a
// descriptor number reused later.
void snd_attach_client(int fd, unsigned long seq);
void snd_detach_client(int fd);

// Descriptor reports currently go to, -1 when none (for diagnostics/tests).
int snd_report_socket();

// Writes all of text to a socket without raising SIGPIPE; false on failure.
bool snd_send_text(int fd, const char *text, size_t len, bool may_block);
