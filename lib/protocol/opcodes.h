// The event and command opcode tables: what every opcode byte of a frame
// means, in which direction, and how its data become an event value or how a
// command's parameter text becomes data. All constant data (constant
// initialised, so usable from any static constructor), readable from any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/str_table.h"

namespace Json { class Value; }
class CProtocol;
struct te_evt_op;

// Parameter kind of a table row. The numbers are part of the table data.
enum te_param_kind : int32_t {
    PARAM_NONE = 0,  // no value / no parameter
    PARAM_BYTE = 1,  // first data byte as a number / decimal text as one byte
    PARAM_CHAR = 2,  // character of the row's character table (events only)
    PARAM_LIST = 4,  // name row from the row's value list (events only)
    PARAM_FUNC = 5,  // the row's decoder or encoder function
    PARAM_HEX = 6,   // data bytes as hexadecimal text (events only)
};

// Event decoder of a PARAM_FUNC event row: (event object, decoding protocol
// object, frame length byte). Its result is not used.
typedef int (*evt_decoder_fn)(Json::Value& event, CProtocol* prot, int frame_len);
// Hex decoder of a PARAM_HEX event row: (event object, data bytes, count).
typedef int (*hex_decoder_fn)(Json::Value& event, const unsigned char* bytes, int count);
// Command encoder of a PARAM_FUNC command row: (own row, parameter text or
// null, output buffer, buffer size) -> frame length, 0 for nothing to send,
// or a negative error code.
typedef int (*cmd_encoder_fn)(const te_evt_op* row, const char* text, unsigned char* out, int size);

// Value list: byte value -> name row. `missing` is the row used for a byte
// value that the list does not hold.
struct te_value_pair {
    int code;
    te_STR_ID row;
};
struct te_value_list {
    const te_value_pair* items;
    int count;
    te_STR_ID missing;
};

// Looks `code` up in `list`; the list's `missing` row when absent.
te_STR_ID value_list_lookup(const te_value_list& list, int code);

// The `param` field of a row; which member is meaningful depends on `kind`.
union te_param {
    const void* none;
    const te_value_list* list;  // PARAM_LIST
    const char* chars;          // PARAM_CHAR: zero-terminated character table
    evt_decoder_fn dec;         // PARAM_FUNC, event rows
    hex_decoder_fn hex;         // PARAM_HEX
    cmd_encoder_fn enc;         // PARAM_FUNC, command rows

    constexpr te_param() : none(nullptr) {}
    constexpr te_param(std::nullptr_t) : none(nullptr) {}
    constexpr te_param(const te_value_list* l) : list(l) {}
    constexpr te_param(const char* c) : chars(c) {}
    constexpr te_param(evt_decoder_fn f) : dec(f) {}
    constexpr te_param(hex_decoder_fn f) : hex(f) {}
    constexpr te_param(cmd_encoder_fn f) : enc(f) {}
};

// One row of the event or the command table.
struct te_evt_op {
    uint8_t opcode;
    te_param_kind kind;
    te_STR_ID name;
    te_param param;
};

// Value lists and character tables.
extern const te_value_list m_key_str_list;  // 42 key codes; missing: row 131
extern const te_value_list m_state_list;    // 4 telephone states; missing: row 0
extern const te_value_list m_hw_type_list;  // 3 hardware types; missing: row 0
extern const char m_dtmf_rx_tbl[];          // "0123456789*#DBC"
extern const char m_dtmf_tx_tbl[];          // "0123456789*#PBC"

// The tables, in their binding row order (which is also the order of the
// name lists given to the application).
constexpr int EVT_LIST_COUNT = 31;
constexpr int CMD_LIST_COUNT = 43;
extern const te_evt_op m_evt_list[EVT_LIST_COUNT];
extern const te_evt_op m_cmd_list[CMD_LIST_COUNT];

// The event row of `opcode`, or null (a constant index over m_evt_list).
const te_evt_op* evt_row_by_opcode(int opcode);

// Decoders and encoders reached through the rows (defined in the decoder and
// encoder units).
int AnalyzeCallID(Json::Value& event, CProtocol* prot, int frame_len);
int parse_string(Json::Value& event, const unsigned char* bytes, int count);
int LoadString(const te_evt_op* row, const char* text, unsigned char* out, int size);
int encRFunc(const te_evt_op* row, const char* text, unsigned char* out, int size);
int EncDtmf(const te_evt_op* row, const char* text, unsigned char* out, int size);
int EncDtmfNum(const te_evt_op* row, const char* text, unsigned char* out, int size);
int EncHexNum(const te_evt_op* row, const char* text, unsigned char* out, int size);
int EncTime(const te_evt_op* row, const char* text, unsigned char* out, int size);
