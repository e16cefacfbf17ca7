// Exported functions: results before a start, error texts, language, name
// lists, start failures and the lifecycle.
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "fixture.h"

using namespace mgrtest;

namespace {

class ManagerApi : public ManagerTest {};

TEST_F(ManagerApi, CallsBeforeAnyStartFailWithoutEffect)
{
    hid_server_stop();
    EXPECT_EQ(hid_send_cmd("USB在线", nullptr, -1), ERR_FAIL);
    char buf[8] = "keep";
    EXPECT_EQ(hid_get_status(buf, sizeof(buf)), ERR_FAIL);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(hid_remount_dev(), ERR_FAIL);
    EXPECT_EQ(get_driver(0x0C761685u), nullptr);
    EXPECT_STREQ(hid_server_version(), "1.1.0.6x");
}

TEST_F(ManagerApi, ErrorTextsFollowTheLanguage)
{
    struct row_t {
        int code;
        const char* zh;
        const char* en;
    };
    const row_t rows[] = {
        {0, "成功", "SUCCESS"},
        {ERR_FAIL, "错误", "ERR_FAIL"},
        {ERR_BUFF_NOT_ENOUGH, "内存不足", "ERR_BUFF_NOT_ENOUGH"},
        {ERR_OVERFLOW, "内存溢出", "ERR_OVERFLOW"},
        {ERR_PERMISSION, "权限不足", "ERR_PERMISSION"},
        {ERR_UNKOWN_CMD, "未知命令", "ERR_UNKOWN_CMD"},
        {ERR_WRONG_PARAM, "错误参数", "ERR_WRONG_PARAM"},
        {ERR_DEVICE, "设备错误", "ERR_DEVICE"},
    };
    for (const row_t& r : rows) {
        SCOPED_TRACE(r.code);
        EXPECT_EQ(set_language(0), 0);
        EXPECT_STREQ(get_error_string(r.code), r.zh);
        EXPECT_STREQ(get_error_string(-r.code), r.zh);
        EXPECT_EQ(set_language(1), 0);
        EXPECT_STREQ(get_error_string(r.code), r.en);
        EXPECT_STREQ(get_error_string(-r.code), r.en);
        set_language(0);
    }
    for (int code : {7, -7, 9, 11, -100, INT_MIN, INT_MAX})
        EXPECT_EQ(get_error_string(code), nullptr) << code;
}

TEST_F(ManagerApi, SetLanguageRefusesOtherIndexes)
{
    EXPECT_EQ(set_language(1), 0);
    for (int bad : {2, -1, 100, INT_MIN}) {
        EXPECT_EQ(set_language(bad), 1) << bad;
        EXPECT_STREQ(get_error_string(-5), "ERR_UNKOWN_CMD") << bad;
    }
    EXPECT_EQ(set_language(0), 1);
    EXPECT_EQ(set_language(7), 0);
    EXPECT_STREQ(get_error_string(-5), "未知命令");
}

TEST_F(ManagerApi, NameListsAreCopiedLikeStrncpy)
{
    const int full = load_string_list("event", nullptr, 0, nullptr);
    ASSERT_GT(full, 10);
    std::string text(static_cast<size_t>(full) + 8, 'x');
    EXPECT_EQ(load_string_list("event", text.data(), full + 8, nullptr), full);
    EXPECT_EQ(text.substr(0, 10), "{\"event\":[");
    EXPECT_EQ(text[static_cast<size_t>(full) - 1], '\n');
    EXPECT_EQ(text[static_cast<size_t>(full)], '\0');

    const int commands = load_string_list(nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(load_string_list("command", nullptr, 0, nullptr), commands);
    char cut[16];
    memset(cut, 'x', sizeof(cut));
    EXPECT_EQ(load_string_list("command", cut, 10, nullptr), commands);
    EXPECT_EQ(std::string(cut, 10), std::string("{\"command\":[").substr(0, 10));
    EXPECT_EQ(cut[10], 'x') << "nothing written past the given size";

    memset(cut, 'x', sizeof(cut));
    EXPECT_EQ(load_string_list("Command", cut, sizeof(cut), nullptr), 0);
    EXPECT_EQ(load_string_list("bogus", cut, sizeof(cut), nullptr), 0);
    EXPECT_EQ(load_string_list("command", cut, -5, nullptr), commands);
    EXPECT_EQ(cut[0], 'x') << "a negative size writes nothing";

    // The list follows the language.
    std::string zh(static_cast<size_t>(commands) + 1, '\0');
    load_string_list("command", zh.data(), commands + 1, nullptr);
    EXPECT_NE(zh.find("\"USB心跳\""), std::string::npos);
    set_language(1);
    const int en_len = load_string_list("command", nullptr, 0, nullptr);
    std::string en(static_cast<size_t>(en_len) + 1, '\0');
    load_string_list("command", en.data(), en_len + 1, nullptr);
    EXPECT_NE(en.find("\"USB Beatheart\""), std::string::npos);
}

TEST_F(ManagerApi, StartWithoutAnyChannelFailsAndRunsNothing)
{
    const int threads = thread_count();
    EXPECT_EQ(hid_server_start(nullptr, nullptr), ERR_FAIL);
    EXPECT_EQ(hid_server_start_tcp(0, nullptr), ERR_FAIL);
    EXPECT_EQ(hid_server_start_tcp(-1, "127.0.0.1"), ERR_FAIL);
    {
        TcpPeer closed;  // a port nobody listens on any more
        int port = closed.port();
        closed.close_listener();
        EXPECT_EQ(hid_server_start_tcp(port, nullptr), ERR_FAIL);
    }
    EXPECT_EQ(thread_count(), threads);
    hid_server_stop();  // nothing to stop
    // The manager exists now: the other calls answer without devices.
    EXPECT_EQ(hid_remount_dev(), 0);
    EXPECT_EQ(hid_get_status(nullptr, 0), 0);
    EXPECT_EQ(hid_send_cmd("USB在线", nullptr, -1), 0);
}

TEST_F(ManagerApi, UnreachableTcpPeerWithCallbackStartsCallbackOnly)
{
    start();
    hid_server_stop();
    TcpPeer closed;
    int port = closed.port();
    closed.close_listener();
    ASSERT_EQ(hid_server_start_tcp(port, nullptr), 0);
    attached_phone_t p = attach();
    EXPECT_EQ(p.dev, 1);
}

TEST_F(ManagerApi, SecondStartIsRefusedAndChangesNothing)
{
    start();
    EventLog other;
    EXPECT_EQ(hid_server_start(&EventLog::callback, &other), ERR_FAIL);
    TcpPeer peer;
    EXPECT_EQ(hid_server_start_tcp(peer.port(), nullptr), ERR_FAIL);
    EXPECT_FALSE(peer.accept_client(100ms)) << "no connection from a refused start";

    attached_phone_t p = attach();
    ASSERT_EQ(p.dev, 1);
    EXPECT_EQ(p.phone.press_key("5"), 0);
    EXPECT_TRUE(wait_event(is_key));
    EXPECT_TRUE(other.all().empty()) << "the first callback stays in place";
    EXPECT_EQ(hid_remount_dev(), 1) << "one manager, one telephone";
    EXPECT_NE(get_driver(0x0C761685u), nullptr);
}

TEST_F(ManagerApi, StopTwiceThenStartNumbersContinue)
{
    start();
    attached_phone_t p = attach();
    ASSERT_EQ(p.dev, 1);
    hid_server_stop();
    EXPECT_TRUE(p.phone.wait_closed(2000ms));
    hid_server_stop();
    EXPECT_EQ(hid_remount_dev(), 0);

    // Already attached at start: found by the first scan, with a new number.
    start();
    auto again = wait_event([](const event_t& e) { return is_attached(e) && e.dev() == 2; });
    ASSERT_TRUE(again);
    EXPECT_EQ(again->text, "{\"dev\":2,\"event\":\"电话机插入 \",\"value\":\"0\"}\n");
    attached_phone_t q = attach();
    EXPECT_EQ(q.dev, 3);
    EXPECT_EQ(hid_remount_dev(), 2);
}

}  // namespace
