// Leveled logging: one whole line per write, whatever the threads.
#include "core/log.h"

#include <cstdio>
#include <ctime>

int log_level = 6;

const char* const stag[9] = {"unkown", "PANIC", "FAULT", "ERROR", "WARNING",
                             "INFO",   "TRACE", "LOG",   "DEBUG"};

namespace {

// One line to the stdout stream: a single fwrite and a flush, both under the
// stream's own lock, so the line stays whole and ordered with printf output.
void put_line(const char* buf, size_t len) {
    if (len == 0) return;
    flockfile(stdout);
    fwrite(buf, 1, len, stdout);
    fflush(stdout);
    funlockfile(stdout);
}

// Length of the text in a LOG_LINE_MAX buffer after appending a formatted
// part that would have taken `want` more bytes at offset `used`. Marks the
// line cut when it did not fit.
size_t fitted(size_t used, int want, bool& cut) {
    if (want < 0) want = 0;
    size_t total = used + static_cast<size_t>(want);
    if (total > LOG_LINE_MAX - 1) {
        cut = true;
        return LOG_LINE_MAX - 1;
    }
    return total;
}

void local_hms(struct tm& tm) {
    time_t now = time(nullptr);
    if (!localtime_r(&now, &tm)) tm = {};
}

}  // namespace

void logd(int level, const char* func, int line, const char* fmt, ...) {
    if (level > __atomic_load_n(&log_level, __ATOMIC_RELAXED)) return;
    struct tm tm;
    local_hms(tm);
    struct timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const char* name = (level >= 0 && level <= 8) ? stag[level] : stag[0];

    char buf[LOG_LINE_MAX];
    bool cut = false;
    int h = snprintf(buf, sizeof buf, "[%s] %02d:%02d:%02d.%03d %s:%d:\t ", name,
                     tm.tm_hour, tm.tm_min, tm.tm_sec,
                     static_cast<int>(ts.tv_nsec / 1000000), func ? func : "", line);
    size_t len = fitted(0, h, cut);
    if (!cut && fmt) {
        va_list ap;
        va_start(ap, fmt);
        int m = vsnprintf(buf + len, sizeof buf - len, fmt, ap);
        va_end(ap);
        len = fitted(len, m, cut);
    }
    if (cut) buf[len - 1] = '\n';
    put_line(buf, len);
}

void logstr(const char* tag, int number, const char* fmt, ...) {
    struct tm tm;
    local_hms(tm);
    char buf[LOG_LINE_MAX + 1];   // the line plus the newline that puts adds
    bool cut = false;
    int h = snprintf(buf, LOG_LINE_MAX, "[%02d:%02d:%02d %s/%d]", tm.tm_hour,
                     tm.tm_min, tm.tm_sec, tag ? tag : "", number);
    size_t len = fitted(0, h, cut);
    if (!cut && fmt) {
        va_list ap;
        va_start(ap, fmt);
        int m = vsnprintf(buf + len, LOG_LINE_MAX - len, fmt, ap);
        va_end(ap);
        len = fitted(len, m, cut);
    }
    buf[len++] = '\n';
    put_line(buf, len);
}

void dump_hex(const char* title, const void* data, int len) {
    logd(5, "dump_hex", __LINE__, "%s: ", title ? title : "");
    static const char digits[] = "0123456789ABCDEF";
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (!p) len = 0;
    while (len > 0) {
        int n = len < 16 ? len : 16;
        char line[16 * 3];
        for (int i = 0; i < n; ++i) {
            line[3 * i] = digits[p[i] >> 4];
            line[3 * i + 1] = digits[p[i] & 0x0F];
            line[3 * i + 2] = ',';
        }
        line[3 * n - 1] = '\n';
        put_line(line, static_cast<size_t>(3 * n));
        p += n;
        len -= n;
    }
}
