#include "manager/uevent.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/utils.h"
#include "manager/hid_server.h"

const std::vector<std::string> action_list = {"change", "remove", "add", "bind", "unbind"};
const std::vector<std::string> subsystem_lsit = {"hid"};

int find_list_item(const std::string& text, const std::vector<std::string>& list)
{
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == text)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

std::optional<uint32_t> parse_hid_uevent(const char* data, size_t length)
{
    int action = 0;
    int subsystem = 0;
    size_t pos = 0;
    std::string line;
    while (pos < length) {
        // The last text of a truncated datagram may lack its terminator.
        size_t n = strnlen(data + pos, length - pos);
        line.assign(data + pos, n);
        pos += n + 1;

        std::string key, value;
        get_key_value(line.data(), key, value);
        LOGD(8, "%s\n", line.c_str());
        if (key == "ACTION") {
            action = find_list_item(value, action_list);
        } else if (key == "SUBSYSTEM") {
            subsystem = find_list_item(value, subsystem_lsit);
        } else if (key == "HID_ID" && action != 0 && subsystem != 0) {
            std::vector<std::string> parts;
            string_split(value, parts, ':');
            if (parts.size() != 3)
                continue;
            uint32_t vendor = static_cast<uint32_t>(atox(parts[1].c_str(), 1));
            uint32_t product = static_cast<uint32_t>(atox(parts[2].c_str(), 1));
            return (vendor << 16) | (product & 0xFFFF);
        }
    }
    return std::nullopt;
}
