#include "name_list.h"

#include <json/json.h>
#include <telhid.h>

#include <memory>

std::vector<std::string> load_names(bool events, int language)
{
    int previous = language >= 0 ? set_language(language) : -1;
    const char* kind = events ? "event" : "command";
    std::vector<std::string> names;
    int len = load_string_list(kind, nullptr, 0, nullptr);
    if (len > 0) {
        std::string text(static_cast<size_t>(len) + 1, '\0');
        load_string_list(kind, text.data(), len + 1, nullptr);
        text.resize(static_cast<size_t>(len));
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (reader->parse(text.data(), text.data() + text.size(), &root, &errors) && root.isObject()) {
            for (const Json::Value& v : root[kind])
                if (v.isString())
                    names.push_back(v.asString());
        }
    }
    if (previous >= 0)
        set_language(previous);
    return names;
}

std::string quoted_name(const std::string& name)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (!name.empty() && (blank(name.front()) || blank(name.back())))
        return '"' + name + '"';
    return name;
}
