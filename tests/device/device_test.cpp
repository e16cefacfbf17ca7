// The opened telephone: mount and open, the reader and its handler, the
// supervision of the mount, properties, presence marks and close.
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <string>

#include "device/ht82r83x.h"
#include "device/sss1629.h"
#include "device/tl8258.h"
#include "protocol/proto.h"
#include "sink.h"
#include "vphone.h"

using namespace devtest;
using vtel::te_chip;

namespace {

class Device : public VPhoneTest {
protected:
    void SetUp() override {
        VPhoneTest::SetUp();
        Sink::get().reset();
    }
    void TearDown() override {
        for (auto& d : devices_) d->close();
        devices_.clear();
        CProtocol::freeAll();
        VPhoneTest::TearDown();
    }
    // A device on `phone`, mounted with the recording handler.
    CHidDevice* mounted(const CHidDriver* drv, const vtel::CPhone& phone, unsigned short number = 1) {
        devices_.push_back(std::make_unique<CHidDevice>(drv, phone.path()));
        CHidDevice* d = devices_.back().get();
        EXPECT_EQ(d->mount(&parent_, Sink::handler, number), 0);
        return d;
    }

    int parent_ = 0;
    std::vector<std::unique_ptr<CHidDevice>> devices_;
};

TEST_F(Device, MountOpensTheNodeAndWaitsForTheVersion) {
    auto phone = vtel::plug(te_chip::sss1629);
    CHidDevice dev(s1629_driver, phone.path());
    testing::internal::CaptureStdout();
    ASSERT_EQ(dev.mount(&parent_, Sink::handler, 7), 0);
    std::string out = testing::internal::GetCapturedStdout();
    // The driver's own log line comes between the attempt number and the end.
    EXPECT_NE(out.find("open HID sss1629 [max:20:,0"), std::string::npos) << out;
    EXPECT_NE(out.find("HidDriver Base open\n.]\nDone!\n"), std::string::npos) << out;
    EXPECT_EQ(phone.open_handles(), 1);
    EXPECT_EQ(dev.devinfo.id, 7);
    EXPECT_EQ(dev.get_parent(), &parent_);
    EXPECT_EQ(dev.get_prop(HID_PROP_VERSION), -1);
    EXPECT_EQ(dev.get_prop(HID_PROP_PENDING), 2);
    EXPECT_EQ(dev.get_prop(STR_KEY), 0);
    EXPECT_EQ(dev.protocol, ptr_prot_qm);  // the driver brings none
    EXPECT_EQ(dev.key, 0x0C761685u);
    dev.close();
    EXPECT_EQ(phone.open_handles(), 0);
}

TEST_F(Device, DestroyingAnOpenDeviceClosesItFirst) {
    auto phone = vtel::plug(te_chip::tl8258);
    auto dev = std::make_unique<CHidDevice>(tl8258_driver, phone.path());
    ASSERT_EQ(dev->mount(&parent_, Sink::handler, 1), 0);
    ASSERT_EQ(phone.send_frame(0xE7), 0);
    dev.reset();  // reader, timer and handle must not outlive it
    EXPECT_EQ(phone.open_handles(), 0);
}

TEST_F(Device, VendorWideDriverGivesItsOwnIdsAndHtGivesItsProtocol) {
    auto tl = vtel::plug(te_chip::tl8258), ht = vtel::plug(te_chip::ht82r83x);
    CHidDevice* d1 = mounted(tl8258_driver, tl, 1);
    CHidDevice* d2 = mounted(ht82r83x_driver, ht, 2);
    EXPECT_EQ(d1->pid, 0);  // the driver's product id, not the telephone's
    EXPECT_EQ(d1->usage_page, 0xFF01);
    EXPECT_EQ(d1->key, 0x24880000u);
    EXPECT_EQ(d1->protocol, ptr_prot_qm);
    ASSERT_NE(d2->protocol, nullptr);
    EXPECT_STREQ(d2->protocol->name(), "qm_prot");
}

TEST_F(Device, PresenceMarksExchange) {
    auto phone = vtel::plug(te_chip::tl8258);
    CHidDevice* d = mounted(tl8258_driver, phone);
    EXPECT_EQ(d->chk_mount(1), 1);
    EXPECT_EQ(d->chk_mount(0), 1);
    EXPECT_EQ(d->chk_mount(0), 0);
}

TEST_F(Device, SecondCloseOnlyLogs) {
    auto phone = vtel::plug(te_chip::sss1629);
    CHidDevice* d = mounted(s1629_driver, phone);
    testing::internal::CaptureStdout();
    d->close();
    std::string first = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    d->close();
    std::string second = testing::internal::GetCapturedStdout();
    EXPECT_EQ(first.find("closed."), std::string::npos) << first;
    EXPECT_NE(second.find("HID device[0C76:1685] closed.\n"), std::string::npos) << second;
    EXPECT_EQ(d->send(std::vector<uint8_t>{0xFF, 0x01, 0x6A}.data(), 3), 0);
    EXPECT_TRUE(phone.written().empty());
}

TEST_F(Device, ReportsReachTheHandlerWithoutChipFraming) {
    for (auto [drv, chip] : {std::pair{s1629_driver, te_chip::sss1629}, std::pair{ht82r83x_driver, te_chip::ht82r83x},
                             std::pair{tl8258_driver, te_chip::tl8258}}) {
        SCOPED_TRACE(drv->drv_name);
        auto phone = vtel::plug(chip);
        CHidDevice* d = mounted(drv, phone);
        ASSERT_EQ(phone.send_frame(0x81, {0x86}), 0);
        ASSERT_TRUE(Sink::get().wait(d, [](const handler_log_t& l) {
            size_t n = 0;
            for (auto& c : l.calls) n += c.size();
            return n >= 4;
        }));
        auto s = Sink::get().stream(d);
        ASSERT_GE(s.size(), 4u);
        EXPECT_EQ(bytes_t(s.begin(), s.begin() + 4), (bytes_t{0xFF, 0x02, 0x81, 0x86}));
    }
}

TEST_F(Device, UnconsumedBytesComeFirstInTheNextCall) {
    auto phone = vtel::plug(te_chip::tl8258);
    CHidDevice* d = mounted(tl8258_driver, phone);
    Sink::get().consume(d, {3});
    ASSERT_EQ(phone.inject_report(bytes_t{4, 1, 2, 3, 4, 5}), 0);
    ASSERT_TRUE(Sink::get().wait(d, [](const handler_log_t& l) { return l.calls.size() == 1; }));
    ASSERT_EQ(phone.inject_report(bytes_t{4, 6, 7}), 0);
    ASSERT_TRUE(Sink::get().wait(d, [](const handler_log_t& l) { return l.calls.size() == 2; }));
    auto log = Sink::get().log(d);
    EXPECT_EQ(log.calls[0], (bytes_t{1, 2, 3, 4, 5}));
    EXPECT_EQ(log.calls[1], (bytes_t{4, 5, 6, 7}));
}

std::atomic<int> g_other_bytes{0};
int other_handler(void*, unsigned char*, int len) {
    g_other_bytes += len;
    return len;
}

TEST_F(Device, HandlerPropertyRoutesLaterReports) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    CHidDevice* d = mounted(ht82r83x_driver, phone);
    g_other_bytes = 0;
    d->set_prop(HID_PROP_HANDLER, reinterpret_cast<void*>(&other_handler));
    ASSERT_EQ(phone.send_frame(0xE7), 0);
    auto end = std::chrono::steady_clock::now() + 3s;
    while (g_other_bytes < 3 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(g_other_bytes, 3);
    EXPECT_TRUE(Sink::get().log(d).calls.empty());
}

TEST_F(Device, VersionAnswerTakesTheDeviceOnlineOnce) {
    auto phone = vtel::plug(te_chip::sss1629);
    CHidDevice* d = mounted(s1629_driver, phone);
    int v = 194;
    d->set_prop(HID_PROP_VERSION, &v);
    EXPECT_EQ(d->get_prop(HID_PROP_VERSION), 194);
    EXPECT_EQ(d->get_prop(HID_PROP_PENDING), 0);
    EXPECT_EQ(Sink::get().log(d).idle, std::vector<int>{0});
    // Late ticks and a repeated answer change nothing.
    d->tmr_online_proc(1);
    d->set_prop(HID_PROP_VERSION, &v);
    EXPECT_EQ(Sink::get().log(d).idle, std::vector<int>{0});
}

TEST_F(Device, SilentTelephoneIsTakenOnlineAtTheThirdTick) {
    auto phone = vtel::plug(te_chip::sss1629);
    CHidDevice* d = mounted(s1629_driver, phone);
    for (int i = 0; i < 4; ++i) d->tmr_online_proc(1);
    EXPECT_EQ(Sink::get().log(d).idle, (std::vector<int>{2, 2, 0}));
    EXPECT_EQ(d->get_prop(HID_PROP_VERSION), -1);
}

TEST_F(Device, PendingPropertyRunsTheSupervisionStep) {
    auto phone = vtel::plug(te_chip::tl8258);
    CHidDevice* d = mounted(tl8258_driver, phone);
    int two = 2, zero = 0;
    d->set_prop(HID_PROP_PENDING, &two);
    d->set_prop(HID_PROP_PENDING, &zero);
    EXPECT_EQ(Sink::get().log(d).idle, (std::vector<int>{2, 0}));
    EXPECT_EQ(d->get_prop(HID_PROP_PENDING), 0);
}

TEST_F(Device, SupervisionTimerTicksEverySixSecondsUntilOnline) {
    auto phone = vtel::plug(te_chip::tl8258);
    auto t0 = std::chrono::steady_clock::now();
    CHidDevice* d = mounted(tl8258_driver, phone);
    std::vector<double> at;
    Sink::get().on_idle([&](CHidDevice*) {
        at.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    });
    ASSERT_TRUE(Sink::get().wait(d, [](const handler_log_t& l) { return l.idle.size() >= 3; }, 30s));
    d->close();  // waits for the callback: `at` is complete and no longer written
    EXPECT_EQ(Sink::get().log(d).idle, (std::vector<int>{2, 2, 0}));
    ASSERT_EQ(at.size(), 3u);
    EXPECT_NEAR(at[0], 6.0, 2.0);
    EXPECT_NEAR(at[1], 12.0, 2.0);
    EXPECT_NEAR(at[2], 18.0, 2.0);
}

TEST_F(Device, ReopenResetsTheMountStateButKeepsTheNumber) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    CHidDevice* d = mounted(ht82r83x_driver, phone, 9);
    int v = 135;
    d->set_prop(HID_PROP_VERSION, &v);
    d->close();
    ASSERT_EQ(d->open(d->path.c_str()), 0);
    EXPECT_EQ(d->devinfo.id, 9);
    EXPECT_EQ(d->get_prop(HID_PROP_VERSION), -1);
    EXPECT_EQ(d->get_prop(HID_PROP_PENDING), 2);
    d->set_prop(HID_PROP_VERSION, &v);  // goes online again, once
    EXPECT_EQ(Sink::get().log(d).idle, (std::vector<int>{0, 0}));
}

TEST_F(Device, SendWritesThroughTheChipDriverWithPacing) {
    auto phone = vtel::plug(te_chip::sss1629);
    CHidDevice* d = mounted(s1629_driver, phone);
    bytes_t cmd{0xFF, 0x02, 0x24, 0x05};
    EXPECT_EQ(d->send(cmd.data(), 4), 4);
    EXPECT_EQ(d->send(cmd.data(), 4), 4);
    auto w = phone.written();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0].bytes, (bytes_t{0x00, 0x80, 0xFF, 0x02, 0x24}));
    EXPECT_EQ(w[1].bytes, (bytes_t{0x00, 0x80, 0x05, 0xFF, 0xFF}));
    for (size_t i = 1; i < w.size(); ++i) EXPECT_GE(ms_between(w[i - 1].time, w[i].time), 31.0);
}

TEST_F(Device, NodeThatNeverOpensGivesUpAfterTwentyAttempts) {
    vtel::phone_cfg_t cfg;
    cfg.chip = te_chip::sss1629;
    cfg.openable = false;
    auto phone = vtel::plug(cfg);
    CHidDevice dev(s1629_driver, phone.path());
    testing::internal::CaptureStdout();
    auto t0 = std::chrono::steady_clock::now();
    int r = dev.mount(&parent_, Sink::handler, 1);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, -1);
    // Each attempt number is followed by the driver's log line.
    size_t attempts = 0;
    for (size_t at = out.find("HidDriver Base open"); at != std::string::npos; at = out.find("HidDriver Base open", at + 1))
        ++attempts;
    EXPECT_EQ(attempts, 20u);
    for (int i = 0; i < 20; ++i) EXPECT_NE(out.find("," + std::to_string(i) + "[TRACE]"), std::string::npos) << i;
    EXPECT_EQ(out.find(",20"), std::string::npos);
    EXPECT_NE(out.find("HidDriver Base open\n.]\nDone!\n"), std::string::npos) << out;
    EXPECT_NE(out.find("unable to open device\n"), std::string::npos);
    EXPECT_GE(took, 9.5);
    EXPECT_LE(took, 20.0);
    dev.close();
}

double process_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

TEST_F(Device, ReaderOutlivesTheTelephoneWithoutSpinning) {
    for (auto [drv, chip] : {std::pair{s1629_driver, te_chip::sss1629}, std::pair{ht82r83x_driver, te_chip::ht82r83x},
                             std::pair{tl8258_driver, te_chip::tl8258}}) {
        SCOPED_TRACE(drv->drv_name);
        auto phone = vtel::plug(chip);
        CHidDevice* d = mounted(drv, phone);
        phone.unplug();
        double cpu0 = process_cpu_ms();
        std::this_thread::sleep_for(500ms);
        // A reader that retried at once would burn the whole half second.
        EXPECT_LT(process_cpu_ms() - cpu0, 150.0);
        auto t0 = std::chrono::steady_clock::now();
        d->close();
        EXPECT_LT(ms_since(t0), 1000.0);
        EXPECT_EQ(phone.open_handles(), 0);
    }
}

}  // namespace
