// Protocol objects: the translators between telephone frames and the
// application's JSON event texts and named commands, and their registry.
//
// There is always one default object, prot_qm ("default"), usable from any
// static constructor (it is constant-initialised). A chip driver may create a
// named object of its own, register it and give it a decode hook.
//
// Lookup maps (opcode -> event row, command name -> command row) are built on
// first use, never change afterwards and are never emptied while the library
// is loaded. The command-name map holds the names of both languages for every
// command row, so a name from either language's command list is accepted.
#pragma once

#include <atomic>
#include <ctime>
#include <string>

#include "protocol/devinfo.h"
#include "protocol/opcodes.h"
#include "protocol/str_table.h"

namespace Json { class Value; }

// Decode hook: called with the event's name row and the event object just
// before the event text is written; it may change or add members.
typedef void (*evt_dec_hook_t)(te_STR_ID name, Json::Value& event);

// Result codes of encode (negative rows of the library's error table).
constexpr int PROT_ERR_BUFF_NOT_ENOUGH = -2;  // frame does not fit the buffer
constexpr int PROT_ERR_UNKNOWN_CMD = -5;      // name not known / row not encodable
constexpr int PROT_ERR_WRONG_PARAM = -6;      // parameter text missing or malformed

// Largest frame a command can produce: the length byte is at most 254.
constexpr int PROT_MAX_FRAME = 256;

class CProtocol {
public:
    // The default object: name "default", not owned by the registry.
    constexpr CProtocol() : m_name("default"), m_owned(false), m_default(true), m_hook(nullptr) {}
    // A named object, owned by the registry once registered (freeAll destroys
    // it). `name` is kept, not copied: it must outlive the object.
    explicit CProtocol(const char* name);
    // A default object runs freeAll. Any object removes its own registry
    // entry if the registry still maps its name to it.
    virtual ~CProtocol();
    CProtocol(const CProtocol&) = delete;
    CProtocol& operator=(const CProtocol&) = delete;

    // Writes the JSON list of command names (kind null or "command") or event
    // names ("event") in the current language, as one line with its line
    // feed, into `out` (replacing it). Returns its length in bytes, or 0 (out
    // unchanged) for any other kind. Thread-safe.
    virtual int get_list(const char* kind, std::string& out);

    void init_inst(const char* name);

    // Registry. Thread-safe (one registry lock).
    // Inserts or replaces the entry for p's name (a replaced object is left alone).
    static void regist(CProtocol* p);
    // Destroys every registered owned object and removes its entry; entries
    // of objects that are not owned stay. Call when no thread decodes with them.
    static void freeAll();
    // null: the first registered default object in name order, or null.
    // otherwise: the object registered under exactly that name, or null.
    static CProtocol* get_prot_by_name(const char* name);

    // Sets the decode hook (null to remove); returns the previous one.
    // Thread-safe against concurrent decode.
    evt_dec_hook_t regist_evt_dec_hook(evt_dec_hook_t hook);

    // Adds "dev" = dev to the object `event` and writes it as the JSON event
    // text into `out`, replacing it. Returns 1, or 0 (out unchanged) when
    // `event` has no member or is not an object.
    int unpack_value(int dev, Json::Value& event, std::string& out);
    // Event text {"dev":id,"event":event,"value":value} into `out`
    // (replacing it). Both texts must be given. Returns 0.
    int format(devinfo_t* device, const char* event, const char* value, std::string& out);

    // Feeds `count` bytes of `device`'s stream through its frame parser and
    // APPENDS the event text of every completed frame to `out`, in order (one
    // line each, each ending with its line feed). Returns `count`.
    // With count 0 and bytes[0] an existing row number 1-139, appends the
    // announcement {"dev":id,"event":<row text>} instead and returns 1; with
    // count 0 and any other byte, does nothing and returns 0. `bytes` must
    // point to at least one byte when count is 0 (null is accepted too).
    // A partial frame is dropped when the previous call for the device with
    // bytes is more than 500 ms old. Runs on the device's reader thread;
    // concurrent calls for different devices are safe.
    int decode(devinfo_t* device, unsigned char* bytes, int count, std::string& out);
    // Decodes the frame just completed in `device`'s parser; appends its text
    // to `out` unless the opcode is not an event. Returns 0.
    int on_event(devinfo_t* device, std::string& out);
    // Caller identity and call records of the frame being decoded on this
    // thread (inside on_event); -1 when nothing was added.
    int analyze_callid(Json::Value& event);

    // Encodes command `name` with parameter text `text` (may be null) into
    // `out` (`size` bytes). Returns the frame length, 0 for an empty frame
    // (nothing to send), or PROT_ERR_*. Never writes past `size` bytes; a
    // frame is never longer than PROT_MAX_FRAME. Thread-safe.
    int encode(const char* name, const char* text, unsigned char* out, int size);
    // Fix-up of the parameter byte of "写FLASH时间" (0, 0xFF or missing give
    // 0xFE). Returns n.
    static int check_param(const te_evt_op* row, unsigned char* frame, int n);

    // Row lookups over the shared maps (built on first use, then constant).
    static const te_evt_op* find_event(int opcode);
    static const te_evt_op* find_command(const char* name);

    const char* name() const { return m_name; }
    bool is_owned() const { return m_owned; }
    bool is_default() const { return m_default; }

private:
    const char* m_name;
    bool m_owned;
    bool m_default;
    std::atomic<evt_dec_hook_t> m_hook;
};

// The default protocol object and a pointer to it.
extern constinit CProtocol prot_qm;
extern CProtocol* const ptr_prot_qm;

// Special caller identities: pairs (match, output) "PP", "OO", "EE", then a
// pair of zeros.
extern const char g_SpecCallID[8];

// Digits of packed BCD bytes, high nibble first; a nibble 15 ends the text,
// 10-14 give ':' ';' '<' '=' '>'.
std::string bcd2string(const unsigned char* bytes, int count);
// "time" = the current local time as "%m%d%H%M". Thread-safe.
void get_time_info(Json::Value& event);

// Wall clock of the protocol engine ("time" members, EncTime). Thread-safe.
time_t protocol_now();

// Writes `v` as the library's JSON text (no blanks, members in byte order of
// their names, UTF-8 and 0x7F unescaped, other control bytes as \u00XX with
// upper-case hex), appending it to `out` WITHOUT the final line feed.
void json_write(const Json::Value& v, std::string& out);
// Adds "dev" = dev to the object `event` and appends its event text (with
// the final line feed) to `out`; false (nothing appended) when `event` has no
// member or is not an object. Logs the text at INFO.
bool append_event_text(int dev, Json::Value& event, std::string& out);
// Appends `s` (`len` bytes) as a quoted, escaped JSON string.
void json_write_string(const char* s, size_t len, std::string& out);
