// One line of the monitor's input: NAME [PARAMETER] [@DEVICE].
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct te_command_t {
    std::string name;
    std::optional<std::string> param;  // absent: the library gets a null parameter
    int device = -1;                   // -1: every telephone
};

enum class te_parse { command, empty, error };

// Command names may hold blanks ("USB Beatheart") or end in one
// ("电话机插入 "), so the name is the longest of `names` that the line starts
// with; a line that starts with none of them takes its first word as the name
// (the library then answers that it does not know it). A name or a parameter
// can also be written in double quotes. Blank lines and lines starting with #
// give `empty`; a malformed line gives `error` with a message in `error`.
te_parse parse_command_line(std::string_view line, const std::vector<std::string>& names, te_command_t& cmd,
                            std::string& error);
