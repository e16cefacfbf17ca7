// Virtual telephones at the hidapi boundary.
//
// libvtel.so defines hidapi's functions (hid_init, hid_enumerate, hid_open_path,
// hid_read_timeout, hid_write, ...) over simulated USB desk telephones, so that
// an unmodified program or library that uses hidapi talks to them as if they
// were real. It takes hidapi's place when a program is linked against it ahead
// of libhidapi-hidraw (tests), or when it is preloaded (LD_PRELOAD=libvtel.so).
//
// Each telephone has a node path that does not exist on disk, USB ids, a usage
// page, an interface number and a serial number, and speaks the report layout
// of its interface chip (SSS1629, HT82R83X or TL8258). Plugging and unplugging
// sends the kernel's hot-plug message as a NETLINK_KOBJECT_UEVENT datagram to
// the process's own netlink port (the process id).
//
// Every function here is thread-safe. Frames are the protocol's byte strings:
// 0xFF, length L (opcode and data), opcode, L-1 data bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vtel {

using time_point = std::chrono::steady_clock::time_point;  // CLOCK_MONOTONIC
using std::chrono::milliseconds;

enum class te_chip { sss1629, ht82r83x, tl8258 };

// "sss1629", "ht82r83x", "tl8258".
const char* chip_name(te_chip chip);
// Accepts the names above, case-insensitively.
std::optional<te_chip> chip_by_name(std::string_view name);

// One further top-level usage of the same node: an extra enumeration record
// with the same path (real telephones may show several).
struct usage_t {
    uint16_t page = 0;
    uint16_t usage = 0;
};

// Description of a telephone. Unset ids come from the chip's fixture (its real
// vendor id, product id, usage page, usage and interface number).
struct phone_cfg_t {
    te_chip chip = te_chip::sss1629;
    std::string path;                   // empty: "/dev/vtel/hidraw<id>"
    std::optional<uint16_t> vid, pid, usage_page, usage;
    std::optional<int> interface_number;
    std::string serial;                 // empty: "VTEL<id>"
    int version = 194;                  // answer to the version query; -1: never answers
    bool openable = true;               // false: hid_open_path returns NULL
    std::vector<usage_t> extra_usages;  // more enumeration records of the same node
    uint8_t state = 0x00;               // answer to the state query (0 idle, 2, 6, 7)
    uint8_t hw_type = 0x82;             // answer to the hardware type query
};

// One output report written by the host, as given to hid_write.
struct report_t {
    time_point time;
    std::vector<uint8_t> bytes;
    bool valid = true;  // false: not an output report of this chip (hid_write returned -1)
};

// One command frame decoded from the written reports.
struct frame_t {
    uint8_t opcode = 0;
    std::vector<uint8_t> data;
    time_point first;  // time of the report that carried the start byte
    time_point last;   // time of the report that completed the frame
    std::vector<uint8_t> bytes() const;  // FF, L, opcode, data
};

enum class te_call : uint8_t {
    incoming = 0xD1,
    missed = 0xD4,
    answered = 0xD5,
    dialled = 0xD6,
};

struct call_time_t {
    int month = 1, day = 1, hour = 0, minute = 0;
};

struct call_record_t {
    te_call kind = te_call::missed;
    std::string number;  // decimal digits
    call_time_t time;
};

namespace detail { struct phone; }

// Handle of one virtual telephone; copies refer to the same telephone. An
// empty handle (default constructed) makes every call fail with -1 / nothing.
// Functions returning int give 0 on success and -1 when the telephone is
// unplugged or the argument cannot be carried in a frame.
class CPhone {
public:
    CPhone() = default;
    explicit CPhone(std::shared_ptr<detail::phone> p) : p_(std::move(p)) {}
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const CPhone& o) const { return p_ == o.p_; }

    int id() const;  // 1, 2, ... in plugging order; 0 for an empty handle
    te_chip chip() const;
    std::string path() const;
    uint16_t vid() const;
    uint16_t pid() const;
    bool plugged() const;
    int open_handles() const;  // hidapi handles currently open on it

    // Hot-plug: the telephone (dis)appears from enumeration, open handles fail
    // from then on with -1, and the kernel-style messages are sent.
    void unplug();
    void plug();  // again, after unplug; earlier handles stay dead

    // Behaviour.
    void set_version(int version);  // -1: never answer the version query
    void set_openable(bool openable);
    void set_state(uint8_t state);

    // Telephone events: each is one frame, cut into this chip's input reports
    // and queued for every open handle (like hidraw, nothing is kept when no
    // handle is open).
    int send_frame(uint8_t opcode, std::span<const uint8_t> data = {});
    int send_frame(uint8_t opcode, std::initializer_list<uint8_t> data);
    int send_bytes(std::span<const uint8_t> bytes);     // any byte stream, chip-framed
    int inject_report(std::span<const uint8_t> report);  // one input report as read
    // Key by its label: "0"-"9", "*", "#", "P", "UP", "DOWN", "REDIAL",
    // "HANDFREE", "DEL", "HISTORY DIAL", "FLASH/R", "PAUSE", "VOIP", "RECORD",
    // "MISS CALL", "DAIL BACK", "LIGHT", "M1"-"M10", "MUTE", "VOL", "SETTING",
    // "RINGTONG", "Key-Mic" (case-insensitive), or a key code as "0x7D".
    int press_key(std::string_view key);
    int handset(bool up);
    int hands_free(bool on);
    int parallel(bool up);
    int ring();
    int dial_done();
    int busy_tone();
    int dtmf(char digit);  // off-hook DTMF digit from "0123456789*#DBC"
    int incoming_call(std::string_view number, call_time_t time);
    int incoming_call_special(char code);  // 'P', 'O' or 'E'
    int upload_records(const std::vector<call_record_t>& records);  // then "upload done"
    int report_volume(int level);
    int report_state(uint8_t state);
    int report_version(int version);
    int report_hw_type(uint8_t type);

    // What the host wrote.
    std::vector<report_t> written() const;
    std::vector<frame_t> frames() const;
    // Waits for the next frame with this opcode after the last one returned by
    // a wait (frames in between are passed over); nullopt after the timeout.
    // The predicate runs with the bus locked and must not call vtel.
    std::optional<frame_t> wait_frame(uint8_t opcode, milliseconds timeout);
    std::optional<frame_t> wait_frame(const std::function<bool(const frame_t&)>& match,
                                      milliseconds timeout);
    // Waits until at least `count` frames have been decoded in all.
    bool wait_frames(size_t count, milliseconds timeout);
    bool wait_open(milliseconds timeout);    // until a live handle is open
    bool wait_closed(milliseconds timeout);  // until the program has closed every handle
    void clear_written();  // also resets the wait position

private:
    std::shared_ptr<detail::phone> p_;
};

// Plugs in a new telephone and returns its handle.
CPhone plug(const phone_cfg_t& cfg = {});
CPhone plug(te_chip chip);

// The telephones known, plugged or not, in plugging order.
std::vector<CPhone> phones();
CPhone find(int id);

// Unplugs every telephone without hot-plug messages and forgets them all;
// ids start again from 1. For test teardown.
void reset();

// Sends one hot-plug datagram made of these texts (each zero-terminated) to
// the process's own netlink port. 0, or -1 when nobody listens there.
int send_uevent(const std::vector<std::string>& texts);

// Control language: one command per line (see docs/virtual-telephone.md), for
// example "plug sss1629 version=194", "key 1", "call 88123456", "unplug".
// Returns 0 and a reply text, or -1 and an error text.
int run_command(std::string_view line, std::string& reply);
// Runs a script file line by line; stops at the first failing line (-1).
int run_script(const std::string& path);
// Serves the control language on a Unix stream socket in the background:
// one reply line per command line. 0, or -1 when the socket cannot be made.
int serve_control(const std::string& socket_path);
void stop_control();

}  // namespace vtel
