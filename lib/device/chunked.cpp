#include "device/chunked.h"

#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "device/drv_hid.h"
#include "device/pacing.h"

namespace {
constexpr int max_report_size = 64;
}

int write_chunked(const CHidDriver& drv, const te_chunk_layout& layout, void* handle, const void* data, int len,
                  unsigned int* next_send) {
    // Nothing can be written to a closed device; saying otherwise would
    // report a lost command as sent.
    if (!handle || !data || len <= 0) return 0;
    const int size = std::clamp(layout.report_size, 3, max_report_size);
    const int chunk = std::clamp(layout.chunk, 1, size - 2);
    const auto* src = static_cast<const uint8_t*>(data);
    uint8_t report[max_report_size];
    report[0] = layout.report_id;
    memset(report + 2, 0xFF, static_cast<size_t>(size - 2));

    // Before the first report: the device's pacing tick (0: none, as after
    // open). Between reports of this command: the precise time of the
    // previous one, so that no rounding gathers over a long command.
    uint32_t due_tick = next_send ? *next_send : 0;
    bool in_command = false;
    uint64_t next_report_ns = 0;
    int result = len;
    for (int done = 0; done < len;) {
        const int n = std::min(chunk, len - done);
        report[1] = static_cast<uint8_t>(layout.byte1 < 0 ? n : layout.byte1);
        memcpy(report + 2, src + done, static_cast<size_t>(n));
        dump_hex("Hid TX:", report, std::min(layout.dump_len, size));
        if (in_command) {
            pacing::sleep_until_ns(next_report_ns);
        } else if (due_tick != 0) {
            pacing::sleep_ms(std::min(pacing::until(due_tick, pacing::tick()), layout.max_wait_ms));
        }
        const int written = drv.CHidDriver::write(handle, report, size, nullptr);
        next_report_ns = pacing::now_ns() + layout.report_spacing_ms * pacing::ns_per_ms;
        in_command = true;
        due_tick = pacing::tick() + layout.tick_spacing_ms;
        if (due_tick == 0) due_tick = 1;  // never the "none" value
        memset(report + 2, 0xFF, static_cast<size_t>(size - 2));
        if (written < 0) {
            result = HID_ERR_DEVICE;
            break;
        }
        done += n;
    }
    if (next_send) *next_send = due_tick;
    return result;
}
