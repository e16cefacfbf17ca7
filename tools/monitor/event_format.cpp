#include "event_format.h"

#include <json/json.h>
#include <telhid.h>

#include <memory>

namespace {

bool parse_object(std::string_view text, Json::Value& v)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &v, &errors) && v.isObject();
}

// A value as the user reads it: strings bare unless they are empty or hold
// blanks, everything else as JSON.
std::string readable(const Json::Value& v)
{
    if (v.isString()) {
        std::string s = v.asString();
        if (s.empty() || s.find_first_of(" \t") != std::string::npos)
            return '"' + s + '"';
        return s;
    }
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    return Json::writeString(w, v);
}

std::string device_text(int device)
{
    return device == -1 ? "all" : std::to_string(device);
}

}  // namespace

std::string pretty_event(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    Json::Value v;
    if (!parse_object(text, v))
        return std::string(text);
    std::string out = "dev " + (v.isMember("dev") ? readable(v["dev"]) : std::string("?"));
    out += "  " + (v.isMember("event") ? v["event"].asString() : std::string("?"));
    std::string values;
    for (const std::string& key : v.getMemberNames()) {
        if (key == "dev" || key == "event")
            continue;
        values += (values.empty() ? "" : " ") + key + "=" + readable(v[key]);
    }
    if (!values.empty())
        out += "  " + values;
    return out;
}

const char* result_text(int result)
{
    return get_error_string(result > 0 ? 0 : result);
}

std::string result_json(const te_command_t& cmd, int result, const char* text)
{
    Json::Value v(Json::objectValue);
    v["command"] = cmd.name;
    v["dev"] = cmd.device;
    v["result"] = result;
    v["text"] = text ? text : "";
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    return Json::writeString(w, v) + "\n";
}

std::string result_pretty(const te_command_t& cmd, int result, const char* text)
{
    std::string out = "> " + cmd.name;
    if (cmd.param)
        out += " \"" + *cmd.param + "\"";
    out += " @" + device_text(cmd.device) + ": " + std::to_string(result);
    if (text)
        out += std::string(" ") + text;
    return out + "\n";
}
