// Command encoding: a command name and its parameter text become one frame
// "FF, L, opcode, L-1 data bytes".
#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/utils.h"
#include "protocol/proto.h"

namespace {

const char dial_chars[] = "0123456789*#pbc";

// Reads a decimal number as atoi does (leading blanks, optional sign, digits
// up to the first other character; 0 without digits; out-of-range texts
// saturate to long and are then narrowed to int). `digits` tells whether any
// digit was read.
int read_decimal(const char* s, bool* digits = nullptr)
{
    char* end = nullptr;
    long v = strtol(s, &end, 10);
    if (digits)
        *digits = end != s;
    return static_cast<int>(static_cast<unsigned long>(v));
}

// Value 0-14 of a digit of the hexadecimal parameter texts, or -1 (which
// includes 'f'/'F', the end mark).
int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'e')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'E')
        return c - 'A' + 10;
    return -1;
}

uint8_t opcode_of(const te_evt_op* row, uint8_t fallback)
{
    return row ? row->opcode : fallback;
}

} // namespace

int CProtocol::check_param(const te_evt_op* row, unsigned char* frame, int n)
{
    // Only "写FLASH时间": its parameter byte must not be 0 or 0xFF.
    if (row && row->opcode == 0x24 && frame && n >= 4 && (frame[3] == 0 || frame[3] == 0xFF))
        frame[3] = 0xFE;
    return n;
}

int CProtocol::encode(const char* name, const char* text, unsigned char* out, int size)
{
    if (!out || size < 1)
        return PROT_ERR_BUFF_NOT_ENOUGH;
    out[0] = 0xFF;
    const te_evt_op* row = find_command(name);
    if (!row)
        return PROT_ERR_UNKNOWN_CMD;
    switch (row->kind) {
    case PARAM_NONE:
        if (size < 3)
            return PROT_ERR_BUFF_NOT_ENOUGH;
        out[1] = 1;
        out[2] = row->opcode;
        return 3;
    case PARAM_BYTE:
        if (!text)
            return PROT_ERR_WRONG_PARAM;
        if (size < 4)
            return PROT_ERR_BUFF_NOT_ENOUGH;
        out[1] = 2;
        out[2] = row->opcode;
        out[3] = static_cast<unsigned char>(read_decimal(text) & 0xFF);
        check_param(row, out, 4);
        return 4;
    case PARAM_FUNC:
        if (row->param.enc)
            return row->param.enc(row, text, out, size);
        return PROT_ERR_UNKNOWN_CMD;
    default:
        return PROT_ERR_UNKNOWN_CMD;
    }
}

int LoadString(const te_evt_op*, const char*, unsigned char*, int)
{
    return 0;  // the heartbeat sends nothing
}

int encRFunc(const te_evt_op*, const char* text, unsigned char* out, int size)
{
    if (!text)
        return PROT_ERR_WRONG_PARAM;
    if (!out || size < 4)
        return PROT_ERR_BUFF_NOT_ENOUGH;
    long long n = read_decimal(text);
    out[0] = 0xFF;
    out[1] = 2;
    out[2] = 0x65;
    out[3] = static_cast<unsigned char>((n * 10 / 78) & 0xFF);
    return 4;
}

int EncDtmf(const te_evt_op* row, const char* text, unsigned char* out, int size)
{
    if (!text)
        return PROT_ERR_WRONG_PARAM;
    size_t n = strlen(text);
    if (!out || size < 0 || static_cast<size_t>(size) <= n + 3)
        return PROT_ERR_BUFF_NOT_ENOUGH;
    if (n == 0)
        return PROT_ERR_WRONG_PARAM;
    out[2] = opcode_of(row, 0x11);
    out[3] = 0x64;
    int m = 0;
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c < '0' || c > '9')
            c = static_cast<char>(c | 0x20);
        const char* p = strchr(dial_chars, c);
        if (!p || c == '\0')
            break;
        if (4 + m >= PROT_MAX_FRAME)
            return PROT_ERR_BUFF_NOT_ENOUGH;  // the length byte would not fit
        out[4 + m++] = static_cast<unsigned char>(p - dial_chars);
    }
    out[0] = 0xFF;
    out[1] = static_cast<unsigned char>(m + 2);
    return m + 4;
}

int EncDtmfNum(const te_evt_op* row, const char* text, unsigned char* out, int size)
{
    if (!text)
        return PROT_ERR_WRONG_PARAM;
    std::string copy(text);
    for (char& c : copy) {
        switch (c) {
        case '*': c = 'a'; break;
        case '#': c = 'b'; break;
        case 'p': c = 'c'; break;
        case 'b': c = 'd'; break;
        case 'c': c = 'e'; break;
        default: break;
        }
    }
    return EncHexNum(row, copy.c_str(), out, size);
}

int EncHexNum(const te_evt_op* row, const char* text, unsigned char* out, int size)
{
    if (!text || !*text)
        return PROT_ERR_WRONG_PARAM;
    // The digits, then exactly one end nibble 0xF, padded with a 0 nibble.
    int k = 0;
    while (hex_digit(text[k]) >= 0)
        ++k;
    const int packed = (k + 2) / 2;
    const int total = 3 + packed;
    if (!out || total > size || total > PROT_MAX_FRAME)
        return PROT_ERR_BUFF_NOT_ENOUGH;
    out[0] = 0xFF;
    out[1] = static_cast<unsigned char>(1 + packed);
    out[2] = opcode_of(row, 0x15);
    for (int i = 0; i < packed; ++i) {
        int hi = 2 * i, lo = 2 * i + 1;
        unsigned h = hi < k ? hex_digit(text[hi]) : (hi == k ? 0xF : 0);
        unsigned l = lo < k ? hex_digit(text[lo]) : (lo == k ? 0xF : 0);
        out[3 + i] = static_cast<unsigned char>((h << 4) | l);
    }
    return total;
}

int EncTime(const te_evt_op* row, const char* text, unsigned char* out, int size)
{
    if (!out || size <= 8)
        return PROT_ERR_BUFF_NOT_ENOUGH;
    if (!text)
        return PROT_ERR_WRONG_PARAM;

    std::string s(text);
    trim(s);
    std::replace(s.begin(), s.end(), ',', ' ');

    time_t t = protocol_now();
    struct tm now;
    if (!localtime_r(&t, &now))
        return PROT_ERR_WRONG_PARAM;
    const int Y = now.tm_year + 1900;

    // Slots 0-5: year, month, day, hour, minute, second. An am/pm word takes
    // a slot with the value 0. `nums` are the numbers alone, in order.
    int slot[8] = {0};
    int used = 0;
    int nums[8];
    int numbers = 0;
    int offset = 0;
    char first_sep = 0;       // separator after the first number
    bool blank_seen = false;  // a number followed by a blank was seen
    bool moved = false;       // month and day without year were moved

    size_t pos = 0;
    while (used < 8 && pos < s.size()) {
        size_t end = s.find_first_of("-:/ ", pos);
        if (end == std::string::npos)
            end = s.size();
        if (end == pos)
            break;  // empty token
        if (end - pos > 9)
            return PROT_ERR_WRONG_PARAM;
        const std::string tok = s.substr(pos, end - pos);
        const char sep = end < s.size() ? s[end] : 0;
        pos = end < s.size() ? end + 1 : end;
        while (pos < s.size() && s[pos] == ' ')
            ++pos;

        if (tok.size() >= 2 && (tok[1] == 'm' || tok[1] == 'M')) {
            offset = (tok[0] == 'p' || tok[0] == 'P') ? 12 : 0;
            slot[used++] = 0;
            continue;
        }
        bool digits = false;
        int v = read_decimal(tok.c_str(), &digits);
        if (!digits || v < 0)
            continue;  // not a number: uses no slot
        slot[used++] = v;
        nums[numbers++] = v;
        if (numbers == 1)
            first_sep = sep;
        if (sep == ' ' && !blank_seen) {
            blank_seen = true;
            if (first_sep != ':' && used == 2 && numbers == 2) {
                // month and day without a year
                slot[2] = slot[1];
                slot[1] = slot[0];
                slot[0] = Y;
                used = 3;
                moved = true;
            }
        }
    }

    int year, month, day, hour, minute, second;
    if (numbers > 0 && first_sep == ':') {
        // A time (hour and minute, perhaps second) of today.
        if (numbers < 2 || numbers > 3)
            return PROT_ERR_WRONG_PARAM;
        year = Y;
        month = now.tm_mon + 1;
        day = now.tm_mday;
        hour = nums[0];
        minute = nums[1];
        second = numbers == 3 ? nums[2] : 0;
    } else if (used <= 3) {
        if (used <= 1)
            return PROT_ERR_WRONG_PARAM;
        if (used == 2) {
            year = Y;
            month = slot[0];
            day = slot[1];
        } else {
            year = slot[0];
            month = slot[1];
            day = slot[2];
        }
        hour = now.tm_hour;
        minute = now.tm_min;
        second = now.tm_sec;
    } else {
        if (used < 5)
            return PROT_ERR_WRONG_PARAM;
        year = slot[0];
        month = slot[1];
        day = slot[2];
        hour = slot[3];
        minute = slot[4];
        second = slot[5];
    }
    // A slashed date whose third number is a year was month/day/year.
    if (first_sep == '/' && !moved && used >= 3 && (slot[2] > 2000 || slot[2] == Y - 2000)) {
        year = slot[2];
        month = slot[0];
        day = slot[1];
    }
    hour += offset;

    if (month > 12 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return PROT_ERR_WRONG_PARAM;

    printf("datetime: %d-%d-%d,%d:%d:%d\n", year, month, day, hour, minute, second);

    const int year_byte = year >= 2000 ? year - 2000 : year;
    out[0] = 0xFF;
    out[1] = 7;
    out[2] = opcode_of(row, 0x22);
    out[3] = static_cast<unsigned char>(year_byte & 0xFF);
    out[4] = static_cast<unsigned char>(month & 0xFF);
    out[5] = static_cast<unsigned char>(day & 0xFF);
    out[6] = static_cast<unsigned char>(hour & 0xFF);
    out[7] = static_cast<unsigned char>(minute & 0xFF);
    out[8] = static_cast<unsigned char>(second & 0xFF);
    return 9;
}
