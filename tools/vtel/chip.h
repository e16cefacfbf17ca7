// Report framing of one telephone interface chip: what the host writes to it
// and what it hands back, byte for byte as hidapi sees them.
#pragma once

#include "vtel.h"

#include <cstdint>
#include <span>
#include <vector>

namespace vtel::detail {

// One fixture per chip (chip_<name>.cpp). The objects are constant and live
// for the whole process.
class CChipModel {
public:
    virtual ~CChipModel() = default;

    te_chip chip;
    const char* name;
    uint16_t vid, pid, usage_page, usage;
    int interface_number;
    const wchar_t* product;

    // Appends the command bytes carried by one written report; false when the
    // report is not an output report of this chip (nothing appended).
    virtual bool unpack_output(std::span<const uint8_t> report, std::vector<uint8_t>& bytes) const = 0;

    // Cuts a byte stream from the telephone into input reports.
    virtual void pack_input(std::span<const uint8_t> bytes,
                            std::vector<std::vector<uint8_t>>& reports) const = 0;

    // Last touch on a packed report as it is handed to a reader, for chips
    // whose reports depend on what was delivered before. Called under the
    // registry lock, so models may keep state for it.
    virtual void deliver(std::vector<uint8_t>& /*report*/) const {}

protected:
    CChipModel(te_chip c, const char* n, uint16_t v, uint16_t p, uint16_t up, uint16_t u, int iface,
               const wchar_t* prod)
        : chip(c), name(n), vid(v), pid(p), usage_page(up), usage(u), interface_number(iface), product(prod)
    {
    }
};

const CChipModel& chip_model(te_chip chip);
const CChipModel& sss1629_model();
const CChipModel& ht82r83x_model();
const CChipModel& tl8258_model();

}  // namespace vtel::detail
