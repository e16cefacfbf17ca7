#include "vtel_control.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace insttest {

CVtelControl::~CVtelControl()
{
    if (fd_ >= 0)
        close(fd_);
}

bool CVtelControl::connect(const std::string& path, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    do {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            fd_ = fd;
            return true;
        }
        if (fd >= 0)
            close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string CVtelControl::run(const std::string& line)
{
    std::string out = line + "\n";
    if (fd_ < 0 || write(fd_, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
        return "error: not connected";
    std::string reply;
    char c;
    while (read(fd_, &c, 1) == 1 && c != '\n')
        reply.push_back(c);
    return reply;
}

std::string control_socket_path()
{
    static std::atomic<int> seq{0};
    return "/tmp/telhid-mon-" + std::to_string(getpid()) + "-" + std::to_string(seq++) + ".sock";
}

}  // namespace insttest
