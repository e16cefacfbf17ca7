#include "command_line.h"

#include <charconv>

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim_left(std::string_view s)
{
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trim_right(std::string_view s)
{
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool parse_device(std::string_view token, int& device)
{
    if (token == "all" || token == "*") {
        device = -1;
        return true;
    }
    const char* end = token.data() + token.size();
    auto [p, ec] = std::from_chars(token.data(), end, device);
    return ec == std::errc() && p == end && device >= -1 && device <= 65535;
}

// Length of the longest known name at the start of `s`, or 0. A name's own
// trailing blank may be left out at the end of the line.
size_t match_name(std::string_view s, const std::vector<std::string>& names, std::string& found)
{
    size_t best = 0;
    for (const std::string& n : names) {
        if (n.empty() || n.size() <= best)
            continue;
        bool whole = s.substr(0, n.size()) == n &&
                     (s.size() == n.size() || is_blank(n.back()) || is_blank(s[n.size()]));
        bool trimmed = is_blank(n.back()) && s == trim_right(n);
        if (whole || trimmed) {
            best = n.size();
            found = n;
        }
    }
    return best;
}

}  // namespace

te_parse parse_command_line(std::string_view line, const std::vector<std::string>& names, te_command_t& cmd,
                            std::string& error)
{
    cmd = te_command_t{};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    std::string_view s = trim_left(line);
    if (s.empty() || s.front() == '#')
        return te_parse::empty;

    // The device is the last word when it starts with "@".
    std::string_view body = trim_right(s);
    size_t last = body.find_last_of(" \t");
    std::string_view token = last == std::string_view::npos ? body : body.substr(last + 1);
    if (token.size() > 0 && token.front() == '@') {
        if (!parse_device(token.substr(1), cmd.device)) {
            error = "bad device '" + std::string(token) + "': a telephone number or all";
            return te_parse::error;
        }
        s = last == std::string_view::npos ? std::string_view{} : s.substr(0, last);
    }
    if (trim_right(s).empty()) {
        error = "missing command name";
        return te_parse::error;
    }

    std::string_view rest;
    if (s.front() == '"') {
        size_t close = s.find('"', 1);
        if (close == std::string_view::npos) {
            error = "missing closing quote after the name";
            return te_parse::error;
        }
        cmd.name = std::string(s.substr(1, close - 1));
        rest = s.substr(close + 1);
    } else if (size_t n = match_name(s, names, cmd.name); n > 0) {
        rest = n < s.size() ? s.substr(n) : std::string_view{};
    } else {
        size_t end = s.find_first_of(" \t");
        cmd.name = std::string(s.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : s.substr(end);
    }

    rest = trim_right(trim_left(rest));
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
        cmd.param = std::string(rest.substr(1, rest.size() - 2));
    else if (!rest.empty())
        cmd.param = std::string(rest);
    return te_parse::command;
}
