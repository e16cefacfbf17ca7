// Leveled logging of the library: timestamped lines on standard output.
#pragma once

#include <cstdarg>

// Current threshold: a line is written when its level is at most this value.
extern int log_level;

// Level names, indexed by level 0-8.
extern const char* const stag[9];

// Writes "[LEVEL] hh:mm:ss.mmm func:line:\t " followed by the message, as one
// write. Lines longer than the 1024-byte line buffer are cut. Thread-safe.
void logd(int level, const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// Unfiltered line "[hh:mm:ss tag/number]message\n". Thread-safe.
void logstr(const char* tag, int number, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Title through logd at INFO, then the bytes as "XX,XX,...\n" lines of 16.
void dump_hex(const char* title, const void* data, int len);

// Logs with the calling function's name and line.
#define LOGD(level, ...) logd((level), __func__, __LINE__, __VA_ARGS__)
