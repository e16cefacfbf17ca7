// Report handlers the manager gives its devices, and the device type the
// manager creates.
#pragma once

#include <atomic>

#include "device/drv_hid.h"

// Handler while the device is mounting: reports go through on_hid_event to
// the mount logic; a call without data repeats the queries or announces.
int dev_mount_event(void* device, unsigned char* data, int length);
// Handler once the device is online: reports become events for the
// application. -1 for a null device.
int hid_raw_message(void* device, unsigned char* data, int length);

// A device as the manager keeps it: the device object plus whether it has
// been announced. Going online can be reached from two threads (the version
// answer on the reader, a query pass on the scan or timer thread); the flag
// makes the announcement happen once.
class CManagedDevice : public CHidDevice {
public:
    using CHidDevice::CHidDevice;
    std::atomic<bool> announced{false};
};
