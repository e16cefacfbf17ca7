// Paced writing of a command in fixed-size reports, each carrying the next
// few command bytes padded with 0xFF: the output side of the SSS1629 and
// HT82R83X chips, which differ only in the layout and the spacing.
#pragma once

#include <cstdint>

class CHidDriver;

struct te_chunk_layout {
    int report_size;              // bytes handed to hid_write
    uint8_t report_id;            // byte 0
    int byte1;                    // byte 1: this value, or -1 for the count of command bytes
    int chunk;                    // command bytes per report, from byte 2
    int dump_len;                 // report bytes logged as "Hid TX:"
    uint32_t report_spacing_ms;   // least time between two reports
    uint32_t tick_spacing_ms;     // the pacing tick after a report, for the next command
    uint32_t max_wait_ms;         // longest wait for the pacing tick
};

// Writes `len` command bytes through the base driver's raw write. Returns
// `len`, 0 for a null handle or an empty command, or HID_ERR_DEVICE when the
// device refused a report (the rest is not sent). `next_send` (may be null)
// is the device's pacing tick, read before and updated after. Sleeps for
// the pacing in the calling thread.
int write_chunked(const CHidDriver& drv, const te_chunk_layout& layout, void* handle, const void* data, int len,
                  unsigned int* next_send);
