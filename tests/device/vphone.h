// Test helpers around the virtual telephones: a raw driver handle on a
// telephone, bounded reads, enumeration records and report payloads.
#pragma once

#include <gtest/gtest.h>
#include <hidapi.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "device/drv_hid.h"
#include "vtel.h"

namespace devtest {

using namespace std::chrono_literals;
using bytes_t = std::vector<uint8_t>;

// Every test starts and ends without telephones.
class VPhoneTest : public ::testing::Test {
protected:
    void SetUp() override { vtel::reset(); }
    void TearDown() override { vtel::reset(); }
};

// A handle opened by a driver on a telephone, closed by the same driver.
class DriverHandle {
public:
    DriverHandle(const CHidDriver& drv, const vtel::CPhone& phone, CProtocol** prot = nullptr)
        : drv_(drv), h_(drv.open(phone.path().c_str(), prot)) {}
    ~DriverHandle() { drv_.close(h_); }
    DriverHandle(const DriverHandle&) = delete;
    DriverHandle& operator=(const DriverHandle&) = delete;
    void* get() const { return h_; }

    // The driver's next non-empty read (0 bytes after `wait`).
    bytes_t read(std::chrono::milliseconds wait = 2000ms) const {
        unsigned char buf[512];
        auto end = std::chrono::steady_clock::now() + wait;
        do {
            int n = drv_.read(h_, buf, sizeof buf, 50);
            if (n > 0) return bytes_t(buf, buf + n);
            if (n < 0) break;
        } while (std::chrono::steady_clock::now() < end);
        return {};
    }
    int write(const bytes_t& cmd, unsigned int* next_send = nullptr) const {
        return drv_.write(h_, const_cast<uint8_t*>(cmd.data()), static_cast<int>(cmd.size()), next_send);
    }

private:
    const CHidDriver& drv_;
    void* h_;
};

inline hid_device_info record(uint16_t vid, uint16_t pid, uint16_t usage_page) {
    hid_device_info r{};
    r.vendor_id = vid;
    r.product_id = pid;
    r.usage_page = usage_page;
    return r;
}

// Milliseconds between two report times.
inline double ms_between(vtel::time_point a, vtel::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Milliseconds since `t0`.
inline double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Waits until the telephone has recorded `count` written reports.
inline std::vector<vtel::report_t> wait_written(const vtel::CPhone& phone, size_t count,
                                                std::chrono::milliseconds wait = 5000ms) {
    auto end = std::chrono::steady_clock::now() + wait;
    auto w = phone.written();
    while (w.size() < count && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
        w = phone.written();
    }
    return w;
}

}  // namespace devtest
