// A report handler that records what each device hands it: the bytes it
// received (optionally consuming only part of them) and, for every call
// without bytes, the device's pending mask at that moment.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "device/drv_hid.h"

namespace devtest {

struct handler_log_t {
    std::vector<std::vector<uint8_t>> calls;  // the bytes of each call with data
    std::vector<int> idle;                    // pending mask at each call without data
};

class Sink {
public:
    static Sink& get() {
        static Sink s;
        return s;
    }

    static int handler(void* dev, unsigned char* data, int len) { return get().on_report(dev, data, len); }

    void reset() {
        std::lock_guard<std::mutex> g(mu_);
        logs_.clear();
        consume_.clear();
        on_idle_ = nullptr;
    }
    // The next calls with data for `dev` consume these many bytes each.
    void consume(void* dev, std::vector<int> counts) {
        std::lock_guard<std::mutex> g(mu_);
        consume_[dev] = std::move(counts);
    }
    // Runs (outside the sink's lock) at every call without data.
    void on_idle(std::function<void(CHidDevice*)> f) {
        std::lock_guard<std::mutex> g(mu_);
        on_idle_ = std::move(f);
    }
    handler_log_t log(void* dev) {
        std::lock_guard<std::mutex> g(mu_);
        return logs_[dev];
    }
    // Waits until pred(log of dev) holds; false after the timeout.
    bool wait(void* dev, std::function<bool(const handler_log_t&)> pred,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, timeout, [&] { return pred(logs_[dev]); });
    }
    // All bytes received by dev, in order.
    std::vector<uint8_t> stream(void* dev) {
        std::lock_guard<std::mutex> g(mu_);
        std::vector<uint8_t> all;
        for (auto& c : logs_[dev].calls) all.insert(all.end(), c.begin(), c.end());
        return all;
    }

private:
    int on_report(void* dev, unsigned char* data, int len) {
        auto* d = static_cast<CHidDevice*>(dev);
        if (!data) {
            int pending = d->get_prop(HID_PROP_PENDING);
            std::function<void(CHidDevice*)> f;
            {
                std::lock_guard<std::mutex> g(mu_);
                logs_[dev].idle.push_back(pending);
                f = on_idle_;
            }
            cv_.notify_all();
            if (f) f(d);
            return 0;
        }
        int taken = len;
        {
            std::lock_guard<std::mutex> g(mu_);
            logs_[dev].calls.emplace_back(data, data + len);
            auto it = consume_.find(dev);
            if (it != consume_.end() && !it->second.empty()) {
                taken = it->second.front();
                it->second.erase(it->second.begin());
            }
        }
        cv_.notify_all();
        return taken;
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::map<void*, handler_log_t> logs_;
    std::map<void*, std::vector<int>> consume_;
    std::function<void(CHidDevice*)> on_idle_;
};

}  // namespace devtest
