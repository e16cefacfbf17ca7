#include "control.h"

#include "frames.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace vtel::detail {
namespace {

using args_t = std::vector<std::string>;

const char* const m_help =
    "plug CHIP [version=N|none] [path=P] [vid=H] [pid=H] [usage_page=H] [usage=H] [interface=N] "
    "[serial=S] [openable=yes|no] [state=N] [hw=N]; unplug [ID]; replug [ID]; phone ID; list; reset; "
    "version N|none; openable yes|no; state N; "
    "key K...; handset up|down; handsfree on|off; parallel up|down; ring; dialdone; busy; dtmf D; "
    "call NUMBER [MM-DD HH:MM] | call P|O|E; record missed|answered|dialled NUMBER [MM-DD HH:MM]; "
    "uploaddone; volume N; report-state N; report-version N; hwtype N; frame OP [HEX...]; report HEX...; "
    "expect OP [MS]; frames; sleep MS; help";

args_t split(std::string_view line)
{
    args_t out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j])))
            ++j;
        if (j > i)
            out.emplace_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

// Whole text as a number (decimal, or hex with 0x); false otherwise.
bool number(const std::string& s, long& v, int base = 0)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    v = std::strtol(s.c_str(), &end, base);
    return *end == 0;
}

bool byte_arg(const std::string& s, uint8_t& b, int base = 0)
{
    long v;
    if (!number(s, v, base) || v < 0 || v > 0xFF)
        return false;
    b = static_cast<uint8_t>(v);
    return true;
}

bool hex_bytes(const args_t& a, size_t from, std::vector<uint8_t>& out)
{
    for (size_t i = from; i < a.size(); ++i) {
        uint8_t b;
        if (!byte_arg(a[i], b, 16))
            return false;
        out.push_back(b);
    }
    return true;
}

bool yes_no(const std::string& s, bool& v)
{
    if (s == "yes" || s == "1" || s == "on" || s == "true")
        v = true;
    else if (s == "no" || s == "0" || s == "off" || s == "false")
        v = false;
    else
        return false;
    return true;
}

std::string hex_text(const std::vector<uint8_t>& b)
{
    std::string s;
    char buf[4];
    for (uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02X", x);
        if (!s.empty())
            s += ' ';
        s += buf;
    }
    return s;
}

call_time_t now_time()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
}

// "MM-DD HH:MM" from two arguments starting at i; the current time if absent.
bool call_time(const args_t& a, size_t i, call_time_t& t)
{
    t = now_time();
    if (a.size() <= i)
        return true;
    if (a.size() != i + 2)
        return false;
    return std::sscanf(a[i].c_str(), "%d-%d", &t.month, &t.day) == 2 &&
           std::sscanf(a[i + 1].c_str(), "%d:%d", &t.hour, &t.minute) == 2;
}

int fail(std::string& reply, const std::string& why)
{
    reply = "error: " + why;
    return -1;
}

int done(std::string& reply, int rc, const std::string& what = {})
{
    if (rc < 0)
        return fail(reply, what.empty() ? "telephone unplugged or value out of range" : what);
    reply = "ok";
    return 0;
}

int cmd_plug(session_t& s, const args_t& a, std::string& reply)
{
    if (a.size() < 2)
        return fail(reply, "plug needs a chip: sss1629, ht82r83x or tl8258");
    auto chip = chip_by_name(a[1]);
    if (!chip)
        return fail(reply, "unknown chip '" + a[1] + "'");
    phone_cfg_t cfg;
    cfg.chip = *chip;
    for (size_t i = 2; i < a.size(); ++i) {
        size_t eq = a[i].find('=');
        if (eq == std::string::npos)
            return fail(reply, "expected key=value, got '" + a[i] + "'");
        std::string k = a[i].substr(0, eq), v = a[i].substr(eq + 1);
        long n = 0;
        bool ok = true;
        if (k == "version") {
            ok = v == "none" || (number(v, n) && n >= 0 && n < 0xFF);
            cfg.version = v == "none" ? -1 : static_cast<int>(n);
        } else if (k == "path") {
            ok = !v.empty();
            cfg.path = v;
        } else if (k == "serial") {
            cfg.serial = v;
        } else if (k == "openable") {
            ok = yes_no(v, cfg.openable);
        } else if (k == "interface") {
            ok = number(v, n);
            cfg.interface_number = static_cast<int>(n);
        } else if (k == "state" || k == "hw") {
            uint8_t b = 0;
            ok = byte_arg(v, b);
            (k == "state" ? cfg.state : cfg.hw_type) = b;
        } else if (k == "vid" || k == "pid" || k == "usage_page" || k == "usage") {
            ok = number(v, n, 16) && n >= 0 && n <= 0xFFFF;
            auto u = static_cast<uint16_t>(n);
            (k == "vid" ? cfg.vid : k == "pid" ? cfg.pid : k == "usage_page" ? cfg.usage_page : cfg.usage) = u;
        } else {
            return fail(reply, "unknown setting '" + k + "'");
        }
        if (!ok)
            return fail(reply, "bad value for " + k + ": '" + v + "'");
    }
    CPhone p = plug(cfg);
    s.current = p.id();
    reply = "ok phone " + std::to_string(p.id()) + " " + p.path();
    return 0;
}

CPhone current(const session_t& s)
{
    if (s.current)
        return find(s.current);
    auto all = phones();
    return all.empty() ? CPhone() : all.back();
}

// A telephone named by an optional id argument, else the session's one.
CPhone target(const session_t& s, const args_t& a, size_t i)
{
    long id;
    if (a.size() > i && number(a[i], id))
        return find(static_cast<int>(id));
    return current(s);
}

int cmd_list(std::string& reply)
{
    reply = "ok";
    for (const CPhone& p : phones()) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s %d %s %04X:%04X %s %s open=%d", reply == "ok" ? "" : ";", p.id(),
                      chip_name(p.chip()), p.vid(), p.pid(), p.path().c_str(),
                      p.plugged() ? "plugged" : "unplugged", p.open_handles());
        reply += buf;
    }
    return 0;
}

int run_phone_command(CPhone& p, const args_t& a, std::string& reply)
{
    const std::string& c = a[0];
    const size_t n = a.size();
    if (c == "unplug") {
        p.unplug();
        return done(reply, 0);
    }
    if (c == "replug") {
        p.plug();
        return done(reply, 0);
    }
    if (c == "version" && n == 2) {
        long v;
        if (a[1] == "none")
            v = -1;
        else if (!number(a[1], v) || v < 0 || v >= 0xFF)
            return fail(reply, "version is 0-254 or none");
        p.set_version(static_cast<int>(v));
        return done(reply, 0);
    }
    if (c == "openable" && n == 2) {
        bool v;
        if (!yes_no(a[1], v))
            return fail(reply, "openable yes|no");
        p.set_openable(v);
        return done(reply, 0);
    }
    if (c == "state" && n == 2) {
        uint8_t b;
        if (!byte_arg(a[1], b))
            return fail(reply, "state is a byte");
        p.set_state(b);
        return done(reply, 0);
    }
    if (c == "key" && n >= 2) {
        for (size_t i = 1; i < n; ++i)
            if (!key_code(a[i]))
                return fail(reply, "unknown key '" + a[i] + "'");
        for (size_t i = 1; i < n; ++i)
            if (p.press_key(a[i]) < 0)
                return done(reply, -1);
        return done(reply, 0);
    }
    if ((c == "handset" || c == "parallel") && n == 2 && (a[1] == "up" || a[1] == "down"))
        return done(reply, c == "handset" ? p.handset(a[1] == "up") : p.parallel(a[1] == "up"));
    if (c == "handsfree" && n == 2) {
        bool on;
        if (!yes_no(a[1], on))
            return fail(reply, "handsfree on|off");
        return done(reply, p.hands_free(on));
    }
    if (c == "ring" && n == 1)
        return done(reply, p.ring());
    if (c == "dialdone" && n == 1)
        return done(reply, p.dial_done());
    if (c == "busy" && n == 1)
        return done(reply, p.busy_tone());
    if (c == "uploaddone" && n == 1)
        return done(reply, p.send_frame(evt::upload_done));
    if (c == "dtmf" && n == 2 && a[1].size() == 1)
        return done(reply, p.dtmf(a[1][0]));
    if (c == "call" && n >= 2) {
        if (a[1] == "P" || a[1] == "O" || a[1] == "E")
            return done(reply, p.incoming_call_special(a[1][0]));
        call_time_t t;
        if (!call_time(a, 2, t))
            return fail(reply, "time is MM-DD HH:MM");
        return done(reply, p.incoming_call(a[1], t), "number is up to 64 digits");
    }
    if (c == "record" && n >= 3) {
        call_record_t r;
        if (a[1] == "missed")
            r.kind = te_call::missed;
        else if (a[1] == "answered")
            r.kind = te_call::answered;
        else if (a[1] == "dialled")
            r.kind = te_call::dialled;
        else
            return fail(reply, "record missed|answered|dialled NUMBER");
        r.number = a[2];
        if (!call_time(a, 3, r.time))
            return fail(reply, "time is MM-DD HH:MM");
        std::vector<uint8_t> data;
        if (!call_data(r.number, r.time, data))
            return fail(reply, "number is up to 64 digits");
        return done(reply, p.send_frame(static_cast<uint8_t>(r.kind), data));
    }
    if (c == "volume" && n == 2) {
        long v;
        return done(reply, number(a[1], v) ? p.report_volume(static_cast<int>(v)) : -1, "volume is 0-254");
    }
    if (c == "report-state" && n == 2) {
        uint8_t b;
        return done(reply, byte_arg(a[1], b) ? p.report_state(b) : -1);
    }
    if (c == "report-version" && n == 2) {
        long v;
        return done(reply, number(a[1], v) ? p.report_version(static_cast<int>(v)) : -1, "version is 0-254");
    }
    if (c == "hwtype" && n == 2) {
        uint8_t b;
        return done(reply, byte_arg(a[1], b) ? p.report_hw_type(b) : -1);
    }
    if (c == "frame" && n >= 2) {
        uint8_t op;
        std::vector<uint8_t> data;
        if (!byte_arg(a[1], op, 16) || !hex_bytes(a, 2, data))
            return fail(reply, "frame OP [HEX...], hexadecimal bytes");
        return done(reply, p.send_frame(op, data), "unplugged, or 0xFF in the frame");
    }
    if (c == "report" && n >= 2) {
        std::vector<uint8_t> bytes;
        if (!hex_bytes(a, 1, bytes))
            return fail(reply, "report HEX..., hexadecimal bytes");
        return done(reply, p.inject_report(bytes));
    }
    if (c == "expect" && (n == 2 || n == 3)) {
        uint8_t op;
        long ms = 2000;
        if (!byte_arg(a[1], op, 16) || (n == 3 && (!number(a[2], ms) || ms < 0)))
            return fail(reply, "expect OP [MS]");
        auto f = p.wait_frame(op, milliseconds(ms));
        if (!f)
            return fail(reply, "no frame " + a[1] + " within " + std::to_string(ms) + " ms");
        reply = "ok " + hex_text(f->bytes());
        return 0;
    }
    if (c == "frames" && n == 1) {
        reply = "ok";
        for (const frame_t& f : p.frames())
            reply += (reply == "ok" ? " " : ", ") + hex_text(f.bytes());
        return 0;
    }
    return fail(reply, "unknown command or wrong arguments: '" + c + "' (try help)");
}

}  // namespace

int execute(session_t& s, std::string_view line, std::string& reply)
{
    // Only whole lines are comments: "#" is also a key label.
    args_t a = split(line);
    if (!a.empty() && a[0][0] == '#')
        a.clear();
    if (a.empty()) {
        reply = "ok";
        return 0;
    }
    const std::string& c = a[0];
    if (c == "help") {
        reply = std::string("ok ") + m_help;
        return 0;
    }
    if (c == "plug")
        return cmd_plug(s, a, reply);
    if (c == "list" && a.size() == 1)
        return cmd_list(reply);
    if (c == "reset" && a.size() == 1) {
        reset();
        s.current = 0;
        return done(reply, 0);
    }
    if (c == "sleep" && a.size() == 2) {
        long ms;
        if (!number(a[1], ms) || ms < 0)
            return fail(reply, "sleep MS");
        std::this_thread::sleep_for(milliseconds(ms));
        return done(reply, 0);
    }
    if (c == "phone" && a.size() == 2) {
        long id;
        if (!number(a[1], id) || !find(static_cast<int>(id)))
            return fail(reply, "no telephone " + a[1]);
        s.current = static_cast<int>(id);
        return done(reply, 0);
    }
    CPhone p = (c == "unplug" || c == "replug") ? target(s, a, 1) : current(s);
    if (!p)
        return fail(reply, "no telephone (plug one first)");
    return run_phone_command(p, a, reply);
}

}  // namespace vtel::detail

namespace vtel {

int run_command(std::string_view line, std::string& reply)
{
    static std::mutex mu;
    static detail::session_t session;
    detail::session_t s;
    {
        std::lock_guard lock(mu);
        s = session;
    }
    int rc = detail::execute(s, line, reply);
    std::lock_guard lock(mu);
    session = s;
    return rc;
}

}  // namespace vtel
