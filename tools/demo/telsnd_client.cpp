#include "telsnd_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

CTelsndClient::~CTelsndClient()
{
    if (fd_ >= 0)
        close(fd_);
}

bool CTelsndClient::connect(int port, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    do {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            fd_ = fd;
            return true;
        }
        if (fd >= 0)
            close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

bool CTelsndClient::send(const std::string& text)
{
    return fd_ >= 0 && ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

std::optional<std::string> CTelsndClient::take()
{
    int depth = 0;
    bool in_string = false;
    for (size_t i = 0; i < pending_.size(); ++i) {
        char c = pending_[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && depth > 0 && --depth == 0) {
            size_t start = pending_.find('{');
            std::string msg = pending_.substr(start, i + 1 - start);
            pending_.erase(0, i + 1);
            return msg;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CTelsndClient::next(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto msg = take())
            return msg;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (fd_ < 0 || left.count() <= 0)
            return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return std::nullopt;
        char buf[2048];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) {
            close(fd_);
            fd_ = -1;
            continue;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}
