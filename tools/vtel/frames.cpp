#include "frames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace vtel {

std::vector<uint8_t> frame_t::bytes() const
{
    std::vector<uint8_t> b(data.size() + 3);
    b[0] = 0xFF;
    b[1] = static_cast<uint8_t>(data.size() + 1);
    b[2] = opcode;
    std::copy(data.begin(), data.end(), b.begin() + 3);
    return b;
}

namespace detail {

bool build_frame(uint8_t opcode, std::span<const uint8_t> data, std::vector<uint8_t>& out)
{
    if (opcode == 0xFF || data.size() > max_frame_data ||
        std::find(data.begin(), data.end(), 0xFF) != data.end())
        return false;
    out.push_back(0xFF);
    out.push_back(static_cast<uint8_t>(data.size() + 1));
    out.push_back(opcode);
    out.insert(out.end(), data.begin(), data.end());
    return true;
}

namespace {

struct key_t {
    const char* label;
    uint8_t code;
};

// Labels as the telephone's keys are named in English; codes are the
// telephone's scan codes, not digit values.
constexpr key_t m_keys[] = {
    {"0", 0xEC}, {"1", 0x7D}, {"2", 0x7C}, {"3", 0x7B}, {"4", 0xBD}, {"5", 0xBC},
    {"6", 0xBB}, {"7", 0xDD}, {"8", 0xDC}, {"9", 0xDB}, {"*", 0xED}, {"#", 0xEB},
    {"P", 0xAA}, {"UP", 0x7A}, {"DOWN", 0x79}, {"REDIAL", 0xBA}, {"HANDFREE", 0xB9},
    {"DEL", 0xDA}, {"HISTORY DIAL", 0xD9}, {"FLASH/R", 0xEA}, {"PAUSE", 0xE9},
    {"VOIP", 0xF5}, {"RECORD", 0xF4}, {"MISS CALL", 0xF3}, {"DAIL BACK", 0xF2},
    {"LIGHT", 0xF1}, {"M1", 0x51}, {"M2", 0x52}, {"M3", 0x53}, {"M4", 0x54},
    {"M5", 0x55}, {"M6", 0x56}, {"M7", 0x57}, {"M8", 0x58}, {"M9", 0x59},
    {"M10", 0x5A}, {"MUTE", 0x5B}, {"VOL", 0x5C}, {"SETTING", 0xF6},
    {"RINGTONG", 0xF7}, {"KEY-MIC", 0xB8},
};

bool same_label(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = static_cast<char>(std::toupper(static_cast<unsigned char>(a[i])));
        char y = b[i];
        if (x == '_')  // "MISS_CALL" for labels with a blank, handy on a command line
            x = ' ';
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace

std::optional<uint8_t> key_code(std::string_view label)
{
    for (const key_t& k : m_keys)
        if (same_label(label, k.label))
            return k.code;
    if (label.size() > 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
        std::string hex(label.substr(2));
        char* end = nullptr;
        unsigned long v = std::strtoul(hex.c_str(), &end, 16);
        if (*end == 0 && v < 0xFF)
            return static_cast<uint8_t>(v);
    }
    return std::nullopt;
}

bool call_data(std::string_view number, const call_time_t& time, std::vector<uint8_t>& data)
{
    if (number.size() > 64)
        return false;
    for (char c : number)
        if (c < '0' || c > '9')
            return false;
    for (int v : {time.month, time.day, time.hour, time.minute})
        if (v < 0 || v > 254)
            return false;
    data = {0x00, static_cast<uint8_t>(number.size()), static_cast<uint8_t>(time.month),
            static_cast<uint8_t>(time.day), static_cast<uint8_t>(time.hour),
            static_cast<uint8_t>(time.minute)};
    for (size_t i = 0; i < number.size(); i += 2) {
        uint8_t hi = static_cast<uint8_t>(number[i] - '0');
        uint8_t lo = i + 1 < number.size() ? static_cast<uint8_t>(number[i + 1] - '0') : 0x0F;
        data.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

void CFrameReader::feed(std::span<const uint8_t> bytes, time_point t, std::vector<frame_t>& out)
{
    if (stage_ != 0 && t - last_ > milliseconds(500))
        stage_ = 0;
    last_ = t;
    for (uint8_t b : bytes) {
        switch (stage_) {
        case 0:
            if (b == 0xFF)
                stage_ = 1;
            break;
        case 1:
            if (b == 0xFF)
                break;
            if (b == 0) {  // no room for an opcode: not a frame
                stage_ = 0;
                break;
            }
            remain_ = b;
            cur_ = frame_t{};
            cur_.first = t;
            stage_ = 2;
            break;
        case 2:
            cur_.opcode = b;
            stage_ = 3;
            --remain_;
            break;
        default:
            cur_.data.push_back(b);
            --remain_;
            break;
        }
        if (stage_ >= 2 && remain_ == 0) {
            cur_.last = t;
            out.push_back(std::move(cur_));
            cur_ = frame_t{};
            stage_ = 0;
        }
    }
}

}  // namespace detail
}  // namespace vtel
