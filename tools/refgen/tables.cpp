#include "tables.h"

#include <cstdio>
#include <string>
#include <vector>

#include "manager/telhid.h"
#include "protocol/opcodes.h"
#include "protocol/proto.h"
#include "protocol/str_table.h"

namespace {

std::string hex(const unsigned char* b, size_t n)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        out += buf;
    }
    return out;
}

std::string hex2(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

// A text in a code span; names with blanks at their ends in quotes, so the
// blank shows.
std::string code(const std::string& s)
{
    if (!s.empty() && (s.front() == ' ' || s.back() == ' '))
        return "`\"" + s + "\"`";
    return "`" + s + "`";
}

std::string names(te_STR_ID row)
{
    std::string zh = str_text(row, 0), en = str_text(row, 1);
    return zh == en ? code(zh) : code(zh) + " / " + code(en);
}

// Example data bytes of an event frame, by opcode.
std::vector<unsigned char> event_example(const te_evt_op& row)
{
    switch (row.opcode) {
    case 0xF1: return {0x00};
    case 0xE0: return {0x7A};
    case 0xE1: return {0x7D};
    case 0xAB: return {0x07};
    case 0x81: return {0xC2};
    case 0xD8: return {0x05};
    case 0xD9: return {0x0A};
    case 0xEC: return {0x0C};
    case 0x85: return {0x83};
    case 0x5C: return {0x07};
    case 0xD1: case 0xD2: case 0xD4: case 0xD5: case 0xD6:
        return {0x00, 0x08, 0x05, 0x0C, 0x09, 0x1E, 0x88, 0x12, 0x34, 0x56};
    case 0x83: return {0x12, 0x34, 0x5F};
    case 0x84: return {0xAB, 0xCD};
    default: return {};
    }
}

const char* event_members(const te_evt_op& row)
{
    switch (row.kind) {
    case PARAM_NONE: return "—";
    case PARAM_BYTE: return "`value`: number, the first data byte";
    case PARAM_CHAR: return "`value`: one character of the row's digit table, `\"unkown\"` beyond it";
    case PARAM_LIST:
        if (row.param.list == &m_key_str_list)
            return "`value`: key name (see Keys)";
        if (row.param.list == &m_state_list)
            return "`value`: state name (see Telephone states)";
        return "`value`: hardware type name (see Hardware types)";
    case PARAM_FUNC: return "`number` and `time` (`\"M-D h:m\"`); or, for a special identity, `time` (`\"MMDDhhmm\"`, now) and `value` (`P`, `O` or `E`)";
    case PARAM_HEX: return "`value`: data bytes as hexadecimal digits, up to an F nibble";
    }
    return "";
}

// Decodes `frame` as telephone 1 in `language`.
std::string decoded(std::vector<unsigned char> frame, int language)
{
    int previous = set_language(language);
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    prot_qm.decode(&dev, frame.data(), static_cast<int>(frame.size()), out);
    set_language(previous);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::string announcement(int row, int language)
{
    int previous = set_language(language);
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    unsigned char b = static_cast<unsigned char>(row);
    prot_qm.decode(&dev, &b, 0, out);
    set_language(previous);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::string events_section()
{
    std::string s = "| Opcode | Event | Members besides `dev`, `event` | Example frame | Event text, language 0 | Event text, language 1 |\n"
                    "|---|---|---|---|---|---|\n";
    for (const te_evt_op& row : m_evt_list) {
        std::vector<unsigned char> data = event_example(row);
        std::vector<unsigned char> frame = {0xFF, static_cast<unsigned char>(data.size() + 1), row.opcode};
        frame.insert(frame.end(), data.begin(), data.end());
        s += "| " + hex2(row.opcode) + " | " + names(row.name) + " | " + event_members(row) + " | `" +
             hex(frame.data(), frame.size()) + "` | `" + decoded(frame, 0) + "` | `" + decoded(frame, 1) + "` |\n";
    }
    s += "| — | " + names(static_cast<te_STR_ID>(137)) + " | — | (no frame: the telephone is gone) | `" +
         announcement(137, 0) + "` | `" + announcement(137, 1) + "` |\n";
    return s;
}

struct cmd_form_t {
    const char* form;
    const char* example;
};

cmd_form_t command_form(const te_evt_op& row)
{
    if (row.kind == PARAM_NONE)
        return {"none (ignored)", nullptr};
    if (row.kind == PARAM_BYTE)
        return {"decimal number; its low 8 bits are sent", row.opcode == 0x24 ? "10" : "1"};
    cmd_encoder_fn f = row.param.enc;
    if (f == LoadString)
        return {"ignored; nothing is sent (result 0)", nullptr};
    if (f == encRFunc)
        return {"decimal number n; n × 10 / 78 is sent", "78"};
    if (f == EncDtmf)
        return {"dial digits `0123456789*#pbc` (P, B, C also), up to the first other character", "12*#p"};
    if (f == EncDtmfNum)
        return {"dial digits `0123456789*#pbc`, packed two per byte, ended by an F nibble", "12*#"};
    if (f == EncHexNum)
        return {"hexadecimal digits `0-9`, `a-e`, packed two per byte, ended by an F nibble", "12345"};
    if (f == EncTime)
        return {"date and/or time: `2023-5-6 10:30:15`, `2023/5/6,10:30:15`, `5/6/2023 10:30:15`, "
                "`5-6 10:30` (this year), `2023-5-6` (now's time), `10:30 pm` (today)",
                "2023-5-6 10:30:15"};
    return {"?", nullptr};
}

std::string commands_section()
{
    std::string s = "| Opcode | Command | Parameter | Example | Frame sent |\n|---|---|---|---|---|\n";
    for (const te_evt_op& row : m_cmd_list) {
        cmd_form_t f = command_form(row);
        unsigned char out[PROT_MAX_FRAME] = {};
        int n = prot_qm.encode(str_text(row.name, 0), f.example, out, sizeof out);
        std::string frame = n > 0 ? "`" + hex(out, static_cast<size_t>(n)) + "`" : n == 0 ? "(nothing)" : "error " + std::to_string(n);
        s += "| " + hex2(row.opcode) + " | " + names(row.name) + " | " + f.form + " | " +
             (f.example ? code(f.example) : std::string("—")) + " | " + frame + " |\n";
    }
    return s;
}

std::string list_section(const te_value_list& list, const char* what)
{
    std::string s = std::string("| ") + what + " | Language 0 | Language 1 |\n|---|---|---|\n";
    for (int i = 0; i < list.count; ++i)
        s += "| " + hex2(list.items[i].code) + " | " + code(str_text(list.items[i].row, 0)) + " | " +
             code(str_text(list.items[i].row, 1)) + " |\n";
    return s;
}

std::string errors_section()
{
    std::string s = "| Code | Language 0 | Language 1 | Meaning |\n|---|---|---|---|\n";
    const std::pair<int, const char*> meaning[] = {
        {0, "success"},
        {-1, "the library could not start (no callback and no TCP peer, already running, no threads), or was never started"},
        {-2, "the encoded command does not fit (a parameter too long)"},
        {-3, "reserved"},
        {-4, "reserved"},
        {-5, "the command name is not a command (names are compared byte for byte)"},
        {-6, "the parameter text is missing or cannot be read"},
        {-8, "a telephone refused the write, for example because it was unplugged meanwhile"},
    };
    for (const auto& [c, m] : meaning) {
        int previous = set_language(0);
        std::string zh = get_error_string(c);
        set_language(1);
        std::string en = get_error_string(c);
        set_language(previous);
        s += "| " + std::to_string(c) + " | " + code(zh) + " | " + code(en) + " | " + m + " |\n";
    }
    return s;
}

}  // namespace

std::map<std::string, std::string> reference_sections()
{
    return {
        {"events", events_section()},
        {"commands", commands_section()},
        {"keys", list_section(m_key_str_list, "Key code")},
        {"states", list_section(m_state_list, "State code")},
        {"hardware", list_section(m_hw_type_list, "Type code")},
        {"errors", errors_section()},
    };
}
