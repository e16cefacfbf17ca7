// Small text, clock and file helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Removes " \n\r\t" from both ends.
void trim(std::string& s);

// Splits "key=value" at the first '=' (both sides trimmed); leaves the
// outputs unchanged when there is no '='. The line is unchanged afterwards.
int get_key_value(char* line, std::string& key, std::string& value);

// Appends the pieces of text between separators; returns out.size(), or 0
// (out untouched) for an empty text.
int string_split(const std::string& text, std::vector<std::string>& out, char sep);

// Parses at most 8 hexadecimal digits, reading every stride-th character.
long atox(const char* s, int stride);

// Milliseconds of the monotonic clock.
uint64_t GetTickCount();

// Whole file plus one terminating zero character; empty when unreadable.
std::string readfile(const char* path);

// Directory of the running program.
std::string get_proc_dir();

// Current working directory.
std::string get_curr_dir();
