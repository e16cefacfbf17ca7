// Event decoding: frames "FF, L, opcode, L-1 data bytes" found in a device's
// byte stream become JSON event texts.
//
// The event members are gathered in a flat record and written straight into
// the caller's text; a JsonCpp event object is built only when something
// needs one (a decode hook, or a decoder function other than the library's
// own). Both ways give the same bytes.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include <json/json.h>

#include "core/log.h"
#include "core/utils.h"
#include "protocol/proto.h"

constinit const char g_SpecCallID[8] = "PPOOEE\0";

namespace {

// The frame being decoded on this thread, for analyze_callid called through
// a table row (it receives only the event object and the protocol object).
thread_local const frame_parser_t* tl_frame = nullptr;

struct frame_scope {
    const frame_parser_t* prev;
    explicit frame_scope(const frame_parser_t* f) : prev(tl_frame) { tl_frame = f; }
    ~frame_scope() { tl_frame = prev; }
};

// Nibbles as text, high nibble first, each through `alphabet` (15 entries);
// a nibble 15 ends the text. Writes at most 2n characters.
size_t nibble_text(const unsigned char* b, int n, const char* alphabet, char* out)
{
    size_t k = 0;
    for (int i = 0; i < n; ++i) {
        unsigned hi = b[i] >> 4, lo = b[i] & 15;
        if (hi == 15)
            break;
        out[k++] = alphabet[hi];
        if (lo == 15)
            break;
        out[k++] = alphabet[lo];
    }
    return k;
}

// Packed BCD digits; 10-14 give ':' ';' '<' '=' '>'.
const char bcd_alphabet[] = "0123456789:;<=>";
// Upper-case hexadecimal digits.
const char hex_alphabet[] = "0123456789ABCDE";

// Current local time as "%m%d%H%M" (8 characters). Thread-safe.
size_t time_text(char* out, size_t size)
{
    time_t now = protocol_now();
    struct tm tm_now;
    if (!localtime_r(&now, &tm_now))
        return 0;
    return strftime(out, size, "%m%d%H%M", &tm_now);
}

// Members of one event besides "dev" and "event".
struct flat_event {
    const char* event = nullptr;
    size_t number_len = 0, time_len = 0, value_len = 0;
    bool has_number = false, has_time = false;
    enum { V_NONE, V_INT, V_STR } value_kind = V_NONE;
    int value_int = 0;
    const char* value_str = nullptr;
    char number[2 * 255];
    char time[32];
    char value_buf[2 * 255];

    void set_value(const char* s, size_t n)
    {
        value_kind = V_STR;
        value_str = s;
        value_len = n;
    }
};

int analyze_callid_flat(const frame_parser_t& f, flat_event& e)
{
    printf("on callid: %02X\n", f.opcode);
    dump_hex("callid:", f.data, f.count);
    const int L = f.frame_len;
    const int n = f.count;
    const unsigned char* d = f.data;

    if (L <= 9 && n >= 2 && d[0] == 0xEE) {
        for (const char* p = g_SpecCallID; p[0] && p[1]; p += 2) {
            if (static_cast<unsigned char>(p[0]) == d[1]) {
                e.time_len = time_text(e.time, sizeof(e.time));
                e.has_time = true;
                e.set_value(p + 1, 1);
                return 0;
            }
        }
    }
    if (L <= 7 || n < 6)
        return -1;
    char* t = e.time;
    char* end = e.time + sizeof(e.time);
    for (int i = 2; i <= 5; ++i) {
        t = std::to_chars(t, end, static_cast<unsigned>(d[i])).ptr;
        if (i < 5)
            *t++ = (i == 3) ? ' ' : (i == 2 ? '-' : ':');
    }
    e.time_len = static_cast<size_t>(t - e.time);
    e.has_time = true;
    int digits = (d[1] + 1) / 2;
    digits = std::min(digits, L - 7);
    digits = std::min(digits, n - 6);
    e.number_len = nibble_text(d + 6, digits, bcd_alphabet, e.number);
    e.has_number = true;
    return 0;
}

void write_flat(int dev, const flat_event& e, std::string& out)
{
    char num[16];
    out.append("{\"dev\":");
    out.append(num, std::to_chars(num, num + sizeof(num), dev).ptr);
    out.append(",\"event\":");
    json_write_string(e.event, strlen(e.event), out);
    if (e.has_number) {
        out.append(",\"number\":");
        json_write_string(e.number, e.number_len, out);
    }
    if (e.has_time) {
        out.append(",\"time\":");
        json_write_string(e.time, e.time_len, out);
    }
    if (e.value_kind == flat_event::V_INT) {
        out.append(",\"value\":");
        out.append(num, std::to_chars(num, num + sizeof(num), e.value_int).ptr);
    } else if (e.value_kind == flat_event::V_STR) {
        out.append(",\"value\":");
        json_write_string(e.value_str, e.value_len, out);
    }
    out.append("}\n");
}

Json::Value to_json(const flat_event& e)
{
    Json::Value ev(Json::objectValue);
    ev["event"] = e.event;
    if (e.has_number)
        ev["number"] = std::string(e.number, e.number_len);
    if (e.has_time)
        ev["time"] = std::string(e.time, e.time_len);
    if (e.value_kind == flat_event::V_INT)
        ev["value"] = e.value_int;
    else if (e.value_kind == flat_event::V_STR)
        ev["value"] = std::string(e.value_str, e.value_len);
    return ev;
}

void copy_members(const flat_event& e, Json::Value& ev)
{
    Json::Value src = to_json(e);
    for (const char* m : {"number", "time", "value"})
        if (src.isMember(m))
            ev[m] = src[m];
}

} // namespace

std::string bcd2string(const unsigned char* bytes, int count)
{
    if (!bytes || count <= 0)
        return {};
    std::string s(2 * static_cast<size_t>(count), '\0');
    s.resize(nibble_text(bytes, count, bcd_alphabet, s.data()));
    return s;
}

void get_time_info(Json::Value& event)
{
    char buf[32];
    size_t n = time_text(buf, sizeof(buf));
    event["time"] = std::string(buf, n);
}

int parse_string(Json::Value& event, const unsigned char* bytes, int count)
{
    if (!bytes || count <= 0) {
        event["value"] = "";
        return 0;
    }
    std::string s(2 * static_cast<size_t>(count), '\0');
    s.resize(nibble_text(bytes, count, hex_alphabet, s.data()));
    event["value"] = s;
    return 2 * count;
}

int AnalyzeCallID(Json::Value& event, CProtocol* prot, int /*frame_len*/)
{
    return prot ? prot->analyze_callid(event) : -1;
}

int CProtocol::analyze_callid(Json::Value& event)
{
    if (!tl_frame)
        return -1;
    flat_event e;
    int r = analyze_callid_flat(*tl_frame, e);
    copy_members(e, event);
    return r;
}

int CProtocol::on_event(devinfo_t* device, std::string& out)
{
    const frame_parser_t& f = device->parser;
    const te_evt_op* row = find_event(f.opcode);
    if (!row)
        return 0;
    LOGD(5, "on event:%02X/len=%d\n", f.opcode, f.frame_len);

    const int lang = g_language.load(std::memory_order_relaxed);
    const int n = f.count;
    const unsigned char* d = f.data;
    flat_event e;
    e.event = str_text(row->name, lang);
    evt_decoder_fn other_decoder = nullptr;

    // A frame with fewer data bytes than its kind reads gives no "value".
    switch (row->kind) {
    case PARAM_NONE:
        break;
    case PARAM_BYTE:
        if (n >= 1) {
            e.value_kind = flat_event::V_INT;
            e.value_int = d[0];
        }
        break;
    case PARAM_CHAR:
        if (n >= 1 && row->param.chars) {
            size_t len = strlen(row->param.chars);
            if (d[0] < len)
                e.set_value(row->param.chars + d[0], 1);
            else
                e.set_value("unkown", 6);
        }
        break;
    case PARAM_LIST:
        if (n >= 1 && row->param.list) {
            const char* s = str_text(value_list_lookup(*row->param.list, d[0]), lang);
            e.set_value(s, strlen(s));
        }
        break;
    case PARAM_FUNC:
        if (row->param.dec == &AnalyzeCallID)
            analyze_callid_flat(f, e);
        else
            other_decoder = row->param.dec;
        break;
    case PARAM_HEX:
        e.set_value(e.value_buf, nibble_text(d, n, hex_alphabet, e.value_buf));
        break;
    }

    evt_dec_hook_t hook = m_hook.load(std::memory_order_acquire);
    if (!hook && !other_decoder) {
        size_t start = out.size();
        write_flat(device->id, e, out);
        LOGD(5, "json:%s", out.c_str() + start);
        return 0;
    }

    Json::Value ev = to_json(e);
    if (other_decoder) {
        frame_scope scope(&f);
        other_decoder(ev, this, f.frame_len);
    }
    if (hook)
        hook(row->name, ev);
    append_event_text(device->id, ev, out);
    return 0;
}

int CProtocol::decode(devinfo_t* device, unsigned char* bytes, int count, std::string& out)
{
    if (!device)
        return 0;
    if (count <= 0) {
        // Announcement of an event that no frame carried; the parser state
        // is not touched (this runs on threads other than the reader's).
        if (count == 0 && bytes && bytes[0] >= 1 && str_exists(bytes[0])) {
            Json::Value ev(Json::objectValue);
            ev["event"] = str_text(bytes[0]);
            return append_event_text(device->id, ev, out) ? 1 : 0;
        }
        return 0;
    }
    if (!bytes)
        return 0;

    frame_parser_t& f = device->parser;
    uint32_t now = static_cast<uint32_t>(GetTickCount());
    if (now - f.last_tick > 500) {
        f.count = 0;
        f.stage = 0;
    }
    f.last_tick = now;

    for (int i = 0; i < count; ++i) {
        const unsigned char b = bytes[i];
        switch (f.stage) {
        case 0:
            if (b == 0xFF)
                f.stage = 1;
            break;
        case 1:
            if (b != 0xFF) {
                f.remain = b;
                f.frame_len = b;
                f.count = 0;
                f.stage = 2;
            }
            break;
        case 2:
            if (b != 0xFF) {
                f.opcode = b;
                f.stage = 3;
                if (--f.remain == 0) {
                    f.stage = 0;
                    on_event(device, out);
                }
            }
            break;
        default:
            if (b != 0xFF) {
                if (f.count < sizeof(f.data))
                    f.data[f.count++] = b;
                if (--f.remain == 0) {
                    f.stage = 0;
                    on_event(device, out);
                }
            }
            break;
        }
    }
    return count;
}
