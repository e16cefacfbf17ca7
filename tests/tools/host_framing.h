// What a host does with each chip's reports, written from the chips' report
// layouts, independent of the simulator: the other side of the round trips.
#pragma once

#include "vtel.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace host {

using bytes_t = std::vector<uint8_t>;

// Output reports carrying `cmd`, as a host writes them.
inline std::vector<bytes_t> pack_output(vtel::te_chip chip, const bytes_t& cmd)
{
    std::vector<bytes_t> out;
    const size_t chunk = chip == vtel::te_chip::sss1629 ? 3 : 6;
    for (size_t i = 0; i < cmd.size(); i += chunk) {
        size_t n = std::min(chunk, cmd.size() - i);
        bytes_t r;
        switch (chip) {
        case vtel::te_chip::sss1629: r = {0x00, 0x80, 0xFF, 0xFF, 0xFF}; break;
        case vtel::te_chip::ht82r83x: r = bytes_t(8, 0xFF), r[0] = 0x03; break;
        case vtel::te_chip::tl8258: r = bytes_t(9, 0xFF), r[0] = 0x04; break;
        }
        if (chip != vtel::te_chip::sss1629)
            r[1] = static_cast<uint8_t>(n);
        std::copy_n(cmd.begin() + i, n, r.begin() + 2);
        out.push_back(r);
    }
    return out;
}

// Frame-stream bytes of one input report as the host's chip driver passes
// them on; `last3` is the SSS1629 repetition state (byte 3 as received).
inline bytes_t unpack_input(vtel::te_chip chip, bytes_t r, uint8_t& last3)
{
    switch (chip) {
    case vtel::te_chip::sss1629: {
        if (r.size() <= 3)
            return r;
        uint8_t raw = r[3];
        r[3] = static_cast<uint8_t>((r[3] & 0xFE) | (r[0] >> 7));
        if (raw == last3)
            return {};  // a repeated report
        last3 = raw;
        return bytes_t(r.begin() + 1, r.end());
    }
    case vtel::te_chip::ht82r83x: {
        size_t n = r.size() > 1 ? std::min<size_t>(r[1] & 0x0F, r.size() - 2) : 0;
        return bytes_t(r.begin() + 2, r.begin() + 2 + n);
    }
    case vtel::te_chip::tl8258:
        return r.empty() ? r : bytes_t(r.begin() + 1, r.end());
    }
    return {};
}

// Frames in a byte stream: 0xFF, length, opcode, data; 0xFF after the length
// byte is filler and not counted.
inline std::vector<bytes_t> frames_in(const bytes_t& s)
{
    std::vector<bytes_t> out;
    int stage = 0;
    uint8_t remain = 0;
    bytes_t cur;
    for (uint8_t b : s) {
        if (stage == 0) {
            if (b == 0xFF)
                stage = 1;
            continue;
        }
        if (b == 0xFF)
            continue;
        if (stage == 1) {
            remain = b;
            cur = {0xFF, b};
            stage = 2;
            continue;
        }
        cur.push_back(b);
        if (--remain == 0) {
            out.push_back(cur);
            stage = 0;
        }
    }
    return out;
}

}  // namespace host
