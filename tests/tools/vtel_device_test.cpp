// The simulated bus as hidapi's callers see it: enumeration, opening,
// blocking reads and unplugging under a reader.
#include "vtel.h"

#include <hidapi.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using std::chrono::steady_clock;
using vtel::te_chip;

namespace {

class Bus : public ::testing::Test {
protected:
    void SetUp() override { vtel::reset(); }
    void TearDown() override { vtel::reset(); }
};

std::vector<hid_device_info> records(unsigned short vid = 0, unsigned short pid = 0)
{
    std::vector<hid_device_info> out;
    hid_device_info* list = hid_enumerate(vid, pid);
    for (auto* d = list; d; d = d->next)
        out.push_back(*d);  // the pointers die with the list; only numbers are compared
    hid_free_enumeration(list);
    return out;
}

TEST_F(Bus, EnumerationFollowsPlugAndFilters)
{
    EXPECT_TRUE(records().empty());
    vtel::phone_cfg_t ht;
    ht.chip = te_chip::ht82r83x;
    ht.extra_usages = {{0x000C, 0x0001}};  // the telephone's second top-level usage
    ht.interface_number = 1;
    auto a = vtel::plug(ht);
    auto b = vtel::plug(te_chip::sss1629);

    auto all = records();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].usage_page, 0xFF00);
    EXPECT_EQ(all[1].usage_page, 0x000C);
    EXPECT_EQ(all[0].interface_number, 1);
    EXPECT_EQ(all[0].bus_type, HID_API_BUS_USB);
    EXPECT_EQ(records(0x0C76, 0).size(), 1u);
    EXPECT_EQ(records(0x04D9, 0x2832).size(), 2u);
    EXPECT_TRUE(records(0x04D9, 0x1111).empty());

    a.unplug();
    EXPECT_EQ(records().size(), 1u);
    a.plug();
    EXPECT_EQ(records().size(), 3u);
}

TEST_F(Bus, NodesDoNotExistOnDiskAndKeepTheirIdentity)
{
    vtel::phone_cfg_t cfg;
    cfg.chip = te_chip::tl8258;
    cfg.pid = 0x8020;
    cfg.serial = "SN42";
    auto p = vtel::plug(cfg);
    struct stat st;
    EXPECT_NE(stat(p.path().c_str(), &st), 0) << "a lookup of the node must fail";

    hid_device* dev = hid_open_path(p.path().c_str());
    ASSERT_NE(dev, nullptr);
    wchar_t serial[16];
    ASSERT_EQ(hid_get_serial_number_string(dev, serial, 16), 0);
    EXPECT_EQ(std::wstring(serial), L"SN42");
    hid_device_info* info = hid_get_device_info(dev);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->product_id, 0x8020);
    EXPECT_EQ(p.open_handles(), 1);
    hid_close(dev);
    EXPECT_EQ(p.open_handles(), 0);
}

TEST_F(Bus, UnopenableTelephoneRefusesEveryAttempt)
{
    vtel::phone_cfg_t cfg;
    cfg.openable = false;
    auto p = vtel::plug(cfg);
    EXPECT_EQ(hid_open_path(p.path().c_str()), nullptr);
    EXPECT_NE(hid_error(nullptr), nullptr);
    EXPECT_EQ(hid_open_path("/dev/vtel/none"), nullptr);
    p.set_openable(true);
    hid_device* dev = hid_open_path(p.path().c_str());
    EXPECT_NE(dev, nullptr);
    hid_close(dev);
}

TEST_F(Bus, BlockedReadWakesWhenAReportIsQueued)
{
    auto p = vtel::plug(te_chip::ht82r83x);
    hid_device* dev = hid_open_path(p.path().c_str());
    ASSERT_NE(dev, nullptr);

    std::atomic<bool> returned{false};
    auto reader = std::async(std::launch::async, [&] {
        unsigned char buf[16];
        int n = hid_read_timeout(dev, buf, sizeof buf, 30000);
        returned = true;
        return n;
    });
    std::this_thread::sleep_for(100ms);  // let the reader block
    EXPECT_FALSE(returned);
    auto sent = steady_clock::now();
    ASSERT_EQ(p.ring(), 0);
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready) << "the read must not wait out its timeout";
    EXPECT_EQ(reader.get(), 8);
    EXPECT_LT(steady_clock::now() - sent, 10s);
    hid_close(dev);
}

TEST_F(Bus, ReadTimesOutWithZero)
{
    auto p = vtel::plug(te_chip::sss1629);
    hid_device* dev = hid_open_path(p.path().c_str());
    ASSERT_NE(dev, nullptr);
    unsigned char buf[8];
    auto start = steady_clock::now();
    EXPECT_EQ(hid_read_timeout(dev, buf, sizeof buf, 50), 0);
    EXPECT_GE(steady_clock::now() - start, 50ms);
    ASSERT_EQ(hid_set_nonblocking(dev, 1), 0);
    EXPECT_EQ(hid_read(dev, buf, sizeof buf), 0);
    hid_close(dev);
}

TEST_F(Bus, UnplugFailsReadersAndWritersLikeHidraw)
{
    auto p = vtel::plug(te_chip::sss1629);
    hid_device* dev = hid_open_path(p.path().c_str());
    ASSERT_NE(dev, nullptr);
    auto reader = std::async(std::launch::async, [&] {
        unsigned char buf[8];
        return hid_read_timeout(dev, buf, sizeof buf, -1);
    });
    std::this_thread::sleep_for(50ms);
    p.unplug();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reader.get(), -1);
    const unsigned char report[5] = {0x00, 0x80, 0xFF, 0x01, 0x6A};
    EXPECT_EQ(hid_write(dev, report, sizeof report), -1);
    EXPECT_TRUE(p.frames().empty());
    EXPECT_EQ(hid_open_path(p.path().c_str()), nullptr);

    // Plugged again, the old handle stays dead and a new one works.
    p.plug();
    unsigned char buf[8];
    EXPECT_EQ(hid_read_timeout(dev, buf, sizeof buf, 0), -1);
    hid_device* again = hid_open_path(p.path().c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(hid_write(again, report, sizeof report), 5);
    EXPECT_EQ(p.frames().size(), 1u);
    hid_close(again);
    hid_close(dev);
}

TEST_F(Bus, WaitsForTheHostSide)
{
    auto p = vtel::plug(te_chip::tl8258);
    EXPECT_FALSE(p.wait_open(10ms));
    hid_device* dev = nullptr;
    std::thread host([&] {
        std::this_thread::sleep_for(20ms);
        dev = hid_open_path(p.path().c_str());
        const unsigned char q[9] = {0x04, 0x03, 0xFF, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF};
        hid_write(dev, q, sizeof q);
    });
    EXPECT_TRUE(p.wait_open(10s));
    auto f = p.wait_frame(0x01, 10s);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->bytes(), (std::vector<uint8_t>{0xFF, 0x01, 0x01}));
    EXPECT_FALSE(p.wait_frame(0x01, 0ms));
    EXPECT_TRUE(p.wait_frames(1, 0ms));
    host.join();
    hid_close(dev);
    EXPECT_TRUE(p.wait_closed(0ms));
}

TEST_F(Bus, EveryOpenHandleGetsEveryReport)
{
    auto p = vtel::plug(te_chip::ht82r83x);
    hid_device* a = hid_open_path(p.path().c_str());
    hid_device* b = hid_open_path(p.path().c_str());
    ASSERT_TRUE(a && b);
    ASSERT_EQ(p.handset(false), 0);
    unsigned char buf[8];
    EXPECT_EQ(hid_read_timeout(a, buf, sizeof buf, 0), 8);
    EXPECT_EQ(hid_read_timeout(b, buf, sizeof buf, 0), 8);
    EXPECT_EQ(buf[4], 0xE8);
    hid_close(a);
    hid_close(b);
}

TEST_F(Bus, ManyThreadsDriveAndReadAtOnce)
{
    auto p = vtel::plug(te_chip::tl8258);
    hid_device* dev = hid_open_path(p.path().c_str());
    ASSERT_NE(dev, nullptr);
    constexpr int per_thread = 200;
    std::atomic<int> got{0};
    std::thread reader([&] {
        unsigned char buf[9];
        while (got < 2 * per_thread && hid_read_timeout(dev, buf, sizeof buf, 5000) > 0)
            ++got;
    });
    std::thread keys([&] {
        for (int i = 0; i < per_thread; ++i)
            p.press_key("5");
    });
    std::thread writer([&] {
        const unsigned char q[9] = {0x04, 0x03, 0xFF, 0x01, 0x21, 0xFF, 0xFF, 0xFF, 0xFF};
        for (int i = 0; i < per_thread; ++i)
            hid_write(dev, q, sizeof q);  // each state query is answered
    });
    keys.join();
    writer.join();
    reader.join();
    EXPECT_EQ(got, 2 * per_thread);
    EXPECT_EQ(p.frames().size(), static_cast<size_t>(per_thread));
    hid_close(dev);
}

}  // namespace
