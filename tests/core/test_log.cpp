// Logging: threshold, names, header shape, cutting, dump_hex, and
// whole lines under concurrency.
#include "core/log.h"

// std::regex trips a false -Wmaybe-uninitialized in sanitizer builds (GCC 12).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture.h"

namespace {

// Restores log_level after each test.
class Log : public ::testing::Test {
protected:
    void SetUp() override { saved_ = log_level; }
    void TearDown() override { log_level = saved_; }
    int saved_ = 6;
};

const char kTime[] = R"(\d\d:\d\d:\d\d\.\d\d\d)";

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

}  // namespace

TEST_F(Log, InitialThresholdIsTrace) {
    EXPECT_EQ(saved_, 6);
    StdoutCapture cap;
    logd(8, "f", 1, "debug\n");
    logd(7, "f", 2, "log\n");
    logd(6, "f", 3, "trace\n");
    std::string out = cap.finish();
    EXPECT_EQ(out.find("debug"), std::string::npos);
    EXPECT_EQ(out.find("log\n"), std::string::npos);
    EXPECT_NE(out.find("trace\n"), std::string::npos);
}

TEST_F(Log, ThresholdTable) {
    for (int threshold = -1; threshold <= 8; ++threshold) {
        log_level = threshold;
        for (int level = 0; level <= 8; ++level) {
            StdoutCapture cap;
            logd(level, "f", 1, "m\n");
            std::string out = cap.finish();
            EXPECT_EQ(!out.empty(), level <= threshold)
                << "level " << level << " threshold " << threshold;
        }
    }
}

TEST_F(Log, LevelNames) {
    const char* names[] = {"unkown", "PANIC", "FAULT", "ERROR", "WARNING",
                           "INFO",   "TRACE", "LOG",   "DEBUG"};
    log_level = 100;
    for (int level = 0; level <= 8; ++level) {
        EXPECT_STREQ(stag[level], names[level]);
        StdoutCapture cap;
        logd(level, "f", 1, "m\n");
        std::string out = cap.finish();
        EXPECT_EQ(out.rfind(std::string("[") + names[level] + "] ", 0), 0u) << out;
    }
    for (int level : {-1, 9, 100}) {   // outside 0-8: named like level 0
        StdoutCapture cap;
        logd(level, "f", 1, "m\n");
        std::string out = cap.finish();
        EXPECT_EQ(out.rfind("[unkown] ", 0), 0u) << out;
    }
}

TEST_F(Log, HeaderShape) {
    StdoutCapture cap;
    logd(5, "set_prop", 196, "Device Set_prop [%s]\n", "x");
    LOGD(3, "macro %d\n", 7);
    std::string out = cap.finish();
    std::vector<std::string> l = lines_of(out);
    ASSERT_EQ(l.size(), 2u) << out;
    EXPECT_TRUE(std::regex_match(
        l[0], std::regex(std::string(R"(\[INFO\] )") + kTime +
                         R"( set_prop:196:\t Device Set_prop \[x\])")))
        << l[0];
    EXPECT_TRUE(std::regex_match(
        l[1], std::regex(std::string(R"(\[ERROR\] )") + kTime +
                         R"( TestBody:\d+:\t macro 7)")))
        << l[1];
    // Hours, minutes, seconds in range.
    int h = -1, m = -1, s = -1, ms = -1;
    ASSERT_EQ(sscanf(l[0].c_str(), "[INFO] %d:%d:%d.%d", &h, &m, &s, &ms), 4);
    EXPECT_TRUE(h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s <= 60 && ms >= 0 && ms < 1000);
}

TEST_F(Log, NoNewlineAddedAndOrderedWithPrintf) {
    StdoutCapture cap;
    logd(5, "open", 10, "opening: ");
    printf("a ");
    printf("b ");
    logd(5, "open", 12, "done\n");
    std::string out = cap.finish();
    EXPECT_TRUE(std::regex_match(
        out, std::regex(std::string(R"(\[INFO\] )") + kTime + R"( open:10:\t opening: a b \[INFO\] )" +
                        kTime + R"( open:12:\t done\n)")))
        << out;
}

TEST_F(Log, LongLineIsCutAndEndsTheLine) {
    std::string big(5000, 'x');
    StdoutCapture cap;
    logd(5, "f", 1, "%s\n", big.c_str());
    logd(5, "f", 2, "next\n");
    std::string out = cap.finish();
    std::vector<std::string> l = lines_of(out);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].size() + 1, size_t(LOG_LINE_MAX - 1));   // 1023 bytes with '\n'
    EXPECT_EQ(l[0].find_first_not_of('x', l[0].find("\t ") + 2), std::string::npos);
    EXPECT_NE(l[1].find("next"), std::string::npos);

    // A line that just fits (1023 bytes with its newline) is not cut.
    StdoutCapture cap2;
    logd(5, "f", 1, "%s", "");
    size_t header = cap2.finish().size();
    std::string fill(LOG_LINE_MAX - 2 - header, 'y');
    StdoutCapture cap3;
    logd(5, "f", 1, "%s\n", fill.c_str());
    std::string exact = cap3.finish();
    EXPECT_EQ(exact.size(), size_t(LOG_LINE_MAX - 1));
    EXPECT_EQ(exact.substr(header), fill + "\n");

    // A function name longer than the buffer: the header itself is cut.
    std::string longname(3000, 'n');
    StdoutCapture cap4;
    logd(5, longname.c_str(), 1, "msg\n");
    std::string cut = cap4.finish();
    EXPECT_EQ(cut.size(), size_t(LOG_LINE_MAX - 1));
    EXPECT_EQ(cut.back(), '\n');
}

TEST_F(Log, LogstrIsUnfilteredAndAddsNewline) {
    log_level = -1;
    StdoutCapture cap;
    logstr("tag", 7, "hello %s", "there");
    logstr("t", -2, "%s", std::string(3000, 'q').c_str());
    std::string out = cap.finish();
    std::vector<std::string> l = lines_of(out);
    ASSERT_EQ(l.size(), 2u) << out;
    EXPECT_TRUE(std::regex_match(l[0], std::regex(R"(\[\d\d:\d\d:\d\d tag/7\]hello there)"))) << l[0];
    EXPECT_EQ(l[1].size(), size_t(LOG_LINE_MAX - 1));   // 1023 chars, then '\n'
    EXPECT_EQ(out.back(), '\n');
}

TEST_F(Log, DumpHexTable) {
    struct Case { std::vector<unsigned char> bytes; std::string lines; };
    std::vector<unsigned char> b17;
    for (int i = 0; i < 17; ++i) b17.push_back((unsigned char)(i * 17));
    const Case cases[] = {
        {{}, ""},
        {{0x01, 0xAB, 0x10}, "01,AB,10\n"},
        {b17, "00,11,22,33,44,55,66,77,88,99,AA,BB,CC,DD,EE,FF\n10\n"},
        {std::vector<unsigned char>(32, 0xFF),
         "FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF\n"
         "FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF\n"},
    };
    std::regex title(std::string(R"(\[INFO\] )") + kTime + R"( dump_hex:\d+:\t report: )");
    for (const Case& c : cases) {
        StdoutCapture cap;
        dump_hex("report", c.bytes.data(), int(c.bytes.size()));
        std::string out = cap.finish();
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, title)) << out;
        EXPECT_EQ(m.position(0), 0);
        EXPECT_EQ(out.substr(size_t(m.length(0))), c.lines);
    }
    // Below INFO only the title is suppressed; the byte lines are written.
    log_level = 2;
    StdoutCapture cap;
    unsigned char two[] = {0xDE, 0xAD};
    dump_hex("quiet", two, 2);
    dump_hex("none", nullptr, 5);
    dump_hex("neg", two, -1);
    EXPECT_EQ(cap.finish(), "DE,AD\n");
}

// Several threads log (and dump bytes) at once: every line comes out whole,
// with its header, exactly once; long lines come out cut but whole.
TEST_F(Log, ConcurrentLinesStayWhole) {
    const int kThreads = 8, kLines = 400;
    // Threshold WARNING: the workers' lines (ERROR, WARNING) are written and
    // the dump_hex titles (INFO, left open by design) are not.
    log_level = 4;
    std::regex line_re(std::string(R"(\[(ERROR|WARNING)\] )") + kTime +
                       R"( worker:(\d+):\t T(\d+) L(-?\d+) ([a-z]*)|(([0-9A-F]{2}),){15}[0-9A-F]{2})");
    std::string out;
    {
        StdoutCapture cap;
        std::vector<std::thread> ts;
        std::atomic<bool> go{false};
        for (int t = 0; t < kThreads; ++t)
            ts.emplace_back([t, &go] {
                while (!go) std::this_thread::yield();
                unsigned char bytes[16];
                for (int i = 0; i < 16; ++i) bytes[i] = (unsigned char)(t * 16 + i);
                for (int i = 0; i < kLines; ++i) {
                    // Payload length and letter depend on (t, i): checked below.
                    std::string pad(size_t((t * 131 + i * 17) % 300), char('a' + (t + i) % 26));
                    logd(3 + (i & 1), "worker", t, "T%d L%d %s\n", t, i, pad.c_str());
                    if (i % 50 == 0) dump_hex("bytes", bytes, 16);
                    if (i % 100 == 0)
                        logd(3, "worker", t, "T%d L-1 %s\n", t, std::string(2000, 'z').c_str());
                }
            });
        go = true;
        for (auto& th : ts) th.join();
        out = cap.finish();
    }
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out.back(), '\n');
    std::map<std::pair<int, int>, int> seen;
    int cut_lines = 0, byte_lines = 0;
    for (const std::string& l : lines_of(out)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line_re)) << "corrupt line: [" << l.substr(0, 200) << "]";
        if (m[3].matched) {
            int t = std::stoi(m[3]), i = std::stoi(m[4]);
            ASSERT_EQ(std::stoi(m[2]), t);
            if (i < 0) {   // the long line: cut to 1023 bytes with its newline
                EXPECT_EQ(l.size() + 1, size_t(LOG_LINE_MAX - 1));
                EXPECT_EQ(m[5].str().find_first_not_of('z'), std::string::npos);
                ++cut_lines;
                continue;
            }
            std::string pad(size_t((t * 131 + i * 17) % 300), char('a' + (t + i) % 26));
            ASSERT_EQ(m[5].str(), pad) << l;
            ++seen[{t, i}];
        } else {
            // A byte line: 16 bytes of one thread, t*16 .. t*16+15.
            int first = std::stoi(l.substr(0, 2), nullptr, 16);
            for (int k = 0; k < 16; ++k)
                ASSERT_EQ(std::stoi(l.substr(size_t(3 * k), 2), nullptr, 16), first + k) << l;
            ++byte_lines;
        }
    }
    EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
    for (auto& kv : seen) EXPECT_EQ(kv.second, 1);
    EXPECT_EQ(cut_lines, kThreads * (kLines / 100));
    EXPECT_EQ(byte_lines, kThreads * (kLines / 50));
}
