// Protocol objects, their registry, the shared lookup maps and the JSON
// event text of an event object.
#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <json/json.h>

#include "core/log.h"
#include "protocol/proto.h"

constinit CProtocol prot_qm;
constinit CProtocol* const ptr_prot_qm = &prot_qm;

namespace {

// The registry: name -> object. Not owning, except that freeAll destroys the
// objects marked owned. Built on first use and never destroyed, so it can be
// used from any static constructor or destructor.
struct registry_t {
    std::mutex lock;
    std::map<std::string, CProtocol*> map_prot;
};

registry_t& registry()
{
    static registry_t* r = new registry_t;
    return *r;
}

// Command name -> command row, holding the names of both languages of every
// command row. Built once on first use (thread-safe), constant afterwards:
// readers need no lock, and it is never emptied. Keys view the constant
// message table.
using cmd_map_t = std::unordered_map<std::string_view, const te_evt_op*>;

const cmd_map_t& cmd_map()
{
    static const cmd_map_t* m = [] {
        auto* map = new cmd_map_t;
        for (int lang = 0; lang < 2; ++lang)
            for (const te_evt_op& row : m_cmd_list)
                (*map)[str_text(row.name, lang)] = &row;
        return map;
    }();
    return *m;
}

const char* safe_name(const char* name)
{
    return name ? name : "";
}

} // namespace

CProtocol::CProtocol(const char* name) : m_name(nullptr), m_owned(true), m_default(false), m_hook(nullptr)
{
    init_inst(name);
}

CProtocol::~CProtocol()
{
    {
        registry_t& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        auto it = r.map_prot.find(safe_name(m_name));
        if (it != r.map_prot.end() && it->second == this)
            r.map_prot.erase(it);
    }
    if (m_default)
        freeAll();
}

void CProtocol::init_inst(const char* name)
{
    m_name = name;
    m_owned = true;
    m_default = false;
    m_hook.store(nullptr);
    // The maps are filled once, for both languages; make sure they exist.
    (void)cmd_map();
}

const te_evt_op* CProtocol::find_event(int opcode)
{
    return evt_row_by_opcode(opcode);
}

const te_evt_op* CProtocol::find_command(const char* name)
{
    if (!name)
        return nullptr;
    const cmd_map_t& m = cmd_map();
    auto it = m.find(std::string_view(name));
    return it == m.end() ? nullptr : it->second;
}

int CProtocol::get_list(const char* kind, std::string& out)
{
    const te_evt_op* rows;
    int count;
    const char* head;
    if (kind == nullptr || std::string_view(kind) == "command") {
        rows = m_cmd_list;
        count = CMD_LIST_COUNT;
        head = "{\"command\":[";
    } else if (std::string_view(kind) == "event") {
        rows = m_evt_list;
        count = EVT_LIST_COUNT;
        head = "{\"event\":[";
    } else {
        return 0;
    }
    int lang = g_language.load(std::memory_order_relaxed);
    std::string text(head);
    for (int i = 0; i < count; ++i) {
        if (i)
            text.push_back(',');
        const char* s = str_text(rows[i].name, lang);
        json_write_string(s, std::char_traits<char>::length(s), text);
    }
    text.append("]}\n");
    out.swap(text);
    return static_cast<int>(out.size());
}

void CProtocol::regist(CProtocol* p)
{
    if (!p)
        return;
    const char* name = safe_name(p->m_name);
    {
        registry_t& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        r.map_prot[name] = p;
    }
    LOGD(3, "Protocol:[%s] retisted\n", name);
}

void CProtocol::freeAll()
{
    std::vector<CProtocol*> doomed;
    {
        registry_t& r = registry();
        std::lock_guard<std::mutex> g(r.lock);
        for (auto it = r.map_prot.begin(); it != r.map_prot.end();) {
            if (it->second && it->second->m_owned) {
                LOGD(3, "Prot:[%s] destroy\n", it->first.c_str());
                bool seen = false;
                for (CProtocol* d : doomed)
                    seen = seen || d == it->second;
                if (!seen)
                    doomed.push_back(it->second);
                it = r.map_prot.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Destroyed outside the lock: a destructor takes it again.
    for (CProtocol* p : doomed)
        delete p;
}

CProtocol* CProtocol::get_prot_by_name(const char* name)
{
    registry_t& r = registry();
    if (!name) {
        std::lock_guard<std::mutex> g(r.lock);
        for (auto& e : r.map_prot)
            if (e.second && e.second->m_default)
                return e.second;
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> g(r.lock);
        auto it = r.map_prot.find(name);
        if (it != r.map_prot.end())
            return it->second;
    }
    LOGD(3, "Protocol:[%s] not found\n", name);
    return nullptr;
}

evt_dec_hook_t CProtocol::regist_evt_dec_hook(evt_dec_hook_t hook)
{
    LOGD(8, "hook %X\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(hook)));
    return m_hook.exchange(hook);
}

bool append_event_text(int dev, Json::Value& event, std::string& out)
{
    if (!event.isObject() || event.empty())
        return false;
    event["dev"] = dev;
    size_t start = out.size();
    json_write(event, out);
    out.push_back('\n');
    LOGD(5, "json:%s", out.c_str() + start);
    return true;
}

int CProtocol::unpack_value(int dev, Json::Value& event, std::string& out)
{
    if (!event.isObject() || event.empty())
        return 0;
    out.clear();
    return append_event_text(dev, event, out) ? 1 : 0;
}

int CProtocol::format(devinfo_t* device, const char* event, const char* value, std::string& out)
{
    Json::Value ev(Json::objectValue);
    ev["event"] = safe_name(event);
    ev["value"] = safe_name(value);
    unpack_value(device ? device->id : 0, ev, out);
    return 0;
}

time_t protocol_now()
{
    return time(nullptr);
}
