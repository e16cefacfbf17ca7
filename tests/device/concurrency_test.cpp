// The device layer under concurrent use: the mount transition raced by a tick
// and an answer, close against the supervision callback and the reader,
// handler swaps under traffic, paced writes from several threads, and two
// HT82R83X telephones decoding through their shared protocol object.
#include <atomic>
#include <map>
#include <set>
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

class DeviceThreads : public VPhoneTest {
protected:
    void SetUp() override {
        VPhoneTest::SetUp();
        Sink::get().reset();
    }
    void TearDown() override {
        CProtocol::freeAll();
        VPhoneTest::TearDown();
    }
    int parent_ = 0;
};

TEST_F(DeviceThreads, AnswerAndThirdTickTakeTheDeviceOnlineExactlyOnce) {
    auto phone = vtel::plug(te_chip::tl8258);
    CHidDevice dev(tl8258_driver, phone.path());
    ASSERT_EQ(dev.mount(&parent_, Sink::handler, 1), 0);
    int v = 194;
    for (int round = 0; round < 50; ++round) {
        dev.close();
        ASSERT_EQ(dev.open(dev.path.c_str()), 0);  // pending 2, no ticks
        Sink::get().reset();
        dev.tmr_online_proc(1);
        dev.tmr_online_proc(1);
        std::atomic<bool> go{false};
        std::thread ticker([&] {
            while (!go) std::this_thread::yield();
            dev.tmr_online_proc(1);
        });
        std::thread answer([&] {
            while (!go) std::this_thread::yield();
            dev.set_prop(HID_PROP_VERSION, &v);
        });
        go = true;
        ticker.join();
        answer.join();
        auto idle = Sink::get().log(&dev).idle;
        ASSERT_EQ(std::count(idle.begin(), idle.end(), 0), 1) << "round " << round;
    }
    dev.close();
}

TEST_F(DeviceThreads, CloseWaitsForARunningSupervisionCallback) {
    auto phone = vtel::plug(te_chip::sss1629);
    auto dev = std::make_unique<CHidDevice>(s1629_driver, phone.path());
    std::atomic<bool> entered{false}, left{false};
    Sink::get().on_idle([&](CHidDevice* d) {
        entered = true;
        std::this_thread::sleep_for(300ms);
        d->get_prop(HID_PROP_PENDING);  // still a live device
        left = true;
    });
    ASSERT_EQ(dev->mount(&parent_, Sink::handler, 1), 0);
    auto end = std::chrono::steady_clock::now() + 20s;
    while (!entered && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(entered);  // the first tick, on the timer thread
    dev->close();
    EXPECT_TRUE(left);
    dev.reset();  // nothing may touch it from here on
    std::this_thread::sleep_for(100ms);
}

TEST_F(DeviceThreads, CloseEndsTheReaderUnderTraffic) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    CHidDevice dev(ht82r83x_driver, phone.path());
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
        while (!stop) {
            phone.send_frame(0xE7);
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(dev.mount(&parent_, Sink::handler, 1), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 7));
        auto t0 = std::chrono::steady_clock::now();
        dev.close();
        EXPECT_LT(ms_since(t0), 1000.0);
        EXPECT_EQ(phone.open_handles(), 0);
    }
    stop = true;
    traffic.join();
    EXPECT_FALSE(Sink::get().log(&dev).calls.empty());
}

std::atomic<long> g_bytes_a{0}, g_bytes_b{0};
int handler_a(void*, unsigned char*, int len) {
    g_bytes_a += len;
    return len;
}
int handler_b(void*, unsigned char*, int len) {
    g_bytes_b += len;
    return len;
}

TEST_F(DeviceThreads, HandlerSwapUnderTrafficLosesNoReport) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    CHidDevice dev(ht82r83x_driver, phone.path());
    g_bytes_a = g_bytes_b = 0;
    ASSERT_EQ(dev.mount(&parent_, handler_a, 1), 0);
    constexpr int frames = 400;
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        for (int i = 0; !done; ++i) {
            dev.set_prop(HID_PROP_HANDLER, reinterpret_cast<void*>(i % 2 ? &handler_a : &handler_b));
            std::this_thread::sleep_for(100us);
        }
    });
    for (int i = 0; i < frames; ++i) ASSERT_EQ(phone.send_frame(0xE7), 0);  // 3 bytes, one report each
    auto end = std::chrono::steady_clock::now() + 10s;
    while (g_bytes_a + g_bytes_b < frames * 3 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(5ms);
    done = true;
    swapper.join();
    dev.close();
    EXPECT_EQ(g_bytes_a + g_bytes_b, frames * 3);
}

TEST_F(DeviceThreads, CommandsFromTwoThreadsToOneTelephoneNeverInterleave) {
    auto phone = vtel::plug(te_chip::sss1629);
    CHidDevice dev(s1629_driver, phone.path());
    ASSERT_EQ(dev.mount(&parent_, Sink::handler, 1), 0);
    auto sender = [&](uint8_t tag) {
        for (uint8_t i = 0; i < 4; ++i) {
            bytes_t cmd{0xFF, 0x05, 0x41, tag, i, tag, i};  // three reports
            EXPECT_EQ(dev.send(cmd.data(), static_cast<int>(cmd.size())), 7);
        }
    };
    std::thread a(sender, 0x10), b(sender, 0x20);
    a.join();
    b.join();
    dev.close();
    auto frames = phone.frames();
    ASSERT_EQ(frames.size(), 8u);
    std::map<uint8_t, std::vector<uint8_t>> seq;
    for (auto& f : frames) {
        ASSERT_EQ(f.data.size(), 4u);
        EXPECT_EQ(f.data[0], f.data[2]);
        EXPECT_EQ(f.data[1], f.data[3]);
        seq[f.data[0]].push_back(f.data[1]);
    }
    EXPECT_EQ(seq[0x10], (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_EQ(seq[0x20], (std::vector<uint8_t>{0, 1, 2, 3}));
    auto w = phone.written();
    for (size_t i = 1; i < w.size(); ++i) EXPECT_GE(ms_between(w[i - 1].time, w[i].time), 31.0);
}

TEST_F(DeviceThreads, TwoTl8258TelephonesShareTheFramePacing) {
    auto p1 = vtel::plug(te_chip::tl8258), p2 = vtel::plug(te_chip::tl8258);
    CHidDevice d1(tl8258_driver, p1.path()), d2(tl8258_driver, p2.path());
    ASSERT_EQ(d1.mount(&parent_, Sink::handler, 1), 0);
    ASSERT_EQ(d2.mount(&parent_, Sink::handler, 2), 0);
    auto sender = [](CHidDevice* d, uint8_t tag) {
        for (uint8_t i = 0; i < 4; ++i) {
            bytes_t cmd{0xFF, 0x06, 0x41, tag, i, tag, i, tag};  // two reports
            EXPECT_EQ(d->send(cmd.data(), static_cast<int>(cmd.size())), 8);
        }
    };
    std::thread a(sender, &d1, 0x10), b(sender, &d2, 0x20);
    a.join();
    b.join();
    d1.close();
    d2.close();
    std::vector<vtel::time_point> starts;
    for (auto [phone, tag] : {std::pair{p1, uint8_t{0x10}}, std::pair{p2, uint8_t{0x20}}}) {
        auto frames = phone.frames();
        ASSERT_EQ(frames.size(), 4u);
        for (uint8_t i = 0; i < 4; ++i)
            EXPECT_EQ(frames[i].data, (bytes_t{tag, i, tag, i, tag}));
        for (auto& f : frames) starts.push_back(f.first);
    }
    std::sort(starts.begin(), starts.end());
    for (size_t i = 1; i < starts.size(); ++i) EXPECT_GE(ms_between(starts[i - 1], starts[i]), 99.0);
}

// Decodes through the device's own protocol object and keeps the texts.
std::mutex g_text_mu;
std::map<void*, std::string> g_texts;
int decode_handler(void* device, unsigned char* data, int len) {
    auto* d = static_cast<CHidDevice*>(device);
    if (!data) return 0;
    std::string out;
    d->protocol->decode(&d->devinfo, data, len, out);
    std::lock_guard<std::mutex> g(g_text_mu);
    g_texts[device] += out;
    return len;
}

TEST_F(DeviceThreads, TwoHtTelephonesDecodeInterleavedFramesThroughTheSharedObject) {
    auto p1 = vtel::plug(te_chip::ht82r83x), p2 = vtel::plug(te_chip::ht82r83x);
    CHidDevice d1(ht82r83x_driver, p1.path()), d2(ht82r83x_driver, p2.path());
    {
        std::lock_guard<std::mutex> g(g_text_mu);
        g_texts.clear();
    }
    ASSERT_EQ(d1.mount(&parent_, decode_handler, 1), 0);
    ASSERT_EQ(d2.mount(&parent_, decode_handler, 2), 0);
    ASSERT_EQ(d1.protocol, d2.protocol);
    constexpr int rounds = 20;
    auto caller = [](vtel::CPhone p, const char* number) {
        for (int i = 0; i < rounds; ++i) {
            p.incoming_call(number, {5, 12, 9, 30});  // several reports each
            p.report_version(134);
        }
    };
    std::thread a(caller, p1, "13800138000"), b(caller, p2, "88123456");
    a.join();
    b.join();
    auto count = [](const std::string& s, const std::string& what) {
        size_t n = 0;
        for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
        return n;
    };
    auto end = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        std::string t1, t2;
        {
            std::lock_guard<std::mutex> g(g_text_mu);
            t1 = g_texts[&d1];
            t2 = g_texts[&d2];
        }
        bool complete = count(t1, "\n") >= 2 * rounds && count(t2, "\n") >= 2 * rounds;
        if (complete || std::chrono::steady_clock::now() > end) {
            EXPECT_EQ(count(t1, "\"number\":\"13800138000\""), size_t{rounds}) << t1;
            EXPECT_EQ(count(t2, "\"number\":\"88123456\""), size_t{rounds}) << t2;
            EXPECT_EQ(count(t1, "\"value\":194"), size_t{rounds});
            EXPECT_EQ(count(t2, "\"value\":194"), size_t{rounds});
            EXPECT_EQ(count(t1, "\"dev\":2"), 0u);
            EXPECT_EQ(count(t2, "\"dev\":1"), 0u);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    d1.close();
    d2.close();
}

}  // namespace
