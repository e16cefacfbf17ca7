// MP3 playback and recording of the real telsnd, over TCP, against the
// virtual sound card. Test files are made with the lame program.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <thread>

#include "mp3_test_util.h"
#include "telsnd_fixture.h"

using namespace telsnd_test;
using namespace mp3_test;

namespace {

// The encoder's delay and padding, and the decoder's: what a playback plays
// beyond the samples that went into the file.
constexpr size_t CODEC_EXTRA_FRAMES = 3 * 1152;

size_t occurrences(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Times of the progress reports until time -1 (or the timeout).
std::vector<long> times_until_end(Client &c, std::chrono::milliseconds timeout = 10000ms)
{
    std::vector<long> out;
    const auto t0 = Clock::now();
    while (ms_since(t0) < timeout.count()) {
        auto msg = c.next(timeout);
        if (!msg)
            break;
        if (auto v = json_int(*msg, "time")) {
            out.push_back(*v);
            if (*v == -1)
                break;
        }
    }
    return out;
}

void expect_one_pass(const std::vector<long> &times)
{
    ASSERT_GE(times.size(), 2u);
    EXPECT_EQ(times.front(), 0);
    EXPECT_EQ(times.back(), -1);
}

// The data of a canonical WAV file made by `lame --decode`.
std::string wav_data(const std::string &wav)
{
    return wav.size() >= 44 ? wav.substr(44) : "";
}

struct PlayCase {
    const char *name;
    uint32_t rate;
    int channels;
    size_t frames;
};

void PrintTo(const PlayCase &c, std::ostream *os) { *os << c.name; }

class Mp3Playback : public ::testing::TestWithParam<PlayCase> {};

}  // namespace

// The device is set up from the first frame header and plays every decoded
// sample, the ones before the first full period and after the last included.
TEST_P(Mp3Playback, PlaysEveryDecodedSampleInTheFileLayout)
{
    const PlayCase &p = GetParam();
    Telsnd t;
    const std::string mp3 = make_mp3(t.dir(), p.name, sine_pcm(p.frames, p.channels, p.rate), p.rate, p.channels);
    Client c(t.port());
    c.send(play_cmd(mp3));
    const auto times = times_until_end(c);
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), 0);
    EXPECT_EQ(times.back(), -1);
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    wait_played_out(t);

    const std::string setup =
        "SNDWAV_PrepareWAVParams: " + std::to_string(p.channels) + " " + std::to_string(p.rate) + " 16\n";
    EXPECT_EQ(occurrences(t.stderr_text(), setup), 1u) << t.stderr_text();

    const size_t frame_bytes = 2 * size_t(p.channels);
    const std::string played = t.played();
    ASSERT_EQ(played.size() % frame_bytes, 0u);
    EXPECT_GE(played.size() / frame_bytes, p.frames);
    EXPECT_LE(played.size() / frame_bytes, p.frames + CODEC_EXTRA_FRAMES + p.rate / 8);

    // The same samples as the reference decoder gives (which trims the
    // codec's delay and padding, by amounts that depend on the frame size).
    const std::string ref = wav_data(lame_decode(mp3));
    ASSERT_GE(ref.size(), p.frames * frame_bytes);
    const std::string middle = ref.substr(ref.size() / 4 / frame_bytes * frame_bytes, ref.size() / 2);
    EXPECT_NE(played.find(middle), std::string::npos) << "played samples differ from the decoded file";
}

INSTANTIATE_TEST_SUITE_P(Files, Mp3Playback,
                         ::testing::Values(PlayCase{"stereo44100.mp3", 44100, 2, 44100},
                                           PlayCase{"mono22050.mp3", 22050, 1, 22050 * 6 / 10},
                                           // under one 8192-byte block of the file
                                           PlayCase{"short.mp3", 44100, 2, 44100 * 3 / 10}),
                         [](const auto &info) { return std::string(info.param.name).substr(0, 5); });

// A tag is not audio: a file plays the same with an ID3v2 tag in front, also
// one long enough to span several blocks and full of false frame syncs.
TEST(Mp3Play, TaggedFilePlaysLikeTheUntaggedOne)
{
    Telsnd t;
    const std::string plain = make_mp3(t.dir(), "plain.mp3", sine_pcm(22050 / 2, 2, 22050), 22050, 2);
    write_file(t.path("tagged.mp3"), fake_id3v2(20000) + read_file(plain));
    Client c(t.port());
    c.send(play_cmd(plain));
    expect_one_pass(times_until_end(c));
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    wait_played_out(t);
    const size_t first = t.played().size();
    ASSERT_GT(first, 0u);

    c.send(play_cmd(t.path("tagged.mp3")));
    expect_one_pass(times_until_end(c));
    ASSERT_TRUE(wait_output(t, "play_wav ok", 2));
    wait_played_out(t);
    const std::string played = t.played();
    ASSERT_EQ(played.size(), 2 * first);
    EXPECT_TRUE(played.compare(first, first, played, 0, first) == 0);
}

// The recorded file: ID3v2 tag of id3tagLen bytes, the LAME tag frame right
// after it, one ID3v1 tag at the end; it decodes to the time recorded, and
// telsnd plays it back.
TEST(Mp3Record, RecordsATaggedFileThatDecodesAndPlaysBack)
{
    Telsnd t;
    write_file(t.path("input.raw"), sine_pcm(8000 * 3, 2, 8000));
    Client c(t.port());
    c.send(record_cmd(t.path("rec.mp3")));
    ASSERT_EQ(c.next(), R"({"type":0,"msg":"escaptime","time":0})");
    std::this_thread::sleep_for(1500ms);
    c.send(R"({"cmd":"exitrecord"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1", 4000ms));
    ASSERT_TRUE(wait_output(t, "release_record_wav ok"));
    EXPECT_NE(t.stdout_text().find("record_wav ok"), std::string::npos);

    const std::string out = t.stdout_text();
    const size_t at = out.find("lame_get_id3v2_tag ");
    ASSERT_NE(at, std::string::npos);
    const size_t id3tagLen = size_t(atol(out.c_str() + at + strlen("lame_get_id3v2_tag ")));
    const std::string file = read_file(t.path("rec.mp3"));
    ASSERT_GT(id3tagLen, 10u);
    ASSERT_GT(file.size(), id3tagLen + 128 + 1000);
    EXPECT_EQ(file.substr(0, 3), "ID3");
    const size_t body = size_t(file[6]) << 21 | size_t(file[7]) << 14 | size_t(file[8]) << 7 | size_t(file[9]);
    EXPECT_EQ(10 + body, id3tagLen);
    EXPECT_NE(file.substr(0, id3tagLen).find("Zereroziz Edizi"), std::string::npos);
    EXPECT_EQ(uint8_t(file[id3tagLen]), 0xFF);
    EXPECT_NE(file.substr(id3tagLen, 64).find("Info"), std::string::npos) << "no LAME tag frame after the tag";
    EXPECT_EQ(file.substr(file.size() - 128, 3), "TAG");
    EXPECT_EQ(occurrences(file, "TAG"), 1u);

    const std::string wav = lame_decode(t.path("rec.mp3"));
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(le32(wav, 24), 8000u);
    EXPECT_EQ(wav[22], 2);
    const size_t frames = (wav.size() - 44) / 4;
    EXPECT_EQ(frames % 1000, 0u) << "not whole periods of 125 ms";
    EXPECT_GE(frames, 8000u) << "less than the time recorded";
    EXPECT_LE(frames, 8000u * 4);

    // Played back by telsnd itself, tag and all.
    c.send(play_cmd(t.path("rec.mp3")));
    expect_one_pass(times_until_end(c));
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    wait_played_out(t);
    EXPECT_NE(t.stderr_text().find("SNDWAV_PrepareWAVParams: 2 8000 16\n"), std::string::npos);
    const std::string played = t.played();
    EXPECT_GE(played.size() / 4, frames);
    EXPECT_LE(played.size() / 4, frames + CODEC_EXTRA_FRAMES + 1000);
    EXPECT_NE(played.find_first_not_of('\0'), std::string::npos) << "played silence";
}

TEST(Mp3Play, PauseHoldsTheDataAndResumePlaysTheRest)
{
    Telsnd t;
    const size_t frames = 44100 * 3;
    const std::string mp3 = make_mp3(t.dir(), "a.mp3", sine_pcm(frames, 2, 44100), 44100, 2);
    Client c(t.port());
    c.send(play_cmd(mp3));
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    std::this_thread::sleep_for(300ms);
    c.send(R"({"cmd":"pausewave"})");
    // The block being decoded and the device's buffer still play out.
    std::this_thread::sleep_for(1800ms);
    const size_t paused_at = file_size(t.path("played.raw"));
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(file_size(t.path("played.raw")), paused_at) << "data reached the device while paused";
    EXPECT_LT(paused_at / 4, frames);
    c.send(R"({"cmd":"resumewave"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1", 8000ms));
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
    wait_played_out(t);
    const size_t played_frames = t.played().size() / 4;
    EXPECT_GE(played_frames, frames);
    EXPECT_LE(played_frames, frames + CODEC_EXTRA_FRAMES + 44100 / 8);
}

TEST(Mp3Play, ExitplayStopsWhilePlayingAndWhilePaused)
{
    Telsnd t;
    const std::string mp3 = make_mp3(t.dir(), "a.mp3", sine_pcm(22050 * 4, 2, 22050), 22050, 2);
    Client c(t.port());
    for (bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        c.send(play_cmd(mp3));
        ASSERT_TRUE(c.wait_for("\"time\":0"));
        std::this_thread::sleep_for(300ms);
        if (paused)
            c.send(R"({"cmd":"pausewave"})");
        std::this_thread::sleep_for(300ms);
        const auto t0 = Clock::now();
        c.send(R"({"cmd":"exitplay"})");
        ASSERT_TRUE(c.wait_for("\"time\":-1", 4000ms));
        EXPECT_LT(ms_since(t0), 2500);
        ASSERT_TRUE(wait_output(t, "play_wav error", paused ? 2 : 1));
    }
    wait_played_out(t);
    EXPECT_LT(t.played().size() / 4, 2 * 22050 * 4u) << "the stopped playbacks played to their end";
}

TEST(Mp3Play, RepeatStartsOverAfterTheGapWithANewStartReport)
{
    Telsnd t;
    const size_t frames = 22050 * 4 / 10;
    const std::string mp3 = make_mp3(t.dir(), "a.mp3", sine_pcm(frames, 2, 22050), 22050, 2);
    Client c(t.port());
    const auto t0 = Clock::now();
    c.send(play_cmd(mp3, "repeat"));
    std::vector<std::pair<long, long>> reports;  // time, ms since the command
    while (ms_since(t0) < 3500) {
        if (auto msg = c.next(200ms))
            if (auto v = json_int(*msg, "time"))
                reports.push_back({*v, ms_since(t0)});
    }
    c.send(R"({"cmd":"exitplay"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1", 4000ms));
    ASSERT_TRUE(wait_output(t, "play_wav error"));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().first, 0);
    size_t starts = 0;
    for (const auto &[time, at] : reports) {
        EXPECT_NE(time, -1) << "a repeating playback ended";
        if (time == 0 && at >= 2000)
            ++starts;
    }
    EXPECT_GE(starts, 1u) << "no new start report after the gap";
    wait_played_out(t);
    EXPECT_GE(t.played().size() / 4, 2 * frames) << "the second pass did not play";
}

// Files that are no MP3 at all play nothing and end with the two reports; a
// name with ".MP3" anywhere is decoded as MP3, one with ".mP3" played as WAV.
TEST(Mp3Play, FilesThatAreNotMp3EndCleanly)
{
    Telsnd t;
    const std::string pcm = pattern_pcm(4000, 2);
    struct Case {
        const char *name;
        std::string content;
        bool as_wav;
    };
    const Case cases[] = {
        {"zeros.mp3", std::string(30000, '\0'), false},
        {"text.Mp3", std::string(20000, 'x'), false},
        {"empty.mp3", "", false},
        {"tag-only.mp3", fake_id3v2(9000), false},
        {"song.MP3.wav", make_wav(pcm, 8000, 2), false},
        {"song.mP3", make_wav(pcm, 8000, 2), true},
    };
    Client c(t.port());
    size_t ends = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        write_file(t.path(k.name), k.content);
        const size_t before = file_size(t.path("played.raw"));
        const size_t log_before = t.stderr_text().size();
        c.send(play_cmd(t.path(k.name)));
        const auto times = times_until_end(c);
        ASSERT_GE(times.size(), 2u);
        EXPECT_EQ(times.front(), 0);
        EXPECT_EQ(times.back(), -1);
        ASSERT_TRUE(wait_output(t, "play_wav ok", ++ends));
        ASSERT_TRUE(t.alive());
        wait_played_out(t);
        const size_t played = file_size(t.path("played.raw")) - before;
        const std::string log = t.stderr_text().substr(log_before);
        if (k.as_wav) {
            EXPECT_GE(played, pcm.size());
        } else {
            EXPECT_EQ(log.find("non standard wav file"), std::string::npos) << "read as WAV";
        }
        if (k.content.find("RIFF") == std::string::npos) {
            EXPECT_EQ(played, 0u);
            EXPECT_EQ(log.find("SNDWAV_PrepareWAVParams: "), std::string::npos) << "a frame header in data without frames";
        }
    }
}

// A device that cannot take the first frame's format ends the start like any
// failed start: the error report, and the next playback starts at once.
TEST(Mp3Play, DeviceRefusingTheStreamFailsTheStart)
{
    Telsnd t;
    {
        // Takes only mu-law samples from us.
        std::ofstream rc(t.path(".asoundrc"), std::ios::app);
        rc << "pcm.vmulaw { type mulaw slave { pcm \"vphone\" format S16_LE } }\n";
    }
    const std::string mp3 = make_mp3(t.dir(), "a.mp3", sine_pcm(11025, 2, 22050), 22050, 2);
    Client c(t.port());
    c.send(play_cmd(mp3, "once", "vmulaw"));
    ASSERT_EQ(c.wait_for("error"), R"({"type":1,"error":"vexcard"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1"));
    ASSERT_TRUE(wait_output(t, "play_wav error"));
    EXPECT_NE(t.stderr_text().find("Error set_snd_pcm_params"), std::string::npos);

    const auto t0 = Clock::now();
    c.send(play_cmd(mp3));
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    EXPECT_LT(ms_since(t0), 1500) << "waited for the failed playback";
    ASSERT_TRUE(c.wait_for("\"time\":-1"));
    ASSERT_TRUE(wait_output(t, "play_wav ok"));
}

// A card that fails in mid-stream ends only that playback or recording; the
// recording is still a finished file with its tags.
TEST(Mp3Play, DeviceFailureEndsThePlaybackAndLeavesAFinishedRecording)
{
    Telsnd t;
    const std::string mp3 = make_mp3(t.dir(), "a.mp3", sine_pcm(22050 * 3, 2, 22050), 22050, 2);
    write_file(t.path("input.raw"), sine_pcm(8000 * 3, 2, 8000));
    Client c(t.port());
    c.send(play_cmd(mp3, "once", "vfail"));  // the card fails after 8000 frames
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    ASSERT_TRUE(c.wait_for("\"time\":-1", 4000ms));
    ASSERT_TRUE(wait_output(t, "play_wav error"));

    c.send(record_cmd(t.path("rec.mp3"), "vfail"));
    ASSERT_TRUE(c.wait_for("\"time\":-1", 4000ms));
    ASSERT_TRUE(wait_output(t, "release_record_wav ok"));
    EXPECT_NE(t.stdout_text().find("record_wav error"), std::string::npos);
    const std::string file = read_file(t.path("rec.mp3"));
    ASSERT_GT(file.size(), 128u);
    EXPECT_EQ(file.substr(0, 3), "ID3");
    EXPECT_EQ(file.substr(file.size() - 128, 3), "TAG");
    const std::string wav = lame_decode(t.path("rec.mp3"));
    ASSERT_GE(wav.size(), 44u);
    EXPECT_GE((wav.size() - 44) / 4, 4000u) << "the audio captured before the failure is lost";

    ASSERT_TRUE(t.alive());
    c.send(play_cmd(mp3));
    ASSERT_TRUE(c.wait_for("\"time\":0"));
    c.send(R"({"cmd":"exitplay"})");
    ASSERT_TRUE(c.wait_for("\"time\":-1"));
}
