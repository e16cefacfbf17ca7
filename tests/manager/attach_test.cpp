// A telephone from plug to unplug: mount, announcement, events, removal,
// re-announcement, and delivery over the callback and TCP.
#include <csignal>

#include "fixture.h"

using namespace mgrtest;

namespace {

class ManagerAttach : public ManagerTest, public testing::WithParamInterface<int> {};

TEST_P(ManagerAttach, AnsweringTelephoneIsAnnouncedOnce)
{
    const int language = GetParam();
    set_language(language);
    start();
    testing::internal::CaptureStdout();
    attached_phone_t p = attach();
    ASSERT_EQ(p.dev, 1);
    // Nothing but the announcement reached the application during the mount.
    std::this_thread::sleep_for(200ms);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("VER = 194\n"), std::string::npos);

    std::vector<event_t> events = log.all();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, std::string("{\"dev\":1,\"event\":\"") + kAttached[language] +
                                  "\",\"value\":\"0\"}\n");
    // The telephone was asked for its version once it was open.
    EXPECT_TRUE(p.phone.wait_frame(OP_USB_ONLINE, 0ms));
    EXPECT_TRUE(p.phone.wait_frame(OP_READ_VERSION, 0ms));
}

INSTANTIATE_TEST_SUITE_P(Languages, ManagerAttach, testing::Values(0, 1));

class ManagerEvents : public ManagerTest {};

TEST_F(ManagerEvents, EventsDuringMountAreSwallowedAndDeliveredAfter)
{
    start();
    vtel::phone_cfg_t cfg;
    cfg.version = -1;  // keeps the telephone mounting until it reports
    vtel::CPhone phone = vtel::plug(cfg);
    ASSERT_TRUE(phone.wait_frame(OP_READ_VERSION, 5000ms));
    ASSERT_EQ(phone.press_key("1"), 0);
    ASSERT_EQ(phone.handset(true), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(log.all().empty());

    ASSERT_EQ(phone.report_version(201), 0);
    auto attached = wait_event(is_attached);
    ASSERT_TRUE(attached);
    ASSERT_EQ(phone.press_key("1"), 0);
    auto key = wait_event(is_key);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->text, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n");
    std::vector<event_t> events = log.all();
    ASSERT_EQ(events.size(), 2u) << "the keys pressed during the mount stay swallowed";
    EXPECT_TRUE(is_attached(events[0]));
}

TEST_F(ManagerEvents, TwoFramesInOneReportAreTwoEvents)
{
    start();
    attached_phone_t p = attach();
    // A frame of no event first, so that the chip's repetition filter
    // (which compares the fourth byte) lets the next report through.
    const uint8_t filler[] = {0x00, 0xFF, 0x01, 0x54};
    ASSERT_EQ(p.phone.inject_report(filler), 0);
    const uint8_t two[] = {0x00, 0xFF, 0x02, 0xE0, 0x7D, 0xFF, 0x02, 0xE0, 0x7C};
    ASSERT_EQ(p.phone.inject_report(two), 0);
    auto second = wait_event(is_key, 2000ms, 2);
    ASSERT_TRUE(second);
    std::vector<event_t> keys;
    for (const event_t& e : log.all())
        if (is_key(e))
            keys.push_back(e);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].json["value"].asString(), "1");
    EXPECT_EQ(keys[1].json["value"].asString(), "2");
}

TEST_F(ManagerEvents, RemovalOnlyForAnnouncedTelephones)
{
    start();
    attached_phone_t online = attach();
    vtel::phone_cfg_t cfg;
    cfg.version = -1;
    vtel::CPhone mounting = vtel::plug(cfg);
    ASSERT_TRUE(mounting.wait_frame(OP_READ_VERSION, 5000ms));

    mounting.unplug();
    ASSERT_TRUE(mounting.wait_closed(3000ms)) << "the scan closes a vanished telephone";
    online.phone.unplug();
    auto removed = wait_event(is_removed, 3000ms);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->text, "{\"dev\":" + std::to_string(online.dev) + ",\"event\":\"电话机拔出\"}\n");
    ASSERT_TRUE(online.phone.wait_closed(3000ms));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(log.count(is_removed), 1u);
    EXPECT_EQ(hid_remount_dev(), 0);
}

// Telephones of several chips side by side. (Two SSS1629 telephones answering
// at the same moment can lose an answer to the chip's repetition filter,
// which all of them share.)
vtel::phone_cfg_t chip(vtel::te_chip c)
{
    vtel::phone_cfg_t cfg;
    cfg.chip = c;
    return cfg;
}

TEST_F(ManagerEvents, FirstTelephoneAnswersTheVersionQueryOfTheSecond)
{
    start();
    attached_phone_t first = attach();
    attached_phone_t second = attach(chip(vtel::te_chip::ht82r83x));
    EXPECT_EQ(second.dev, first.dev + 1);
    auto answer = wait_event([&](const event_t& e) {
        return e.name() == "取版本号" && e.dev() == first.dev;
    });
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->json["value"].asInt(), 194);
}

TEST_F(ManagerEvents, RemountAnnouncesOnTheCallingThread)
{
    start();
    EXPECT_EQ(hid_remount_dev(), 0);
    attached_phone_t a = attach();
    attached_phone_t b = attach(chip(vtel::te_chip::tl8258));
    const size_t before = log.all().size();
    EXPECT_EQ(hid_remount_dev(), 2);
    std::vector<event_t> events = log.all();
    ASSERT_EQ(events.size(), before + 2) << "delivered before hid_remount_dev returned";
    for (size_t i = before; i < events.size(); ++i) {
        EXPECT_EQ(events[i].thread, std::this_thread::get_id());
        EXPECT_TRUE(is_attached(events[i]));
        EXPECT_FALSE(events[i].json.isMember("value"));
    }
    EXPECT_EQ(events[before].text, "{\"dev\":" + std::to_string(a.dev) + ",\"event\":\"电话机插入 \"}\n");
    EXPECT_EQ(events[before + 1].dev(), b.dev);
}

TEST_F(ManagerEvents, TcpOnlyGetsOneLinePerEventButNoMountAnnouncement)
{
    TcpPeer peer;
    ASSERT_EQ(hid_server_start_tcp(peer.port(), nullptr), 0);
    ASSERT_TRUE(peer.accept_client(2000ms));
    vtel::CPhone phone = vtel::plug();
    // The mount's announcement is not sent over TCP; a re-announcement is,
    // once the telephone is online.
    EXPECT_FALSE(peer.read_line(300ms));
    std::optional<std::string> line;
    for (int i = 0; i < 50 && !line; ++i) {
        EXPECT_EQ(hid_remount_dev(), 1);
        line = peer.read_line(100ms);
    }
    EXPECT_EQ(line, "{\"dev\":1,\"event\":\"电话机插入 \"}\n");
    ASSERT_EQ(phone.press_key("1"), 0);
    ASSERT_EQ(phone.press_key("2"), 0);
    EXPECT_EQ(peer.read_line(2000ms), "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n");
    EXPECT_EQ(peer.read_line(2000ms), "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"2\"}\n");
    EXPECT_FALSE(peer.read_line(200ms));
}

TEST_F(ManagerEvents, BothChannelsCarryTheSameText)
{
    // The callback set by one start stays for the next.
    start();
    hid_server_stop();
    TcpPeer peer;
    ASSERT_EQ(hid_server_start_tcp(peer.port(), "127.0.0.1"), 0);
    ASSERT_TRUE(peer.accept_client(2000ms));
    attached_phone_t p = attach();
    ASSERT_EQ(p.phone.press_key("#"), 0);
    auto key = wait_event(is_key);
    ASSERT_TRUE(key);
    EXPECT_EQ(peer.read_line(2000ms), key->text) << "the announcement went to the callback only";
}

TEST_F(ManagerEvents, DeadTcpPeerDoesNotStopTheCallback)
{
    start();
    hid_server_stop();
    TcpPeer peer;
    ASSERT_EQ(hid_server_start_tcp(peer.port(), nullptr), 0);
    ASSERT_TRUE(peer.accept_client(2000ms));
    attached_phone_t p = attach();
    peer.close_client();
    peer.close_listener();
    // The first write after the close draws a reset, the later ones EPIPE:
    // the process must survive all of them and the callback see every event.
    const char* keys[] = {"1", "2", "3", "4", "5", "6"};
    for (const char* k : keys) {
        ASSERT_EQ(p.phone.press_key(k), 0);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(wait_event(is_key, 3000ms, std::size(keys)));
}

}  // namespace
