// USB reset of a telephone through libusb, for applications that need to
// recover a telephone that stopped answering.
#include <libusb.h>
#include <unistd.h>

#include <cstdio>

#include "manager/telhid.h"

void reset_device(int vendor, int product)
{
    printf("try reset device\n");
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) < 0) {
        printf("Init libusb Error\n");
        return;
    }
    libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, 3);

    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) {
        printf("Get Device Error\n");
        list = nullptr;
    }

    const uint16_t vid = static_cast<uint16_t>(vendor & 0xFFFF);
    const uint16_t pid = static_cast<uint16_t>(product & 0xFFFF);
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(ctx, vid, pid);
    if (!handle) {
        printf("open device(VID:PID[%X:%X]) fail!\n", vid, pid);
    } else {
        if (libusb_kernel_driver_active(handle, 0) == 1) {
            printf("Device Opened\n");
            if (libusb_detach_kernel_driver(handle, 0) == 0)
                printf("Kernel Driver Detached!\n");
        }
        if (libusb_claim_interface(handle, 0) < 0)
            printf("Cannot Claim Interface\n");
        libusb_reset_device(handle);
        printf("reset device(VID:PID[%X:%X]) done!\n", vid, pid);
        usleep(100 * 1000);
        libusb_close(handle);
    }
    if (list)
        libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    fflush(stdout);
}
