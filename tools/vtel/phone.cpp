// The test-facing handle of a telephone and the bus-wide operations.
#include "registry.h"

#include <algorithm>

namespace vtel {

using detail::phone;
using detail::registry;

namespace {

std::unique_lock<std::mutex> locked()
{
    return std::unique_lock(registry().mu);
}

// Held across a plug or unplug and its messages, so the messages go out in
// the order of the changes they announce.
std::mutex g_hotplug_mu;

// Sequence numbers for one plug or unplug burst (three messages).
unsigned reserve_seq()
{
    auto& reg = registry();
    unsigned s = reg.uevent_seq;
    reg.uevent_seq += 3;
    return s;
}

}  // namespace

CPhone plug(const phone_cfg_t& cfg)
{
    std::lock_guard order(g_hotplug_mu);
    std::shared_ptr<phone> ph;
    unsigned seq;
    {
        auto lock = locked();
        auto& reg = registry();
        ph = std::make_shared<phone>(reg.next_id++, cfg);
        ph->plugged = true;
        reg.phones.push_back(ph);
        seq = reserve_seq();
    }
    // Listed before the message goes out: the program enumerates on it.
    detail::announce(*ph, true, seq);
    return CPhone(ph);
}

CPhone plug(te_chip chip)
{
    phone_cfg_t cfg;
    cfg.chip = chip;
    return plug(cfg);
}

std::vector<CPhone> phones()
{
    auto lock = locked();
    std::vector<CPhone> out;
    for (const auto& ph : registry().phones)
        out.emplace_back(ph);
    return out;
}

CPhone find(int id)
{
    auto lock = locked();
    for (const auto& ph : registry().phones)
        if (ph->id == id)
            return CPhone(ph);
    return {};
}

void reset()
{
    auto lock = locked();
    auto& reg = registry();
    for (const auto& ph : reg.phones)
        detail::unplug_locked(*ph);
    reg.phones.clear();
    reg.next_id = 1;
}

int CPhone::id() const { return p_ ? p_->id : 0; }
te_chip CPhone::chip() const { return p_ ? p_->chip.chip : te_chip::sss1629; }
std::string CPhone::path() const { return p_ ? p_->path : std::string(); }
uint16_t CPhone::vid() const { return p_ ? p_->vid : 0; }
uint16_t CPhone::pid() const { return p_ ? p_->pid : 0; }

bool CPhone::plugged() const
{
    if (!p_)
        return false;
    auto lock = locked();
    return p_->plugged;
}

int CPhone::open_handles() const
{
    if (!p_)
        return 0;
    auto lock = locked();
    return static_cast<int>(std::count_if(p_->handles.begin(), p_->handles.end(),
                                          [](const detail::handle* h) { return !h->dead; }));
}

void CPhone::unplug()
{
    if (!p_)
        return;
    std::lock_guard order(g_hotplug_mu);
    unsigned seq;
    {
        auto lock = locked();
        if (!p_->plugged)
            return;
        detail::unplug_locked(*p_);
        seq = reserve_seq();
    }
    detail::announce(*p_, false, seq);
}

void CPhone::plug()
{
    if (!p_)
        return;
    std::lock_guard order(g_hotplug_mu);
    unsigned seq;
    {
        auto lock = locked();
        auto& reg = registry();
        if (p_->plugged || std::find(reg.phones.begin(), reg.phones.end(), p_) == reg.phones.end())
            return;  // plugged, or forgotten by reset()
        p_->plugged = true;
        p_->changed.notify_all();
        seq = reserve_seq();
    }
    detail::announce(*p_, true, seq);
}

void CPhone::set_version(int version)
{
    if (!p_)
        return;
    auto lock = locked();
    p_->version = version;
}

void CPhone::set_openable(bool openable)
{
    if (!p_)
        return;
    auto lock = locked();
    p_->openable = openable;
}

void CPhone::set_state(uint8_t state)
{
    if (!p_)
        return;
    auto lock = locked();
    p_->state = state;
}

int CPhone::send_bytes(std::span<const uint8_t> bytes)
{
    if (!p_)
        return -1;
    auto lock = locked();
    return detail::queue_bytes_locked(*p_, bytes);
}

int CPhone::send_frame(uint8_t opcode, std::span<const uint8_t> data)
{
    std::vector<uint8_t> f;
    if (!detail::build_frame(opcode, data, f))
        return -1;
    return send_bytes(f);
}

int CPhone::send_frame(uint8_t opcode, std::initializer_list<uint8_t> data)
{
    return send_frame(opcode, std::span<const uint8_t>(data.begin(), data.size()));
}

int CPhone::inject_report(std::span<const uint8_t> report)
{
    if (!p_)
        return -1;
    auto lock = locked();
    return detail::queue_report_locked(*p_, {report.begin(), report.end()}, true);
}

namespace evt = detail::evt;

int CPhone::press_key(std::string_view key)
{
    auto code = detail::key_code(key);
    return code ? send_frame(evt::key, {*code}) : -1;
}

int CPhone::handset(bool up) { return send_frame(up ? evt::handset_up : evt::handset_down); }
int CPhone::hands_free(bool on) { return send_frame(on ? evt::handsfree_up : evt::handsfree_down); }
int CPhone::parallel(bool up) { return send_frame(up ? evt::parallel_up : evt::parallel_down); }
int CPhone::ring() { return send_frame(evt::ring); }
int CPhone::dial_done() { return send_frame(evt::dial_done); }
int CPhone::busy_tone() { return send_frame(evt::busy_tone); }

int CPhone::dtmf(char digit)
{
    static constexpr std::string_view digits = "0123456789*#DBC";
    size_t pos = digits.find(static_cast<char>(digit >= 'a' && digit <= 'z' ? digit - 32 : digit));
    return pos == std::string_view::npos ? -1 : send_frame(evt::dtmf, {static_cast<uint8_t>(pos)});
}

int CPhone::incoming_call(std::string_view number, call_time_t time)
{
    std::vector<uint8_t> data;
    if (!detail::call_data(number, time, data))
        return -1;
    return send_frame(static_cast<uint8_t>(te_call::incoming), data);
}

int CPhone::incoming_call_special(char code)
{
    if (code != 'P' && code != 'O' && code != 'E')
        return -1;
    return send_frame(static_cast<uint8_t>(te_call::incoming), {0xEE, static_cast<uint8_t>(code)});
}

int CPhone::upload_records(const std::vector<call_record_t>& records)
{
    std::vector<uint8_t> bytes;
    for (const call_record_t& r : records) {
        std::vector<uint8_t> data;
        if (!detail::call_data(r.number, r.time, data) ||
            !detail::build_frame(static_cast<uint8_t>(r.kind), data, bytes))
            return -1;
    }
    detail::build_frame(evt::upload_done, {}, bytes);
    return send_bytes(bytes);
}

int CPhone::report_volume(int level)
{
    if (level < 0 || level > 254)
        return -1;
    return send_frame(evt::volume, {static_cast<uint8_t>(level)});
}

int CPhone::report_state(uint8_t state) { return send_frame(evt::state, {state}); }

int CPhone::report_version(int version)
{
    if (version < 0 || version > 254)
        return -1;
    return send_frame(evt::version, {static_cast<uint8_t>(version)});
}

int CPhone::report_hw_type(uint8_t type) { return send_frame(evt::hw_type, {type}); }

std::vector<report_t> CPhone::written() const
{
    if (!p_)
        return {};
    auto lock = locked();
    return p_->written;
}

std::vector<frame_t> CPhone::frames() const
{
    if (!p_)
        return {};
    auto lock = locked();
    return p_->frames;
}

std::optional<frame_t> CPhone::wait_frame(uint8_t opcode, milliseconds timeout)
{
    return wait_frame([opcode](const frame_t& f) { return f.opcode == opcode; }, timeout);
}

std::optional<frame_t> CPhone::wait_frame(const std::function<bool(const frame_t&)>& match, milliseconds timeout)
{
    if (!p_)
        return std::nullopt;
    auto lock = locked();
    std::optional<frame_t> found;
    size_t scanned = p_->wait_pos;
    auto seen = [&] {
        for (; scanned < p_->frames.size(); ++scanned) {
            if (match(p_->frames[scanned])) {
                found = p_->frames[scanned];
                p_->wait_pos = scanned + 1;
                return true;
            }
        }
        return false;
    };
    p_->changed.wait_for(lock, timeout, seen);
    return found;
}

bool CPhone::wait_frames(size_t count, milliseconds timeout)
{
    if (!p_)
        return false;
    auto lock = locked();
    return p_->changed.wait_for(lock, timeout, [&] { return p_->frames.size() >= count; });
}

bool CPhone::wait_open(milliseconds timeout)
{
    if (!p_)
        return false;
    auto lock = locked();
    return p_->changed.wait_for(lock, timeout, [&] {
        return std::any_of(p_->handles.begin(), p_->handles.end(), [](const detail::handle* h) { return !h->dead; });
    });
}

bool CPhone::wait_closed(milliseconds timeout)
{
    if (!p_)
        return false;
    auto lock = locked();
    return p_->changed.wait_for(lock, timeout, [&] { return p_->handles.empty(); });
}

void CPhone::clear_written()
{
    if (!p_)
        return;
    auto lock = locked();
    p_->written.clear();
    p_->frames.clear();
    p_->wait_pos = 0;
}

}  // namespace vtel
