#include "device/ht82r83x.h"

#include <hidapi.h>
#include <json/json.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/log.h"
#include "device/chunked.h"
#include "protocol/proto.h"

namespace {

constexpr int report_size = 8;        // report number, count, six bytes
constexpr int rx_size = 9;
constexpr const char* qm_prot_name = "qm_prot";

// The version that these telephones report and the one they mean.
constexpr int reported_version = 134;
constexpr int true_version = 194;

// Guards the creation of the shared protocol object: two opens must not both
// create one.
std::mutex qm_prot_lock;

}  // namespace

CHT82R83X ht82r83x;
CHidDriver* const ht82r83x_driver = &ht82r83x;

CHT82R83X::CHT82R83X() : CHidDriver(m_vid, m_pid) {
    drv_name = "ht82r83x";
    LOGD(6, "ht82r83x(%04X:%04X) driver init\n", vid, pid);
}

CHT82R83X::~CHT82R83X() = default;

bool CHT82R83X::match_device(const hid_device_info* record) const {
    if (!record || record->usage_page != m_usagepage) return false;
    LOGD(6, "ht82r83x(%04X:%04X) driver match [0x%X/0x%X]\n", vid, pid, record->usage_page, m_usagepage);
    return true;
}

void* CHT82R83X::open(const char* path, CProtocol** protocol) const {
    LOGD(6, "Open 832\n");
    if (protocol) {
        // Created on first use, not at load: the registry belongs to another
        // unit, whose globals may not exist yet while this one is built.
        std::lock_guard<std::mutex> g(qm_prot_lock);
        CProtocol* prot = CProtocol::get_prot_by_name(qm_prot_name);
        if (!prot) {
            prot = new CProtocol(qm_prot_name);  // owned by the registry from here
            CProtocol::regist(prot);
            prot->regist_evt_dec_hook(hack_ht_version);
        }
        *protocol = prot;
    }
    return CHidDriver::open(path, nullptr);
}

int CHT82R83X::write(void* handle, void* data, int len, unsigned int* next_send) const {
    const te_chunk_layout layout = {
        .report_size = report_size,
        .report_id = report_id,
        .byte1 = -1,  // the count of command bytes
        .chunk = chunk_len,
        .dump_len = chunk_len + 2,
        .report_spacing_ms = 20,
        .tick_spacing_ms = 20,
        .max_wait_ms = 32,
    };
    return write_chunked(*this, layout, handle, data, len, next_send);
}

int CHT82R83X::read(void* handle, void* buf, int len, int timeout) const {
    uint8_t rx[rx_size];  // per call, so per reader thread
    int n = CHidDriver::read(handle, rx, report_size, timeout);
    // Errors pass through: a reader told "nothing came" after the telephone
    // vanished would poll it again at once, forever.
    if (n <= 0) return n;
    dump_hex("dump rx:", rx, n);
    if (n < 2 || !buf) return 0;
    // The nibble may claim more than the report holds: pass on only what
    // was received.
    int count = std::min({rx[1] & 0x0F, n - 2, len});
    if (count <= 0) return 0;
    memcpy(buf, rx + 2, static_cast<size_t>(count));
    return count;
}

void hack_ht_version(te_STR_ID event, Json::Value& object) {
    LOGD(6, "evt:%d", static_cast<int>(event));
    if (event != STR_VERSION || !object.isObject() || !object.isMember("value")) return;
    const Json::Value& value = object["value"];
    if (!value.isIntegral() || !value.isInt() || value.asInt() != reported_version) return;
    object["value"] = true_version;
    LOGD(6, "dbg ver hack:%d/0xC2", true_version);
}
