// The exported functions of the library and the static lists that tie the
// manager to the chip drivers and the protocol engine.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/ht82r83x.h"
#include "device/sss1629.h"
#include "device/tl8258.h"
#include "manager/hid_server.h"
#include "protocol/proto.h"

namespace {

const char m_sdk_ver[] = "1.1.0.6x";

// Result texts by code magnitude; columns as the message table (0 Chinese,
// 1 English). Row 7 does not exist.
const char* const m_error_tbl[][2] = {
    {"成功", "SUCCESS"},
    {"错误", "ERR_FAIL"},
    {"内存不足", "ERR_BUFF_NOT_ENOUGH"},
    {"内存溢出", "ERR_OVERFLOW"},
    {"权限不足", "ERR_PERMISSION"},
    {"未知命令", "ERR_UNKOWN_CMD"},
    {"错误参数", "ERR_WRONG_PARAM"},
    {nullptr, nullptr},
    {"设备错误", "ERR_DEVICE"},
};
constexpr long kErrorRows = sizeof(m_error_tbl) / sizeof(m_error_tbl[0]);

// Built on first use: the driver and protocol objects are globals of other
// units, whose construction order relative to this one is not fixed.
const std::vector<const CHidDriver*>& global_driver_list()
{
    static const std::vector<const CHidDriver*> list = {s1629_driver, tl8258_driver,
                                                        ht82r83x_driver};
    return list;
}

const std::vector<CProtocol*>& global_proto_list()
{
    static const std::vector<CProtocol*> list = {ptr_prot_qm};
    return list;
}

std::mutex server_mutex;
std::shared_ptr<CHidManagerServer> hid_master_server;

}  // namespace

std::shared_ptr<CHidManagerServer> get_server()
{
    std::lock_guard<std::mutex> lock(server_mutex);
    if (!hid_master_server)
        hid_master_server = std::make_shared<CHidManagerServer>();
    return hid_master_server;
}

std::shared_ptr<CHidManagerServer> current_server()
{
    std::lock_guard<std::mutex> lock(server_mutex);
    return hid_master_server;
}

extern "C" {

int hid_server_start(hid_event_cb callback, void* user)
{
    std::shared_ptr<CHidManagerServer> server = get_server();
    // A second start must not swap the callback under running threads.
    if (server->is_running())
        return ERR_FAIL;
    server->set_event_callback(callback, user);
    return hid_server_start_tcp(-1, nullptr);
}

int hid_server_start_tcp(int port, const char* host)
{
    std::shared_ptr<CHidManagerServer> server = get_server();
    // The manager threads read the driver map without a lock: it is only
    // written while they do not run.
    if (server->is_running())
        return ERR_FAIL;
    for (const CHidDriver* driver : global_driver_list())
        server->regist_driver(driver);
    for (CProtocol* protocol : global_proto_list())
        server->regist_protocol(protocol);
    return server->start(port, host);
}

void hid_server_stop(void)
{
    if (std::shared_ptr<CHidManagerServer> server = current_server())
        server->stop();
}

int hid_send_cmd(const char* name, const char* param, int device)
{
    printf("cmd:[%s]\n", name ? name : "");
    fflush(stdout);
    std::shared_ptr<CHidManagerServer> server = current_server();
    if (!server)
        return ERR_FAIL;
    return server->send_cmd(name, param, device);
}

int hid_get_status(char* buffer, int size)
{
    std::shared_ptr<CHidManagerServer> server = current_server();
    if (!server)
        return ERR_FAIL;
    return server->get_status(buffer, size);
}

int hid_remount_dev(void)
{
    std::shared_ptr<CHidManagerServer> server = current_server();
    if (!server)
        return ERR_FAIL;
    return server->remount_devices();
}

int load_string_list(const char* name, char* out, int size, void*)
{
    const std::vector<CProtocol*>& list = global_proto_list();
    if (list.empty() || !list.front())
        return 0;
    std::string text;
    list.front()->get_list(name, text);
    if (text.empty())
        return 0;
    if (out && size > 0)
        strncpy(out, text.c_str(), static_cast<size_t>(size));
    return static_cast<int>(text.size());
}

const char* hid_server_version(void)
{
    return m_sdk_ver;
}

const char* get_error_string(int code)
{
    long row = code < 0 ? -static_cast<long>(code) : code;
    if (row >= kErrorRows)
        return nullptr;
    int language = g_language.load() == 1 ? 1 : 0;
    return m_error_tbl[row][language];
}

int set_language(int language)
{
    if (language != 0 && language != 1)
        return g_language.load();
    return g_language.exchange(language);
}

const CHidDriver* get_driver(unsigned key)
{
    std::shared_ptr<CHidManagerServer> server = current_server();
    return server ? server->find_driver(key) : nullptr;
}

}  // extern "C"
