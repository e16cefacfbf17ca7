#include "protocol/proto.h"
#include <json/json.h>
constinit CProtocol prot_qm;
CProtocol* const ptr_prot_qm = &prot_qm;
CProtocol::CProtocol(const char* name) : m_name(name), m_owned(true), m_default(false), m_hook(nullptr) {}
CProtocol::~CProtocol() {}
int CProtocol::get_list(const char*, std::string&) { return 0; }
void CProtocol::init_inst(const char* name) { m_name = name; }
void CProtocol::regist(CProtocol*) {}
void CProtocol::freeAll() {}
CProtocol* CProtocol::get_prot_by_name(const char*) { return nullptr; }
evt_dec_hook_t CProtocol::regist_evt_dec_hook(evt_dec_hook_t hook) { return m_hook.exchange(hook); }
int CProtocol::unpack_value(int, Json::Value&, std::string&) { return 0; }
int CProtocol::format(devinfo_t*, const char*, const char*, std::string&) { return 0; }
const te_evt_op* CProtocol::find_event(int) { return nullptr; }
const te_evt_op* CProtocol::find_command(const char*) { return nullptr; }
