// Manager lifecycle (start, stop, the TCP event connection) and the single
// path from a telephone report to the application.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <hidapi/hidapi.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "core/log.h"
#include "device/drv_hid.h"
#include "manager/hid_server.h"
#include "protocol/proto.h"

CHidManagerServer::CHidManagerServer()
{
    LOGD(8, "Load server version %s.\n", hid_server_version());
    hid_init();
}

CHidManagerServer::~CHidManagerServer()
{
    drivers.clear();
    stop();
    hid_exit();
}

int CHidManagerServer::regist_driver(const CHidDriver* driver)
{
    LOGD(5, "regist %s %04X:%04X\n", driver->drv_name.c_str(), driver->vid, driver->pid);
    drivers[driver->key] = driver;
    return 0;
}

void CHidManagerServer::regist_protocol(CProtocol* protocol)
{
    protocols.emplace(protocol->name(), protocol);
}

void CHidManagerServer::set_event_callback(hid_event_cb callback, void* user)
{
    event_callback = callback;
    user_data = user;
}

const CHidDriver* CHidManagerServer::find_driver(uint32_t key) const
{
    auto it = drivers.find(key);
    return it == drivers.end() ? nullptr : it->second;
}

int CHidManagerServer::connect_client()
{
    if (client_port <= 0)
        return -1;
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        perror("socket create failed!");
        client_sock = -1;
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(client_host.c_str());
    addr.sin_port = htons(static_cast<uint16_t>(client_port & 0xFFFF));
    if (connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        perror("connect failed!");
        close(sock);
        client_sock = -1;
        return -1;
    }
    client_sock = sock;
    LOGD(6, "connect host success!\n");
    return 0;
}

static void report_thread_failure(const std::system_error& e)
{
    errno = e.code().value();
    perror("pthread create failed");
}

int CHidManagerServer::start(int port, const char* host)
{
    std::lock_guard<std::mutex> life(lifecycle_mutex);
    if (running) {
        LOGD(3, "already running\n");
        return -1;
    }
    client_port = port;
    client_host = host ? host : "127.0.0.1";
    {
        std::lock_guard<std::mutex> lock(pnp_mutex);
        pnp_deadline = {};
        pnp_wake = false;
    }

    load_config();

    LOGD(5, "Connect client\n");
    int rc = connect_client();
    if (rc != 0 && !event_callback)
        return rc;

    // Lets stop end the hot-plug thread's wait at once; without it the thread
    // still notices stop within its 100 ms poll.
    stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Without the socket the library still finds the telephones present at
    // each scan, only hot-plug is lost; the start goes on.
    pnp_sock = init_pnp_socket();

    running = true;
    try {
        det_tid = std::thread([this] { det_thread(this); });
    } catch (const std::system_error& e) {
        report_thread_failure(e);
        running = false;
        release_start_resources();
        return -1;
    }
    try {
        watch_tid = std::thread([this] { usb_watch_proc(this); });
    } catch (const std::system_error& e) {
        report_thread_failure(e);
        running = false;
        end_hotplug_thread();
        release_start_resources();
        return -1;
    }
    return 0;
}

// With `running` false: wakes the hot-plug thread out of its wait and joins it.
void CHidManagerServer::end_hotplug_thread()
{
    if (stop_fd >= 0) {
        uint64_t one = 1;
        ssize_t ignored = write(stop_fd, &one, sizeof(one));
        (void)ignored;
    }
    if (det_tid.joinable())
        det_tid.join();
}

void CHidManagerServer::release_start_resources()
{
    // The hot-plug thread closes its socket itself; this is for a start
    // that failed before the thread ran.
    int nl = pnp_sock.exchange(-1);
    if (nl >= 0)
        close(nl);
    if (stop_fd >= 0) {
        close(stop_fd);
        stop_fd = -1;
    }
    int sock = client_sock.exchange(-1);
    if (sock >= 0)
        close(sock);
}

void CHidManagerServer::stop()
{
    std::lock_guard<std::mutex> life(lifecycle_mutex);
    LOGD(6, "stop:%d/%d\n", running ? 1 : 0, pnp_sock.load());
    if (!running)
        return;

    // The manager threads end first, so that no device is mounted or removed
    // while the devices are being closed.
    running = false;
    end_hotplug_thread();
    {
        std::lock_guard<std::mutex> lock(pnp_mutex);
        pnp_deadline = {};
        pnp_cond.notify_all();
    }
    if (watch_tid.joinable())
        watch_tid.join();

    close_all_devices();
    release_start_resources();
    CProtocol::freeAll();
}

void CHidManagerServer::close_all_devices()
{
    std::map<std::string, device_ptr> gone;
    {
        std::lock_guard<std::mutex> lock(dev_mutex);
        gone.swap(devices);
    }
    // Closing joins each reader thread, which may itself be waiting for
    // dev_mutex inside send_cmd: the map lock is not held here.
    for (auto& entry : gone)
        entry.second->close();
}

std::vector<CHidManagerServer::device_ptr> CHidManagerServer::device_snapshot()
{
    std::lock_guard<std::mutex> lock(dev_mutex);
    std::vector<device_ptr> out;
    out.reserve(devices.size());
    for (auto& entry : devices)
        out.push_back(entry.second);
    return out;
}

void CHidManagerServer::deliver(const char* text, size_t length, bool to_tcp)
{
    if (hid_event_cb cb = event_callback)
        cb(user_data, text, static_cast<int>(length));
    if (!to_tcp)
        return;
    int sock = client_sock.load();
    if (sock >= 0) {
        // A peer that went away must neither kill the process with SIGPIPE
        // nor stop the delivery to the callback.
        ssize_t ignored = send(sock, text, length, MSG_NOSIGNAL);
        (void)ignored;
    }
}

int CHidManagerServer::on_hid_event(CHidDevice* device, unsigned char* data, int length)
{
    if (!data || !device)
        return length;
    CProtocol* prot = device->protocol ? device->protocol : ptr_prot_qm;

    std::string text;
    prot->decode(&device->devinfo, data, length, text);
    LOGD(5, "on evt [%s] online:%d, cb:%p\n", text.c_str(),
         device->get_prop(HID_PROP_PENDING), reinterpret_cast<void*>(event_callback));
    if (text.empty())
        return length;

    // One report may complete several frames: each event is its own
    // callback call and TCP line, in order. The device may go online between
    // two of them (its version answer), so the state is looked at per event.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = (end == std::string::npos) ? text.size() : end + 1;
        bool whole = (start == 0 && end == text.size());
        std::string line = whole ? std::string() : text.substr(start, end - start);
        const std::string& event = whole ? text : line;
        if (device->get_prop(HID_PROP_PENDING) != 0)
            on_mount_event(device, event);
        else
            deliver(event.c_str(), event.size(), true);
        start = end;
    }
    return length;
}
