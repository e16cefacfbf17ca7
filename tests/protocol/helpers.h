// Shared helpers of the protocol tests.
#pragma once

#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include "fixed_time.h"
#include "protocol/proto.h"

using bytes_t = std::vector<unsigned char>;

// Sets the language for the scope of a test and restores Chinese after it.
struct language_scope {
    explicit language_scope(int lang) { g_language = lang; }
    ~language_scope() { g_language = 0; }
};

// The fixed wall clock of the tests: 6 May 2023, 14:05:09 local time.
inline time_t fixed_clock()
{
    struct tm t = {};
    t.tm_year = 2023 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 6;
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_sec = 9;
    t.tm_isdst = -1;
    return mktime(&t);
}

struct clock_scope {
    explicit clock_scope(test_clock_fn fn = fixed_clock) { set_test_clock(fn); }
    ~clock_scope() { set_test_clock(nullptr); }
};

// Decodes `bytes` in one call for `dev` and returns what was appended.
inline std::string decode_all(CProtocol& p, devinfo_t& dev, bytes_t bytes, int* result = nullptr)
{
    std::string out;
    int r = p.decode(&dev, bytes.data(), static_cast<int>(bytes.size()), out);
    if (result)
        *result = r;
    return out;
}

inline std::string hex_of(const unsigned char* b, int n)
{
    std::string s;
    char buf[4];
    for (int i = 0; i < n; ++i) {
        snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}
