// Small text, clock and file helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Removes " \n\r\t" from both ends.
void trim(std::string& s);

// Splits "key=value" at the first '=' (both sides trimmed); leaves the
// outputs unchanged when there is no '=' (or line is null). The line is never
// modified. Always returns 0.
int get_key_value(char* line, std::string& key, std::string& value);

// Appends the pieces of text between separators; returns out.size(), or 0
// (out untouched) for an empty text.
int string_split(const std::string& text, std::vector<std::string>& out, char sep);

// Parses at most 8 hexadecimal digits, reading every stride-th character and
// stopping at the first non-hex character. Never reads past the terminating
// zero, whatever the stride: the characters stepped over are checked too.
// A stride below 1 is taken as 1. A null text gives 0.
long atox(const char* s, int stride);

// Milliseconds of the monotonic clock.
uint64_t GetTickCount();

// Whole file plus one terminating zero character (length = file size + 1);
// empty when unreadable.
std::string readfile(const char* path);

// Directory of the running program (dirname of /proc/self/exe; paths of any
// length are handled; "." when the link cannot be read).
std::string get_proc_dir();

// Current working directory; on failure writes "getcwd() error" to standard
// output and returns an empty string.
std::string get_curr_dir();
