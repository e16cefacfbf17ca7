// hidapi's functions over the simulated bus. Compiled against the system's
// hidapi header so records and signatures are the real ones; exported with
// default visibility so they take the place of libhidapi's definitions.
#include "registry.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

using namespace vtel::detail;

struct hid_device_ : handle {};

namespace {

// hid_error's text for failures without a handle; per thread, so a pointer
// handed out stays valid while other threads fail.
thread_local std::wstring t_global_error;
thread_local std::wstring t_error_copy;

std::wstring widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

wchar_t* wdup(const std::wstring& s)
{
    auto* p = static_cast<wchar_t*>(std::malloc((s.size() + 1) * sizeof(wchar_t)));
    if (p)
        std::wmemcpy(p, s.c_str(), s.size() + 1);
    return p;
}

hid_device_info* new_record(const phone& ph, uint16_t usage_page, uint16_t usage)
{
    auto* d = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    if (!d)
        return nullptr;
    d->path = strdup(ph.path.c_str());
    d->vendor_id = ph.vid;
    d->product_id = ph.pid;
    d->serial_number = wdup(widen(ph.serial));
    d->release_number = 0x0100;
    d->manufacturer_string = wdup(L"vtel");
    d->product_string = wdup(ph.chip.product);
    d->usage_page = usage_page;
    d->usage = usage;
    d->interface_number = ph.interface_number;
    d->bus_type = HID_API_BUS_USB;
    return d;
}

int copy_string(const std::wstring& s, wchar_t* out, size_t maxlen)
{
    if (!out || maxlen == 0)
        return -1;
    size_t n = std::min(s.size(), maxlen - 1);
    std::wmemcpy(out, s.c_str(), n);
    out[n] = 0;
    return 0;
}

// With the registry lock held when dev is given.
int fail(hid_device* dev, const wchar_t* why)
{
    if (dev)
        dev->error = why;
    else
        t_global_error = why;
    return -1;
}

// Waits for an input report: the handle's condition variable is signalled
// when a report is queued or the telephone goes away.
int read_report(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    if (!dev)
        return fail(nullptr, L"no device");
    auto& reg = registry();
    std::unique_lock lock(reg.mu);
    auto ready = [dev] { return dev->dead || !dev->queue.empty(); };
    if (milliseconds < 0)
        dev->cv.wait(lock, ready);
    else if (milliseconds > 0)
        dev->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    if (dev->dead)
        return fail(dev, L"device disconnected");
    if (dev->queue.empty())
        return 0;
    queued_report q = std::move(dev->queue.front());
    dev->queue.pop_front();
    if (!q.raw)
        dev->ph->chip.deliver(q.bytes);
    size_t n = std::min(length, q.bytes.size());
    if (n)
        std::memcpy(data, q.bytes.data(), n);
    return static_cast<int>(n);
}

}  // namespace

extern "C" {

int hid_init(void) { return 0; }
int hid_exit(void) { return 0; }

struct hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    auto& reg = registry();
    std::lock_guard lock(reg.mu);
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    auto append = [&tail](hid_device_info* d) {
        if (d) {
            *tail = d;
            tail = &d->next;
        }
    };
    for (const auto& ph : reg.phones) {
        if (!ph->plugged || (vendor_id && vendor_id != ph->vid) || (product_id && product_id != ph->pid))
            continue;
        append(new_record(*ph, ph->usage_page, ph->usage));
        for (const vtel::usage_t& u : ph->extra_usages)
            append(new_record(*ph, u.page, u.usage));
    }
    if (!head)
        t_global_error = L"No HID devices found in the system.";
    return head;
}

void hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open_path(const char* path)
{
    if (!path) {
        fail(nullptr, L"no path");
        return nullptr;
    }
    auto& reg = registry();
    std::lock_guard lock(reg.mu);
    for (const auto& ph : reg.phones) {
        if (!ph->plugged || ph->path != path)
            continue;
        if (!ph->openable) {
            fail(nullptr, L"Failed to open a device with path: permission denied");
            return nullptr;
        }
        auto* dev = new hid_device;
        dev->ph = ph;
        dev->info_path = ph->path;
        dev->info_serial = widen(ph->serial);
        hid_device_info& i = dev->info;
        i.path = dev->info_path.data();
        i.vendor_id = ph->vid;
        i.product_id = ph->pid;
        i.serial_number = dev->info_serial.data();
        i.release_number = 0x0100;
        i.manufacturer_string = const_cast<wchar_t*>(L"vtel");
        i.product_string = const_cast<wchar_t*>(ph->chip.product);
        i.usage_page = ph->usage_page;
        i.usage = ph->usage;
        i.interface_number = ph->interface_number;
        i.bus_type = HID_API_BUS_USB;
        ph->handles.push_back(dev);
        ph->changed.notify_all();
        return dev;
    }
    fail(nullptr, L"Failed to open a device with path: no such device");
    return nullptr;
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial_number)
{
    std::string path;
    {
        auto& reg = registry();
        std::lock_guard lock(reg.mu);
        for (const auto& ph : reg.phones) {
            if (ph->plugged && ph->vid == vendor_id && ph->pid == product_id &&
                (!serial_number || widen(ph->serial) == serial_number)) {
                path = ph->path;
                break;
            }
        }
    }
    if (path.empty()) {
        fail(nullptr, L"Device with requested VID/PID/(SerialNumber) not found");
        return nullptr;
    }
    return hid_open_path(path.c_str());
}

void hid_close(hid_device* dev)
{
    if (!dev)
        return;
    {
        auto& reg = registry();
        std::lock_guard lock(reg.mu);
        auto& hs = dev->ph->handles;
        hs.erase(std::remove(hs.begin(), hs.end(), dev), hs.end());
        dev->ph->changed.notify_all();
    }
    delete dev;
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    if (!dev)
        return fail(nullptr, L"no device");
    if (!data || length == 0)
        return fail(dev, L"nothing to write");
    auto& reg = registry();
    std::lock_guard lock(reg.mu);
    if (dev->dead)
        return fail(dev, L"device disconnected");
    int n = record_write_locked(*dev->ph, {data, length});
    if (n < 0)
        return fail(dev, L"not an output report of this device");
    return n;
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    return read_report(dev, data, length, milliseconds);
}

int hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    bool nonblocking = false;
    if (dev) {
        std::lock_guard lock(registry().mu);
        nonblocking = dev->nonblocking;
    }
    return read_report(dev, data, length, nonblocking ? 0 : -1);
}

int hid_set_nonblocking(hid_device* dev, int nonblock)
{
    if (!dev)
        return -1;
    std::lock_guard lock(registry().mu);
    dev->nonblocking = nonblock != 0;
    return 0;
}

// The telephones use no feature reports and no input reports by request.
int hid_send_feature_report(hid_device* dev, const unsigned char*, size_t)
{
    std::lock_guard lock(registry().mu);
    return fail(dev, L"feature reports are not supported");
}

int hid_get_feature_report(hid_device* dev, unsigned char*, size_t)
{
    std::lock_guard lock(registry().mu);
    return fail(dev, L"feature reports are not supported");
}

int hid_get_input_report(hid_device* dev, unsigned char*, size_t)
{
    std::lock_guard lock(registry().mu);
    return fail(dev, L"input reports by request are not supported");
}

int hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    return dev ? copy_string(L"vtel", string, maxlen) : -1;
}

int hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    return dev ? copy_string(dev->ph->chip.product, string, maxlen) : -1;
}

int hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen)
{
    return dev ? copy_string(dev->info_serial, string, maxlen) : -1;
}

struct hid_device_info* hid_get_device_info(hid_device* dev)
{
    return dev ? &dev->info : nullptr;
}

int hid_get_indexed_string(hid_device* dev, int, wchar_t*, size_t)
{
    std::lock_guard lock(registry().mu);
    return fail(dev, L"indexed strings are not supported");
}

const wchar_t* hid_error(hid_device* dev)
{
    if (!dev)
        return t_global_error.empty() ? L"Success" : t_global_error.c_str();
    std::lock_guard lock(registry().mu);
    t_error_copy = dev->error.empty() ? L"Success" : dev->error;
    return t_error_copy.c_str();
}

const struct hid_api_version* hid_version(void)
{
    static const hid_api_version v{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
    return &v;
}

const char* hid_version_str(void)
{
    return HID_API_VERSION_STR;
}

}  // extern "C"
