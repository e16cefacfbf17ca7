// HT82R83X: report 3 on vendor page 0xFF00 in both directions; 8 bytes of
// report id, count and six bytes padded with 0xFF.
#include "chip.h"

namespace vtel::detail {
namespace {

constexpr uint8_t report_id = 0x03;
constexpr size_t report_len = 8;
constexpr size_t chunk = 6;

class CHt82r83xModel final : public CChipModel {
public:
    CHt82r83xModel() : CChipModel(te_chip::ht82r83x, "ht82r83x", 0x04D9, 0x2832, 0xFF00, 0x0001, 2, L"HT82R83X USB Phone") {}

    bool unpack_output(std::span<const uint8_t> r, std::vector<uint8_t>& bytes) const override
    {
        if (r.size() != report_len || r[0] != report_id || r[1] < 1 || r[1] > chunk)
            return false;
        bytes.insert(bytes.end(), r.begin() + 2, r.begin() + 2 + r[1]);
        return true;
    }

    void pack_input(std::span<const uint8_t> bytes, std::vector<std::vector<uint8_t>>& reports) const override
    {
        for (size_t i = 0; i < bytes.size(); i += chunk) {
            size_t n = std::min(chunk, bytes.size() - i);
            std::vector<uint8_t> r(report_len, 0xFF);
            r[0] = report_id;
            r[1] = static_cast<uint8_t>(n);
            std::copy_n(bytes.begin() + i, n, r.begin() + 2);
            reports.push_back(std::move(r));
        }
    }
};

}  // namespace

const CChipModel& ht82r83x_model()
{
    static const CHt82r83xModel m;
    return m;
}

}  // namespace vtel::detail
