// Measures the CPU time of telsnd's MP3 paths without a sound card:
//  - recording: 16-bit stereo at 8000 Hz, encoded period by period (1000
//    frames, 125 ms) with the tags written as a recording writes them,
//    against `lame` encoding the same samples from a WAV file with its
//    default settings;
//  - playback: the decode path (tag skipping, 8192-byte blocks, staging into
//    periods) against `lame --decode`, on the recorded file and on a
//    44100 Hz stereo file made by lame.
// Each figure is the best of a few runs. Usage: bench_mp3 [--seconds N]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "mp3_decode.h"
#include "mp3_encode.h"

extern char **environ;

namespace {

constexpr int RUNS = 3;
constexpr size_t PERIOD_FRAMES = 1000;  // what the recording path reads from an 8000 Hz device

double thread_cpu()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Speech-like test signal: a few tones with a slow wobble and some noise.
std::vector<short> make_samples(size_t frames, unsigned rate, int channels)
{
    std::vector<short> s(frames * size_t(channels));
    uint32_t x = 12345;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double env = 0.6 + 0.4 * std::sin(2 * M_PI * 3 * t);
        for (int c = 0; c < channels; ++c) {
            x = x * 1103515245u + 12345u;
            const double noise = (double((x >> 16) & 0x7fff) / 32768.0 - 0.5) * 1500;
            const double v = env * (5000 * std::sin(2 * M_PI * (220 + 110 * c) * t) +
                                    2500 * std::sin(2 * M_PI * 660 * t) + 1200 * std::sin(2 * M_PI * 1870 * t)) +
                             noise;
            s[i * size_t(channels) + size_t(c)] = short(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return s;
}

void put_le(std::string &s, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(char((v >> (8 * i)) & 0xff));
}

void write_wav(const std::string &path, const std::vector<short> &pcm, unsigned rate, int channels)
{
    const uint32_t data = uint32_t(pcm.size() * 2);
    std::string h = "RIFF";
    put_le(h, data + 36, 4);
    h += "WAVEfmt ";
    put_le(h, 16, 4);
    put_le(h, 1, 2);
    put_le(h, uint32_t(channels), 2);
    put_le(h, rate, 4);
    put_le(h, rate * uint32_t(channels) * 2, 4);
    put_le(h, uint32_t(channels) * 2, 2);
    put_le(h, 16, 2);
    h += "data";
    put_le(h, data, 4);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(h.data(), 1, h.size(), f) != h.size() || fwrite(pcm.data(), 2, pcm.size(), f) != pcm.size()) {
        perror(path.c_str());
        exit(1);
    }
    fclose(f);
}

// CPU seconds (user + system) of one run of a program.
double child_cpu(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        fprintf(stderr, "cannot run %s\n", argv[0]);
        exit(1);
    }
    int status;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed\n", argv[0]);
        exit(1);
    }
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// The recording path from the first captured period to the finished file.
double telsnd_encode(const std::vector<short> &pcm, const std::string &path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        perror(path.c_str());
        exit(1);
    }
    const double t0 = thread_cpu();
    MP3Encoder_t enc;
    if (!MP3_EncoderInit(&enc, fd))
        exit(1);
    const size_t frames = pcm.size() / 2;
    for (size_t at = 0; at < frames; at += PERIOD_FRAMES) {
        if (MP3_EncodePcm(&enc, pcm.data() + at * 2, std::min(PERIOD_FRAMES, frames - at), fd) < 0)
            exit(1);
    }
    MP3_EncoderFinish(&enc, fd, true);
    MP3_EncoderRelease(&enc, 2);
    const double cpu = thread_cpu() - t0;
    close(fd);
    return cpu;
}

void quiet(const char *, va_list) {}

// The playback path minus the device: blocks, decoder, periods of 125 ms.
double telsnd_decode(const std::string &path, size_t *frames_out)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        perror(path.c_str());
        exit(1);
    }
    const double t0 = thread_cpu();
    MP3Decoder_t *dec = MP3_DecoderCreate(quiet);
    std::vector<uint8_t> period;
    MP3Stage_t st{};
    size_t frames = 0;
    unsigned char block[MP3_BLOCK_SIZE];
    MP3_DecoderRewind(dec);
    for (;;) {
        const ssize_t n = read(fd, block, sizeof block);
        MP3_DecoderFeed(dec, block, n > 0 ? size_t(n) : 0);
        MP3Frame_t f;
        while (MP3_DecoderNext(dec, &f) > 0) {
            if (!st.buf) {
                period.resize(size_t(f.rate) / 8 * 2 * size_t(f.channels));
                st = MP3Stage_t{period.data(), period.size(), 0, f.channels};
            }
            for (size_t at = 0; at < size_t(f.samples);) {
                at += MP3_StageFrames(&st, &f, at);
                if (st.staged == st.size)
                    st.staged = 0;
            }
            frames += size_t(f.samples);
        }
        if (n <= 0)
            break;
    }
    MP3_DecoderDestroy(dec);
    const double cpu = thread_cpu() - t0;
    close(fd);
    *frames_out = frames;
    return cpu;
}

template <typename F>
double best_of(F f)
{
    double best = 1e30;
    for (int i = 0; i < RUNS; ++i)
        best = std::min(best, f());
    return best;
}

void row(const char *what, double ours, double theirs, double audio_seconds)
{
    printf("%-44s telsnd %8.3f s   lame %8.3f s   ratio %5.2f   (telsnd %6.0fx real time)\n", what, ours, theirs,
           ours / theirs, audio_seconds / ours);
}

}  // namespace

int main(int argc, char **argv)
{
    int seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = atoi(argv[++i]);
        else {
            fprintf(stderr, "usage: %s [--seconds N]\n", argv[0]);
            return 2;
        }
    }
    if (seconds <= 0)
        seconds = 60;

    char tmpl[] = "/tmp/bench_mp3.XXXXXX";
    if (!mkdtemp(tmpl)) {
        perror("mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    auto path = [&](const char *name) { return dir + "/" + name; };

    // Library messages (tag sizes, flush) would only clutter the figures.
    fflush(stdout);
    const int saved_out = dup(1), saved_err = dup(2);
    const int devnull = open("/dev/null", O_WRONLY);

    const std::vector<short> rec = make_samples(size_t(seconds) * 8000, 8000, 2);
    write_wav(path("rec.wav"), rec, 8000, 2);
    const std::vector<short> music = make_samples(size_t(seconds) * 44100, 44100, 2);
    write_wav(path("music.wav"), music, 44100, 2);

    dup2(devnull, 1);
    dup2(devnull, 2);
    const double enc_ours = best_of([&] { return telsnd_encode(rec, path("telsnd.mp3")); });
    const double enc_lame = best_of([&] { return child_cpu({"lame", "--quiet", path("rec.wav"), path("lame.mp3")}); });
    child_cpu({"lame", "--quiet", path("music.wav"), path("music.mp3")});
    size_t frames_rec = 0, frames_music = 0;
    const double dec_ours = best_of([&] { return telsnd_decode(path("telsnd.mp3"), &frames_rec); });
    const double dec_lame =
        best_of([&] { return child_cpu({"lame", "--quiet", "--decode", path("telsnd.mp3"), path("dec.wav")}); });
    const double dec2_ours = best_of([&] { return telsnd_decode(path("music.mp3"), &frames_music); });
    const double dec2_lame =
        best_of([&] { return child_cpu({"lame", "--quiet", "--decode", path("music.mp3"), path("dec2.wav")}); });
    fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_err, 2);

    struct stat st_ours{}, st_lame{}, st_music{};
    stat(path("telsnd.mp3").c_str(), &st_ours);
    stat(path("lame.mp3").c_str(), &st_lame);
    stat(path("music.mp3").c_str(), &st_music);
    printf("MP3 CPU time, %d s of audio, best of %d runs (ratio = telsnd / lame; lame includes its start-up)\n",
           seconds, RUNS);
    printf("encoded sizes: telsnd %ld bytes (%.1f kbit/s), lame defaults %ld bytes (%.1f kbit/s)\n",
           long(st_ours.st_size), st_ours.st_size * 8.0 / seconds / 1000, long(st_lame.st_size),
           st_lame.st_size * 8.0 / seconds / 1000);
    row("record: encode 8000 Hz stereo", enc_ours, enc_lame, seconds);
    row("play: decode the recording (8000 Hz)", dec_ours, dec_lame, double(frames_rec) / 8000);
    row("play: decode 44100 Hz stereo (lame default)", dec2_ours, dec2_lame, double(frames_music) / 44100);
    printf("(music.mp3: %ld bytes)\n", long(st_music.st_size));
    std::filesystem::remove_all(dir);
    return 0;
}
