#include "telsnd_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace telsnd_test {

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

size_t file_size(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? size_t(st.st_size) : 0;
}

std::string pattern_pcm(size_t frames, int channels, uint32_t seed)
{
    std::string pcm(frames * size_t(channels) * 2, '\0');
    uint32_t x = seed * 2654435761u + 12345;
    for (size_t i = 0; i < frames * size_t(channels); ++i) {
        x = x * 1103515245u + 12345u;
        uint16_t v = uint16_t((x >> 16) | 1);  // never a whole zero sample: silence stands out
        pcm[2 * i] = char(v & 0xff);
        pcm[2 * i + 1] = char(v >> 8);
    }
    return pcm;
}

static void put_le(std::string &s, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(char((v >> (8 * i)) & 0xff));
}

std::string make_wav(const std::string &pcm, uint32_t rate, int channels, int bits)
{
    std::string w = "RIFF";
    put_le(w, uint32_t(pcm.size() + 36), 4);
    w += "WAVEfmt ";
    put_le(w, 16, 4);
    put_le(w, 1, 2);
    put_le(w, uint32_t(channels), 2);
    put_le(w, rate, 4);
    put_le(w, rate * uint32_t(channels * bits / 8), 4);
    put_le(w, uint32_t(channels * bits / 8), 2);
    put_le(w, uint32_t(bits), 2);
    w += "data";
    put_le(w, uint32_t(pcm.size()), 4);
    return w + pcm;
}

std::optional<long> json_int(const std::string &msg, const std::string &name)
{
    const std::string key = "\"" + name + "\":";
    const size_t at = msg.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    return strtol(msg.c_str() + at + key.size(), nullptr, 10);
}

// ---- Client ----

Client::Client(int port)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) < 0) {
        ADD_FAILURE() << "connect to " << port << ": " << strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

Client::~Client() { close(); }

void Client::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void Client::send(const std::string &text)
{
    size_t sent = 0;
    while (fd_ >= 0 && sent < text.size()) {
        ssize_t n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ADD_FAILURE() << "send: " << strerror(errno);
            return;
        }
        sent += size_t(n);
    }
}

// Length of the first complete JSON object in s (after leading junk is
// skipped by the caller), or 0 when it is not complete yet.
static size_t complete_object(const std::string &s)
{
    int depth = 0;
    bool in_string = false, escape = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (in_string) {
            if (escape)
                escape = false;
            else if (c == '\\')
                escape = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            return i + 1;
        }
    }
    return 0;
}

std::optional<std::string> Client::next(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const size_t start = pending_.find('{');
        if (start != std::string::npos) {
            pending_.erase(0, start);
            if (size_t n = complete_object(pending_)) {
                std::string msg = pending_.substr(0, n);
                pending_.erase(0, n);
                return msg;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || fd_ < 0)
            return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ADD_FAILURE() << "connection " << fd_ << (n == 0 ? " closed by telsnd" : " failed: ") << (n ? strerror(errno) : "");
            return std::nullopt;
        }
        pending_.append(buf, size_t(n));
    }
}

std::optional<std::string> Client::wait_for(const std::string &needle, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        auto msg = next(left);
        if (!msg || msg->find(needle) != std::string::npos)
            return msg;
    }
}

// ---- Telsnd ----

Telsnd::Telsnd()
{
    char tmpl[] = "/tmp/telsnd_test.XXXXXX";
    if (!mkdtemp(tmpl)) {
        ADD_FAILURE() << "mkdtemp";
        return;
    }
    dir_ = tmpl;
    mkdir(path("bin").c_str(), 0755);
    write_file(path(".asoundrc"),
               "pcm_type.vsnd { lib \"" VSND_PLUGIN "\" }\n"
               "pcm.vphone { type vsnd playback_file \"" + path("played.raw") + "\" capture_file \"" +
                   path("input.raw") + "\" }\n"
                   "pcm.vfail { type vsnd playback_file \"" + path("failed.raw") + "\" capture_file \"" +
                   path("input.raw") + "\" fail_after 8000 }\n");
    write_file(path("bin/amixer"), "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"" +
                                       path("amixer.log") + "\"\necho >> \"" + path("amixer.log") + "\"\n");
    chmod(path("bin/amixer").c_str(), 0755);

    // Ports from a range of this test process; another test may hold one.
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (start_on(20000 + int((getpid() * 10L + attempt * 7919L) % 40000)))
            return;
    }
    ADD_FAILURE() << "telsnd did not start";
}

bool Telsnd::start_on(int port)
{
    std::vector<std::string> env_text;
    for (char **e = environ; *e; ++e) {
        if (strncmp(*e, "HOME=", 5) && strncmp(*e, "PATH=", 5))
            env_text.emplace_back(*e);
    }
    const char *path_env = getenv("PATH");
    env_text.push_back("HOME=" + dir_);
    env_text.push_back("PATH=" + path("bin") + ":" + (path_env ? path_env : "/usr/bin:/bin"));
    std::vector<char *> envp;
    for (auto &s : env_text)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    const std::string port_text = std::to_string(port);
    char *argv[] = {const_cast<char *>("telsnd"), const_cast<char *>(port_text.c_str()), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, path("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, path("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir_.c_str());
    pid_t pid;
    const int err = posix_spawn(&pid, TELSND_PATH, &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (err) {
        ADD_FAILURE() << "spawn " << TELSND_PATH << ": " << strerror(err);
        return false;
    }
    pid_ = pid;
    port_ = port;
    // Ready when it has accepted our probe; gone when the port was taken.
    const auto t0 = Clock::now();
    while (ms_since(t0) < 10000) {
        if (!alive()) {
            pid_ = -1;
            return false;
        }
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        if (connected) {
            // It may be another test's service on this port: ours prints the accept.
            for (int i = 0; i < 100 && stdout_text().find(" connect") == std::string::npos && alive(); ++i)
                std::this_thread::sleep_for(20ms);
        }
        ::close(fd);
        if (connected) {
            if (stdout_text().find(" connect") != std::string::npos)
                return true;
            stop();
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    stop();
    return false;
}

bool Telsnd::alive()
{
    if (pid_ < 0)
        return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void Telsnd::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

Telsnd::~Telsnd()
{
    stop();
    // A sanitizer report from the service fails the test that caused it.
    const std::string err = stderr_text();
    if (err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos)
        ADD_FAILURE() << "telsnd reported:\n" << err.substr(0, 6000);
    if (!dir_.empty() && !::testing::Test::HasFailure())
        std::filesystem::remove_all(dir_);
    else if (!dir_.empty())
        fprintf(stderr, "telsnd test folder kept: %s\n", dir_.c_str());
}

static std::string status_field(int pid, const char *name)
{
    std::istringstream in(read_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name, 0) == 0)
            return line.substr(strlen(name));
    return "";
}

int Telsnd::threads() const { return atoi(status_field(pid_, "Threads:").c_str()); }
long Telsnd::rss_kb() const { return atol(status_field(pid_, "VmRSS:").c_str()); }

std::string play_cmd(const std::string &file, const std::string &playback, const std::string &device)
{
    return R"({"cmd":"playwave","filename":")" + file + R"(","device":")" + device + R"(","playback":")" +
           playback + R"("})";
}

std::string record_cmd(const std::string &file, const std::string &device)
{
    return R"({"cmd":"recordwave","filename":")" + file + R"(","device":")" + device + R"("})";
}

bool wait_output(Telsnd &t, const std::string &text, size_t count, std::chrono::milliseconds timeout)
{
    const auto t0 = Clock::now();
    while (ms_since(t0) < timeout.count()) {
        const std::string out = t.stdout_text();
        size_t n = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++n;
        if (n >= count)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

void wait_played_out(Telsnd &t)
{
    size_t last = file_size(t.path("played.raw"));
    const auto t0 = Clock::now();
    for (auto stable = Clock::now(); ms_since(stable) < 400 && ms_since(t0) < 5000;) {
        std::this_thread::sleep_for(50ms);
        const size_t now = file_size(t.path("played.raw"));
        if (now != last) {
            last = now;
            stable = Clock::now();
        }
    }
}

}  // namespace telsnd_test
