#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace insttest {

CChild::CChild(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    // A program that ends early must not take the test down with it.
    ::signal(SIGPIPE, SIG_IGN);
    char err_path[] = "/tmp/telhid-child-err-XXXXXX";
    int err_fd = mkstemp(err_path);
    if (err_fd < 0)
        return;
    err_path_ = err_path;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) < 0)
        return;
    if (pipe2(out, O_CLOEXEC) < 0)
        return;

    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : env)
            replaced |= x.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            envs.push_back(entry);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> cargv, cenv;
    for (const std::string& a : argv)
        cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    for (const std::string& e : envs)
        cenv.push_back(const_cast<char*>(e.c_str()));
    cenv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        execve(cargv[0], cargv.data(), cenv.data());
        std::fprintf(stderr, "exec %s: %s\n", cargv[0], std::strerror(errno));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err_fd);
    in_fd_ = in[1];
    out_fd_ = out[0];
}

CChild::~CChild()
{
    close_input();
    if (pid_ > 0 && wait_exit(0ms) < 0) {
        kill(pid_, SIGKILL);
        wait_exit(5000ms);
    }
    if (out_fd_ >= 0)
        close(out_fd_);
    if (!err_path_.empty())
        unlink(err_path_.c_str());
}

void CChild::write_input(const std::string& text)
{
    if (in_fd_ < 0)
        return;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(in_fd_, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void CChild::close_input()
{
    if (in_fd_ >= 0) {
        close(in_fd_);
        in_fd_ = -1;
    }
}

std::optional<std::string> CChild::read_line(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            lines_.push_back(line);
            return line;
        }
        if (out_fd_ < 0)
            return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return std::nullopt;
        pollfd p{out_fd_, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return std::nullopt;
        char buf[4096];
        ssize_t n = read(out_fd_, buf, sizeof buf);
        if (n <= 0) {
            close(out_fd_);
            out_fd_ = -1;
            continue;
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

std::optional<std::string> CChild::wait_line(const std::string& needle, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return std::nullopt;
        auto line = read_line(left);
        if (!line)
            return std::nullopt;
        if (line->find(needle) != std::string::npos)
            return line;
    }
}

std::string CChild::stderr_text() const
{
    return read_file(err_path_);
}

void CChild::signal(int sig)
{
    if (pid_ > 0 && status_ < 0)
        kill(pid_, sig);
}

int CChild::wait_exit(std::chrono::milliseconds timeout)
{
    if (pid_ <= 0)
        return -1;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (status_ < 0) {
        int st = 0;
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(10ms);
    }
    return status_;
}

int run_shell(const std::string& command, std::string& output)
{
    output.clear();
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        output.append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace insttest
