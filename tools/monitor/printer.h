// The monitor's output: whole lines, one write each, from any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>

class CPrinter {
public:
    // Writes to `fd` (not owned); `pretty` selects the readable event form.
    CPrinter(int fd, bool pretty) : fd_(fd), pretty_(pretty) {}

    // An event text as the library delivered it (JSON, ending in a line
    // feed). Thread-safe: called on the library's reader, timer and scan
    // threads, unserialised.
    void event(std::string_view text);
    // A line of the monitor's own (with its line feed). Thread-safe.
    void line(std::string_view text);
    bool pretty() const { return pretty_; }
    // True once the output could not be written (the reader went away).
    bool broken() const { return broken_.load(); }

private:
    void write_all(std::string_view text);

    std::mutex mutex_;
    int fd_;
    bool pretty_;
    std::atomic<bool> broken_{false};
};
