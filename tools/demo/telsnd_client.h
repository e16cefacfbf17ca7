// The demo's connection to telsnd: it writes its replies and reports as
// JSON objects back to back, with no separator, so they are split by
// counting braces outside strings.
#pragma once

#include <chrono>
#include <optional>
#include <string>

class CTelsndClient {
public:
    ~CTelsndClient();
    // Connects to 127.0.0.1:port, retrying while the service starts.
    bool connect(int port, std::chrono::milliseconds timeout);
    bool send(const std::string& text);
    // The next complete message, or nullopt after the timeout.
    std::optional<std::string> next(std::chrono::milliseconds timeout);

private:
    std::optional<std::string> take();

    int fd_ = -1;
    std::string pending_;
};
