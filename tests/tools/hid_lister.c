/* An ordinary hidapi program, built without libvtel: lists the HID devices,
 * asks each SSS1629 telephone for its version and prints the reports it
 * answers with. Run under LD_PRELOAD=libvtel.so by the preload test. */
#include <hidapi.h>
#include <stdio.h>

int main(void)
{
    if (hid_init() != 0)
        return 1;
    struct hid_device_info* list = hid_enumerate(0, 0);
    for (struct hid_device_info* d = list; d; d = d->next) {
        printf("%04x:%04x %s\n", d->vendor_id, d->product_id, d->path);
        if (d->vendor_id != 0x0C76)
            continue;
        hid_device* dev = hid_open_path(d->path);
        if (!dev)
            continue;
        const unsigned char query[5] = {0x00, 0x80, 0xFF, 0x01, 0x01};
        hid_write(dev, query, sizeof query);
        unsigned char r[16];
        int n;
        printf("read");
        while ((n = hid_read_timeout(dev, r, sizeof r, 1000)) > 0)
            for (int i = 0; i < n; ++i)
                printf(" %02X", r[i]);
        printf("\n");
        hid_close(dev);
    }
    hid_free_enumeration(list);
    hid_exit();
    return 0;
}
