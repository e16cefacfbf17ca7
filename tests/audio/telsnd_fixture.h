// Runs the real telsnd against the virtual sound card: a temporary HOME with
// an .asoundrc naming the vsnd devices, a stand-in amixer first on PATH, and
// a TCP client that splits the service's messages (JSON objects written back
// to back, with no separator).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telsnd_test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);
size_t file_size(const std::string &path);  // 0 when missing

// 16-bit samples of a recognisable pattern (no two neighbouring frames equal),
// `frames` frames of `channels` channels.
std::string pattern_pcm(size_t frames, int channels, uint32_t seed = 1);
// A canonical 44-byte-header WAV file around pcm.
std::string make_wav(const std::string &pcm, uint32_t rate, int channels, int bits = 16);

// The value of the integer member "name" of a message, if present.
std::optional<long> json_int(const std::string &msg, const std::string &name);

class Client {
public:
    explicit Client(int port);
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    void send(const std::string &text);
    // Next complete message within the timeout, or nullopt.
    std::optional<std::string> next(std::chrono::milliseconds timeout = 5000ms);
    // Next message that contains `needle`, skipping others.
    std::optional<std::string> wait_for(const std::string &needle, std::chrono::milliseconds timeout = 5000ms);
    void close();
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    std::string pending_;
};

class Telsnd {
public:
    Telsnd();  // starts the service; fails the test when it cannot
    ~Telsnd();
    Telsnd(const Telsnd &) = delete;
    Telsnd &operator=(const Telsnd &) = delete;

    int port() const { return port_; }
    int pid() const { return pid_; }
    bool alive();
    const std::string &dir() const { return dir_; }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    std::string played() const { return read_file(path("played.raw")); }
    std::string stderr_text() const { return read_file(path("stderr.txt")); }
    std::string stdout_text() const { return read_file(path("stdout.txt")); }
    std::string amixer_log() const { return read_file(path("amixer.log")); }
    // Threads and resident memory (kB) of the running service.
    int threads() const;
    long rss_kb() const;

private:
    bool start_on(int port);
    void stop();

    std::string dir_;
    int port_ = -1;
    int pid_ = -1;
};

// Milliseconds since t0.
inline long ms_since(Clock::time_point t0)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// The service's commands.
std::string play_cmd(const std::string &file, const std::string &playback = "once",
                     const std::string &device = "vphone");
std::string record_cmd(const std::string &file, const std::string &device = "vphone");

// Waits until the service's standard output mentions `text` `count` times
// (a playback or recording thread finished); false after the timeout.
bool wait_output(Telsnd &t, const std::string &text, size_t count = 1, std::chrono::milliseconds timeout = 8000ms);

// The device drains after the last report: waits until played.raw stops
// growing (at most 5 s).
void wait_played_out(Telsnd &t);

}  // namespace telsnd_test
