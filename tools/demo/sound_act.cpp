// Part two: the audio service telsnd on the virtual sound card.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "acts.h"
#include "telsnd_client.h"
#include "tone.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr int m_rate = 8000;
constexpr double m_greeting_seconds = 2.5;

bool write_file(const std::string& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary);
    f << data;
    return static_cast<bool>(f);
}

long file_size(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string file_head(const std::string& path, size_t n)
{
    std::ifstream f(path, std::ios::binary);
    std::string s(n, '\0');
    f.read(s.data(), static_cast<std::streamsize>(n));
    s.resize(static_cast<size_t>(f.gcount()));
    return s;
}

// A port that nothing listens on right now.
int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = -1;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

// telsnd with HOME in the demo's folder, so that ALSA reads the .asoundrc
// there; its own output goes to telsnd.log.
pid_t spawn_telsnd(const std::string& program, int port, const std::string& dir)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HOME=", 5) != 0)
            env.emplace_back(*e);
    env.push_back("HOME=" + dir);
    std::vector<char*> envp;
    for (std::string& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string port_text = std::to_string(port);
    char* argv[] = {const_cast<char*>(program.c_str()), port_text.data(), nullptr};
    std::string log = dir + "/telsnd.log";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid = -1;
    int err = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return err == 0 ? pid : -1;
}

// What a report says; `started` remembers the start report of the pass, as
// a running report of 0 seconds may follow it.
std::string report_meaning(const std::string& msg, bool& started)
{
    const bool play = msg.find("\"type\":1") != std::string::npos;
    size_t t = msg.find("\"time\":");
    if (msg.find("\"error\"") != std::string::npos)
        return play ? "playback could not start" : "recording could not start";
    if (t == std::string::npos)
        return "";
    long time = std::strtol(msg.c_str() + t + 7, nullptr, 10);
    std::string what = play ? "playback" : "recording";
    if (time == 0 && !started) {
        started = true;
        return what + " started";
    }
    if (time == -1) {
        started = false;
        return what + " ended";
    }
    return what + ": " + std::to_string(time) + " s elapsed";
}

class CSoundAct {
public:
    CSoundAct(CNarrator& n, std::string telsnd, std::string vsnd, std::string dir)
        : n_(n), telsnd_(std::move(telsnd)), vsnd_(std::move(vsnd)), dir_(std::move(dir)) {}
    ~CSoundAct()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool run();

private:
    bool command(const std::string& text)
    {
        n_.action("app", text);
        return client_.send(text);
    }
    // Prints the reports until one satisfies `done`; false after the timeout.
    bool reports_until(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            auto msg = client_.next(200ms);
            if (!msg)
                continue;
            std::string m = report_meaning(*msg, started_);
            n_.reply("telsnd", *msg + (m.empty() ? "" : "    " + m));
            if (msg->find("\"error\"") != std::string::npos) {
                n_.note("!! telsnd could not open the file or the device (see telsnd.log)");
                return false;
            }
            if (done(*msg))
                return true;
        }
        n_.note("!! telsnd did not report in time");
        return false;
    }

    CNarrator& n_;
    std::string telsnd_, vsnd_, dir_;
    pid_t pid_ = -1;
    bool started_ = false;
    CTelsndClient client_;
};

bool ended(const std::string& msg)
{
    return msg.find("\"time\":-1") != std::string::npos || msg.find("\"error\"") != std::string::npos;
}

bool CSoundAct::run()
{
    n_.step("Start telsnd on the virtual sound card");
    const std::string played = dir_ + "/played.raw", mic = dir_ + "/microphone.raw";
    write_file(dir_ + "/.asoundrc", "pcm_type.vsnd { lib \"" + vsnd_ + "\" }\n"
                                    "pcm.vphone { type vsnd playback_file \"" + played + "\" capture_file \"" +
                                        mic + "\" }\n");
    n_.note("This machine has no sound card. ~/.asoundrc of the service names a virtual one,");
    n_.note("the ALSA device \"vphone\": it plays in real time into played.raw and captures");
    n_.note("from microphone.raw (a 660 Hz tone), standing in for the telephone's sound card.");
    write_file(mic, tone_pcm(m_rate, 660, 10));
    const std::string wav = dir_ + "/greeting.wav";
    write_file(wav, wav_file(tone_pcm(m_rate, 440, m_greeting_seconds), m_rate));

    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        int port = free_port();
        pid_ = spawn_telsnd(telsnd_, port, dir_);
        if (pid_ > 0 && client_.connect(port, 5s)) {
            n_.action("app", "telsnd " + std::to_string(port) + "    (listens on 127.0.0.1:" + std::to_string(port) + ")");
            break;
        }
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    if (pid_ < 0) {
        n_.note("!! telsnd did not start");
        return false;
    }

    n_.step("List the sound devices");
    command("{\"cmd\":\"get_snd_all\"}");
    if (auto reply = client_.next(5s))
        n_.reply("telsnd", *reply);
    n_.note("Capture list first, then playback. With no sound card in the machine both are");
    n_.note("empty: ALSA lists cards, and the virtual device is not one.");

    bool ok = true;
    n_.step("Play a generated WAV file");
    n_.note("greeting.wav: 2.5 s of a 440 Hz tone, 8000 frames/s, 16-bit stereo");
    command("{\"cmd\":\"playwave\",\"filename\":\"" + wav + "\",\"device\":\"vphone\",\"playback\":\"once\"}");
    ok &= reports_until(ended, 15s);
    // The end is reported once the file is read; the card still plays out
    // what it holds (up to half a second).
    long bytes = file_size(played);
    for (int stable = 0, i = 0; stable < 4 && i < 40; ++i) {
        std::this_thread::sleep_for(100ms);
        long now = file_size(played);
        stable = now == bytes ? stable + 1 : 0;
        bytes = now;
    }
    if (bytes > 0) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "The virtual card played %ld of the file's %ld frames (%.2f s of sound).",
                      bytes / 4, std::lround(m_rate * m_greeting_seconds), static_cast<double>(bytes) / 4 / m_rate);
        n_.note(buf);
    }

    n_.step("Record from the virtual card into an MP3 file, stop after 3 seconds");
    const std::string mp3 = dir_ + "/call.mp3";
    command("{\"cmd\":\"recordwave\",\"filename\":\"" + mp3 + "\",\"device\":\"vphone\"}");
    ok &= reports_until([](const std::string& m) { return m.find("\"time\":3") != std::string::npos || ended(m); },
                        15s);
    command("{\"cmd\":\"exitrecord\"}");
    ok &= reports_until(ended, 10s);
    long mp3_bytes = file_size(mp3);
    if (mp3_bytes > 0) {
        std::string head = file_head(mp3, 3);
        n_.note("call.mp3: " + std::to_string(mp3_bytes) + " bytes" +
                (head == "ID3" ? ", starting with its ID3 tag, then MP3 frames (8000 Hz)" : ""));
    } else {
        n_.note("!! no MP3 file was written");
        ok = false;
    }

    n_.step("Play the recording back");
    command("{\"cmd\":\"playwave\",\"filename\":\"" + mp3 + "\",\"device\":\"vphone\",\"playback\":\"once\"}");
    ok &= reports_until(ended, 15s);
    return ok;
}

}  // namespace

bool run_sound_act(CNarrator& n, const std::string& telsnd, const std::string& vsnd, const std::string& dir)
{
    if (telsnd.empty() || vsnd.empty() || access(telsnd.c_str(), X_OK) != 0 || access(vsnd.c_str(), R_OK) != 0) {
        n.note("(skipped: telsnd or the virtual sound card plugin was not built)");
        return true;
    }
    CSoundAct act(n, telsnd, vsnd, dir);
    return act.run();
}
