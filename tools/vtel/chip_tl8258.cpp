// TL8258: report 4 on vendor page 0xFF01. Output: id, count, six bytes and a
// filler byte (9). Input: id and eight bytes of frame stream padded with 0xFF,
// which the host's frame parser skips.
#include "chip.h"

namespace vtel::detail {
namespace {

constexpr uint8_t report_id = 0x04;
constexpr size_t out_len = 9;
constexpr size_t out_chunk = 6;
constexpr size_t in_len = 9;
constexpr size_t in_chunk = 8;

class CTl8258Model final : public CChipModel {
public:
    // Any product id in 0x8001-0x8020 is one of these telephones.
    CTl8258Model() : CChipModel(te_chip::tl8258, "tl8258", 0x2488, 0x8010, 0xFF01, 0x0001, 3, L"TL8258 USB Phone") {}

    bool unpack_output(std::span<const uint8_t> r, std::vector<uint8_t>& bytes) const override
    {
        if (r.size() != out_len || r[0] != report_id || r[1] < 1 || r[1] > out_chunk)
            return false;
        bytes.insert(bytes.end(), r.begin() + 2, r.begin() + 2 + r[1]);
        return true;
    }

    void pack_input(std::span<const uint8_t> bytes, std::vector<std::vector<uint8_t>>& reports) const override
    {
        for (size_t i = 0; i < bytes.size(); i += in_chunk) {
            size_t n = std::min(in_chunk, bytes.size() - i);
            std::vector<uint8_t> r(in_len, 0xFF);
            r[0] = report_id;
            std::copy_n(bytes.begin() + i, n, r.begin() + 1);
            reports.push_back(std::move(r));
        }
    }
};

}  // namespace

const CChipModel& tl8258_model()
{
    static const CTl8258Model m;
    return m;
}

}  // namespace vtel::detail
