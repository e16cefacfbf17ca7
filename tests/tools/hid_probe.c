/* A stand-in for a library that links libhidapi-hidraw, as libtelhid does:
 * its hidapi calls must land in the virtual telephone when the program links
 * libvtel ahead of it. */
#include "hid_probe.h"

#include <hidapi.h>

int probe_count_devices(unsigned short vid)
{
    struct hid_device_info* list = hid_enumerate(vid, 0);
    int n = 0;
    for (struct hid_device_info* d = list; d; d = d->next)
        ++n;
    hid_free_enumeration(list);
    return n;
}

int probe_write(const char* path, const unsigned char* report, int len)
{
    hid_device* dev = hid_open_path(path);
    if (!dev)
        return -1;
    int n = hid_write(dev, report, (size_t)len);
    hid_close(dev);
    return n;
}
