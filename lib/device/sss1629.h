// Driver of telephones built on the SSS1629 interface chip: three command
// bytes per 5-byte unnumbered output report, paced at least 32 ms apart per
// telephone; input reports carry bit 0 of their fourth byte in bit 7 of the
// first, and repeat themselves while the chip is busy.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "device/drv_hid.h"

class CSss1629 : public CHidDriver {
public:
    static constexpr uint16_t m_vid = 0x0C76;
    static constexpr uint16_t m_pid = 0x1685;

    CSss1629();
    // Reports go at least 32 ms apart, also across commands through the
    // device's pacing tick. Runs under the device's write lock and sleeps
    // there. Returns len; 0 for a null handle or an empty command;
    // HID_ERR_DEVICE when a report was refused.
    int write(void* handle, void* data, int len, unsigned int* next_send) const override;
    // Passes on the frame bytes of a report (all but byte 0), with the moved
    // bit restored; a report whose fourth byte repeats that of the last one
    // this telephone passed on is dropped and gives 0. Reports of one or two
    // bytes pass unchanged. Thread-safe.
    int read(void* handle, void* buf, int len, int timeout) const override;
    // Forgets the telephone's repetition state, then closes the handle.
    void close(void* handle) const override;
    virtual ~CSss1629();

private:
    // Fourth byte (as received) of the last report passed on, per open
    // telephone (0 until its first report). One value for all telephones
    // would drop a report of one telephone whenever it happened to match the
    // last report of another.
    mutable std::mutex lastidx_lock;
    mutable std::unordered_map<const void*, uint8_t> lastidx;
};

extern CSss1629 s1629;
extern CHidDriver* const s1629_driver;
