#include "server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "snd_card.h"
#include "snd_shared.h"
#include "sndwav_play.h"

namespace {

// "playwave" waits for the old playback to end before it fills the shared
// name buffers and starts the new one; two connections must not interleave
// those steps. Likewise for "recordwave".
std::mutex m_play_cmd_lock;
std::mutex m_record_cmd_lock;

constexpr int PLAY_IDLE_WAIT_MS = 2000;

// atoi without its undefined overflow: out-of-range values saturate.
int SND_P_Atoi(const char *s)
{
    const long v = strtol(s, nullptr, 10);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
}


}  // namespace

void snd_reader_feed(snd_reader_t *r, const char *data, size_t n, snd_command_fn fn, void *user)
{
    for (size_t i = 0; i < n; ++i) {
        const char c = data[i];
        if (c == '}') {
            if (r->skipping) {
                r->skipping = false;
            } else if (r->len >= SND_CMD_SIZE) {
                fprintf(stderr, "command of %zu characters dropped (at most %d)\n", r->len, SND_CMD_SIZE - 1);
            } else {
                char cmd[SND_CMD_SIZE];
                memcpy(cmd, r->acc, r->len);
                cmd[r->len] = '\0';
                fn(user, cmd);
            }
            r->len = 0;
        } else if (r->skipping) {
            // part of a text already dropped
        } else if (r->len < SND_ACCUM_SIZE - 1) {
            r->acc[r->len++] = c;
        } else {
            fprintf(stderr, "more than %d characters without \"}\" dropped\n", SND_ACCUM_SIZE - 1);
            r->skipping = true;
            r->len = 0;
        }
    }
}

snd_cmd_kind_t snd_find_command(const char *sIn)
{
    static constexpr struct {
        const char *text;
        snd_cmd_kind_t kind;
    } m_cmd_list[] = {
        {"\"cmd\":\"get_snd_play\"", SND_CMD_GET_PLAY},   {"\"cmd\":\"get_snd_record\"", SND_CMD_GET_RECORD},
        {"\"cmd\":\"get_snd_all\"", SND_CMD_GET_ALL},     {"\"cmd\":\"playwave\"", SND_CMD_PLAYWAVE},
        {"\"cmd\":\"setvolume\"", SND_CMD_SETVOLUME},     {"\"cmd\":\"exitplay\"", SND_CMD_EXITPLAY},
        {"\"cmd\":\"pausewave\"", SND_CMD_PAUSEWAVE},     {"\"cmd\":\"resumewave\"", SND_CMD_RESUMEWAVE},
        {"\"cmd\":\"recordwave\"", SND_CMD_RECORDWAVE},   {"\"cmd\":\"exitrecord\"", SND_CMD_EXITRECORD},
    };
    for (const auto &c : m_cmd_list)
        if (strstr(sIn, c.text))
            return c.kind;
    return SND_CMD_NONE;
}

int get_cmd_field(const char *sIn, const char *key, char *out, size_t size)
{
    memset(out, 0, size);
    const char *start = strstr(sIn, key);
    if (!start)
        return 0;
    start += strlen(key);
    const char *end = strchr(start, '"');
    if (!end)
        return 0;
    const size_t len = size_t(end - start);
    if (len >= size) {
        fprintf(stderr, "value of %s has %zu characters (at most %zu): command dropped\n", key, len, size - 1);
        return -1;
    }
    memcpy(out, start, len);
    return 1;
}

int get_cmdinfo_from_json(const char *sIn, char *sFilename, char *sDevice, int *nPlayBack)
{
    char playback[SND_FIELD_SIZE];
    if (get_cmd_field(sIn, "\"filename\":\"", sFilename, SND_FILENAME_SIZE) < 0 ||
        get_cmd_field(sIn, "\"device\":\"", sDevice, SND_DEVICE_SIZE) < 0 ||
        get_cmd_field(sIn, "\"playback\":\"", playback, sizeof playback) < 0)
        return -1;
    *nPlayBack = strstr(playback, "repeat") ? 1 : 0;
    return 0;
}

int get_volume_fields(const char *sIn, char *sDevice, int *value, int *spk)
{
    char v[SND_FIELD_SIZE], s[SND_FIELD_SIZE];
    int has_value;
    if (get_cmd_field(sIn, "\"device\":\"", sDevice, SND_FIELD_SIZE) < 0 ||
        (has_value = get_cmd_field(sIn, "\"value\":\"", v, sizeof v)) < 0 ||
        get_cmd_field(sIn, "\"spk\":\"", s, sizeof s) < 0)
        return -1;
    *value = has_value ? SND_P_Atoi(v) : 60;
    *spk = SND_P_Atoi(s);
    return 0;
}

namespace {

void SND_P_PlayWave(const char *sIn)
{
    char file[SND_FILENAME_SIZE], device[SND_DEVICE_SIZE];
    int repeat = 0;
    // A command that is dropped must not stop what is playing.
    if (get_cmdinfo_from_json(sIn, file, device, &repeat) < 0)
        return;
    std::lock_guard<std::mutex> lock(m_play_cmd_lock);
    Exit_Play_Wav();
    if (!SNDWAV_WaitPlayIdle(PLAY_IDLE_WAIT_MS)) {
        fprintf(stderr, "playback did not end in time: abandoned\n");
        SNDWAV_ForcePlayIdle();
    }
    memcpy(play_FileName, file, sizeof file);
    memcpy(play_DeviceName, device, sizeof device);
    play_BackRepeat = repeat;
    printf("play wav:%s, %s, %d\n", play_DeviceName, play_FileName, repeat);
    if (play_FileName[0] && play_DeviceName[0])
        Start_Play_Wav();
    else
        puts("play wav param error");
}

void SND_P_RecordWave(const char *sIn)
{
    char file[SND_FILENAME_SIZE], device[SND_DEVICE_SIZE];
    int unused = 0;
    if (get_cmdinfo_from_json(sIn, file, device, &unused) < 0)
        return;
    std::lock_guard<std::mutex> lock(m_record_cmd_lock);
    memcpy(record_FileName, file, sizeof file);
    memcpy(record_DeviceName, device, sizeof device);
    printf("record wav:%s, %s", record_DeviceName, record_FileName);
    if (record_FileName[0] && record_DeviceName[0])
        Start_Record_Wav();
    else
        puts("record wav param error");
}

// Both lists must fit one reply together with the frame around them.
constexpr char ALL_FORMAT[] = "{\"cmd\":\"%s\",\"data\":[%s,%s]}";
constexpr size_t ALL_LIST_SIZE =
    (SND_REPLY_SIZE - (sizeof ALL_FORMAT - 1 - 6) - (sizeof "get_snd_all" - 1)) / 2;

}  // namespace

int ParseSocketData(const char *sIn, char *sOut)
{
    printf("%s\n", sIn);
    switch (snd_find_command(sIn)) {
    case SND_CMD_GET_PLAY:
        snd_device_list(1, sOut, SND_REPLY_SIZE);
        return 1;
    case SND_CMD_GET_RECORD:
        snd_device_list(0, sOut, SND_REPLY_SIZE);
        return 1;
    case SND_CMD_GET_ALL: {
        char record[ALL_LIST_SIZE] = {}, play[ALL_LIST_SIZE] = {};
        snd_device_list(0, record, sizeof record);
        snd_device_list(1, play, sizeof play);
        snprintf(sOut, SND_REPLY_SIZE, ALL_FORMAT, "get_snd_all", record, play);
        return 1;
    }
    case SND_CMD_PLAYWAVE:
        SND_P_PlayWave(sIn);
        return 0;
    case SND_CMD_SETVOLUME: {
        char device[SND_FIELD_SIZE];
        int value, spk;
        if (get_volume_fields(sIn, device, &value, &spk) == 0)
            set_volume_mixer(device, value, spk);
        return 0;
    }
    case SND_CMD_EXITPLAY: Exit_Play_Wav(); return 0;
    case SND_CMD_PAUSEWAVE: Pause_Play_Wav(); return 0;
    case SND_CMD_RESUMEWAVE: Resume_Play_Wav(); return 0;
    case SND_CMD_RECORDWAVE: SND_P_RecordWave(sIn); return 0;
    case SND_CMD_EXITRECORD: Exit_Record_Wav(); return 0;
    case SND_CMD_NONE: break;
    }
    return 0;
}

namespace {

struct SNDConn_t {
    int fd;
};

void SND_P_HandleCommand(void *user, const char *command)
{
    const auto *conn = static_cast<const SNDConn_t *>(user);
    char reply[SND_REPLY_SIZE] = {};
    if (ParseSocketData(command, reply) > 0) {
        printf("send:%s\n", reply);
        snd_send_text(conn->fd, reply, strlen(reply), true);
    }
}

}  // namespace

void ThreadSocketReadFunc(int fd, unsigned long seq)
{
    snd_attach_client(fd, seq);
    printf("ThreadSocketReadFunc %d\n", fd);
    SNDConn_t conn{fd};
    snd_reader_t reader{};
    char buf[SND_RECV_SIZE];
    for (;;) {
        puts("ThreadSocketReadFunc run");
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            puts("socket exit");
            break;
        }
        // A zero byte ends the text of this read.
        const size_t len = strnlen(buf, size_t(n));
        if (!memchr(buf, '}', len))
            puts("socket read continue");
        snd_reader_feed(&reader, buf, len, SND_P_HandleCommand, &conn);
    }
    snd_detach_client(fd);
}

int snd_parse_port(const char *arg)
{
    if (!arg)
        return -1;
    errno = 0;
    char *end;
    const long v = strtol(arg, &end, 10);
    if (end == arg || *end != '\0' || errno == ERANGE)
        return -1;
    return int(static_cast<unsigned long>(v) & 0xFFFF);
}

int snd_server_run(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        perror("socket");
        return 255;
    }
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
        perror("bind");
        close(s);
        return 255;
    }
    if (listen(s, 16) < 0) {
        perror("listen");
        close(s);
        return 255;
    }
    unsigned long seq = 0;
    for (;;) {
        const int fd = accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            switch (errno) {
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                continue;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
                // Out of descriptors or memory for now: connections ending will free some.
                perror("accept");
                usleep(100000);
                continue;
            default:
                perror("accept");
                close(s);
                return 255;
            }
        }
        printf("%d connect\n", fd);
        try {
            std::thread(ThreadSocketReadFunc, fd, ++seq).detach();
        } catch (const std::system_error &e) {
            fprintf(stderr, "cannot start a reader: %s\n", e.what());
            close(fd);
        }
    }
}
