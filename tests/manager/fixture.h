// Test fixture of the manager tests: the library is driven only through its
// exported functions, against virtual telephones.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "manager/telhid.h"
#include "vtel.h"

namespace mgrtest {

using namespace std::chrono_literals;
using clock = std::chrono::steady_clock;

struct event_t {
    clock::time_point time;
    std::string text;
    Json::Value json;
    std::thread::id thread;

    std::string name() const { return json.get("event", "").asString(); }
    int dev() const { return json.get("dev", -1).asInt(); }
};

Json::Value parse_json(const std::string& text);

// Names of the announcement events in both languages.
inline const char* const kAttached[2] = {"电话机插入 ", "Phone attached"};
inline const char* const kRemoved[2] = {"电话机拔出", "Phone removed"};

bool is_attached(const event_t& e);
bool is_removed(const event_t& e);
bool is_key(const event_t& e);

// Collects the events the library delivers to its callback.
class EventLog {
public:
    static int callback(void* user, const char* text, int length);

    std::vector<event_t> all() const;
    size_t count(const std::function<bool(const event_t&)>& match) const;
    // The n-th (from 1) event that matches, waiting up to `timeout`.
    std::optional<event_t> wait(const std::function<bool(const event_t&)>& match,
                                std::chrono::milliseconds timeout, size_t nth = 1) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    std::vector<event_t> events_;
};

// A TCP listener on 127.0.0.1 standing in for the application's event port.
class TcpPeer {
public:
    TcpPeer();
    ~TcpPeer();
    int port() const { return port_; }
    bool accept_client(std::chrono::milliseconds timeout);
    // Next line (with its line feed), or nullopt after the timeout.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    void close_client();
    void close_listener();

private:
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    int port_ = 0;
    std::string pending_;
};

struct attached_phone_t {
    vtel::CPhone phone;
    int dev = -1;
};

class ManagerTest : public testing::Test {
protected:
    void TearDown() override;

    void start();
    // Plugs a telephone and waits for its announcement.
    attached_phone_t attach(const vtel::phone_cfg_t& cfg = {});
    std::optional<event_t> wait_event(const std::function<bool(const event_t&)>& match,
                                      std::chrono::milliseconds timeout = 5000ms, size_t nth = 1)
    {
        return log.wait(match, timeout, nth);
    }

    EventLog log;
};

// Opcodes the tests look for in what the telephones receive.
constexpr uint8_t OP_USB_ONLINE = 0x6A;
constexpr uint8_t OP_READ_VERSION = 0x01;
constexpr uint8_t OP_FLASH_TIME = 0x24;
constexpr uint8_t OP_DTMF = 0x11;

// A hot-plug message as the kernel sends it for a HID device.
std::vector<std::string> hid_uevent(const std::string& action, const std::string& subsystem,
                                    const std::string& hid_id);

int thread_count();

// Sends standard output (fd 1) to a temporary file while it lives, so that a
// test can look at what the library has printed so far.
class StdoutTap {
public:
    StdoutTap();
    ~StdoutTap();
    std::string text() const;
    // Waits until the output contains `what`.
    bool wait_for(const std::string& what, std::chrono::milliseconds timeout) const;

private:
    int saved_ = -1;
    int file_ = -1;
};

}  // namespace mgrtest
