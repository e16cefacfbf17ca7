// The control language, as a script, a socket client or a test would use it.
#include "vtel.h"

#include <hidapi.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

class Control : public ::testing::Test {
protected:
    void SetUp() override { vtel::reset(); }
    void TearDown() override
    {
        if (dev_)
            hid_close(dev_);
        vtel::reset();
    }

    std::string run(const std::string& line, int want_rc = 0)
    {
        std::string reply;
        EXPECT_EQ(vtel::run_command(line, reply), want_rc) << line << " -> " << reply;
        return reply;
    }

    // The frames the host receives, as "FF 01 E7" texts (SSS1629 framing).
    std::vector<std::vector<uint8_t>> received()
    {
        std::vector<uint8_t> stream;
        unsigned char r[8];
        while (hid_read_timeout(dev_, r, sizeof r, 0) == 4) {
            r[3] = static_cast<uint8_t>((r[3] & 0xFE) | (r[0] >> 7));
            stream.insert(stream.end(), r + 1, r + 4);
        }
        std::vector<std::vector<uint8_t>> frames;
        for (size_t i = 0; i + 2 < stream.size(); ++i) {
            if (stream[i] == 0xFF && stream[i + 1] != 0xFF) {
                size_t len = stream[i + 1];
                frames.emplace_back(stream.begin() + i, stream.begin() + std::min(stream.size(), i + 2 + len));
                i += 1 + len;
            }
        }
        return frames;
    }

    hid_device* dev_ = nullptr;
};

TEST_F(Control, CommandsBecomeTelephoneFrames)
{
    EXPECT_EQ(run("plug sss1629 version=150 serial=X1"), "ok phone 1 /dev/vtel/hidraw1");
    dev_ = hid_open_path("/dev/vtel/hidraw1");
    ASSERT_NE(dev_, nullptr);

    struct {
        const char* line;
        std::vector<uint8_t> frame;
    } cases[] = {
        {"key 1", {0xFF, 0x02, 0xE0, 0x7D}},
        {"key #", {0xFF, 0x02, 0xE0, 0xEB}},
        {"key miss_call", {0xFF, 0x02, 0xE0, 0xF3}},
        {"handset up", {0xFF, 0x01, 0xE7}},
        {"handsfree off", {0xFF, 0x01, 0xE4}},
        {"parallel down", {0xFF, 0x01, 0xEA}},
        {"ring", {0xFF, 0x01, 0xE5}},
        {"dtmf *", {0xFF, 0x02, 0xD8, 0x0A}},
        {"call 88123456 05-12 09:30", {0xFF, 0x0B, 0xD1, 0x00, 0x08, 0x05, 0x0C, 0x09, 0x1E, 0x88, 0x12, 0x34, 0x56}},
        {"call 123 12-31 23:59", {0xFF, 0x09, 0xD1, 0x00, 0x03, 12, 31, 23, 59, 0x12, 0x3F}},
        {"call O", {0xFF, 0x03, 0xD1, 0xEE, 0x4F}},
        {"record missed 5 01-02 03:04", {0xFF, 0x08, 0xD4, 0x00, 0x01, 1, 2, 3, 4, 0x5F}},
        {"uploaddone", {0xFF, 0x01, 0xD7}},
        {"volume 7", {0xFF, 0x02, 0x5C, 0x07}},
        {"report-state 0x06", {0xFF, 0x02, 0xAB, 0x06}},
        {"report-version 134", {0xFF, 0x02, 0x81, 0x86}},
        {"hwtype 0x83", {0xFF, 0x02, 0x85, 0x83}},
        {"frame ED", {0xFF, 0x01, 0xED}},
        {"frame 83 12 34 5F", {0xFF, 0x04, 0x83, 0x12, 0x34, 0x5F}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.line), "ok");
        auto got = received();
        ASSERT_EQ(got.size(), 1u) << c.line;
        EXPECT_EQ(got[0], c.frame) << c.line;
    }
}

TEST_F(Control, BadLinesGetAClearErrorAndChangeNothing)
{
    const char* bad[] = {
        "key 1",              // nothing plugged yet
        "plug",               // no chip
        "plug z80",           // unknown chip
        "plug sss1629 version=300",
        "plug sss1629 colour=red",
        "plug tl8258 vid=xyz",
    };
    for (const char* line : bad)
        EXPECT_EQ(run(line, -1).rfind("error: ", 0), 0u) << line;
    EXPECT_TRUE(vtel::phones().empty());

    run("plug tl8258");
    dev_ = hid_open_path("/dev/vtel/hidraw1");
    ASSERT_NE(dev_, nullptr);
    const char* bad_after[] = {"key NOPE", "frame 5C FF", "frame GG", "volume 255", "handset sideways",
                               "call 12x4", "record lost 123", "expect 6A 10", "phone 9", "dance"};
    for (const char* line : bad_after)
        EXPECT_EQ(run(line, -1).rfind("error: ", 0), 0u) << line;
    EXPECT_EQ(run("key 1 2 NOPE", -1), "error: unknown key 'NOPE'");
    unsigned char r[16];
    EXPECT_EQ(hid_read_timeout(dev_, r, sizeof r, 0), 0) << "no refused line sent anything";
    EXPECT_EQ(run("   "), "ok");
    EXPECT_EQ(run("# just a comment"), "ok");
}

TEST_F(Control, SelectsUnplugsAndLists)
{
    run("plug sss1629");
    run("plug ht82r83x version=none openable=no");
    EXPECT_EQ(hid_open_path("/dev/vtel/hidraw2"), nullptr);
    run("phone 1");
    run("unplug");
    EXPECT_FALSE(vtel::find(1).plugged());
    EXPECT_TRUE(vtel::find(2).plugged());
    EXPECT_EQ(run("key 1", -1).rfind("error", 0), 0u) << "the selected telephone is unplugged";
    run("replug 1");
    EXPECT_TRUE(vtel::find(1).plugged());
    std::string list = run("list");
    EXPECT_NE(list.find("1 sss1629 0C76:1685 /dev/vtel/hidraw1 plugged"), std::string::npos) << list;
    EXPECT_NE(list.find("2 ht82r83x 04D9:2832 /dev/vtel/hidraw2 plugged"), std::string::npos) << list;
}

TEST_F(Control, ExpectWaitsForTheHostsCommand)
{
    run("plug ht82r83x");
    dev_ = hid_open_path("/dev/vtel/hidraw1");
    ASSERT_NE(dev_, nullptr);
    const unsigned char online[8] = {0x03, 0x03, 0xFF, 0x01, 0x6A, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(hid_write(dev_, online, sizeof online), 8);
    EXPECT_EQ(run("expect 6A 1000"), "ok FF 01 6A");
    EXPECT_EQ(run("frames"), "ok FF 01 6A");
}

TEST_F(Control, ScriptRunsUntilTheFirstFailingLine)
{
    char path[] = "/tmp/vtel-script-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "# two telephones\nplug sss1629\nplug tl8258 pid=8001\nkey nosuchkey\nplug ht82r83x\n";
    EXPECT_EQ(vtel::run_script(path), -1);
    EXPECT_EQ(vtel::phones().size(), 2u);
    EXPECT_EQ(vtel::find(2).pid(), 0x8001);
    unlink(path);
    EXPECT_EQ(vtel::run_script("/nonexistent/script"), -1);
}

TEST_F(Control, SocketServesOneReplyLinePerCommand)
{
    std::string path = "/tmp/vtel-ctl-" + std::to_string(getpid());
    ASSERT_EQ(vtel::serve_control(path), 0);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string lines = "plug tl8258\r\nkey 9\nbogus\n";
    ASSERT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    std::string replies;
    char c;
    while (std::count(replies.begin(), replies.end(), '\n') < 3 && read(fd, &c, 1) == 1)
        replies.push_back(c);
    close(fd);
    vtel::stop_control();
    EXPECT_EQ(replies.substr(0, replies.find('\n')), "ok phone 1 /dev/vtel/hidraw1");
    EXPECT_NE(replies.find("\nok\nerror: "), std::string::npos) << replies;
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "the socket file is removed";
}

}  // namespace
