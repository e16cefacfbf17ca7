#include "device/drv_hid.h"

#include <hidapi.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "core/log.h"
#include "core/timer.h"
#include "protocol/proto.h"
#include "protocol/str_table.h"

namespace {

constexpr int open_attempts = 20;
constexpr auto open_retry_pause = std::chrono::milliseconds(500);
// The reader waits in slices this long so that close ends it promptly.
constexpr int read_slice_ms = 100;
// After a read error (device gone) the reader waits this long, or until close.
constexpr auto read_error_pause = std::chrono::milliseconds(100);
constexpr int read_buffer_size = 512;
// Largest input report of a full-speed interrupt endpoint: the reader keeps
// this much room so that a report is never cut.
constexpr int max_report_size = 64;
constexpr double supervision_interval_s = 6.0;
// The supervision stops waiting for answers once ticks exceeds this.
constexpr int supervision_max_ticks = 2;

hid_device* dev_of(void* handle) { return static_cast<hid_device*>(handle); }

}  // namespace

// ---------------------------------------------------------------------------
// CHidDriver: pass-through over hidapi

CHidDriver::CHidDriver(uint16_t v, uint16_t p) {
    vid = v;
    pid = p;
    key = make_key(v, p);
}

int CHidDriver::write(void* handle, void* data, int len, unsigned int* /*next_send*/) const {
    if (!handle || !data || len <= 0) return 0;
    // The reason is taken from errno, which is this thread's own: hidapi's
    // per-device error text is shared with the reader thread, whose failing
    // reads would overwrite (and free) it under a writer.
    errno = 0;
    int n = hid_write(dev_of(handle), static_cast<const unsigned char*>(data), static_cast<size_t>(len));
    if (n < 0) {
        int err = errno;
        if (err != 0) {
            LOGD(3, "hid write failed: %s\n", strerror(err));
        } else {
            LOGD(3, "hid write failed\n");
        }
    }
    return n;
}

int CHidDriver::read(void* handle, void* buf, int len, int timeout) const {
    if (!handle || !buf || len <= 0) return 0;
    return hid_read_timeout(dev_of(handle), static_cast<unsigned char*>(buf), static_cast<size_t>(len), timeout);
}

void* CHidDriver::open(const char* path, CProtocol** protocol) const {
    if (protocol) *protocol = CProtocol::get_prot_by_name(nullptr);
    LOGD(6, "HidDriver Base open\n");
    if (!path) return nullptr;
    return hid_open_path(path);
}

void CHidDriver::close(void* handle) const {
    if (handle) hid_close(dev_of(handle));
}

bool CHidDriver::match_device(const hid_device_info* record) const {
    LOGD(6, "driver matched (%X)\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(record)));
    return true;
}

// ---------------------------------------------------------------------------
// CHidDevice

CHidDevice::CHidDevice(const CHidDriver* drv, const std::string& node) : driver(drv), path(node) {
    vid = drv->vid;
    pid = drv->pid;
    usage_page = drv->usage_page;
    key = make_key(vid, pid);
    LOGD(6, "new hid device:%04X:%04X\n", vid, pid);
}

CHidDevice::~CHidDevice() {
    // Destroying a running device would leave its reader and timer using
    // freed memory: close it instead of trusting the owner.
    if (reader.joinable() || handle || online_timer) {
        LOGD(4, "HID device[%04X:%04X] destroyed while open\n", vid, pid);
        close();
    }
}

int CHidDevice::mount(void* p, hid_report_handler h, unsigned short number) {
    LOGD(6, "mount hid %d\n", number);
    handler.store(h);
    parent = p;
    devinfo.id = number;
    present = 1;
    return open(path.c_str());
}

int CHidDevice::open(const char* node) {
    if (reader.joinable() || handle || online_timer) close();
    {
        std::lock_guard<std::mutex> g(send_lock);
        handle = nullptr;
        next_send = 0;
    }

    LOGD(6, "open HID %s [max:%d:", driver->drv_name.c_str(), open_attempts);
    CProtocol* prot = nullptr;
    void* h = nullptr;
    for (int attempt = 0; attempt < open_attempts; ++attempt) {
        printf(",%d", attempt);
        fflush(stdout);
        h = driver->open(node, &prot);
        if (h) break;
        std::this_thread::sleep_for(open_retry_pause);
    }
    printf(".]\nDone!\n");
    fflush(stdout);
    if (!h) {
        LOGD(3, "unable to open device\n");
        return -1;
    }

    // Settled here, before any thread can decode with it, so that nobody
    // has to fill it in later while the reader and the timer run.
    protocol = prot ? prot : ptr_prot_qm;
    {
        std::lock_guard<std::mutex> g(send_lock);
        handle = h;
    }
    devinfo.reset();
    {
        std::lock_guard<std::mutex> g(state_lock);
        pending = HID_PENDING_VERSION;
        version = -1;
        ticks = 0;
        online = false;
    }

    // The timer exists before the reader starts: an answer read at once
    // stops it from the reader thread.
    online_timer = std::make_unique<timer>(supervision_interval_s, hid_dev_timer_entry, this, 1);
    online_timer->timer_start();

    reading.store(true);
    try {
        reader = std::thread(hid_drv_read_entry, this);
    } catch (const std::system_error& e) {
        LOGD(3, "reader thread not created: %s\n", e.what());
        close();
        return -1;
    }
    return 0;
}

void CHidDevice::close() {
    if (!reading.load()) LOGD(6, "HID device[%04X:%04X] closed.\n", vid, pid);
    {
        std::lock_guard<std::mutex> g(wake_lock);
        reading.store(false);
    }
    wake.notify_all();

    // The reader goes first: it may stop the timer itself (an answer
    // completing the mount), so the timer must outlive it.
    if (reader.joinable()) {
        if (reader.get_id() == std::this_thread::get_id()) {
            LOGD(3, "HID device[%04X:%04X] closed from its own reader\n", vid, pid);
            reader.detach();
        } else {
            reader.join();
        }
    }
    if (online_timer) {
        // Waits for a supervision callback in progress; none starts after.
        online_timer->timer_stop();
        online_timer.reset();
    }
    std::lock_guard<std::mutex> g(send_lock);
    if (handle) {
        driver->close(handle);
        handle = nullptr;
    }
}

int CHidDevice::send(unsigned char* bytes, int count) {
    if (!bytes || count < 0) count = 0;
    std::lock_guard<std::mutex> g(send_lock);
    return driver->write(handle, bytes, count, &next_send);
}

int CHidDevice::get_prop(int id) {
    std::lock_guard<std::mutex> g(state_lock);
    switch (id) {
    case HID_PROP_VERSION: return version;
    case HID_PROP_PENDING: return pending;
    default: return 0;
    }
}

void CHidDevice::set_prop(int id, void* value) {
    switch (id) {
    case HID_PROP_VERSION:
        if (value) {
            bool answered;
            {
                std::lock_guard<std::mutex> g(state_lock);
                version = *static_cast<const int*>(value);
                pending &= static_cast<uint8_t>(~HID_PENDING_VERSION);
                answered = pending == 0;
            }
            if (answered) tmr_online_proc(0);
        }
        break;
    case HID_PROP_PENDING:
        if (value) {
            {
                std::lock_guard<std::mutex> g(state_lock);
                pending = static_cast<uint8_t>(*static_cast<const int*>(value));
                // Queries outstanding again: their end is a new transition.
                if (pending != 0) online = false;
            }
            tmr_online_proc(0);
        }
        break;
    case HID_PROP_HANDLER:
        handler.store(reinterpret_cast<hid_report_handler>(value));
        break;
    default:
        break;
    }
    LOGD(5, "Device Set_prop [%s]\n", str_text(id));
}

int CHidDevice::chk_mount(int mark) {
    int previous = present;
    present = mark;
    return previous;
}

void* CHidDevice::get_parent() { return parent; }

int CHidDevice::tmr_online_proc(int increment) {
    bool call;
    bool stop = false;
    {
        std::lock_guard<std::mutex> g(state_lock);
        ticks += increment;
        if (ticks > supervision_max_ticks) pending = 0;
        if (pending != 0) {
            call = true;  // the manager repeats its queries
        } else if (!online) {
            // A tick and an answer may get here at the same moment; only the
            // first takes the device online.
            online = true;
            call = stop = true;
        } else {
            call = false;
        }
    }
    // Neither is done under state_lock: stopping waits for a running tick,
    // which takes state_lock, and the handler sends and sets properties.
    if (stop && online_timer) online_timer->timer_stop();
    if (call) {
        hid_report_handler h = handler.load();
        if (h) h(this, nullptr, 0);
    }
    return 0;
}

int CHidDevice::read_proc() {
    unsigned char buf[read_buffer_size];
    int used = 0;
    bool failing = false;
    while (reading.load()) {
        int n = driver->read(handle, buf + used, read_buffer_size - used, read_slice_ms);
        if (n < 0) {
            // A vanished telephone fails every read at once: wait instead of
            // spinning, until close ends the loop.
            if (!failing) LOGD(3, "HID device[%04X:%04X] read failed (%d)\n", vid, pid, n);
            failing = true;
            std::unique_lock<std::mutex> lk(wake_lock);
            wake.wait_for(lk, read_error_pause, [this] { return !reading.load(); });
            continue;
        }
        failing = false;
        if (n == 0) continue;
        if (n > read_buffer_size - used) n = read_buffer_size - used;
        used += n;

        hid_report_handler h = handler.load();
        int taken = h ? h(this, buf, used) : used;
        if (taken < 0 || taken >= used) {  // a negative result keeps nothing either
            used = 0;
        } else if (taken > 0) {
            memmove(buf, buf + taken, static_cast<size_t>(used - taken));
            used -= taken;
        }
        if (read_buffer_size - used < max_report_size) {
            LOGD(4, "HID device[%04X:%04X] %d unconsumed bytes dropped\n", vid, pid, used);
            used = 0;
        }
    }
    return 0;
}

void* hid_drv_read_entry(void* device) {
    auto* dev = static_cast<CHidDevice*>(device);
    if (!dev) return nullptr;
    const std::string node = dev->path;
    LOGD(6, "reader start %s\n", node.c_str());
    dev->read_proc();
    LOGD(6, "reader exit %s\n", node.c_str());
    return nullptr;
}

int hid_dev_timer_entry(void* device) {
    LOGD(5, "device timer \n");
    if (device) static_cast<CHidDevice*>(device)->tmr_online_proc(1);
    return 0;
}
