#include "protocol/proto.h"
#include <json/json.h>
void json_write(const Json::Value&, std::string&) {}
void json_write_string(const char*, size_t, std::string&) {}
