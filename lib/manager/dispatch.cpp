// Command dispatch: a command is encoded once and the same bytes are written
// to one telephone or to all of them.
#include "core/log.h"
#include "device/drv_hid.h"
#include "manager/hid_server.h"
#include "protocol/proto.h"

int CHidManagerServer::send_cmd(const char* name, const char* param, int device)
{
    if (protocols.empty())
        return ERR_FAIL;
    if (!name)
        return ERR_UNKOWN_CMD;
    unsigned char buffer[256];
    int count = protocols.begin()->second->encode(name, param, buffer, sizeof(buffer));
    if (count < 0)
        return count;

    // The devices are written without holding the map lock: pacing takes
    // 32 ms per report, and the scan thread must stay free to add and remove
    // telephones meanwhile. The snapshot keeps each device alive.
    int result = 0;
    const bool all = (device == -1);
    const uint16_t number = static_cast<uint16_t>(device & 0xFFFF);
    for (device_ptr& dev : device_snapshot()) {
        if (all || static_cast<uint16_t>(dev->devinfo.id) == number)
            result = dev->send(buffer, count);
    }
    return result;
}

int CHidManagerServer::get_status(char*, int)
{
    return 0;
}
