#include "device/sss1629.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "device/chunked.h"

namespace {

// Three command bytes in an unnumbered report after the byte 0x80. The chip
// takes a report every 32 ms; the next command's pacing tick is set 33 ms on,
// so that the millisecond truncation still keeps 32.
constexpr te_chunk_layout m_layout = {
    .report_size = 5,
    .report_id = 0x00,
    .byte1 = 0x80,
    .chunk = 3,
    .dump_len = 5,
    .report_spacing_ms = 32,
    .tick_spacing_ms = 33,
    .max_wait_ms = 32,
};

}  // namespace

CSss1629 s1629;
CHidDriver* const s1629_driver = &s1629;

CSss1629::CSss1629() : CHidDriver(m_vid, m_pid) {
    drv_name = "sss1629";
    LOGD(6, "SSS1629(%04X:%04X) driver init\n", vid, pid);
}

CSss1629::~CSss1629() = default;

int CSss1629::write(void* handle, void* data, int len, unsigned int* next_send) const {
    return write_chunked(*this, m_layout, handle, data, len, next_send);
}

int CSss1629::read(void* handle, void* buf, int len, int timeout) const {
    int n = CHidDriver::read(handle, buf, len, timeout);
    if (n > 0) dump_hex("sss rx:", buf, n);
    if (n <= 2) return n;
    auto* b = static_cast<uint8_t*>(buf);
    if (n > 3) {
        const uint8_t received = b[3];
        b[3] = static_cast<uint8_t>((received & 0xFE) | (b[0] >> 7));
        uint8_t previous;
        {
            std::lock_guard<std::mutex> guard(lastidx_lock);
            uint8_t& last = lastidx[handle];
            previous = last;
            last = received;
        }
        if (previous == received) {
            printf("update in process:%X\n", previous);
            return 0;
        }
    }
    // A 3-byte report has no fourth byte to restore or compare: its two
    // frame bytes pass as they are.
    memmove(b, b + 1, static_cast<size_t>(n - 1));
    return n - 1;
}

void CSss1629::close(void* handle) const {
    {
        std::lock_guard<std::mutex> guard(lastidx_lock);
        lastidx.erase(handle);
    }
    CHidDriver::close(handle);
}
