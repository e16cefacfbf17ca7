// A telephone that never answers its version query is announced after the
// third supervision tick (18 s), having been sent the queries three times.
#include "fixture.h"

using namespace mgrtest;

namespace {

class ManagerSlowMount : public ManagerTest {};

TEST_F(ManagerSlowMount, SilentTelephoneIsAnnouncedAfterEighteenSeconds)
{
    start();
    vtel::phone_cfg_t cfg;
    cfg.version = -1;
    vtel::CPhone phone = vtel::plug(cfg);
    ASSERT_TRUE(phone.wait_open(5000ms));
    const auto opened = clock::now();

    auto attached = wait_event(is_attached, 40000ms);
    ASSERT_TRUE(attached);
    const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(attached->time - opened);
    EXPECT_GE(after.count(), 17000);
    EXPECT_LT(after.count(), 30000);
    EXPECT_EQ(attached->text, "{\"dev\":1,\"event\":\"电话机插入 \",\"value\":\"0\"}\n");

    size_t online = 0, version = 0;
    for (const vtel::frame_t& f : phone.frames()) {
        EXPECT_LE(f.last, attached->time);
        online += f.opcode == OP_USB_ONLINE;
        version += f.opcode == OP_READ_VERSION;
    }
    EXPECT_EQ(online, 3u);
    EXPECT_EQ(version, 3u);

    // Online now: its events reach the application.
    ASSERT_EQ(phone.press_key("9"), 0);
    EXPECT_TRUE(wait_event(is_key));
}

}  // namespace
