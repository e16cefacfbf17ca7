// The command and event names, as the library lists them.
#pragma once

#include <string>
#include <vector>

// Names of all commands (events = false) or events in the given language
// (0 Chinese, 1 English; -1 the current one), in the library's order.
// Switches the library's language for the moment of the call: use it before
// the library is started.
std::vector<std::string> load_names(bool events, int language = -1);

// `name` as a user types it on the monitor's command line: in double quotes
// when it begins or ends with a blank, so that the blank is visible.
std::string quoted_name(const std::string& name);
