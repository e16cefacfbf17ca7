#include "snd_card.h"

#include <alsa/asoundlib.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern char **environ;

namespace {

constexpr char SUFFIX[] = "]}";

// JSON string content: quotes and backslashes escaped, control bytes dropped.
void SND_P_JsonText(char *out, size_t size, const char *in)
{
    size_t n = 0;
    for (; *in && n + 1 < size; ++in) {
        const unsigned char c = static_cast<unsigned char>(*in);
        if (c < 0x20)
            continue;
        if (c == '"' || c == '\\') {
            if (n + 2 >= size)
                break;
            out[n++] = '\\';
        }
        out[n++] = char(c);
    }
    out[n] = '\0';
}

void SND_P_Append(snd_list_t *l, const char *text)
{
    const size_t n = strlen(text);
    if (l->len + n < l->size) {
        memcpy(l->buf + l->len, text, n + 1);
        l->len += n;
    }
}

}  // namespace

void snd_list_begin(snd_list_t *l, char *buf, size_t size, int nPlaySnd)
{
    *l = snd_list_t{buf, size, 0, 0, false};
    if (size)
        buf[0] = '\0';
    SND_P_Append(l, nPlaySnd ? "{\"playlist\":[" : "{\"recordlist\":[");
}

void snd_list_add(snd_list_t *l, const char *card_name, const char *pcm_name, int card, int device)
{
    const int index = l->count++;
    if (index >= SND_LIST_MAX_ITEMS || l->cut)
        return;
    char raw[128], name[128], item[256];
    snprintf(raw, sizeof raw, "%s:%s", card_name, pcm_name);
    SND_P_JsonText(name, sizeof name, raw);
    const int n = snprintf(item, sizeof item, "%s{\"name\":\"%s\",\"device\":\"plughw:%d,%d\"}", index ? "," : "", name,
                           card, device);
    if (n < 0 || l->len + size_t(n) + sizeof SUFFIX > l->size) {
        l->cut = true;
        return;
    }
    SND_P_Append(l, item);
}

void snd_list_end(snd_list_t *l)
{
    SND_P_Append(l, SUFFIX);
}

int snd_device_list(int nPlaySnd, char *sDeviceName, size_t size)
{
    puts("snd_device_list 00");
    const snd_pcm_stream_t stream = nPlaySnd ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
    snd_list_t list;
    snd_list_begin(&list, sDeviceName, size, nPlaySnd);

    int card = -1;
    if (snd_card_next(&card) < 0 || card < 0) {
        puts("no soundcards found...");
        snd_list_end(&list);
        return 0;
    }
    snd_ctl_card_info_t *info;
    snd_pcm_info_t *pcminfo;
    snd_ctl_card_info_alloca(&info);
    snd_pcm_info_alloca(&pcminfo);
    printf("**** List of %s Hardware Devices ****\n", snd_pcm_stream_name(stream));
    while (card >= 0) {
        char name[32];
        snprintf(name, sizeof name, "hw:%d", card);
        snd_ctl_t *handle;
        int err = snd_ctl_open(&handle, name, 0);
        if (err < 0) {
            printf("control open (%i): %s\n", card, snd_strerror(err));
        } else if ((err = snd_ctl_card_info(handle, info)) < 0) {
            printf("control hardware info (%i): %s\n", card, snd_strerror(err));
            snd_ctl_close(handle);
        } else {
            int dev = -1;
            for (;;) {
                if (snd_ctl_pcm_next_device(handle, &dev) < 0)
                    puts("snd_ctl_pcm_next_device");
                if (dev < 0)
                    break;
                snd_pcm_info_set_device(pcminfo, unsigned(dev));
                snd_pcm_info_set_subdevice(pcminfo, 0);
                snd_pcm_info_set_stream(pcminfo, stream);
                if ((err = snd_ctl_pcm_info(handle, pcminfo)) < 0) {
                    if (err != -ENOENT)
                        printf("control digital audio info (%i): %s\n", card, snd_strerror(err));
                    continue;
                }
                snd_list_add(&list, snd_ctl_card_info_get_name(info), snd_pcm_info_get_name(pcminfo), card, dev);
                printf("card %i: %s [%s], device %i: %s [%s]\n", card, snd_ctl_card_info_get_id(info),
                       snd_ctl_card_info_get_name(info), dev, snd_pcm_info_get_id(pcminfo),
                       snd_pcm_info_get_name(pcminfo));
                const unsigned total = snd_pcm_info_get_subdevices_count(pcminfo);
                printf("  Subdevices: %i/%i\n", int(snd_pcm_info_get_subdevices_avail(pcminfo)), int(total));
                for (unsigned idx = 0; idx < total; ++idx) {
                    snd_pcm_info_set_subdevice(pcminfo, idx);
                    if ((err = snd_ctl_pcm_info(handle, pcminfo)) < 0)
                        printf("control digital audio playback info (%i): %s\n", card, snd_strerror(err));
                    else
                        printf("  Subdevice #%i: %s\n", int(idx), snd_pcm_info_get_subdevice_name(pcminfo));
                }
            }
            snd_ctl_close(handle);
        }
        if (snd_card_next(&card) < 0) {
            puts("snd_card_next");
            break;
        }
    }
    snd_list_end(&list);
    return list.count;
}

namespace {

constexpr int m_percent[22] = {0, 10, 11, 13, 14, 16, 18, 21, 23, 26, 30, 33, 38, 42, 48, 54, 61, 68, 77, 87, 98, 100};
constexpr int m_raw[22] = {0,   50,  100, 150, 200, 250, 300, 350, 400, 450,  500,
                           550, 600, 650, 700, 750, 800, 850, 900, 950, 1000, 1008};

}  // namespace

int snd_mixer_raw_level(int volume, int nSpk)
{
    // 64-bit: the level is any int the client sent.
    int64_t raw = int64_t(volume) * (nSpk ? 1008 : 496) / 100;
    if (nSpk == 1) {
        for (int i = 1; i <= 21; ++i) {
            if (m_percent[i] >= volume) {
                raw = m_raw[i - 1] + int64_t(m_raw[i] - m_raw[i - 1]) * (int64_t(volume) - m_percent[i - 1]) /
                                         (m_percent[i] - m_percent[i - 1]);
                printf("find: %d %d %d %d %d\n", i, m_percent[i], m_raw[i], volume, int(raw));
                break;
            }
        }
    }
    return raw > INT_MAX ? INT_MAX : raw < INT_MIN ? INT_MIN : int(raw);
}

bool snd_mixer_command(const char *sDevice, int volume, int nSpk, snd_mixer_cmd_t *cmd)
{
    const char *colon = strchr(sDevice, ':');
    if (!colon || !colon[1])
        return false;
    snprintf(cmd->card, sizeof cmd->card, "%s", colon + 1);
    snprintf(cmd->level, sizeof cmd->level, "%d%%", volume);
    int n = 0;
    cmd->argv[n++] = "amixer";
    if (nSpk == 1 && strchr(cmd->card, '0')) {
        cmd->argv[n++] = "set";
        cmd->argv[n++] = "Master";
    } else {
        cmd->argv[n++] = "-c";
        cmd->argv[n++] = cmd->card;
        cmd->argv[n++] = "cset";
        cmd->argv[n++] = nSpk == 1 ? "numid=4" : "numid=6";
    }
    cmd->argv[n++] = cmd->level;
    cmd->argv[n] = nullptr;
    return true;
}

void set_volume_mixer(const char *sDevice, int volume, int nSpk)
{
    const int raw = snd_mixer_raw_level(volume, nSpk);
    snd_mixer_cmd_t cmd;
    if (!snd_mixer_command(sDevice, volume, nSpk, &cmd)) {
        fprintf(stderr, "setvolume: no card in device \"%s\"\n", sDevice);
        return;
    }
    fflush(stdout);  // the tool writes to the same output
    pid_t pid;
    const int err = posix_spawnp(&pid, "amixer", nullptr, nullptr, const_cast<char *const *>(cmd.argv), environ);
    if (err) {
        fprintf(stderr, "setvolume: cannot run amixer: %s\n", strerror(err));
    } else {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    printf("setvolume %d %d%% %d\n", nSpk, volume, raw);
}
