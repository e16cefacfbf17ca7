// telsnd with several connections, playback and recording at once, and many
// short-lived connections and threads.
#include <thread>

#include "telsnd_fixture.h"

using namespace telsnd_test;

TEST(TelsndConcurrency, ConnectionsEndIndependently)
{
    Telsnd t;
    Client a(t.port());
    Client b(t.port());
    b.send(R"({"cmd":"get_snd_play"})");
    ASSERT_TRUE(b.next());
    a.close();
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < 3; ++i) {
        b.send(R"({"cmd":"get_snd_record"})");
        EXPECT_EQ(b.next(), R"({"recordlist":[]})") << "request " << i;
        std::this_thread::sleep_for(100ms);
    }
}

TEST(TelsndConcurrency, PlaywaveReplacesPausedPlaybackWhileRecording)
{
    Telsnd t;
    write_file(t.path("input.raw"), pattern_pcm(8000 * 4, 2, 9));
    write_file(t.path("a.wav"), make_wav(pattern_pcm(8000 * 4, 2, 1), 8000, 2));
    const std::string second = pattern_pcm(4000, 2, 2);
    write_file(t.path("b.wav"), make_wav(second, 8000, 2));
    Client c(t.port());
    c.send(R"({"cmd":"recordwave","filename":")" + t.path("rec.wav") + R"(","device":"vphone"})");
    c.send(play_cmd(t.path("a.wav")));
    std::this_thread::sleep_for(800ms);
    c.send(R"({"cmd":"pausewave"})");
    std::this_thread::sleep_for(300ms);
    const auto t0 = Clock::now();
    c.send(play_cmd(t.path("b.wav")));
    // The paused playback ends (time -1), then the new one starts.
    bool ended = false, restarted = false;
    while (auto msg = c.next(4000ms)) {
        if (json_int(*msg, "type") != 1)
            continue;
        if (json_int(*msg, "time") == -1) {
            if (ended)
                break;  // the second file finished
            ended = true;
        } else if (ended && json_int(*msg, "time") == 0) {
            restarted = true;
        }
    }
    EXPECT_TRUE(ended && restarted);
    EXPECT_LT(ms_since(t0), 5000);
    c.send(R"({"cmd":"exitrecord"})");
    ASSERT_TRUE(c.wait_for(R"({"type":0,"msg":"escaptime","time":-1})"));
    // The new playback's samples ended the played stream.
    std::this_thread::sleep_for(800ms);
    const std::string played = t.played();
    ASSERT_GE(played.size(), second.size());
    EXPECT_NE(played.find(second.substr(0, 4000)), std::string::npos);
    EXPECT_TRUE(t.alive());
}

TEST(TelsndConcurrency, CommandsFromTwoConnectionsLeaveOnePlayback)
{
    Telsnd t;
    write_file(t.path("a.wav"), make_wav(pattern_pcm(8000 * 2, 2), 8000, 2));
    Client a(t.port());
    Client b(t.port());  // accepted last: gets the reports
    auto storm = [&](Client &c) {
        for (int i = 0; i < 6; ++i) {
            c.send(play_cmd(t.path("a.wav")));
            c.send(R"({"cmd":"pausewave"}{"cmd":"resumewave"})");
            std::this_thread::sleep_for(50ms);
        }
    };
    b.send(R"({"cmd":"get_snd_play"})");
    ASSERT_TRUE(b.next());
    const int idle_threads = t.threads();  // main, two readers (and a sanitizer's own)
    std::thread ta(storm, std::ref(a)), tb(storm, std::ref(b));
    ta.join();
    tb.join();
    b.send(R"({"cmd":"exitplay"})");
    // Each playwave waits for the one before it to drain, and a's last ones
    // may come after b's stop: in the end, nothing plays and no playback
    // thread is left.
    size_t size = file_size(t.path("played.raw"));
    auto stable = Clock::now();
    const auto t0 = Clock::now();
    while (ms_since(stable) < 1500 && ms_since(t0) < 25000) {
        std::this_thread::sleep_for(100ms);
        if (file_size(t.path("played.raw")) != size) {
            size = file_size(t.path("played.raw"));
            stable = Clock::now();
        }
    }
    EXPECT_GE(ms_since(stable), 1500) << "the device is still fed";
    EXPECT_LE(t.threads(), idle_threads);
    EXPECT_TRUE(t.alive());
}

TEST(TelsndConcurrency, ThreadsAndMemoryDoNotGrowOverManyConnections)
{
    Telsnd t;
    auto round = [&](int n) {
        for (int i = 0; i < n; ++i) {
            Client c(t.port());
            c.send(R"({"cmd":"get_snd_all"})" + play_cmd(t.path("missing.wav")));
            ASSERT_TRUE(c.next());
            ASSERT_EQ(c.next(), R"({"type":1,"error":"vexcard"})");
        }
    };
    round(50);
    std::this_thread::sleep_for(300ms);
    const int threads = t.threads();
    const long rss = t.rss_kb();
    round(400);
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(t.threads(), threads + 1);
    EXPECT_LE(threads, 4);  // main, a reader still closing, a sanitizer's own
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (Sanitizers hold freed memory back on purpose.)
    EXPECT_LT(t.rss_kb(), rss + 2048) << "resident memory grew";
#else
    (void)rss;
#endif
}
