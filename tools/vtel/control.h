// The control language: one command per line, for scripts, the control
// socket and run_command.
#pragma once

#include "vtel.h"

#include <string>
#include <string_view>

namespace vtel::detail {

// State of one conversation: which telephone the commands address.
struct session_t {
    int current = 0;  // 0: the telephone plugged last
};

int execute(session_t& s, std::string_view line, std::string& reply);

}  // namespace vtel::detail
