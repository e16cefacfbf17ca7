// Text, clock and file helpers: table-driven cases.
#include "core/utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture.h"

TEST(Trim, Table) {
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {" \tA B\r\n", "A B"}, {"", ""},         {" \n\r\t", ""},
        {"abc", "abc"},        {"  a", "a"},     {"a  ", "a"},
        {"\t\ta b\t", "a b"},  {"x", "x"},       {"\v a \v", "\v a \v"},
    };
    for (const Case& c : cases) {
        std::string s = c.in;
        trim(s);
        EXPECT_EQ(s, c.out) << "input [" << c.in << "]";
    }
}

TEST(GetKeyValue, Table) {
    struct Case { const char* line; const char* key; const char* value; };
    const Case cases[] = {
        {"ACTION=add", "ACTION", "add"},
        {"A = B = C", "A", "B = C"},
        {"=v", "", "v"},
        {"k=", "k", ""},
        {" HID_ID = 0003:000004D9:00002832\n", "HID_ID", "0003:000004D9:00002832"},
        {"no equals sign", "old-key", "old-value"},   // outputs unchanged
        {"", "old-key", "old-value"},
    };
    for (const Case& c : cases) {
        std::vector<char> line(c.line, c.line + std::strlen(c.line) + 1);
        std::string key = "old-key", value = "old-value";
        EXPECT_EQ(get_key_value(line.data(), key, value), 0);
        EXPECT_EQ(key, c.key) << c.line;
        EXPECT_EQ(value, c.value) << c.line;
        EXPECT_STREQ(line.data(), c.line) << "line must be unchanged";
    }
    std::string key = "k", value = "v";
    EXPECT_EQ(get_key_value(nullptr, key, value), 0);
    EXPECT_EQ(key, "k");
    EXPECT_EQ(value, "v");
}

TEST(StringSplit, Table) {
    struct Case {
        std::string text;
        char sep;
        std::vector<std::string> before, after;
        int result;
    };
    const Case cases[] = {
        {"0003:000004D9:00002832", ':', {}, {"0003", "000004D9", "00002832"}, 3},
        {"a::b", ':', {}, {"a", "", "b"}, 3},
        {"abc", ':', {}, {"abc"}, 1},
        {"a:", ':', {}, {"a", ""}, 2},
        {":", ':', {}, {"", ""}, 2},
        {"", ':', {}, {}, 0},
        {"", ':', {"x"}, {"x"}, 0},                 // empty text: untouched, 0
        {"p,q", ',', {"x"}, {"x", "p", "q"}, 3},   // appended, counts old ones
    };
    for (const Case& c : cases) {
        std::vector<std::string> out = c.before;
        EXPECT_EQ(string_split(c.text, out, c.sep), c.result) << c.text;
        EXPECT_EQ(out, c.after) << c.text;
    }
}

TEST(Atox, Table) {
    struct Case { const char* s; int stride; long v; };
    const Case cases[] = {
        {"000004D9", 1, 0x4D9},      {"1a2B", 1, 0x1A2B},
        {"123456789", 1, 0x12345678}, {"x12", 1, 0},
        {"1234", 2, 0x13},           {"", 1, 0},
        {"fFfFfFfF", 1, 0xFFFFFFFFL}, {"ffffffffff", 1, 0xFFFFFFFFL},
        {"12g4", 1, 0x12},           {"2832\n", 1, 0x2832},
        {"123", 2, 0x13},            {"12", 3, 0x1},
        {"1", 4, 0x1},               {"1x2y3z", 2, 0x123},
        {"AB", 0, 0xAB},             {"AB", -3, 0xAB},   // stride < 1 taken as 1
    };
    for (const Case& c : cases) {
        // Exactly sized heap copy: ASan reports any read past the zero.
        size_t n = std::strlen(c.s) + 1;
        std::unique_ptr<char[]> copy(new char[n]);
        std::memcpy(copy.get(), c.s, n);
        EXPECT_EQ(atox(copy.get(), c.stride), c.v) << c.s << " stride " << c.stride;
    }
    EXPECT_EQ(atox(nullptr, 1), 0);
}

TEST(Atox, NeverReadsPastTheZeroAtAPageEnd) {
    // The text ends exactly at the end of a readable page; the next page is
    // inaccessible, so any over-read faults, with or without a sanitizer.
    long page = sysconf(_SC_PAGESIZE);
    void* mem = nullptr;
    ASSERT_EQ(posix_memalign(&mem, page, 2 * page), 0);
    char* base = static_cast<char*>(mem);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    const char* texts[] = {"1", "12", "123", "1234567"};
    for (const char* t : texts) {
        size_t n = std::strlen(t) + 1;
        char* s = base + page - n;
        std::memcpy(s, t, n);
        for (int stride = 1; stride <= 9; ++stride) (void)atox(s, stride);
    }
    mprotect(base + page, page, PROT_READ | PROT_WRITE);
    free(mem);
}

TEST(GetTickCount, NeverDecreasesAndAdvances) {
    uint64_t prev = GetTickCount();
    for (int i = 0; i < 100000; ++i) {
        uint64_t now = GetTickCount();
        ASSERT_GE(now, prev);
        prev = now;
    }
    uint64_t a = GetTickCount();
    usleep(50 * 1000);
    EXPECT_GE(GetTickCount() - a, 49u);
}

TEST(ReadFile, Table) {
    TempDir dir;
    struct Case { std::string content; };
    const Case cases[] = {{"0123456789"}, {""}, {std::string("a\0b\0c", 5)},
                          {std::string(100000, 'z')}};
    for (const Case& c : cases) {
        std::string path = dir.path + "/f";
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        fwrite(c.content.data(), 1, c.content.size(), f);
        fclose(f);
        std::string got = readfile(path.c_str());
        ASSERT_EQ(got.size(), c.content.size() + 1);
        EXPECT_EQ(got.back(), '\0');
        EXPECT_EQ(got.substr(0, c.content.size()), c.content);
    }
    EXPECT_EQ(readfile((dir.path + "/missing").c_str()), "");
    EXPECT_EQ(readfile(nullptr), "");
}

TEST(Dirs, ProcDirHoldsThisProgram) {
    std::string d = get_proc_dir();
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0], '/');
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string e = exe;
    EXPECT_EQ(e.substr(0, e.rfind('/')), d);
}

TEST(Dirs, CurrDirFollowsChdirAndReportsFailure) {
    char old[4096];
    ASSERT_TRUE(getcwd(old, sizeof old));
    TempDir dir;
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    char real[4096];
    ASSERT_TRUE(realpath(dir.path.c_str(), real));
    EXPECT_EQ(get_curr_dir(), real);

    // A removed working directory makes getcwd fail.
    std::string gone = dir.path + "/gone";
    ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
    ASSERT_EQ(chdir(gone.c_str()), 0);
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    StdoutCapture cap;
    std::string r = get_curr_dir();
    std::string out = cap.finish();
    ASSERT_EQ(chdir(old), 0);
    EXPECT_EQ(r, "");
    EXPECT_EQ(out, "getcwd() error");
}
