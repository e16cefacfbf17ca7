// telsnd over TCP against the virtual sound card.
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "telsnd_fixture.h"

using namespace telsnd_test;

namespace {

constexpr size_t PERIOD_BYTES = 4000;  // 125 ms of 16-bit stereo at 8000 Hz

// The played bytes are the samples, then at most one period of silence.
void expect_played_exactly(const std::string &played, const std::string &pcm)
{
    ASSERT_GE(played.size(), pcm.size());
    EXPECT_LE(played.size(), pcm.size() + PERIOD_BYTES);
    EXPECT_TRUE(played.compare(0, pcm.size(), pcm) == 0) << "played samples differ from the file";
    EXPECT_EQ(played.find_first_not_of('\0', pcm.size()), std::string::npos) << "padding is not silence";
}

struct Report {
    long time;
    long at_ms;
};

// Collects progress reports until time -1 (or the timeout).
std::vector<Report> reports_until_end(Client &c, Clock::time_point t0, std::chrono::milliseconds timeout = 8000ms)
{
    std::vector<Report> out;
    while (auto msg = c.next(timeout)) {
        if (auto t = json_int(*msg, "time")) {
            out.push_back({*t, ms_since(t0)});
            if (*t == -1)
                break;
        }
    }
    return out;
}

uint32_t le32(const std::string &s, size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}

// The recording is a canonical WAV whose header states exactly its data.
void expect_recording_header(const std::string &file)
{
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(file, 4), file.size() - 8);
    EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(file, 16), 16u);
    EXPECT_EQ(le32(file, 20), 0x00020001u);  // PCM, 2 channels
    EXPECT_EQ(le32(file, 24), 8000u);
    EXPECT_EQ(le32(file, 28), 32000u);
    EXPECT_EQ(le32(file, 32), 0x00100004u);  // block 4, 16 bits
    EXPECT_EQ(file.substr(36, 4), "data");
    EXPECT_EQ(le32(file, 40), file.size() - 44);
}

}  // namespace

TEST(TelsndService, ListRepliesWithoutSoundCards)
{
    Telsnd t;
    Client c(t.port());
    c.send(R"({"cmd":"get_snd_play"})");
    EXPECT_EQ(c.next(), R"({"playlist":[]})");
    // Two commands in one read: both answered, in order.
    c.send(R"({"cmd":"get_snd_record"}{"cmd":"get_snd_all"})");
    EXPECT_EQ(c.next(), R"({"recordlist":[]})");
    EXPECT_EQ(c.next(), R"({"cmd":"get_snd_all","data":[{"recordlist":[]},{"playlist":[]}]})");
}

TEST(TelsndService, CommandsSplitAcrossReadsAndUnrecognisedOnesIgnored)
{
    Telsnd t;
    Client c(t.port());
    c.send(R"({"cmd":"get_sn)");
    EXPECT_FALSE(c.next(300ms));
    c.send(R"(d_play"}{"cmd":"get_snd_rec)");  // ends one command, starts the next
    EXPECT_EQ(c.next(), R"({"playlist":[]})");
    EXPECT_FALSE(c.next(300ms));
    c.send(R"(ord"})");
    EXPECT_EQ(c.next(), R"({"recordlist":[]})");
    EXPECT_NE(t.stdout_text().find("socket read continue"), std::string::npos);

    // A blank after the colon and an unknown command: no reply for either.
    c.send(R"({"cmd": "get_snd_play"}{"cmd":"nothing"}{"cmd":"get_snd_record"})");
    EXPECT_EQ(c.next(), R"({"recordlist":[]})");
}

TEST(TelsndService, PlaysWavSamplesWithProgressAtRealTimePace)
{
    Telsnd t;
    const std::string pcm = pattern_pcm(8000 * 2 + 500, 2);  // short last period
    write_file(t.path("a.wav"), make_wav(pcm, 8000, 2));
    Client c(t.port());
    const auto t0 = Clock::now();
    c.send(play_cmd(t.path("a.wav")));
    const auto reports = reports_until_end(c, t0);
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports.front().time, 0);
    EXPECT_EQ(reports.back().time, -1);
    long last = 0;
    for (size_t i = 0; i + 1 < reports.size(); ++i) {
        EXPECT_GE(reports[i].time, last);
        EXPECT_LE(reports[i].time, last + 1);
        // Elapsed seconds are whole seconds since a start within the first second.
        EXPECT_GE(reports[i].at_ms, (reports[i].time - 1) * 1000 - 100);
        last = reports[i].time;
    }
    EXPECT_GE(last, 1);
    // 2.06 s of sound with at most half a second buffered ahead.
    EXPECT_GE(reports.back().at_ms, 1400);
    EXPECT_LT(reports.back().at_ms, 6000);
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    wait_played_out(t);
    expect_played_exactly(t.played(), pcm);
}

TEST(TelsndService, PlaysOtherRatesWidthsAndChannelCounts)
{
    Telsnd t;
    Client c(t.port());
    const struct {
        uint32_t rate;
        int channels, bits;
        bool plays;
    } cases[] = {
        {44100, 2, 16, true}, {44100, 1, 16, true}, {8000, 1, 8, true}, {22050, 2, 8, true},
        {8000, 2, 24, false},  // refused by the device set-up: error report
    };
    size_t offset = 0;  // the virtual card appends every playback
    for (const auto &k : cases) {
        SCOPED_TRACE(std::to_string(k.rate) + " Hz, " + std::to_string(k.channels) + " ch, " +
                     std::to_string(k.bits) + " bits");
        const size_t frame = size_t(k.channels * k.bits / 8);
        std::string pcm = pattern_pcm(k.rate / 2 * frame / 2 + 1, 1).substr(0, k.rate / 2 * frame);
        write_file(t.path("f.wav"), make_wav(pcm, k.rate, k.channels, k.bits));
        c.send(play_cmd(t.path("f.wav")));
        if (!k.plays) {
            EXPECT_EQ(c.wait_for("error"), R"({"type":1,"error":"vexcard"})");
            continue;
        }
        ASSERT_TRUE(c.wait_for("\"time\":-1"));
        ASSERT_TRUE(wait_output(t, "play_wav ok", int(&k - cases) + 1));
        wait_played_out(t);
        const std::string played = t.played().substr(offset);
        offset += played.size();
        const size_t period = k.rate / 8 * frame + frame;
        ASSERT_GE(played.size(), pcm.size());
        EXPECT_LE(played.size(), pcm.size() + period);
        EXPECT_TRUE(played.compare(0, pcm.size(), pcm) == 0);
        const char silence = k.bits == 8 ? char(0x80) : '\0';
        EXPECT_EQ(played.find_first_not_of(silence, pcm.size()), std::string::npos);
    }
}

TEST(TelsndService, PauseStopsTheDataAndResumeLosesNothing)
{
    Telsnd t;
    const std::string pcm = pattern_pcm(8000 * 3, 2);
    write_file(t.path("a.wav"), make_wav(pcm, 8000, 2));
    Client c(t.port());
    c.send(play_cmd(t.path("a.wav")));
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    std::this_thread::sleep_for(600ms);
    c.send(R"({"cmd":"pausewave"})");
    std::this_thread::sleep_for(1000ms);  // what was buffered plays out
    const size_t paused_at = file_size(t.path("played.raw"));
    std::this_thread::sleep_for(1000ms);
    EXPECT_EQ(file_size(t.path("played.raw")), paused_at) << "data reached the device while paused";
    EXPECT_LT(paused_at, pcm.size());
    c.send(R"({"cmd":"resumewave"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1", 8000ms));
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    wait_played_out(t);
    expect_played_exactly(t.played(), pcm);
}

TEST(TelsndService, ExitplayStopsWhilePlayingAndWhilePaused)
{
    Telsnd t;
    const std::string pcm = pattern_pcm(8000 * 4, 2);
    write_file(t.path("a.wav"), make_wav(pcm, 8000, 2));
    Client c(t.port());
    for (bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        c.send(play_cmd(t.path("a.wav")));
        ASSERT_TRUE(c.wait_for("\"time\":0"));
        std::this_thread::sleep_for(700ms);
        if (paused) {
            c.send(R"({"cmd":"pausewave"})");
            std::this_thread::sleep_for(300ms);
        }
        const auto t0 = Clock::now();
        c.send(R"({"cmd":"exitplay"})");
        ASSERT_TRUE(c.wait_for("\"time\":-1", 3000ms));
        EXPECT_LT(ms_since(t0), 1500);
    }
    ASSERT_TRUE(wait_output(t, "play_wav error", 2));
    EXPECT_LT(t.played().size(), pcm.size());
}

TEST(TelsndService, RepeatPlaysAgainAfterTwoSecondsWithNewStartReport)
{
    Telsnd t;
    const std::string pcm = pattern_pcm(8000, 2);  // one second, whole periods
    write_file(t.path("a.wav"), make_wav(pcm, 8000, 2));
    Client c(t.port());
    const auto t0 = Clock::now();
    c.send(play_cmd(t.path("a.wav"), "repeat"));
    std::vector<Report> reports;
    while (ms_since(t0) < 4200) {
        if (auto msg = c.next(200ms))
            if (auto v = json_int(*msg, "time"))
                reports.push_back({*v, ms_since(t0)});
    }
    c.send(R"({"cmd":"exitplay"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1", 3000ms));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().time, 0);
    bool restarted = false;
    for (const auto &r : reports) {
        EXPECT_NE(r.time, -1) << "a repeating playback ended";
        if (r.time == 0 && r.at_ms >= 2000)
            restarted = true;
    }
    EXPECT_TRUE(restarted) << "no new start report after the gap";
    ASSERT_TRUE(wait_output(t, "play_wav error"));
    std::this_thread::sleep_for(300ms);
    const std::string played = t.played();
    ASSERT_GT(played.size(), pcm.size());
    EXPECT_TRUE(played.compare(0, pcm.size(), pcm) == 0);
    const size_t again = std::min(played.size() - pcm.size(), pcm.size());
    EXPECT_TRUE(played.compare(pcm.size(), again, pcm, 0, again) == 0) << "second pass is not the same samples";
}

TEST(TelsndService, MissingFileReportsErrorAndNextPlaywaveStartsAtOnce)
{
    Telsnd t;
    write_file(t.path("a.wav"), make_wav(pattern_pcm(4000, 2), 8000, 2));
    Client c(t.port());
    c.send(play_cmd(t.path("missing.wav")));
    EXPECT_EQ(c.next(), R"({"type":1,"error":"vexcard"})");
    const auto t0 = Clock::now();
    c.send(play_cmd(t.path("a.wav")));
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    EXPECT_LT(ms_since(t0), 1500) << "waited for a playback that had already failed";
    ASSERT_TRUE(c.wait_for("\"time\":-1"));
    // Refused layouts end the same way.
    write_file(t.path("bad.wav"), "RIFX" + make_wav(pattern_pcm(100, 2), 8000, 2).substr(4));
    c.send(play_cmd(t.path("bad.wav")));
    EXPECT_EQ(c.wait_for("error"), R"({"type":1,"error":"vexcard"})");
}

TEST(TelsndService, RecordsKnownInputIntoExactWav)
{
    Telsnd t;
    const std::string input = pattern_pcm(10000, 2, 7);  // 1.25 s, then silence
    write_file(t.path("input.raw"), input);
    Client c(t.port());
    c.send(record_cmd(t.path("rec.wav")));
    ASSERT_EQ(c.next(), R"({"type":0,"msg":"escaptime","time":0})");
    std::this_thread::sleep_for(1800ms);
    c.send(R"({"cmd":"exitrecord"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1", 3000ms));
    ASSERT_TRUE(wait_output(t, "release_record_wav ok"));
    const std::string file = read_file(t.path("rec.wav"));
    expect_recording_header(file);
    const std::string data = file.substr(44);
    EXPECT_EQ(data.size() % PERIOD_BYTES, 0u);
    ASSERT_GE(data.size(), input.size()) << "less than the time recorded";
    EXPECT_LE(data.size(), 3 * 32000u);
    EXPECT_TRUE(data.compare(0, input.size(), input) == 0) << "recorded samples differ from the input";
    EXPECT_EQ(data.find_first_not_of('\0', input.size()), std::string::npos);
}

TEST(TelsndService, RecordingIntoMissingFolderReportsErrorThenRecordsNormally)
{
    Telsnd t;
    Client c(t.port());
    c.send(record_cmd(t.path("no/such/dir/rec.wav")));
    EXPECT_EQ(c.next(), R"({"type":0,"error":"vexcard"})");
    c.send(record_cmd(t.path("rec.wav")));
    EXPECT_EQ(c.next(), R"({"type":0,"msg":"escaptime","time":0})");
    // A second recordwave while recording starts nothing.
    c.send(record_cmd(t.path("other.wav")));
    std::this_thread::sleep_for(400ms);
    c.send(R"({"cmd":"exitrecord"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1"));
    ASSERT_TRUE(wait_output(t, "release_record_wav ok"));
    EXPECT_EQ(file_size(t.path("other.wav")), 0u);
    expect_recording_header(read_file(t.path("rec.wav")));
}

TEST(TelsndService, SetvolumeRunsAmixerWithPlainArguments)
{
    Telsnd t;
    Client c(t.port());
    const struct {
        const char *fields;
        const char *args;  // as logged by the stand-in amixer; empty: not run
    } cases[] = {
        {R"("device":"hw:1","value":"50","spk":"1")", "[-c][1][cset][numid=4][50%]"},
        {R"("device":"plughw:1,0","value":"50","spk":"1")", "[set][Master][50%]"},
        {R"("device":"hw:2","value":"100","spk":"0")", "[-c][2][cset][numid=6][100%]"},
        {R"("device":"hw:2","value":"100","spk":"2")", "[-c][2][cset][numid=6][100%]"},
        {R"("device":"hw:1","spk":"1")", "[-c][1][cset][numid=4][60%]"},
        {R"("device":"hw:1","value":"abc")", "[-c][1][cset][numid=6][0%]"},
        {R"("device":"hw:1","value":"150","spk":"1")", "[-c][1][cset][numid=4][150%]"},
        {R"("device":"hw:1;touch pwned;#","value":"5")", "[-c][1;touch pwned;#][cset][numid=6][5%]"},
        {R"x("device":"hw:$(touch pwned2)")x", "[-c][$(touch pwned2)][cset][numid=6][60%]"},
        {R"("device":"default","value":"5")", ""},
    };
    std::string expected;
    for (const auto &k : cases) {
        c.send(std::string(R"({"cmd":"setvolume",)") + k.fields + "}");
        if (*k.args)
            expected += std::string(k.args) + "\n";
    }
    c.send(R"({"cmd":"get_snd_record"})");  // commands run in order: this answers after them all
    ASSERT_EQ(c.next(), R"({"recordlist":[]})");
    EXPECT_EQ(t.amixer_log(), expected);
    EXPECT_FALSE(std::filesystem::exists(t.path("pwned")) || std::filesystem::exists(t.path("pwned2")));
    const std::string out = t.stdout_text();
    EXPECT_NE(out.find("setvolume 1 50% 716\n"), std::string::npos);
    EXPECT_NE(out.find("setvolume 0 100% 496\n"), std::string::npos);
    EXPECT_NE(out.find("setvolume 2 100% 1008\n"), std::string::npos);
}

TEST(TelsndService, OverlongAndGarbageInputIsDroppedAndLosesNothing)
{
    Telsnd t;
    const std::string pcm = pattern_pcm(8000 + 2000, 2);
    write_file(t.path("a.wav"), make_wav(pcm, 8000, 2));
    Client c(t.port());
    c.send(play_cmd(t.path("a.wav")));
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    const std::string sentinel = R"({"cmd":"get_snd_record"})";
    const std::string bad[] = {
        R"({"cmd":"get_snd_play","x":")" + std::string(240, 'a') + R"("})",          // command of 256+
        std::string(1100, 'b') + R"("cmd":"get_snd_play"})",                          // 1023+ without "}"
        R"({"cmd":"playwave","filename":"x.wav","device":")" + std::string(64, 'd') + R"("})",
        R"({"cmd":"playwave","filename":"x.wav","device":"vphone","playback":")" + std::string(24, 'r') + R"("})",
        R"({"cmd":"recordwave","filename":"r.wav","device":")" + std::string(64, 'd') + R"("})",
        R"({"cmd":"setvolume","device":"hw:)" + std::string(21, '1') + R"(","value":"5"})",
        R"({"cmd":"setvolume","device":"hw:1","value":")" + std::string(24, '5') + R"("})",
        std::string("\x01\xff\x00garbage}", 11) + "\xfe\xfd}",
    };
    for (const auto &b : bad) {
        c.send(b);
        c.send(sentinel);
        // The next reply (progress reports of the playback aside) answers the sentinel.
        auto reply = c.next();
        while (reply && reply->find("escaptime") != std::string::npos)
            reply = c.next();
        EXPECT_EQ(reply, R"({"recordlist":[]})") << b.substr(0, 60);
    }
    EXPECT_EQ(t.amixer_log(), "");
    EXPECT_FALSE(std::filesystem::exists(t.path("r.wav")));
    EXPECT_NE(t.stderr_text().find("dropped"), std::string::npos);
    // The playback that was running went on undisturbed to its end.
    ASSERT_TRUE(c.wait_for("\"time\":-1", 6000ms));
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    wait_played_out(t);
    expect_played_exactly(t.played(), pcm);
}

TEST(TelsndService, ClientGoneDuringReportsLeavesServiceRunning)
{
    Telsnd t;
    write_file(t.path("a.wav"), make_wav(pattern_pcm(8000 * 2, 2), 8000, 2));
    {
        Client a(t.port());
        a.send(play_cmd(t.path("a.wav")));
        ASSERT_TRUE(a.wait_for("\"time\":0"));
    }
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    EXPECT_TRUE(t.alive());
    Client b(t.port());
    b.send(R"({"cmd":"get_snd_play"})");
    EXPECT_EQ(b.next(), R"({"playlist":[]})");
}

TEST(TelsndService, ReportsNeverReachADescriptorReusedByARecording)
{
    Telsnd t;
    write_file(t.path("input.raw"), pattern_pcm(16000, 2, 3));
    Client a(t.port());
    a.send(R"({"cmd":"get_snd_play"})");
    ASSERT_TRUE(a.next());
    {
        Client b(t.port());  // accepted last: reports go here while it is open
        b.send(R"({"cmd":"get_snd_play"})");
        ASSERT_TRUE(b.next());
    }
    ASSERT_TRUE(wait_output(t, "socket exit"));
    // The recording file now gets the lowest free descriptor: b's old one.
    a.send(record_cmd(t.path("rec.wav")));
    std::this_thread::sleep_for(1500ms);
    a.send(R"({"cmd":"exitrecord"})");
    ASSERT_TRUE(wait_output(t, "release_record_wav ok"));
    const std::string file = read_file(t.path("rec.wav"));
    expect_recording_header(file);
    EXPECT_EQ(file.find("escaptime"), std::string::npos) << "a report was written into the recording";
    EXPECT_FALSE(a.next(300ms)) << "reports went to a connection that did not start last";
}

TEST(TelsndService, DeviceFailureEndsOnlyThatPlaybackOrRecording)
{
    Telsnd t;
    const std::string pcm = pattern_pcm(8000 * 3, 2);
    write_file(t.path("a.wav"), make_wav(pcm, 8000, 2));
    write_file(t.path("input.raw"), pattern_pcm(8000 * 3, 2, 5));
    Client c(t.port());
    c.send(play_cmd(t.path("a.wav"), "once", "vfail"));  // the card fails after one second
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    ASSERT_TRUE(c.wait_for("\"time\":-1", 4000ms));
    ASSERT_TRUE(wait_output(t, "play_wav error"));
    EXPECT_NE(t.stderr_text().find("Error snd_pcm_writei"), std::string::npos);

    c.send(record_cmd(t.path("rec.wav"), "vfail"));
    ASSERT_TRUE(c.wait_for("\"time\":-1", 4000ms));
    ASSERT_TRUE(wait_output(t, "release_record_wav ok"));
    const std::string file = read_file(t.path("rec.wav"));
    expect_recording_header(file);
    EXPECT_GT(file.size(), 44u);

    ASSERT_TRUE(t.alive());
    c.send(play_cmd(t.path("a.wav")));
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    c.send(R"({"cmd":"exitplay"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1"));
}

TEST(TelsndService, PortArgumentAndBindFailures)
{
    const struct {
        std::vector<std::string> args;
    } cases[] = {{{}}, {{"abc"}}, {{"12x"}}, {{"1", "2"}}};
    for (const auto &k : cases) {
        std::string cmd = std::string(TELSND_PATH);
        for (const auto &a : k.args)
            cmd += " " + a;
        cmd += " >/dev/null 2>&1";
        const int status = system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << cmd;
    }
    // A port already in use: the reason and a failure, not a deaf service.
    Telsnd t;
    const std::string cmd = std::string(TELSND_PATH) + " " + std::to_string(t.port()) + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_TRUE(p);
    char buf[256] = {};
    const size_t n = fread(buf, 1, sizeof buf - 1, p);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_NE(std::string(buf, n).find("bind"), std::string::npos);
}
