// SSS1629: unnumbered 5-byte output reports 00 80 b b b; 4-byte input reports
// carrying three frame bytes, whose byte 3 bit 0 is the chip's own toggle bit
// (the frame's bit 0 of that byte travels in bit 7 of byte 0). The host drops
// a report whose byte 3 equals the previous one's, so the toggle must make
// consecutive reports differ.
#include "chip.h"

namespace vtel::detail {
namespace {

constexpr size_t out_len = 5;
constexpr size_t in_len = 4;

class CSss1629Model final : public CChipModel {
public:
    CSss1629Model() : CChipModel(te_chip::sss1629, "sss1629", 0x0C76, 0x1685, 0x000C, 0x0001, 3, L"SSS1629 USB Phone") {}

    bool unpack_output(std::span<const uint8_t> r, std::vector<uint8_t>& bytes) const override
    {
        if (r.size() != out_len || r[0] != 0x00 || r[1] != 0x80)
            return false;
        bytes.insert(bytes.end(), r.begin() + 2, r.end());
        return true;
    }

    void pack_input(std::span<const uint8_t> bytes, std::vector<std::vector<uint8_t>>& reports) const override
    {
        for (size_t i = 0; i < bytes.size(); i += 3) {
            std::vector<uint8_t> r(in_len, 0xFF);
            for (size_t k = 0; k < 3 && i + k < bytes.size(); ++k)
                r[1 + k] = bytes[i + k];
            r[0] = (r[3] & 1) ? 0x80 : 0x00;
            r[3] &= 0xFE;
            reports.push_back(std::move(r));
        }
    }

    // The toggle is chosen at delivery against the report delivered last to
    // any SSS1629 reader, because the host's repetition check is shared by
    // all telephones of this chip.
    void deliver(std::vector<uint8_t>& r) const override
    {
        if (r.size() != in_len)
            return;
        r[3] = static_cast<uint8_t>((r[3] & 0xFE) | ((last_byte3_ & 1) ^ 1));
        last_byte3_ = r[3];
    }

private:
    mutable uint8_t last_byte3_ = 0;  // the host starts from 0 as well
};

}  // namespace

const CChipModel& sss1629_model()
{
    static const CSss1629Model m;
    return m;
}

}  // namespace vtel::detail
