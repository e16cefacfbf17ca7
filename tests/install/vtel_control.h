// Client of the virtual telephones' control socket in a program run with
// LD_PRELOAD=libvtel.so VTEL_CONTROL=PATH.
#pragma once

#include <chrono>
#include <string>

namespace insttest {

class CVtelControl {
public:
    CVtelControl() = default;
    ~CVtelControl();
    CVtelControl(const CVtelControl&) = delete;
    CVtelControl& operator=(const CVtelControl&) = delete;

    // Connects, retrying while the program is still starting.
    bool connect(const std::string& path, std::chrono::milliseconds timeout);
    // One command line; its reply line ("ok ..." or "error: ...").
    std::string run(const std::string& line);

private:
    int fd_ = -1;
};

// A fresh path for a control socket.
std::string control_socket_path();

}  // namespace insttest
