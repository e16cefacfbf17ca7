// Measures telsnd on the virtual sound card (tools/vsnd):
//   - CPU time for a WAV playback (8000 Hz stereo), against aplay playing the
//     same file to the same device in the same run;
//   - latency from "exitplay" to the time -1 report while playing;
//   - peak memory while playing and recording at once.
// Usage: telsnd_measure [--seconds N] (default 60: the length of the file).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string g_dir;

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void put_le(std::string &s, uint32_t v, int n)
{
    for (int i = 0; i < n; ++i)
        s.push_back(char(v >> (8 * i)));
}

std::string make_wav(double seconds)
{
    const uint32_t frames = uint32_t(seconds * 8000);
    std::string pcm(size_t(frames) * 4, '\0');
    for (uint32_t i = 0; i < frames * 2; ++i) {
        const int16_t v = int16_t((i * 37) % 20000 - 10000);
        pcm[2 * i] = char(v & 0xff);
        pcm[2 * i + 1] = char((v >> 8) & 0xff);
    }
    std::string w = "RIFF";
    put_le(w, uint32_t(pcm.size() + 36), 4);
    w += "WAVEfmt ";
    put_le(w, 16, 4);
    put_le(w, 1, 2);
    put_le(w, 2, 2);
    put_le(w, 8000, 4);
    put_le(w, 32000, 4);
    put_le(w, 4, 2);
    put_le(w, 16, 2);
    w += "data";
    put_le(w, uint32_t(pcm.size()), 4);
    return w + pcm;
}

std::vector<char *> child_env(std::vector<std::string> &store)
{
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, "HOME=", 5))
            store.emplace_back(*e);
    store.push_back("HOME=" + g_dir);
    std::vector<char *> envp;
    for (auto &s : store)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    return envp;
}

pid_t spawn(std::vector<std::string> args, const std::string &out)
{
    std::vector<std::string> store;
    auto envp = child_env(store);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

double cpu_seconds(const rusage &ru)
{
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int connect_to(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Service {
    pid_t pid = -1;
    int port = 0;
    int fd = -1;
    std::string pending;

    bool start()
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            port = 40000 + int((getpid() * 13L + attempt * 7919L) % 20000);
            pid = spawn({TELSND_PATH, std::to_string(port)}, g_dir + "/telsnd.log");
            for (int i = 0; i < 100; ++i) {
                int status;
                if (waitpid(pid, &status, WNOHANG) == pid)
                    break;  // port taken: next one
                if ((fd = connect_to(port)) >= 0)
                    return true;
                std::this_thread::sleep_for(20ms);
            }
        }
        return false;
    }
    void send(const std::string &s) { (void)!::send(fd, s.data(), s.size(), MSG_NOSIGNAL); }
    // Waits for a message containing needle; false on timeout.
    bool wait_for(const std::string &needle, std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const size_t at = pending.find(needle);
            if (at != std::string::npos) {
                pending.erase(0, at + needle.size());
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, int(left)) <= 0)
                return false;
            char buf[4096];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            pending.append(buf, size_t(n));
        }
    }
    long status_kb(const char *field) const
    {
        std::istringstream in(read_file("/proc/" + std::to_string(pid) + "/status"));
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(field, 0) == 0)
                return atol(line.c_str() + strlen(field));
        return -1;
    }
    rusage stop()
    {
        rusage ru{};
        if (fd >= 0)
            close(fd);
        kill(pid, SIGKILL);
        int status;
        wait4(pid, &status, 0, &ru);
        return ru;
    }
};

std::string play_cmd(const std::string &file)
{
    return R"({"cmd":"playwave","filename":")" + file + R"(","device":"vphone","playback":"once"})";
}

}  // namespace

int main(int argc, char **argv)
{
    double seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else {
            fprintf(stderr, "usage: %s [--seconds N]\n", argv[0]);
            return 2;
        }
    }
    if (seconds < 3) {
        fprintf(stderr, "--seconds must be at least 3\n");
        return 2;
    }
    char tmpl[] = "/tmp/telsnd_measure.XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    g_dir = tmpl;
    write_file(g_dir + "/.asoundrc", "pcm_type.vsnd { lib \"" VSND_PLUGIN "\" }\n"
                                     "pcm.vphone { type vsnd playback_file \"" + g_dir + "/played.raw\" capture_file \"" +
                                         g_dir + "/input.raw\" }\n");
    const std::string wav = g_dir + "/play.wav";
    write_file(wav, make_wav(seconds));
    write_file(g_dir + "/input.raw", make_wav(seconds).substr(44));
    printf("file: %.0f s of 8000 Hz 16-bit stereo WAV on the virtual card\n", seconds);

    // 1. CPU time of one whole playback: telsnd, then aplay.
    Service s;
    if (!s.start()) {
        fprintf(stderr, "telsnd did not start\n");
        return 1;
    }
    const auto t0 = Clock::now();
    s.send(play_cmd(wav));
    if (!s.wait_for("\"time\":-1", std::chrono::milliseconds(long(seconds * 1000) + 10000)))
        fprintf(stderr, "no end report\n");
    std::this_thread::sleep_for(800ms);  // drain
    const double telsnd_wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double telsnd_cpu = cpu_seconds(s.stop());

    const auto a0 = Clock::now();
    pid_t ap = spawn({"aplay", "-q", "-D", "vphone", wav}, g_dir + "/aplay.log");
    rusage aru{};
    int status = 0;
    wait4(ap, &status, 0, &aru);
    const double aplay_wall = std::chrono::duration<double>(Clock::now() - a0).count();
    const double aplay_cpu = cpu_seconds(aru);
    printf("cpu  telsnd %.3f s (wall %.1f s), aplay %.3f s (wall %.1f s), ratio %.2f (target <= 1.2)\n", telsnd_cpu,
           telsnd_wall, aplay_cpu, aplay_wall, aplay_cpu > 0 ? telsnd_cpu / aplay_cpu : 0.0);

    // 2. exitplay -> time -1 while playing, at several points of a period.
    Service l;
    if (!l.start())
        return 1;
    std::vector<double> lat;
    for (int i = 0; i < 8; ++i) {
        l.send(play_cmd(wav));
        l.wait_for("\"time\":0", 5s);
        std::this_thread::sleep_for(std::chrono::milliseconds(900 + 37 * i));
        const auto e0 = Clock::now();
        l.send(R"({"cmd":"exitplay"})");
        if (l.wait_for("\"time\":-1", 5s))
            lat.push_back(std::chrono::duration<double, std::milli>(Clock::now() - e0).count());
    }
    std::sort(lat.begin(), lat.end());
    if (!lat.empty())
        printf("exitplay -> time -1: min %.1f ms, median %.1f ms, max %.1f ms over %zu stops (target < 200 ms)\n",
               lat.front(), lat[lat.size() / 2], lat.back(), lat.size());
    l.stop();

    // 3. Peak memory with a playback and a recording running at once.
    Service m;
    if (!m.start())
        return 1;
    const long idle_hwm = m.status_kb("VmHWM:");
    m.send(R"({"cmd":"recordwave","filename":")" + g_dir + R"(/rec.wav","device":"vphone"})");
    m.send(play_cmd(wav));
    std::this_thread::sleep_for(2500ms);
    const long rss = m.status_kb("VmRSS:");
    const long hwm = m.status_kb("VmHWM:");
    m.send(R"({"cmd":"exitplay"}{"cmd":"exitrecord"})");
    std::this_thread::sleep_for(800ms);
    printf("memory  idle peak %ld kB; playing and recording: resident %ld kB, peak %ld kB\n", idle_hwm, rss, hwm);
    m.stop();

    std::filesystem::remove_all(g_dir);
    return 0;
}
