// Command line of telhid-monitor.
#pragma once

#include <string>
#include <vector>

enum class te_list_kind { none, commands, events };

struct monitor_options_t {
    bool pretty = false;
    int language = -1;      // -1: keep the library's default (Chinese)
    int tcp_port = -1;      // -1: callback delivery; 0: any free port; >0: that port
    int linger_ms = 0;      // how long events are still shown after end of input
    bool verbose = false;   // the library's own diagnostics to standard error
    te_list_kind list = te_list_kind::none;
    bool help = false;
    bool version = false;
};

// Fills `opt` from argv[1..]. Returns true, or false with a message for the
// user in `error`.
bool parse_options(const std::vector<std::string>& args, monitor_options_t& opt, std::string& error);

extern const char* const m_monitor_usage;
