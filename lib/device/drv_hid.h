// The device layer: chip drivers (how a telephone's interface chip packs
// command and event bytes into HID reports) and the opened telephone (reader
// thread, serialised writes, mount supervision).
//
// hidapi is called only from the base driver, CHidDriver; chip drivers reach
// the device through the base class's operations.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/devinfo.h"

struct hid_device_info;
class CProtocol;
class timer;

// Identification of a chip: what the manager registers a driver under.
class CHidConfig {
public:
    uint16_t vid = 0;         // USB vendor id
    uint16_t pid = 0;         // USB product id; 0: every product of the vendor
    uint16_t usage_page = 0;  // HID usage page the driver serves (TL8258 only)
    uint32_t key = 0;         // vid << 16 | pid: the manager's registry key

    static constexpr uint32_t make_key(uint16_t vid, uint16_t pid) {
        return (uint32_t(vid) << 16) | pid;
    }
};

// Result of a chip driver's write when the device refused a report
// (ERR_DEVICE of the library's error table).
constexpr int HID_ERR_DEVICE = -8;

// A chip driver. The base class is a complete pass-through driver over
// hidapi. Driver objects are static, live for the whole process and are only
// pointed to by the manager and the devices. All operations are const and
// may be called from any thread; per-device state lives in the device.
class CHidDriver : public CHidConfig {
public:
    CHidDriver(uint16_t vid, uint16_t pid);
    CHidDriver(const CHidDriver&) = delete;
    CHidDriver& operator=(const CHidDriver&) = delete;

    std::string drv_name;  // "sss1629", "ht82r83x", "tl8158"

    // Writes `len` command bytes. Returns the number of command bytes
    // written; the base writes `data` as one report (first byte = report
    // number) and returns hid_write's result (-1 on error, 0 for a null
    // handle). `next_send` is the device's pacing tick (may be null), read
    // and updated by pacing chip drivers; the base ignores it.
    virtual int write(void* handle, void* data, int len, unsigned int* next_send) const;
    // Waits at most `timeout` ms for one input report and places the bytes
    // the protocol engine is to see into `buf` (at most `len`). Returns their
    // count, 0 when nothing came (or for a null handle), negative on an error
    // (device gone).
    virtual int read(void* handle, void* buf, int len, int timeout) const;
    // Opens the hidraw node `path`; returns the handle or null. If `protocol`
    // is not null, stores there the protocol object the device's reports are
    // decoded with (null: the manager's default).
    virtual void* open(const char* path, CProtocol** protocol) const;
    // Closes a handle from open (null is ignored).
    virtual void close(void* handle) const;
    // Whether the driver takes this enumeration record (the manager has
    // already found the driver by vendor and product id).
    virtual bool match_device(const hid_device_info* record) const;

protected:
    // Not virtual: drivers are static objects, never deleted through a base
    // pointer.
    ~CHidDriver() = default;
};

// Report handler: called with received bytes (on the reader thread) and
// without bytes (null, 0) by the supervision. Returns the bytes consumed.
typedef int (*hid_report_handler)(void* device, unsigned char* data, int len);

// Device property ids (te_STR_ID rows).
constexpr int HID_PROP_VERSION = 28;   // "取版本号": firmware version, -1 unknown
constexpr int HID_PROP_PENDING = 42;   // "USB在线": mount queries outstanding
constexpr int HID_PROP_HANDLER = 45;   // "转接": the report handler

// Mount query bit of the firmware version in `pending`.
constexpr uint8_t HID_PENDING_VERSION = 2;

// One opened telephone. Owned by the manager, which calls close() before
// destroying it (the destructor closes a device left open).
//
// Threads: the reader thread (read_proc and the handler calls), the timer
// thread (hid_dev_timer_entry), the scan thread and application threads
// (mount, send, close). send, get_prop, set_prop and tmr_online_proc are
// thread-safe; mount/open/close are called by the owner, one at a time, never
// from the reader thread or from inside the handler.
//
// Mount supervision: while `pending` is not 0 the handler is called without
// data at every timer tick (every 6 s), so that the manager repeats its
// queries. When `pending` becomes 0 (the version answer, or the third tick)
// the timer is stopped and the handler is called once more without data;
// this transition happens exactly once per open, however a tick and an
// answer race. The handler is never called with a lock of the device held.
class CHidDevice : public CHidConfig {
public:
    // driver: never null; path: the hidraw node.
    CHidDevice(const CHidDriver* driver, const std::string& path);
    virtual ~CHidDevice();
    CHidDevice(const CHidDevice&) = delete;
    CHidDevice& operator=(const CHidDevice&) = delete;

    // Opens `path` (20 attempts, 500 ms apart), starts the supervision timer
    // (6 s) and the reader thread. Returns 0, or -1 (nothing left running).
    // An open device is closed first.
    virtual int open(const char* path);
    // Stops the reader (within one 100 ms read slice) and then the
    // supervision timer (waiting for a callback in progress), then closes the
    // handle (waiting for a write in progress). A second call only logs.
    // Must not be called from the reader thread or the supervision callback,
    // nor while holding a lock that the handler takes.
    virtual void close();

    // Stores parent, handler and device number, marks the device present and
    // opens it. Returns the result of open.
    int mount(void* parent, hid_report_handler handler, unsigned short number);
    // Writes a command under the write lock (pacing sleeps included).
    // Returns the driver's write result.
    int send(unsigned char* bytes, int count);
    // 28: version; 42: pending mask; anything else 0.
    int get_prop(int id);
    // 28 (int*): records the version and marks it answered; 42 (int*): sets
    // the pending mask (non-zero: the device is mounting again) and runs the
    // supervision step; 45 (hid_report_handler): replaces the handler,
    // atomically for the reader. Others, and null values: ignored.
    void set_prop(int id, void* value);
    // Exchanges the scan's presence mark; returns the previous one.
    int chk_mount(int mark);
    void* get_parent();
    // Supervision step: `increment` 1 from the timer, 0 from set_prop.
    // Returns 0.
    int tmr_online_proc(int increment);
    // The reader loop; returns 0 once `reading` is false.
    int read_proc();

    std::atomic<bool> reading{false};
    std::atomic<hid_report_handler> handler{nullptr};
    void* parent = nullptr;
    std::thread reader;
    std::unique_ptr<timer> online_timer;
    int version = -1;               // guarded by state_lock
    int ticks = 0;                  // guarded by state_lock
    std::mutex send_lock;
    void* handle = nullptr;
    const CHidDriver* driver;
    // Set by open (the driver's choice, or the default protocol object when
    // the driver has none) and not changed while the device is open.
    CProtocol* protocol = nullptr;
    int present = 0;                // scan thread only
    devinfo_t devinfo;
    std::string path;
    unsigned int next_send = 0;     // guarded by send_lock
    uint8_t pending = 0;            // guarded by state_lock

private:
    // Serialises the supervision state (version, ticks, pending, online);
    // never held while the handler runs or while the timer is stopped.
    std::mutex state_lock;
    // Whether the step to pending == 0 has been taken since open: the timer
    // stop and the handler call for it happen exactly once.
    bool online = false;
    // Lets close() wake a reader that pauses after a read error.
    std::mutex wake_lock;
    std::condition_variable wake;
};

// Thread entry of the reader: runs read_proc on the device (nothing for null).
void* hid_drv_read_entry(void* device);
// Supervision timer callback: tmr_online_proc(1) on the device. Returns 0.
int hid_dev_timer_entry(void* device);
