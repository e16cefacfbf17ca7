// What the monitor prints for an event and for a command's result.
#pragma once

#include <string>
#include <string_view>

#include "command_line.h"

// The readable form of an event text, without its line feed:
//   dev 1  来电  number=88123456 time="5-12 9:30"
// A text that is not a JSON object is returned as it is.
std::string pretty_event(std::string_view text);

// The result of a command as one JSON line (with its line feed), members in
// byte order of their names like the events:
//   {"command":"读取版本信息","dev":-1,"result":3,"text":"SUCCESS"}
// `text` is the library's text for the code (null: none).
std::string result_json(const te_command_t& cmd, int result, const char* text);

// The same in the readable form:   > 读取版本信息 @all: 3 SUCCESS
std::string result_pretty(const te_command_t& cmd, int result, const char* text);

// The library's text for a command result: the error text of a negative
// code, the success text for 0 and for the positive byte counts of a write.
const char* result_text(int result);
