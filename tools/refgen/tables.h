// The generated sections of the reference, as Markdown.
#pragma once

#include <map>
#include <string>

// Section name -> Markdown text: "events", "commands", "keys", "states",
// "hardware", "errors".
std::map<std::string, std::string> reference_sections();
