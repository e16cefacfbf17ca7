#include "snd_shared.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

char play_FileName[SND_FILENAME_SIZE];
char play_DeviceName[SND_DEVICE_SIZE];
char record_FileName[SND_FILENAME_SIZE];
char record_DeviceName[SND_DEVICE_SIZE];
std::atomic<int> play_BackRepeat{1};
std::atomic<int> nTimer{0};

namespace {

std::mutex m_report_lock;  // guards socket_id against close and reuse during a write
int socket_id = -1;
unsigned long m_attached_seq = 0;  // accept sequence number of socket_id's connection

void SND_P_Report(const char *text, int len)
{
    std::lock_guard<std::mutex> lock(m_report_lock);
    if (socket_id >= 0 && len > 0)
        snd_send_text(socket_id, text, size_t(len), false);
}

}  // namespace

bool snd_send_text(int fd, const char *text, size_t len, bool may_block)
{
    const int flags = MSG_NOSIGNAL | (may_block ? 0 : MSG_DONTWAIT);
    size_t sent = 0;
    while (sent < len) {
        const ssize_t r = send(fd, text + sent, len - sent, flags);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        sent += size_t(r);
    }
    return true;
}

void snd_attach_client(int fd, unsigned long seq)
{
    std::lock_guard<std::mutex> lock(m_report_lock);
    if (seq > m_attached_seq) {
        socket_id = fd;
        m_attached_seq = seq;
    }
}

void snd_detach_client(int fd)
{
    std::lock_guard<std::mutex> lock(m_report_lock);
    if (socket_id == fd)
        socket_id = -1;
    close(fd);
}

int snd_report_socket()
{
    std::lock_guard<std::mutex> lock(m_report_lock);
    return socket_id;
}

void sendTimerInfo(int nBegin, int nTT, int isPlay)
{
    const bool boundary = nTT == 0 || nTT == -1;
    int t = nTT;
    if (!boundary) {
        const int elapsed = int(time(nullptr)) - nBegin;
        if (nTimer.exchange(elapsed) == elapsed)
            return;
        t = elapsed;
    }
    char text[96];
    const int len = snprintf(text, sizeof text, "{\"type\":%d,\"msg\":\"escaptime\",\"time\":%d}", isPlay, t);
    fputs(text, stdout);
    fflush(stdout);
    SND_P_Report(text, len);
    if (boundary)
        usleep(100);
}

void sendErrorInfo(int isPlay)
{
    char text[64];
    const int len = snprintf(text, sizeof text, "{\"type\":%d,\"error\":\"vexcard\"}", isPlay);
    SND_P_Report(text, len);
}
