// Arbitrary bytes through the reader's command splitting, command recognition
// and field extraction. Commands with effects outside the process (playback,
// recording into named files, amixer) are parsed but not carried out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "server.h"
#include "snd_card.h"

namespace {

void handle(void *, const char *cmd)
{
    if (strlen(cmd) >= SND_CMD_SIZE)
        __builtin_trap();
    char file[256], dev[64], vdev[24];
    int repeat, value, spk;
    switch (snd_find_command(cmd)) {
    case SND_CMD_GET_PLAY:
    case SND_CMD_GET_RECORD:
    case SND_CMD_GET_ALL:
    case SND_CMD_EXITPLAY:
    case SND_CMD_PAUSEWAVE:
    case SND_CMD_RESUMEWAVE:
    case SND_CMD_EXITRECORD:
    case SND_CMD_NONE: {
        char reply[SND_REPLY_SIZE];
        memset(reply, 0, sizeof reply);
        if (ParseSocketData(cmd, reply) && strnlen(reply, sizeof reply) >= sizeof reply)
            __builtin_trap();
        break;
    }
    case SND_CMD_PLAYWAVE:
    case SND_CMD_RECORDWAVE:
        get_cmdinfo_from_json(cmd, file, dev, &repeat);
        break;
    case SND_CMD_SETVOLUME:
        if (get_volume_fields(cmd, vdev, &value, &spk) == 0) {
            snd_mixer_cmd_t m;
            snd_mixer_command(vdev, value, spk, &m);
            snd_mixer_raw_level(value, spk);
        }
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The service narrates every command on standard output; keep it quiet.
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    snd_reader_t reader{};
    // Feed in reads of at most 256 bytes, each cut at a zero byte, as the
    // service receives them.
    for (size_t at = 0; at < size;) {
        size_t n = size - at < SND_RECV_SIZE ? size - at : SND_RECV_SIZE;
        const char *chunk = reinterpret_cast<const char *>(data + at);
        snd_reader_feed(&reader, chunk, strnlen(chunk, n), handle, nullptr);
        at += n;
    }
    return 0;
}
