// telhid-refgen FILE: rewrites the generated sections of a Markdown file,
// each between the lines
//   <!-- generated: NAME -->
//   <!-- end generated -->
// with the tables the library itself gives (events, commands, keys, states,
// hardware, errors). With --check it changes nothing and fails when the file
// is out of date.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "tables.h"

namespace {

bool regenerate(const std::string& text, std::string& out, std::string& error)
{
    const auto sections = reference_sections();
    const std::string open = "<!-- generated: ", close = "<!-- end generated -->";
    std::istringstream in(text);
    std::string line, current;
    for (std::getline(in, line); in; std::getline(in, line)) {
        if (current.empty()) {
            out += line + "\n";
            if (line.rfind(open, 0) == 0) {
                current = line.substr(open.size(), line.find(" -->") - open.size());
                auto it = sections.find(current);
                if (it == sections.end()) {
                    error = "unknown section '" + current + "'";
                    return false;
                }
                out += it->second;
            }
        } else if (line == close) {
            out += line + "\n";
            current.clear();
        }
    }
    if (!current.empty()) {
        error = "section '" + current + "' is not closed";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    bool check = argc == 3 && !std::strcmp(argv[1], "--check");
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: telhid-refgen [--check] FILE.md\n");
        return 2;
    }
    const std::string path = argv[argc - 1];
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "telhid-refgen: cannot read %s\n", path.c_str());
        return 1;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    std::string out, error;
    if (!regenerate(ss.str(), out, error)) {
        std::fprintf(stderr, "telhid-refgen: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    if (check) {
        if (out == ss.str())
            return 0;
        std::fprintf(stderr, "telhid-refgen: %s is out of date; regenerate it with telhid-refgen %s\n",
                     path.c_str(), path.c_str());
        return 1;
    }
    std::ofstream(path, std::ios::binary) << out;
    return 0;
}
