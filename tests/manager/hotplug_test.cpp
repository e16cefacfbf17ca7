// Hot-plug messages and scanning: settle time, which messages wake the scan,
// several records of one node, a node that does not open, and a library
// without its netlink socket.
#include <sys/resource.h>
#include <unistd.h>

#include "fixture.h"

using namespace mgrtest;

namespace {

const std::string kSssId = "0003:00000C76:00001685";

class ManagerHotplug : public ManagerTest {
protected:
    // An announced telephone that then vanishes without any hot-plug message:
    // the next scan, and only a scan, reports it removed.
    int vanished_telephone()
    {
        start();
        attached_phone_t p = attach();
        // Messages of the plug that came during the mount give one more scan;
        // let it pass before the telephone vanishes.
        std::this_thread::sleep_for(500ms);
        vtel::reset();
        return p.dev;
    }
};

TEST_F(ManagerHotplug, BurstGivesOneScanAfterItsLastMessage)
{
    const int dev = vanished_telephone();
    ASSERT_GT(dev, 0);
    clock::time_point last;
    for (int i = 0; i < 4; ++i) {
        if (i)
            std::this_thread::sleep_for(50ms);
        last = clock::now();
        ASSERT_EQ(vtel::send_uevent(hid_uevent("add", "hid", kSssId)), 0);
    }
    auto removed = wait_event(is_removed, 3000ms);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->dev(), dev);
    const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(removed->time - last);
    EXPECT_GE(after.count(), 95) << "the scan waits for the burst to settle";
    EXPECT_LT(after.count(), 600) << "generous bound for the 200 ms settle limit";
}

TEST_F(ManagerHotplug, OnlyHidMessagesOfKnownVendorsWakeTheScan)
{
    vanished_telephone();
    struct case_t {
        const char* what;
        std::vector<std::string> texts;
    };
    std::vector<std::string> late_action = hid_uevent("add", "hid", kSssId);
    std::swap(late_action[1], late_action[4]);  // HID_ID before ACTION
    const case_t ignored[] = {
        {"other subsystem", hid_uevent("add", "hidraw", kSssId)},
        {"unknown action", hid_uevent("move", "hid", kSssId)},
        {"vendor without driver", hid_uevent("add", "hid", "0003:00001234:00001685")},
        {"HID_ID before ACTION", late_action},
        {"HID_ID of two parts", hid_uevent("add", "hid", "00000C76:00001685")},
        {"texts without '='", {"add@/devices/x", "ACTION", "SUBSYSTEM", "HID_ID"}},
        {"empty message", {}},
    };
    for (const case_t& c : ignored) {
        SCOPED_TRACE(c.what);
        vtel::send_uevent(c.texts);
        EXPECT_FALSE(wait_event(is_removed, 400ms));
    }
    // Any product of a vendor whose driver takes all its products.
    for (const char* action : {"remove", "unbind"}) {
        SCOPED_TRACE(action);
        ASSERT_EQ(vtel::send_uevent(hid_uevent(action, "hid", "0003:00002488:00008005")), 0);
    }
    EXPECT_TRUE(wait_event(is_removed, 3000ms));
}

TEST_F(ManagerHotplug, SecondRecordOfTheSameNodeIsOneTelephone)
{
    start();
    vtel::phone_cfg_t cfg;
    cfg.extra_usages = {{0xFF00, 0x0001}};
    attached_phone_t p = attach(cfg);
    ASSERT_EQ(vtel::send_uevent(hid_uevent("change", "hid", kSssId)), 0);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(log.count(is_attached), 1u);
    EXPECT_EQ(log.count(is_removed), 0u);
    EXPECT_EQ(p.phone.open_handles(), 1);
    EXPECT_EQ(hid_remount_dev(), 1);
}

TEST_F(ManagerHotplug, NodeThatNeverOpensIsRetriedOnTheNextScan)
{
    start();
    vtel::phone_cfg_t cfg;
    cfg.openable = false;
    vtel::CPhone phone;
    std::string text;
    {
        StdoutTap out;
        phone = vtel::plug(cfg);
        out.wait_for("unable to open device", 30000ms);
        text = out.text();
    }
    ASSERT_NE(text.find("unable to open device"), std::string::npos) << text;
    // The attempt numbers ",0" to ",19" in order (log lines may come
    // between them), then the end of the progress line.
    size_t pos = 0;
    for (int i = 0; i < 20 && pos != std::string::npos; ++i)
        pos = text.find("," + std::to_string(i), pos);
    ASSERT_NE(pos, std::string::npos);
    EXPECT_NE(text.find(".]\nDone!\n", pos), std::string::npos);
    EXPECT_EQ(log.count(is_attached), 0u);

    phone.set_openable(true);
    ASSERT_EQ(vtel::send_uevent(hid_uevent("change", "hid", kSssId)), 0);
    auto attached = wait_event(is_attached, 5000ms);
    ASSERT_TRUE(attached);
    EXPECT_EQ(attached->dev(), 2) << "the failed mount used number 1";
}

TEST_F(ManagerHotplug, StartsAndStopsPromptlyWithoutAnyNewDescriptor)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizer runtimes need descriptors of their own (to probe memory
    // and to symbolise) and report false errors without them.
    GTEST_SKIP() << "not meaningful under a sanitizer";
#endif
    // No descriptor can be created: neither the netlink socket nor anything
    // else the start might want.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    const int lowest_free = dup(0);
    ASSERT_GE(lowest_free, 0);
    close(lowest_free);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);

    const int started = hid_server_start(&EventLog::callback, &log);
    std::this_thread::sleep_for(150ms);
    const auto before = clock::now();
    hid_server_stop();
    const auto took = clock::now() - before;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);

    EXPECT_EQ(started, 0);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);

    // And the library works normally again afterwards.
    start();
    EXPECT_GT(attach().dev, 0);
}

}  // namespace
