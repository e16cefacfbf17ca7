#include "device/tl8258.h"

#include <hidapi.h>

#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "device/pacing.h"

namespace {

constexpr uint8_t report_number = 0x04;
constexpr int report_size = 9;         // report number, count, six bytes, filler
constexpr int chunk = 6;               // command bytes per report
constexpr uint32_t report_spacing_ms = 20;
constexpr uint32_t frame_spacing_ms = 100;
constexpr uint16_t first_pid = 0x8001;
constexpr uint16_t last_pid = 0x8020;

enum : uint8_t { seek_lead = 0, seek_length = 1, seek_opcode = 2, in_data = 3, frame_done = 4 };

}  // namespace

CTl8258 tl8258;
CHidDriver* const tl8258_driver = &tl8258;

CTl8258::CTl8258() : CHidDriver(m_vid, m_pid), m_prot(new te_prot()) {
    usage_page = m_usage_page;
    drv_name = "tl8158";
    LOGD(6, "RUvaz8258(%04X:%04X/%X) driver init\n", vid, pid, usage_page);
}

CTl8258::~CTl8258() { delete m_prot; }

bool CTl8258::match_device(const hid_device_info* record) const {
    return record && record->vendor_id == m_vid && record->product_id >= first_pid &&
           record->product_id <= last_pid && record->usage_page == m_usage_page;
}

int CTl8258::parse_packet(te_prot* state, const unsigned char* data, int len) const {
    uint32_t now = pacing::tick();
    if (pacing::later(now, state->deadline)) state->phase = seek_lead;  // stale partial frame
    if (state->phase == frame_done) {
        if (uint32_t wait = pacing::until(state->deadline, now)) {
            LOGD(5, "delay %d ms", static_cast<int>(wait));
            pacing::sleep_ms(wait);
            // The frame is taken up only now: the next one is paced from here,
            // not from the start of this wait.
            now = pacing::tick();
        }
        state->phase = seek_lead;
    }
    for (int i = 0; i < len; ++i) {
        const uint8_t byte = data[i];
        switch (state->phase) {
        case seek_lead:
            if (byte == 0xFF) state->phase = seek_length;
            continue;
        case seek_length:
            if (byte != 0xFF) {
                state->left = byte;
                state->phase = seek_opcode;
            }
            continue;
        case seek_opcode:
            state->op = byte;
            state->phase = in_data;
            break;
        default:
            break;
        }
        // A length byte of 0 would never end; it ends with its opcode instead.
        if (state->left > 0) --state->left;
        if (state->left == 0) {
            state->phase = frame_done;
            state->deadline = now + frame_spacing_ms;
            return i + 1;
        }
    }
    return len;
}

int CTl8258::write(void* handle, void* data, int len, unsigned int* /*next_send*/) const {
    if (!handle || !data || len <= 0) return 0;
    const auto* src = static_cast<const uint8_t*>(data);
    // The pacing state is the chip's, shared by every TL8258 telephone.
    std::lock_guard<std::mutex> g(m_lock);
    uint8_t report[report_size];
    report[0] = report_number;
    // After the first report: the precise due time of the next one, and the
    // same as a tick for the frame pacing of the next command.
    bool paced = false;
    uint64_t next_report_ns = 0;
    uint32_t due = 0;
    int result = len;
    for (int pos = 0; pos < len && result >= 0;) {
        // The previous report's spacing passes before the next frame's scan,
        // so that the frame's pacing starts when it really goes out.
        if (paced) pacing::sleep_until_ns(next_report_ns);
        int k = parse_packet(m_prot, src + pos, len - pos);
        if (k <= 0) k = len - pos;
        bool frame_start = m_prot->phase == frame_done;
        for (const int end = pos + k; pos < end;) {
            int n = std::min(chunk, end - pos);
            memset(report + 2, 0xFF, report_size - 2);
            report[1] = static_cast<uint8_t>(n);
            memcpy(report + 2, src + pos, static_cast<size_t>(n));
            dump_hex("Hid TX:", src + pos, n);
            if (paced) pacing::sleep_until_ns(next_report_ns);
            int written = CHidDriver::write(handle, report, report_size, nullptr);
            next_report_ns = pacing::now_ns() + report_spacing_ms * pacing::ns_per_ms;
            const uint32_t now = pacing::tick();
            due = now + report_spacing_ms;
            paced = true;
            if (frame_start) {
                // The frame went out only now: the next one is paced from
                // here, so that delays before this write never shorten the gap.
                m_prot->deadline = now + frame_spacing_ms;
                frame_start = false;
            }
            if (written < 0) {
                result = HID_ERR_DEVICE;
                break;
            }
            pos += n;
        }
    }
    if (paced && pacing::later(due, m_prot->deadline)) m_prot->deadline = due;
    return result;
}

int CTl8258::read(void* handle, void* buf, int len, int timeout) const {
    uint8_t rx[report_size];  // per call, so per reader thread
    memset(rx, 0xFF, sizeof rx);
    int n = CHidDriver::read(handle, rx, report_size, timeout);
    if (n <= 0) return n;
    dump_hex("sss rx:", rx + 1, n - 1);
    int count = std::min(n - 1, len);
    if (count <= 0 || !buf) return 0;
    memcpy(buf, rx + 1, static_cast<size_t>(count));
    return count;
}
