// The device manager: the one object through which the library works. It
// registers the chip drivers, keeps the opened telephones, runs the hot-plug
// and scan threads, and turns every telephone report into event texts for
// the application's callback and TCP connection.
//
// Ownership: the manager owns its devices (shared, so that a command being
// written on an application thread keeps a device alive while the scan thread
// removes it); drivers and protocol objects are static and only pointed to.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "manager/telhid.h"

class CHidDriver;
class CHidDevice;
class CProtocol;
struct hid_device_info;

class CHidManagerServer {
public:
    CHidManagerServer();
    ~CHidManagerServer();
    CHidManagerServer(const CHidManagerServer&) = delete;
    CHidManagerServer& operator=(const CHidManagerServer&) = delete;

    // Registration; only while not running (the manager threads read these
    // maps without a lock).
    int regist_driver(const CHidDriver* driver);
    void regist_protocol(CProtocol* protocol);
    void set_event_callback(hid_event_cb callback, void* user);

    // 0, or -1 (also when already running: nothing is changed then).
    int start(int port, const char* host);
    int connect_client();
    // Harmless when not running. Must not be called from a device thread.
    void stop();
    bool is_running() const { return running.load(); }

    // The one path from a report to the application. Returns length.
    int on_hid_event(CHidDevice* device, unsigned char* data, int length);

    // Hot-plug and scanning.
    int init_pnp_socket();
    void* det_thread(void* arg);
    void* usb_watch_proc(void* arg);
    int remount_devices();

    // Mount and information query.
    int query_dev_info(CHidDevice* device);
    void on_mount_event(CHidDevice* device, const std::string& text);

    // Command dispatch and status.
    int send_cmd(const char* name, const char* param, int device);
    int get_status(char* buffer, int size);

    // User configuration file, read by start.
    void load_config();

    const CHidDriver* find_driver(uint32_t key) const;

private:
    using device_ptr = std::shared_ptr<CHidDevice>;

    void deliver(const char* text, size_t length, bool to_tcp);
    void deliver_lines(const std::string& text, CHidDevice* device, bool mounting);
    void scan_devices();
    void removal_pass();
    void wait_for_hotplug();
    void mount_record(const hid_device_info* record, const CHidDriver* driver,
                      const std::string& key);
    void wake_scan(uint32_t delay_ms);
    std::vector<device_ptr> device_snapshot();
    void close_all_devices();
    void release_start_resources();
    void end_hotplug_thread();

    std::map<uint32_t, const CHidDriver*> drivers;
    // Guarded by dev_mutex; never held while a device is opened or closed.
    std::map<std::string, device_ptr> devices;
    std::mutex dev_mutex;
    std::map<const char*, CProtocol*> protocols;

    std::atomic<int> pnp_sock{-1};
    std::atomic<bool> running{false};
    std::thread det_tid;
    std::thread watch_tid;
    int stop_fd = -1;  // eventfd that ends the hot-plug thread's wait at once

    std::condition_variable pnp_cond;
    std::mutex pnp_mutex;
    // Guarded by pnp_mutex: the scan waits until this time (the last relevant
    // message plus the settle time), and a wake-up not yet consumed.
    std::chrono::steady_clock::time_point pnp_deadline{};
    bool pnp_wake = false;

    int client_port = 0;
    uint16_t dev_seq = 1;    // scan thread only (and start/stop, when it is not running)
    std::string client_host;
    std::atomic<int> client_sock{-1};
    void* user_data = nullptr;
    hid_event_cb event_callback = nullptr;
    std::mutex lifecycle_mutex;  // start, stop and remount one at a time
};

// Created by the first call; start functions only.
std::shared_ptr<CHidManagerServer> get_server();
// The manager if one was created, else null.
std::shared_ptr<CHidManagerServer> current_server();

// Position from 1 of `text` in `list`, 0 when absent.
int find_list_item(const std::string& text, const std::vector<std::string>& list);

// Hot-plug actions and subsystems the scan thread is woken for.
extern const std::vector<std::string> action_list;
extern const std::vector<std::string> subsystem_lsit;
