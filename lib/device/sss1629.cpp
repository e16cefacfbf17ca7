#include "device/sss1629.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "device/pacing.h"

namespace {

constexpr int report_size = 5;
constexpr int chunk = 3;             // command bytes per report
constexpr uint32_t spacing_ms = 33;  // due time after a report
constexpr uint32_t max_wait_ms = 32; // longest sleep before one report

}  // namespace

CSss1629 s1629;
CHidDriver* const s1629_driver = &s1629;

CSss1629::CSss1629() : CHidDriver(m_vid, m_pid) {
    drv_name = "sss1629";
    LOGD(6, "SSS1629(%04X:%04X) driver init\n", vid, pid);
}

CSss1629::~CSss1629() = default;

int CSss1629::write(void* handle, void* data, int len, unsigned int* next_send) const {
    // Nothing can be written to a closed device; saying otherwise would
    // report a lost command as sent.
    if (!handle || !data || len <= 0) return 0;
    const auto* src = static_cast<const uint8_t*>(data);
    uint8_t report[report_size] = {0x00, 0x80, 0x00, 0xFF, 0xFF};
    // 0 is "no pacing time" (a device just opened, or no device at all).
    uint32_t due = next_send ? *next_send : 0;
    int result = len;
    for (int done = 0; done < len;) {
        int n = std::min(chunk, len - done);
        memcpy(report + 2, src + done, static_cast<size_t>(n));
        dump_hex("Hid TX:", report, report_size);
        if (due != 0) pacing::sleep_ms(std::min(pacing::until(due, pacing::tick()), max_wait_ms));
        int written = CHidDriver::write(handle, report, report_size, nullptr);
        due = pacing::tick() + spacing_ms;
        if (due == 0) due = 1;  // never the "none" value
        memset(report + 2, 0xFF, chunk);
        if (written < 0) {
            result = HID_ERR_DEVICE;
            break;
        }
        done += n;
    }
    if (next_send) *next_send = due;
    return result;
}

int CSss1629::read(void* handle, void* buf, int len, int timeout) const {
    int n = CHidDriver::read(handle, buf, len, timeout);
    if (n > 0) dump_hex("sss rx:", buf, n);
    if (n <= 2) return n;
    auto* b = static_cast<uint8_t*>(buf);
    if (n > 3) {
        const uint8_t received = b[3];
        b[3] = static_cast<uint8_t>((received & 0xFE) | (b[0] >> 7));
        const uint8_t previous = lastidx.exchange(received);
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
