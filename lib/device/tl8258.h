// Driver of telephones built on the TL8258 chip: one driver for product ids
// 0x8001-0x8020 of its vendor on usage page 0xFF01. Numbered 9-byte output
// reports of up to six command bytes with their count; frames are paced 100
// ms apart (and 20 ms after the previous report) across all TL8258
// telephones, found by a small frame parser of the driver's own.
#pragma once

#include <cstdint>
#include <mutex>

#include "device/drv_hid.h"

// Frame parser and pacing state of the TL8258 driver.
struct te_prot {
    uint8_t phase = 0;      // 0 lead byte, 1 length, 2 opcode, 3 data, 4 frame done
    uint8_t left = 0;       // bytes of the current frame still expected
    uint8_t op = 0;         // the current frame's opcode
    uint32_t deadline = 0;  // tick (ms, 32 bits) before which the next frame waits
};

class CTl8258 : public CHidDriver {
public:
    static constexpr uint16_t m_vid = 0x2488;
    static constexpr uint16_t m_pid = 0x0000;
    static constexpr uint16_t m_usage_page = 0xFF01;

    CTl8258();
    // Reports of a frame go 20 ms apart; a frame goes 100 ms after the first
    // report of the previous one (and 20 ms after its last). Serialised
    // across all TL8258 telephones by the driver's lock, held for the whole
    // write, pacing sleeps included. Returns len; 0 for a null handle or an
    // empty command; HID_ERR_DEVICE when a report was refused.
    int write(void* handle, void* data, int len, unsigned int* next_send) const override;
    // Passes on the report without its report number. Thread-safe.
    int read(void* handle, void* buf, int len, int timeout) const override;
    bool match_device(const hid_device_info* record) const override;
    virtual ~CTl8258();

    // Scans at most `len` bytes; returns how many of them make up the frame
    // to send now (all of them when no frame is completed), after waiting
    // for the previous frame's pacing time. On the driver's own state, call
    // with the driver's lock held (write does).
    int parse_packet(te_prot* state, const unsigned char* data, int len) const;

private:
    te_prot* m_prot;            // owned
    mutable std::mutex m_lock;  // guards *m_prot across telephones
};

extern CTl8258 tl8258;
extern CHidDriver* const tl8258_driver;
