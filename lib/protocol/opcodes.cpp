// The event and command tables with their value lists and character tables.
// Every object here is constant-initialised: nothing depends on the order in
// which the library's static objects are constructed.
#include "protocol/opcodes.h"

namespace {

constexpr te_value_pair key_pairs[] = {
    {0xEC, STR_KEY_0},        {0x7D, STR_KEY_1},       {0x7C, STR_KEY_2},
    {0x7B, STR_KEY_3},        {0xBD, STR_KEY_4},       {0xBC, STR_KEY_5},
    {0xBB, STR_KEY_6},        {0xDD, STR_KEY_7},       {0xDC, STR_KEY_8},
    {0xDB, STR_KEY_9},        {0xED, STR_KEY_STAR},    {0xEB, STR_KEY_HASH},
    {0xAA, STR_KEY_P},        {0x7A, STR_KEY_UP},      {0x79, STR_KEY_DOWN},
    {0xBA, STR_KEY_REDIAL},   {0xB9, STR_KEY_HANDSFREE}, {0xDA, STR_KEY_DEL},
    {0xD9, STR_KEY_HISTORY},  {0xEA, STR_KEY_FLASH},   {0xE9, STR_KEY_PAUSE},
    {0xF5, STR_KEY_VOIP},     {0xF4, STR_KEY_RECORD},  {0xF3, STR_KEY_MISSED},
    {0xF2, STR_KEY_CALLBACK}, {0xF1, STR_KEY_LIGHT},
    {0x51, STR_KEY_M1},       {0x52, STR_KEY_M2},      {0x53, STR_KEY_M3},
    {0x54, STR_KEY_M4},       {0x55, STR_KEY_M5},      {0x56, STR_KEY_M6},
    {0x57, STR_KEY_M7},       {0x58, STR_KEY_M8},      {0x59, STR_KEY_M9},
    {0x5A, STR_KEY_M10},      {0x5B, STR_KEY_MUTE},    {0x5C, STR_KEY_VOL},
    {0xF6, STR_KEY_SETTING},  {0xF7, STR_KEY_RINGTONE}, {0xB8, STR_KEY_MIC},
    {0xFF, STR_KEY_INVALID},
};
static_assert(sizeof(key_pairs) / sizeof(key_pairs[0]) == 42);

constexpr te_value_pair state_pairs[] = {
    {0x00, STR_IDLE},
    {0x02, STR_PARALLEL_OFFHOOK},
    {0x06, STR_HANDSFREE_OFFHOOK},
    {0x07, STR_HANDSET_OFFHOOK},
};

constexpr te_value_pair hw_type_pairs[] = {
    {0x82, STR_HW_RECORD_PHONE},
    {0x83, STR_HW_RECORD_BOX},
    {0x84, STR_HW_VOIP_PHONE},
};

} // namespace

constinit const te_value_list m_key_str_list = {key_pairs, 42, STR_KEY_INVALID};
constinit const te_value_list m_state_list = {state_pairs, 4, STR_RESERVED};
constinit const te_value_list m_hw_type_list = {hw_type_pairs, 3, STR_RESERVED};
constinit const char m_dtmf_rx_tbl[] = "0123456789*#DBC";
constinit const char m_dtmf_tx_tbl[] = "0123456789*#PBC";

te_STR_ID value_list_lookup(const te_value_list& list, int code)
{
    for (int i = 0; i < list.count; ++i)
        if (list.items[i].code == code)
            return list.items[i].row;
    return list.missing;
}

constexpr te_evt_op m_evt_list[EVT_LIST_COUNT] = {
    {0xF1, PARAM_BYTE, STR_PHONE_ATTACHED, nullptr},
    {0xE3, PARAM_NONE, STR_HANDSFREE_OFFHOOK, nullptr},
    {0xE4, PARAM_NONE, STR_HANDSFREE_ONHOOK, nullptr},
    {0xE7, PARAM_NONE, STR_HANDSET_OFFHOOK, nullptr},
    {0xE8, PARAM_NONE, STR_HANDSET_ONHOOK, nullptr},
    {0xE9, PARAM_NONE, STR_PARALLEL_OFFHOOK, nullptr},
    {0xEA, PARAM_NONE, STR_PARALLEL_ONHOOK, nullptr},
    {0xD3, PARAM_NONE, STR_DIAL_DONE, nullptr},
    {0xEB, PARAM_NONE, STR_BUSY_TONE, nullptr},
    {0xE5, PARAM_NONE, STR_RING, nullptr},
    {0xD7, PARAM_NONE, STR_RECORDS_UPLOADED, nullptr},
    {0xE6, PARAM_NONE, STR_CID_RESTART, nullptr},
    {0xED, PARAM_NONE, STR_LOW_BATTERY, nullptr},
    {0xEE, PARAM_NONE, STR_VOIP_OFFHOOK, nullptr},
    {0xEF, PARAM_NONE, STR_VOIP_ONHOOK, nullptr},
    {0xE0, PARAM_LIST, STR_KEY, &m_key_str_list},
    {0xE1, PARAM_LIST, STR_KEY, &m_key_str_list},
    {0xAB, PARAM_LIST, STR_STATE_QUERY, &m_state_list},
    {0x81, PARAM_BYTE, STR_VERSION, nullptr},
    {0xD8, PARAM_CHAR, STR_OFFHOOK_DTMF, m_dtmf_rx_tbl},
    {0xD9, PARAM_CHAR, STR_PARALLEL_DIAL, m_dtmf_rx_tbl},
    {0xEC, PARAM_CHAR, STR_REDIAL_UPLOAD, m_dtmf_tx_tbl},
    {0x85, PARAM_LIST, STR_HW_TYPE_INFO, &m_hw_type_list},
    {0x5C, PARAM_BYTE, STR_VOLUME_CHANGED, nullptr},
    {0xD1, PARAM_FUNC, STR_CALLER_ID, &AnalyzeCallID},
    {0xD2, PARAM_FUNC, STR_CALLER_ID, &AnalyzeCallID},
    {0xD4, PARAM_FUNC, STR_MISSED_CALL_UPLOAD, &AnalyzeCallID},
    {0xD5, PARAM_FUNC, STR_ANSWERED_CALL_UPLOAD, &AnalyzeCallID},
    {0xD6, PARAM_FUNC, STR_DIALED_UPLOAD, &AnalyzeCallID},
    {0x83, PARAM_HEX, STR_VENDOR_INFO, &parse_string},
    {0x84, PARAM_HEX, STR_SERIAL_INFO, &parse_string},
};

constinit const te_evt_op m_cmd_list[CMD_LIST_COUNT] = {
    {0x8A, PARAM_FUNC, STR_USB_HEARTBEAT, &LoadString},
    {0xF1, PARAM_BYTE, STR_PHONE_ATTACHED, nullptr},
    {0x6A, PARAM_NONE, STR_USB_ONLINE, nullptr},
    {0x61, PARAM_NONE, STR_HANDSFREE_OFFHOOK, nullptr},
    {0x62, PARAM_NONE, STR_HANDSFREE_ONHOOK, nullptr},
    {0x63, PARAM_NONE, STR_LOCAL_REC_START, nullptr},
    {0x64, PARAM_NONE, STR_LOCAL_REC_STOP, nullptr},
    {0x65, PARAM_FUNC, STR_TRANSFER, &encRFunc},
    {0x66, PARAM_NONE, STR_LOCAL_PLAY_START, nullptr},
    {0x67, PARAM_NONE, STR_LOCAL_PLAY_STOP, nullptr},
    {0x68, PARAM_NONE, STR_LINE_PLAY_START, nullptr},
    {0x69, PARAM_NONE, STR_LINE_PLAY_STOP, nullptr},
    {0x45, PARAM_NONE, STR_USB_ONLINE2, nullptr},
    {0x6B, PARAM_NONE, STR_SPECIAL_RING_START, nullptr},
    {0x6D, PARAM_NONE, STR_VOIP_START, nullptr},
    {0x6E, PARAM_NONE, STR_VOIP_STOP, nullptr},
    {0x21, PARAM_NONE, STR_STATE_QUERY, nullptr},
    {0x11, PARAM_FUNC, STR_DTMF_SEND, &EncDtmf},
    {0x12, PARAM_NONE, STR_UPLOAD_ALL_RECORDS, nullptr},
    {0x01, PARAM_NONE, STR_READ_VERSION, nullptr},
    {0x6C, PARAM_NONE, STR_SPECIAL_RING_STOP, nullptr},
    {0x22, PARAM_FUNC, STR_SET_TIME, &EncTime},
    {0x60, PARAM_NONE, STR_CALL_REC_START, nullptr},
    {0x6F, PARAM_NONE, STR_CALL_REC_STOP, nullptr},
    {0x23, PARAM_NONE, STR_BUSY_DETECT, nullptr},
    {0x24, PARAM_BYTE, STR_WRITE_FLASH_TIME, nullptr},
    {0x25, PARAM_FUNC, STR_WRITE_MEMORY_NUMBER, &EncDtmfNum},
    {0x14, PARAM_NONE, STR_READ_VENDOR, nullptr},
    {0x15, PARAM_FUNC, STR_WRITE_VENDOR, &EncHexNum},
    {0x16, PARAM_NONE, STR_READ_SERIAL, nullptr},
    {0x17, PARAM_FUNC, STR_WRITE_SERIAL, &EncHexNum},
    {0x18, PARAM_NONE, STR_READ_HW_TYPE, nullptr},
    {0x26, PARAM_NONE, STR_VOIP_RING, nullptr},
    {0x27, PARAM_NONE, STR_CUSTOM_KEYPAD, nullptr},
    {0x28, PARAM_NONE, STR_ICON_LIGHT, nullptr},
    {0x29, PARAM_NONE, STR_VOLUME_ADJUST, nullptr},
    {0x2A, PARAM_NONE, STR_PHONE_MUTE, nullptr},
    {0x2C, PARAM_FUNC, STR_INIT_EEPROM, &EncHexNum},
    {0x2D, PARAM_NONE, STR_MSG_LED_ON, nullptr},
    {0x2E, PARAM_NONE, STR_MSG_LED_OFF, nullptr},
    {0x2F, PARAM_FUNC, STR_INIT_SETTINGS, &EncHexNum},
    {0x19, PARAM_NONE, STR_KDXVOIP_ON, nullptr},
    {0x1A, PARAM_NONE, STR_KDXVOIP_OFF, nullptr},
};

namespace {

// Opcode -> event row, built at compile time from the event table.
struct evt_index_t {
    const te_evt_op* rows[256];
};

constexpr evt_index_t make_evt_index()
{
    evt_index_t ix{};
    for (const te_evt_op& r : m_evt_list)
        ix.rows[r.opcode] = &r;
    return ix;
}

constinit const evt_index_t evt_index = make_evt_index();

} // namespace

const te_evt_op* evt_row_by_opcode(int opcode)
{
    if (opcode < 0 || opcode > 255)
        return nullptr;
    return evt_index.rows[opcode];
}
