#include "narrator.h"

#include <cstdio>
#include <utility>

namespace {

// English readings of the Chinese names a newcomer meets in this demo.
const std::pair<const char*, const char*> m_glossary[] = {
    {"手柄摘机", "handset lifted"},
    {"手柄挂机", "handset put down"},
    {"免提摘机", "hands-free on"},
    {"电话按键", "key pressed"},
    {"振铃", "ringing"},
    {"来电", "incoming call: caller's number, date and time"},
    {"取版本号", "firmware version"},
    {"电话状态查询", "telephone state"},
    {"IDLE状态", "idle"},
};

std::string gloss(std::string_view text)
{
    std::string out;
    for (const auto& [zh, en] : m_glossary) {
        if (text.find(std::string("\"") + zh + "\"") != std::string_view::npos)
            out += (out.empty() ? "" : "; ") + std::string(zh) + " = " + en;
    }
    return out;
}

}  // namespace

std::string hex_bytes(const unsigned char* data, size_t size)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        out += buf;
    }
    return out;
}

void CNarrator::out(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs(text.c_str(), file_);
    std::fflush(file_);
}

void CNarrator::title(std::string_view text)
{
    std::string line(72, '=');
    out(line + "\n" + std::string(text) + "\n" + line + "\n");
}

void CNarrator::part(std::string_view text)
{
    out("\n" + std::string(text) + "\n" + std::string(72, '-') + "\n");
}

void CNarrator::step(std::string_view text)
{
    int n;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        n = ++step_;
    }
    out("\n" + std::to_string(n) + ". " + std::string(text) + "\n");
}

void CNarrator::note(std::string_view text)
{
    out("   " + std::string(text) + "\n");
}

void CNarrator::action(std::string_view who, std::string_view text)
{
    std::string label = std::string(who) + " >";
    label.resize(12, ' ');
    out("   " + label + " " + std::string(text) + "\n");
}

void CNarrator::reply(std::string_view who, std::string_view text)
{
    std::string label = std::string(who) + " <";
    label.resize(12, ' ');
    out("   " + label + " " + std::string(text) + "\n");
}

void CNarrator::event(std::string_view text)
{
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    std::string g = gloss(text);
    out("   event <      " + std::string(text) + (g.empty() ? "" : "\n                  (" + g + ")") + "\n");
}
