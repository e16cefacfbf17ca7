// The scan thread: enumerates the HID devices, mounts each telephone that is
// not open yet, and removes the ones that have gone. It scans once at start
// and then after every burst of relevant hot-plug messages.
#include <sys/stat.h>
#include <unistd.h>

#include <hidapi/hidapi.h>
#include <libudev.h>

#include <chrono>
#include <cstdio>

#include "core/log.h"
#include "device/drv_hid.h"
#include "manager/hid_server.h"
#include "manager/mount.h"
#include "protocol/str_table.h"

namespace {

// The key of a device in the map: the hidraw node's sysfs devpath, which is
// unique per node and stable while the device is attached. A node that udev
// does not know (not a character device on this machine) is keyed by its path.
std::string device_key(udev* ctx, const char* node)
{
    struct stat st;
    if (ctx && stat(node, &st) == 0 && S_ISCHR(st.st_mode)) {
        if (udev_device* dev = udev_device_new_from_devnum(ctx, 'c', st.st_rdev)) {
            const char* devpath = udev_device_get_devpath(dev);
            std::string key = devpath ? devpath : node;
            udev_device_unref(dev);
            return key;
        }
    }
    return node;
}

void print_record(const hid_device_info* rec, const std::string& key)
{
    printf("Device Found\n  type: %04hx %04hx\n  path: %s\n  serial_number: %ls\n",
           rec->vendor_id, rec->product_id, rec->path ? rec->path : "",
           rec->serial_number ? rec->serial_number : L"");
    printf("  Interface:    %d\n", rec->interface_number);
    printf("  Usage (page): 0x%hx (0x%hx)\n", rec->usage, rec->usage_page);
    fflush(stdout);
    LOGD(8, "Device: path:%s\n", key.c_str());
}

}  // namespace

void* CHidManagerServer::usb_watch_proc(void* arg)
{
    while (running) {
        scan_devices();
        removal_pass();
        wait_for_hotplug();
    }
    LOGD(6, "USB watch exit!\n");
    return arg;
}

void CHidManagerServer::scan_devices()
{
    hid_device_info* list = hid_enumerate(0, 0);
    udev* ctx = udev_new();
    for (hid_device_info* rec = list; rec && running; rec = rec->next) {
        if (!rec->path)
            continue;
        std::string key = device_key(ctx, rec->path);
        print_record(rec, key);

        uint32_t id = CHidConfig::make_key(rec->vendor_id, rec->product_id);
        const CHidDriver* driver = find_driver(id);
        if (!driver)
            driver = find_driver(id & 0xFFFF0000u);
        if (!driver || !driver->match_device(rec))
            continue;

        {
            std::lock_guard<std::mutex> lock(dev_mutex);
            auto it = devices.find(key);
            if (it != devices.end()) {
                it->second->chk_mount(1);
                continue;
            }
        }
        mount_record(rec, driver, key);
    }
    if (ctx)
        udev_unref(ctx);
    hid_free_enumeration(list);
}

void CHidManagerServer::mount_record(const hid_device_info* rec, const CHidDriver* driver,
                                     const std::string& key)
{
    auto device = std::make_shared<CManagedDevice>(driver, rec->path);
    uint16_t number = dev_seq++;
    // Opening may take up to 10 s for a node that does not open; no lock is
    // held meanwhile, so commands to the other telephones go on.
    if (device->mount(this, dev_mount_event, number) < 0) {
        device->close();
        return;  // tried again on the next scan
    }
    {
        std::lock_guard<std::mutex> lock(dev_mutex);
        devices.emplace(key, device);
    }
    query_dev_info(device.get());
}

void CHidManagerServer::removal_pass()
{
    std::vector<device_ptr> gone;
    {
        std::lock_guard<std::mutex> lock(dev_mutex);
        for (auto it = devices.begin(); it != devices.end();) {
            if (it->second->chk_mount(0) == 0) {
                gone.push_back(std::move(it->second));
                it = devices.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (device_ptr& device : gone) {
        // A device still mounting swallows its removal like any other event.
        unsigned char removed = STR_PHONE_REMOVED;
        on_hid_event(device.get(), &removed, 0);
        device->close();
        device.reset();
    }
}

void CHidManagerServer::wait_for_hotplug()
{
    std::unique_lock<std::mutex> lock(pnp_mutex);
    if (!running)
        return;
    LOGD(6, "Wait usb pnp event...\n");
    pnp_cond.wait(lock, [this] { return pnp_wake || !running; });
    // Settle: every relevant message moves the deadline to 100 ms after
    // itself, so the messages of one plug or unplug give one scan, 100 ms
    // after the last of them.
    for (;;) {
        const auto until = pnp_deadline;
        if (!running || std::chrono::steady_clock::now() >= until)
            break;
        pnp_cond.wait_until(lock, until, [this] { return !running; });
    }
    // Messages of the burst are covered by the scan that follows.
    pnp_wake = false;
}

int CHidManagerServer::remount_devices()
{
    // Not during a stop: the protocol objects that a stop destroys may be
    // the ones these devices decode with.
    std::lock_guard<std::mutex> life(lifecycle_mutex);
    std::vector<device_ptr> all = device_snapshot();
    for (device_ptr& device : all) {
        unsigned char attached = STR_PHONE_ATTACHED;
        on_hid_event(device.get(), &attached, 0);
    }
    return static_cast<int>(all.size());
}
