#include "tcp_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CTcpChannel::~CTcpChannel()
{
    finish();
    if (listen_fd_ >= 0)
        close(listen_fd_);
}

int CTcpChannel::listen(int port, std::string& error)
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof a;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(listen_fd_, 1) < 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) < 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return -1;
    }
    return ntohs(a.sin_port);
}

bool CTcpChannel::accept_and_read(int timeout_ms, std::string& error)
{
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) {
        error = "the library did not connect";
        return false;
    }
    conn_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn_fd_ < 0) {
        error = std::string("accept: ") + std::strerror(errno);
        return false;
    }
    reader_ = std::thread([this] { read_loop(); });
    return true;
}

void CTcpChannel::finish()
{
    finishing_ = true;
    if (reader_.joinable())
        reader_.join();
    if (conn_fd_ >= 0) {
        close(conn_fd_);
        conn_fd_ = -1;
    }
}

void CTcpChannel::read_loop()
{
    std::string pending;
    char buf[4096];
    for (;;) {
        pollfd p{conn_fd_, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            // The library closes its end when it stops; once asked to
            // finish, a quiet connection means nothing more is coming.
            if (finishing_.load())
                break;
            continue;
        }
        ssize_t n = read(conn_fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buf, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
            out_.event(std::string_view(pending).substr(start, nl + 1 - start));
        pending.erase(0, start);
    }
    if (!pending.empty())
        out_.event(pending);
}
