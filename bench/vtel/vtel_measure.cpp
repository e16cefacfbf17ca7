// Figures of the virtual telephone: how fast a blocked reader wakes when a
// report is queued, and how many reports per second go through each way.
#include "vtel.h"

#include <hidapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using steady = std::chrono::steady_clock;

namespace {

void wake_latency()
{
    vtel::reset();
    auto p = vtel::plug(vtel::te_chip::ht82r83x);
    hid_device* dev = hid_open_path(p.path().c_str());
    constexpr int rounds = 2000;
    std::vector<double> us;
    us.reserve(rounds);
    std::atomic<bool> waiting{false};
    std::atomic<int64_t> woke{0};
    std::thread reader([&] {
        unsigned char buf[8];
        for (int i = 0; i < rounds; ++i) {
            waiting = true;
            if (hid_read_timeout(dev, buf, sizeof buf, 5000) > 0)
                woke = steady::now().time_since_epoch().count();
        }
    });
    for (int i = 0; i < rounds; ++i) {
        while (!waiting)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let it block
        waiting = false;
        woke = 0;
        auto sent = steady::now();
        p.ring();
        while (woke == 0)
            std::this_thread::yield();
        us.push_back(std::chrono::duration<double, std::micro>(steady::duration(woke.load()) -
                                                               sent.time_since_epoch())
                         .count());
    }
    reader.join();
    hid_close(dev);
    std::sort(us.begin(), us.end());
    std::printf("read wake-up after a queued report: median %.1f us, p99 %.1f us, max %.1f us (%d rounds)\n",
                us[us.size() / 2], us[us.size() * 99 / 100], us.back(), rounds);
}

void write_rate()
{
    vtel::reset();
    auto p = vtel::plug(vtel::te_chip::sss1629);
    hid_device* dev = hid_open_path(p.path().c_str());
    constexpr int n = 200000;
    const unsigned char r[5] = {0x00, 0x80, 0xFF, 0x01, 0x6A};
    auto t0 = steady::now();
    for (int i = 0; i < n; ++i)
        hid_write(dev, r, sizeof r);
    double s = std::chrono::duration<double>(steady::now() - t0).count();
    std::printf("hid_write, recorded and decoded: %.0f reports/s (%zu frames)\n", n / s, p.frames().size());
    hid_close(dev);
}

void event_rate()
{
    vtel::reset();
    auto p = vtel::plug(vtel::te_chip::tl8258);
    hid_device* dev = hid_open_path(p.path().c_str());
    constexpr int n = 200000;
    unsigned char buf[9];
    auto t0 = steady::now();
    for (int i = 0; i < n; ++i) {
        p.press_key("5");
        hid_read_timeout(dev, buf, sizeof buf, 0);
    }
    double s = std::chrono::duration<double>(steady::now() - t0).count();
    std::printf("key event queued and read: %.0f events/s\n", n / s);
    hid_close(dev);
}

}  // namespace

int main()
{
    wake_latency();
    write_rate();
    event_rate();
    vtel::reset();
}
