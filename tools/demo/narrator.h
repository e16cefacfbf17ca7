// The demo's transcript: numbered steps, what is done, what comes back.
// Thread-safe: events arrive on the library's threads while a step runs.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

class CNarrator {
public:
    explicit CNarrator(FILE* out) : file_(out) {}
    void title(std::string_view text);
    void part(std::string_view text);
    void step(std::string_view text);
    // Explanation for the reader.
    void note(std::string_view text);
    // Something done to the system: by the application ("app"), to a
    // telephone ("phone 1"), to the audio service ("telsnd").
    void action(std::string_view who, std::string_view text);
    // Something the system gave back.
    void reply(std::string_view who, std::string_view text);
    // An event text of the library, with a gloss of its Chinese names.
    void event(std::string_view text);

private:
    void out(const std::string& text);

    std::mutex mutex_;
    FILE* file_;
    int step_ = 0;
};

// Hexadecimal bytes, "FF 02 24 0A".
std::string hex_bytes(const unsigned char* data, size_t size);
template <class C>
std::string hex_bytes(const C& bytes)
{
    return hex_bytes(bytes.data(), bytes.size());
}
