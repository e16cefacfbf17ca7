// Mount of a newly found telephone: the information queries, the reading of
// their answers, and the announcement once it is online.
#include "manager/mount.h"

#include <json/json.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "core/log.h"
#include "manager/hid_server.h"
#include "protocol/proto.h"

static CHidManagerServer* manager_of(CHidDevice* device)
{
    return static_cast<CHidManagerServer*>(device->get_parent());
}

int dev_mount_event(void* device, unsigned char* data, int length)
{
    auto* dev = static_cast<CHidDevice*>(device);
    if (!dev)
        return -1;
    CHidManagerServer* mgr = manager_of(dev);
    if (data)
        return mgr->on_hid_event(dev, data, length);
    mgr->query_dev_info(dev);
    return 0;
}

int hid_raw_message(void* device, unsigned char* data, int length)
{
    auto* dev = static_cast<CHidDevice*>(device);
    if (!dev)
        return -1;
    return manager_of(dev)->on_hid_event(dev, data, length);
}

int CHidManagerServer::query_dev_info(CHidDevice* device)
{
    if (device->get_prop(HID_PROP_PENDING) == 0) {
        // Every device the manager holds is a CManagedDevice (created by the
        // scan only).
        auto* managed = static_cast<CManagedDevice*>(device);
        if (managed->announced.exchange(true))
            return 0;
        device->set_prop(HID_PROP_HANDLER, reinterpret_cast<void*>(&hid_raw_message));

        CProtocol* prot = device->protocol ? device->protocol : ptr_prot_qm;
        std::string text;
        prot->format(&device->devinfo, str_text(STR_PHONE_ATTACHED), "0", text);
        LOGD(2, "m_prot:%s, evt=[%s]\n", prot->name(), text.c_str());
        // The announcement of a mount goes to the callback only.
        deliver(text.c_str(), text.size(), false);
        return 0;
    }

    send_cmd(str_text(STR_USB_ONLINE), nullptr, -1);
    usleep(10 * 1000);
    if (device->get_prop(HID_PROP_VERSION) == -1) {
        send_cmd(str_text(STR_READ_VERSION), nullptr, -1);
        usleep(10 * 1000);
    }
    return 0;
}

void CHidManagerServer::on_mount_event(CHidDevice* device, const std::string& text)
{
    LOGD(8, "rx json:[%s]\n", text.c_str());
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value event;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &event, &errors))
        return;
    if (!event.isObject())
        return;
    const Json::Value& name = event["event"];
    if (!name.isString() || name.asString() != str_text(STR_VERSION))
        return;
    const Json::Value& value = event["value"];
    if (!value.isInt())
        return;
    int version = value.asInt();
    device->set_prop(HID_PROP_VERSION, &version);
    printf("VER = %d\n", version);
    fflush(stdout);
}
