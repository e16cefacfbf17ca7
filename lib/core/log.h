// Leveled logging of the library: timestamped lines on standard output.
//
// Output discipline: every line is formatted into a buffer of the calling
// thread's own (no shared log buffer) and handed to the stdout stream with a
// single fwrite followed by fflush, both under stdout's stream lock. So
//  - lines from concurrent threads never interleave inside a line, and they
//    keep their order relative to plain printf output of the same process
//    (same stdio stream, same lock);
//  - each line reaches file descriptor 1 at once, whether stdout is a
//    terminal, a pipe or a file (a crash does not lose buffered log lines).
#pragma once

#include <cstdarg>

// Current threshold: a line is written when its level is at most this value.
// 6 (TRACE) at load. Read with a relaxed atomic load, so it may be changed
// while other threads log.
extern int log_level;

// Level names, indexed by level 0-8 ("unkown" is the specified spelling).
extern const char* const stag[9];

// Size of one composed line, terminating zero included.
constexpr int LOG_LINE_MAX = 1024;

// Writes "[LEVEL] hh:mm:ss.mmm func:line:\t " followed by the message, as one
// write. The millisecond field is the monotonic clock's sub-second part (as
// specified). A line that does not fit in LOG_LINE_MAX bytes (zero included)
// is cut to LOG_LINE_MAX - 1 bytes whose last byte is replaced by a newline,
// so a cut line still ends the line. Levels outside 0-8 are named "unkown".
// Thread-safe.
void logd(int level, const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// Unfiltered line "[hh:mm:ss tag/number]message\n" (the header and message
// are cut at LOG_LINE_MAX - 1 bytes, then the newline is added). Thread-safe.
void logstr(const char* tag, int number, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Title through logd at INFO ("%s: ", no newline), then the bytes as
// "XX,XX,...\n" lines of at most 16 bytes, each line one write, written
// whatever log_level is. A null data pointer or a length <= 0 writes only
// the title.
void dump_hex(const char* title, const void* data, int len);

// Logs with the calling function's name and line.
#define LOGD(level, ...) logd((level), __func__, __LINE__, __VA_ARGS__)
