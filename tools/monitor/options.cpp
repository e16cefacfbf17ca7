#include "options.h"

#include <charconv>

const char* const m_monitor_usage =
    "usage: telhid-monitor [OPTIONS]\n"
    "\n"
    "Prints every event of the attached telephones, one JSON line each, and\n"
    "sends the commands read from standard input, one per line:\n"
    "    NAME [PARAMETER] [@DEVICE]\n"
    "NAME is a command name exactly as --list commands shows it (quote it as\n"
    "\"NAME\" when it begins or ends with a blank), PARAMETER its parameter\n"
    "text (quote it to keep blanks at its ends), DEVICE a telephone number or\n"
    "\"all\" (the default). Each command is answered with its result code and\n"
    "text. Lines starting with # are ignored.\n"
    "\n"
    "options:\n"
    "  --pretty               readable lines: time, device, event, values\n"
    "  --lang zh|en           language of event and command names (default zh)\n"
    "  --tcp PORT             receive the events over TCP instead of the callback:\n"
    "                         listen on 127.0.0.1:PORT (0: any free port) and let\n"
    "                         the library connect there; the announcement of a\n"
    "                         newly found telephone is delivered to callbacks only\n"
    "  --linger MS            keep showing events MS milliseconds after the end\n"
    "                         of input (default 0)\n"
    "  --list commands|events print the names and exit\n"
    "  --verbose              show the library's diagnostics on standard error\n"
    "  --version              print the library version and exit\n"
    "  --help                 this text\n"
    "\n"
    "Stops on Ctrl-C or at the end of input.\n";

namespace {

bool to_int(const std::string& s, int lo, int hi, int& v)
{
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    return ec == std::errc() && p == end && v >= lo && v <= hi;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, monitor_options_t& opt, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        if (a == "--pretty") {
            opt.pretty = true;
        } else if (a == "--verbose") {
            opt.verbose = true;
        } else if (a == "--help" || a == "-h") {
            opt.help = true;
        } else if (a == "--version") {
            opt.version = true;
        } else if (a == "--lang") {
            if (!value(v))
                return false;
            if (v == "zh")
                opt.language = 0;
            else if (v == "en")
                opt.language = 1;
            else {
                error = "--lang takes zh or en, not '" + v + "'";
                return false;
            }
        } else if (a == "--tcp") {
            if (!value(v))
                return false;
            if (!to_int(v, 0, 65535, opt.tcp_port)) {
                error = "--tcp takes a port 0-65535, not '" + v + "'";
                return false;
            }
        } else if (a == "--linger") {
            if (!value(v))
                return false;
            if (!to_int(v, 0, 24 * 3600 * 1000, opt.linger_ms)) {
                error = "--linger takes milliseconds, not '" + v + "'";
                return false;
            }
        } else if (a == "--list") {
            if (!value(v))
                return false;
            if (v == "commands" || v == "command")
                opt.list = te_list_kind::commands;
            else if (v == "events" || v == "event")
                opt.list = te_list_kind::events;
            else {
                error = "--list takes commands or events, not '" + v + "'";
                return false;
            }
        } else {
            error = "unknown option '" + a + "'";
            return false;
        }
    }
    return true;
}
