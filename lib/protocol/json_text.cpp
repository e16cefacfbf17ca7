// The library's JSON text: one line, no blanks, members in byte order of
// their names, UTF-8 (and 0x7F) copied unescaped, control bytes escaped with
// short forms or \u00XX in upper-case hex. JsonCpp's own writers escape
// non-ASCII text and use lower-case hex, so the text is written here.
#include <charconv>
#include <cmath>

#include <json/json.h>

#include "protocol/proto.h"

namespace {

const char hex_upper[] = "0123456789ABCDEF";

template <typename T>
void append_integer(T v, std::string& out)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof(buf), v);
    out.append(buf, r.ptr);
}

} // namespace

void json_write_string(const char* s, size_t len, std::string& out)
{
    out.push_back('"');
    size_t start = 0;
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(s + start, i - start);
        start = i + 1;
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default: {
            char esc[6] = {'\\', 'u', '0', '0', hex_upper[c >> 4], hex_upper[c & 15]};
            out.append(esc, 6);
        }
        }
    }
    out.append(s + start, len - start);
    out.push_back('"');
}

void json_write(const Json::Value& v, std::string& out)
{
    switch (v.type()) {
    case Json::nullValue:
        out.append("null");
        break;
    case Json::intValue:
        append_integer(v.asLargestInt(), out);
        break;
    case Json::uintValue:
        append_integer(v.asLargestUInt(), out);
        break;
    case Json::realValue: {
        double d = v.asDouble();
        if (!std::isfinite(d)) {
            out.append("null");
            break;
        }
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof(buf), d);
        out.append(buf, r.ptr);
        break;
    }
    case Json::stringValue: {
        const char* b = nullptr;
        const char* e = nullptr;
        if (v.getString(&b, &e))
            json_write_string(b, static_cast<size_t>(e - b), out);
        else
            out.append("\"\"");
        break;
    }
    case Json::booleanValue:
        out.append(v.asBool() ? "true" : "false");
        break;
    case Json::arrayValue: {
        out.push_back('[');
        Json::ArrayIndex n = v.size();
        for (Json::ArrayIndex i = 0; i < n; ++i) {
            if (i)
                out.push_back(',');
            json_write(v[i], out);
        }
        out.push_back(']');
        break;
    }
    case Json::objectValue: {
        // JsonCpp keeps members in a map ordered by memcmp of the names and
        // then by length: ascending byte order, as the text requires.
        out.push_back('{');
        bool first = true;
        for (auto it = v.begin(); it != v.end(); ++it) {
            if (!first)
                out.push_back(',');
            first = false;
            const char* end = nullptr;
            const char* name = it.memberName(&end);
            json_write_string(name, static_cast<size_t>(end - name), out);
            out.push_back(':');
            json_write(*it, out);
        }
        out.push_back('}');
        break;
    }
    }
}
