// Text, clock and file helpers.
#include "core/utils.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <libgen.h>
#include <unistd.h>

static const char kSpace[] = " \n\r\t";

void trim(std::string& s) {
    size_t b = s.find_first_not_of(kSpace);
    if (b == std::string::npos) {
        s.clear();
        return;
    }
    size_t e = s.find_last_not_of(kSpace);
    s = s.substr(b, e - b + 1);
}

int get_key_value(char* line, std::string& key, std::string& value) {
    if (!line) return 0;
    const char* eq = std::strchr(line, '=');
    if (!eq) return 0;
    // Same result as cutting the line at '=' and putting it back, without
    // ever writing to the caller's line.
    key.assign(line, static_cast<size_t>(eq - line));
    value.assign(eq + 1);
    trim(key);
    trim(value);
    return 0;
}

int string_split(const std::string& text, std::vector<std::string>& out, char sep) {
    if (text.empty()) return 0;
    size_t start = 0;
    for (size_t pos; (pos = text.find(sep, start)) != std::string::npos; start = pos + 1)
        out.push_back(text.substr(start, pos - start));
    out.push_back(text.substr(start));
    return static_cast<int>(out.size());
}

static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

long atox(const char* s, int stride) {
    if (!s) return 0;
    if (stride < 1) stride = 1;
    long v = 0;
    for (int n = 0; n < 8; ++n) {
        int d = hex_value(*s);   // also stops at the terminating zero
        if (d < 0) break;
        v = (v << 4) | d;
        // Step to the next character to read, checking every byte passed
        // over so that the terminating zero is never stepped past.
        for (int k = 1; k < stride; ++k)
            if (s[k] == '\0') return v;
        s += stride;
    }
    return v;
}

uint64_t GetTickCount() {
    struct timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u +
           static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

std::string readfile(const char* path) {
    if (!path) return std::string();
    FILE* f = fopen(path, "rb");
    if (!f) return std::string();
    long size = 0;
    if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
    if (size < 0) size = 0;
    rewind(f);
    std::string s(static_cast<size_t>(size) + 1, '\0');
    size_t got = size > 0 ? fread(&s[0], 1, static_cast<size_t>(size), f) : 0;
    s[got] = '\0';
    fclose(f);
    return s;
}

std::string get_proc_dir() {
    std::vector<char> buf(1024);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
        if (n < 0) return ".";
        if (static_cast<size_t>(n) < buf.size() - 1) {
            buf[static_cast<size_t>(n)] = '\0';
            break;
        }
        buf.assign(buf.size() * 2, '\0');   // may have been cut: retry larger
    }
    return std::string(dirname(buf.data()));
}

std::string get_curr_dir() {
    char buf[1024];
    if (!getcwd(buf, sizeof buf)) {
        fputs("getcwd() error", stdout);
        fflush(stdout);
        return std::string();
    }
    return std::string(buf);
}
