// Driving telephones in a running program: script files and a Unix control
// socket, both optionally started when the library is loaded (VTEL_SCRIPT,
// VTEL_CONTROL), which is how a preloaded libvtel.so is driven.
#include "control.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace vtel {
namespace {

// Built on first use: serve_control may run from the load-time constructor,
// before this file's other globals are initialised.
struct server_t {
    std::mutex mu;
    int listen_fd = -1;  // guarded by mu
    std::string path;
};

server_t& server()
{
    static server_t* s = new server_t;
    return *s;
}

void serve_client(int fd)
{
    detail::session_t s;
    std::string pending;
    char buf[1024];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string reply;
            detail::execute(s, line, reply);
            reply.push_back('\n');
            if (write(fd, reply.data(), reply.size()) < 0) {
                close(fd);
                return;
            }
        }
        if (pending.size() > 65536)  // not a line-oriented client
            break;
    }
    close(fd);
}

void accept_loop(int lfd)
{
    for (;;) {
        int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            close(lfd);  // shut down by stop_control
            return;
        }
        std::thread(serve_client, fd).detach();
    }
}

// Runs lines from i on; returns -1 at the first failing line.
int run_lines(const std::vector<std::string>& lines, size_t i, detail::session_t s, const std::string& name)
{
    for (; i < lines.size(); ++i) {
        std::string reply;
        if (detail::execute(s, lines[i], reply) < 0) {
            std::fprintf(stderr, "vtel: %s:%zu: %s\n", name.c_str(), i + 1, reply.c_str());
            return -1;
        }
    }
    return 0;
}

bool read_lines(const std::string& path, std::vector<std::string>& lines)
{
    std::ifstream in(path);
    if (!in)
        return false;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return true;
}

bool waits(const std::string& line)
{
    size_t i = line.find_first_not_of(" \t");
    return i != std::string::npos && (line.compare(i, 6, "sleep ") == 0 || line.compare(i, 7, "expect ") == 0);
}

// At load: the lines before the first one that waits run at once, so the
// telephones they plug are there before the program's first enumeration;
// the rest runs in the background while the program goes on.
__attribute__((constructor)) void start_from_environment()
{
    if (const char* path = std::getenv("VTEL_CONTROL"); path && *path) {
        if (serve_control(path) < 0)
            std::fprintf(stderr, "vtel: cannot serve control socket %s: %s\n", path, std::strerror(errno));
    }
    const char* script = std::getenv("VTEL_SCRIPT");
    if (!script || !*script)
        return;
    auto lines = std::make_shared<std::vector<std::string>>();
    if (!read_lines(script, *lines)) {
        std::fprintf(stderr, "vtel: cannot read script %s\n", script);
        return;
    }
    detail::session_t s;
    size_t i = 0;
    for (; i < lines->size() && !waits((*lines)[i]); ++i) {
        std::string reply;
        if (detail::execute(s, (*lines)[i], reply) < 0) {
            std::fprintf(stderr, "vtel: %s:%zu: %s\n", script, i + 1, reply.c_str());
            return;
        }
    }
    if (i < lines->size())
        std::thread([lines, i, s, name = std::string(script)] { run_lines(*lines, i, s, name); }).detach();
}

// The socket file of VTEL_CONTROL goes with the program.
__attribute__((destructor)) void stop_at_exit()
{
    stop_control();
}

}  // namespace

int run_script(const std::string& path)
{
    std::vector<std::string> lines;
    if (!read_lines(path, lines)) {
        std::fprintf(stderr, "vtel: cannot read script %s\n", path.c_str());
        return -1;
    }
    return run_lines(lines, 0, {}, path);
}

int serve_control(const std::string& socket_path)
{
    sockaddr_un a{};
    if (socket_path.empty() || socket_path.size() >= sizeof a.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    server_t& srv = server();
    std::lock_guard lock(srv.mu);
    if (srv.listen_fd >= 0) {
        errno = EBUSY;
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, socket_path.c_str(), socket_path.size());
    unlink(socket_path.c_str());  // a socket file left by an earlier run
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || listen(fd, 4) < 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    srv.listen_fd = fd;
    srv.path = socket_path;
    std::thread(accept_loop, fd).detach();
    return 0;
}

void stop_control()
{
    server_t& srv = server();
    std::lock_guard lock(srv.mu);
    if (srv.listen_fd < 0)
        return;
    // shutdown wakes the accept; the loop closes the descriptor itself, so it
    // never accepts on a number reused by someone else.
    shutdown(srv.listen_fd, SHUT_RDWR);
    unlink(srv.path.c_str());
    srv.listen_fd = -1;
}

}  // namespace vtel
