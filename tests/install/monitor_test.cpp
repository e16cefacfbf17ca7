// telhid-monitor run as a program, over virtual telephones put under it with
// LD_PRELOAD and driven through their control socket.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "child.h"
#include "vtel_control.h"

namespace {

using insttest::CChild;
using insttest::CVtelControl;
using namespace std::chrono_literals;

class Monitor : public testing::Test {
protected:
    void start(std::vector<std::string> args)
    {
        socket_ = insttest::control_socket_path();
        args.insert(args.begin(), MONITOR_PROGRAM);
        child_ = std::make_unique<CChild>(
            args, std::vector<std::string>{"LD_PRELOAD=" VTEL_LIBRARY, "VTEL_CONTROL=" + socket_,
                                           // a sanitizer runtime in libvtel would otherwise insist on coming first
                                           "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
        ASSERT_TRUE(child_->started());
        ASSERT_TRUE(phones_.connect(socket_, 10s)) << child_->stderr_text();
    }

    void TearDown() override
    {
        if (child_) {
            child_->close_input();
            child_->wait_exit(10s);
        }
        unlink(socket_.c_str());
    }

    // Presses the key until its event shows: a telephone's events are only
    // delivered once it is online.
    std::optional<std::string> key_until_seen(const std::string& key, const std::string& needle)
    {
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(phones_.run("key " + key), "ok");
            if (auto line = child_->wait_line(needle, 500ms))
                return line;
        }
        return std::nullopt;
    }

    std::unique_ptr<CChild> child_;
    CVtelControl phones_;
    std::string socket_;
};

TEST_F(Monitor, PrintsEventsAndAnswersCommands)
{
    start({"--lang", "en"});
    ASSERT_EQ(phones_.run("plug sss1629").rfind("ok phone 1", 0), 0u);
    auto attached = child_->wait_line("Phone attached", 15s);
    ASSERT_TRUE(attached) << child_->stderr_text();
    EXPECT_EQ(attached->rfind("{\"dev\":1,\"event\":\"Phone attached\"", 0), 0u) << *attached;

    ASSERT_EQ(phones_.run("handset up"), "ok");
    EXPECT_EQ(child_->wait_line("手柄摘机", 5s), "{\"dev\":1,\"event\":\"手柄摘机\"}");
    ASSERT_EQ(phones_.run("key UP"), "ok");
    EXPECT_EQ(child_->wait_line("电话按键", 5s), "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"UP\"}");

    // A command reaches the addressed telephone as its frame.
    child_->write_input("写FLASH时间 10 @1\n");
    EXPECT_EQ(child_->wait_line("\"command\"", 5s),
              "{\"command\":\"写FLASH时间\",\"dev\":1,\"result\":4,\"text\":\"SUCCESS\"}");
    EXPECT_EQ(phones_.run("expect 24 5000"), "ok FF 02 24 0A");

    // Failures come back with the library's code and text; nothing is sent.
    child_->write_input("nosuch\nDTMF发送 @1\n读取版本信息 @9\n");
    EXPECT_EQ(child_->wait_line("\"command\"", 5s),
              "{\"command\":\"nosuch\",\"dev\":-1,\"result\":-5,\"text\":\"ERR_UNKOWN_CMD\"}");
    EXPECT_EQ(child_->wait_line("\"command\"", 5s),
              "{\"command\":\"DTMF发送\",\"dev\":1,\"result\":-6,\"text\":\"ERR_WRONG_PARAM\"}");
    EXPECT_EQ(child_->wait_line("\"command\"", 5s),
              "{\"command\":\"读取版本信息\",\"dev\":9,\"result\":0,\"text\":\"SUCCESS\"}");

    // End of input stops it; only event and result lines were printed.
    child_->close_input();
    EXPECT_EQ(child_->wait_exit(10s), 0) << child_->stderr_text();
    while (child_->read_line(1s)) {
    }
    for (const std::string& line : child_->lines())
        EXPECT_EQ(line.front(), '{') << line;
}

TEST_F(Monitor, PrettyFormAndCtrlC)
{
    start({"--pretty", "--lang", "en"});
    ASSERT_EQ(phones_.run("plug tl8258 pid=8001").rfind("ok", 0), 0u);
    ASSERT_TRUE(child_->wait_line("dev 1  Phone attached", 15s)) << child_->stderr_text();
    ASSERT_EQ(phones_.run("call 88123456 05-12 09:30"), "ok");
    auto call = child_->wait_line("来电", 5s);
    ASSERT_TRUE(call);
    EXPECT_NE(call->find("  dev 1  来电  number=88123456 time=\"5-12 9:30\""), std::string::npos) << *call;

    child_->write_input("读取版本信息 @1\n");
    EXPECT_TRUE(child_->wait_line("> 读取版本信息 @1: 3 SUCCESS", 5s));

    child_->signal(SIGINT);
    EXPECT_EQ(child_->wait_exit(10s), 0) << child_->stderr_text();
}

TEST_F(Monitor, EventsOverTcp)
{
    start({"--tcp", "0"});
    ASSERT_EQ(phones_.run("plug ht82r83x").rfind("ok", 0), 0u);
    // No announcement over TCP: the key shows once the telephone is online.
    auto key = key_until_seen("5", "电话按键");
    ASSERT_TRUE(key) << child_->stderr_text();
    EXPECT_EQ(*key, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"5\"}");
    EXPECT_NE(child_->stderr_text().find("events over TCP on 127.0.0.1:"), std::string::npos);

    // The answer may come before or after the command's result.
    child_->write_input("电话状态查询 @1\n");
    const std::string result = "{\"command\":\"电话状态查询\",\"dev\":1,\"result\":3,\"text\":\"成功\"}";
    const std::string answer = "{\"dev\":1,\"event\":\"电话状态查询\",\"value\":\"IDLE状态\"}";
    bool got_result = false, got_answer = false;
    while (!(got_result && got_answer)) {
        auto line = child_->read_line(5s);
        ASSERT_TRUE(line) << "result " << got_result << ", answer " << got_answer;
        got_result |= *line == result;
        got_answer |= *line == answer;
    }
    child_->close_input();
    EXPECT_EQ(child_->wait_exit(10s), 0) << child_->stderr_text();
}

TEST(MonitorLists, NamesOnePerLineAndUsageErrors)
{
    CChild commands({MONITOR_PROGRAM, "--list", "commands"});
    std::vector<std::string> names;
    while (auto l = commands.read_line(10s))
        names.push_back(*l);
    EXPECT_EQ(commands.wait_exit(10s), 0);
    EXPECT_EQ(names.size(), 43u);
    // Nothing but names, and a name's trailing blank is shown in quotes.
    EXPECT_NE(std::find(names.begin(), names.end(), "\"电话机插入 \""), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "读取版本信息"), names.end());

    CChild events({MONITOR_PROGRAM, "--list", "events", "--lang", "en"});
    EXPECT_TRUE(events.wait_line("Phone attached", 10s));
    EXPECT_EQ(events.wait_exit(10s), 0);

    CChild bad({MONITOR_PROGRAM, "--lang", "fr"});
    EXPECT_EQ(bad.wait_exit(10s), 2);
    EXPECT_NE(bad.stderr_text().find("--lang takes zh or en"), std::string::npos);
}

}  // namespace
