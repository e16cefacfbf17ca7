// The user configuration file $HOME/.config/.vexconfig: "KEY = value" lines.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/utils.h"
#include "manager/hid_server.h"

unsigned char gheckBeatheart = 0;

namespace {
constexpr size_t kConfigLimit = 512;  // only the head of the file counts
}

void CHidManagerServer::load_config()
{
    const char* home = getenv("HOME");
    if (!home)
        return;
    std::string path = std::string(home) + "/.config/.vexconfig";
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return;
    char buf[kConfigLimit];
    size_t n = fread(buf, 1, sizeof(buf), f);
    fclose(f);
    if (n == 0)
        return;

    std::vector<std::string> lines;
    string_split(std::string(buf, n), lines, '\n');
    for (std::string& line : lines) {
        std::string key, value;
        get_key_value(line.data(), key, value);
        if (key == "BEATHEART")
            gheckBeatheart = static_cast<unsigned char>(atoi(value.c_str()) & 0xFF);
    }
}
