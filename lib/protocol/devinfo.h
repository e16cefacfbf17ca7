// The per-device record that the protocol engine receives with every report
// of a device: the device number and the device's own frame-parser state.
//
// The parser state is held here, per device, and not in the protocol object:
// several telephones share one protocol object, and their reader threads feed
// it concurrently; interleaved partial frames of two devices never meet.
//
// Threading: a devinfo_t is written by CProtocol::decode on the reader thread
// of its device only (one call at a time per device). decode with a count of
// 0 (announcements) reads only `id` and may run on any thread.
#pragma once

#include <cstdint>

// Parser state of the frame "FF, L, opcode, L-1 data bytes".
struct frame_parser_t {
    uint8_t stage = 0;        // 0 start byte, 1 length, 2 opcode, 3 data
    uint8_t opcode = 0;       // opcode of the frame being received
    uint8_t remain = 0;       // frame bytes still expected (8-bit count)
    uint8_t frame_len = 0;    // the frame's length byte L
    uint16_t count = 0;       // data bytes held in `data`
    uint32_t last_tick = 0;   // tick (ms, 32 bits) of the previous decode with bytes
    uint8_t data[255] = {};   // data bytes; a length byte of 0 gives the most, 255
};

struct devinfo_t {
    int id = 0;               // device number (unsigned 16-bit), "dev" in event texts
    frame_parser_t parser;    // owned by the protocol engine

    // Clears everything but `id` (a device being opened again).
    void reset() { parser = frame_parser_t(); }
};
