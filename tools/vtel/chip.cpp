#include "chip.h"

#include <strings.h>

namespace vtel {

const char* chip_name(te_chip chip)
{
    return detail::chip_model(chip).name;
}

std::optional<te_chip> chip_by_name(std::string_view name)
{
    for (te_chip c : {te_chip::sss1629, te_chip::ht82r83x, te_chip::tl8258}) {
        std::string_view n = chip_name(c);
        if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0)
            return c;
    }
    return std::nullopt;
}

namespace detail {

const CChipModel& chip_model(te_chip chip)
{
    switch (chip) {
    case te_chip::ht82r83x: return ht82r83x_model();
    case te_chip::tl8258: return tl8258_model();
    case te_chip::sss1629: break;
    }
    return sss1629_model();
}

}  // namespace detail
}  // namespace vtel
