// The command server: TCP listener, one reader per connection, command
// splitting, recognition and field extraction.
#pragma once

#include <cstddef>

inline constexpr int SND_RECV_SIZE = 256;    // one read from a connection
inline constexpr int SND_ACCUM_SIZE = 1024;  // unconsumed text: 1023 characters at most
inline constexpr int SND_CMD_SIZE = 256;     // one command text: 255 characters at most
inline constexpr int SND_REPLY_SIZE = 2048;  // one reply
inline constexpr int SND_FIELD_SIZE = 24;    // playback, value and spk texts; setvolume's device

// Received text is cut into commands at every "}" (the "}" is not part of
// the command). The unfinished rest waits for the next read. Text that grows
// past the limits is dropped with a message on standard error: a command of
// 256 characters or more, or more than 1023 characters without "}" (then
// everything up to and including the next "}" is dropped too).
struct snd_reader_t {
    char acc[SND_ACCUM_SIZE];
    size_t len;
    bool skipping;  // inside an overlong text, until its "}"
};
using snd_command_fn = void (*)(void *user, const char *command);
void snd_reader_feed(snd_reader_t *reader, const char *data, size_t n, snd_command_fn fn, void *user);

// Commands, in the order in which they are searched for.
enum snd_cmd_kind_t {
    SND_CMD_NONE,
    SND_CMD_GET_PLAY,
    SND_CMD_GET_RECORD,
    SND_CMD_GET_ALL,
    SND_CMD_PLAYWAVE,
    SND_CMD_SETVOLUME,
    SND_CMD_EXITPLAY,
    SND_CMD_PAUSEWAVE,
    SND_CMD_RESUMEWAVE,
    SND_CMD_RECORDWAVE,
    SND_CMD_EXITRECORD,
};
snd_cmd_kind_t snd_find_command(const char *sIn);

// Copies the value of "key":"...", up to the next double quote, into out
// (size bytes, zero-filled first). 1 found, 0 absent (out empty), -1 when the
// value does not fit (message on standard error, out empty).
int get_cmd_field(const char *sIn, const char *key, char *out, size_t size);

// filename (256-byte buffer), device (64-byte buffer) and playback (repeat
// when its value contains "repeat"); 0, or -1 when a value is too long.
int get_cmdinfo_from_json(const char *sIn, char *sFilename, char *sDevice, int *nPlayBack);

// The setvolume fields: device (24-byte buffer), value (60 when absent), spk
// (0 when absent); 0, or -1 when a value is too long.
int get_volume_fields(const char *sIn, char *sDevice, int *value, int *spk);

// Carries out one command text; 1 when sOut (SND_REPLY_SIZE bytes) holds a
// reply to send, 0 otherwise.
int ParseSocketData(const char *sIn, char *sOut);

// Reader thread body for one accepted connection (owns fd and closes it);
// seq numbers the connections in the order they were accepted.
void ThreadSocketReadFunc(int fd, unsigned long seq);

// Reads the port argument as atoi does but refuses text that is not a
// number; the low 16 bits are the port. -1 when refused.
int snd_parse_port(const char *arg);

// Listens on 127.0.0.1:port and serves connections; returns only on a fatal
// error, with the process exit code.
int snd_server_run(int port);
