// Frames in both directions: building the telephone's event frames and
// reassembling the host's command frames from the bytes it writes. Opcodes
// and layouts are the telephone's own; nothing here is shared with the
// library under test.
#pragma once

#include "vtel.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vtel::detail {

// Event opcodes (telephone to host).
namespace evt {
constexpr uint8_t handsfree_up = 0xE3, handsfree_down = 0xE4;
constexpr uint8_t handset_up = 0xE7, handset_down = 0xE8;
constexpr uint8_t parallel_up = 0xE9, parallel_down = 0xEA;
constexpr uint8_t ring = 0xE5, dial_done = 0xD3, busy_tone = 0xEB, upload_done = 0xD7;
constexpr uint8_t key = 0xE0, state = 0xAB, version = 0x81, dtmf = 0xD8, hw_type = 0x85;
constexpr uint8_t volume = 0x5C;
}  // namespace evt

// Command opcodes (host to telephone) the telephone answers.
namespace cmd {
constexpr uint8_t read_version = 0x01, read_state = 0x21, read_hw_type = 0x18;
}  // namespace cmd

constexpr size_t max_frame_data = 253;  // the length byte counts opcode and data, never 0xFF

// FF, L, opcode, data. False (nothing appended) when a data byte is 0xFF,
// which the frame cannot carry, or the data are too long.
bool build_frame(uint8_t opcode, std::span<const uint8_t> data, std::vector<uint8_t>& out);

// Key code for a key label or "0xNN"; nullopt for an unknown label.
std::optional<uint8_t> key_code(std::string_view label);

// Data of a caller-identity or call-record frame: 0, digit count, month, day,
// hour, minute, then the digits two per byte (0xF fills the last low half).
// False for non-digits, more than 64 digits or time fields above 254.
bool call_data(std::string_view number, const call_time_t& time, std::vector<uint8_t>& data);

// Reassembles command frames from the command bytes of written reports. A
// frame is its length byte's count of bytes after the length, whatever they
// are (a command may carry 0xFF as data); a frame left incomplete for more
// than 500 ms is dropped, like the host's own parser does with event frames.
class CFrameReader {
public:
    void feed(std::span<const uint8_t> bytes, time_point t, std::vector<frame_t>& out);

private:
    int stage_ = 0;  // 0 start byte, 1 length, 2 opcode, 3 data
    uint8_t remain_ = 0;
    frame_t cur_;
    time_point last_{};
};

}  // namespace vtel::detail
