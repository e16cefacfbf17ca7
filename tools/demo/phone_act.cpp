// Part one: the library and two virtual telephones of different chips.
#include <json/json.h>
#include <telhid.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acts.h"
#include "vtel.h"

namespace {

using namespace std::chrono_literals;

// The events the library delivered, for the steps to wait on.
class CEvents {
public:
    explicit CEvents(CNarrator& n) : narrator_(n) {}

    static int callback(void* user, const char* text, int length)
    {
        auto* self = static_cast<CEvents*>(user);
        std::string t(text, static_cast<size_t>(length));
        self->narrator_.event(t);
        Json::Value v;
        Json::CharReaderBuilder b;
        std::unique_ptr<Json::CharReader> r(b.newCharReader());
        std::string errors;
        r->parse(t.data(), t.data() + t.size(), &v, &errors);
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->events_.push_back(v);
        }
        self->cond_.notify_all();
        return 0;
    }

    // Waits for the next event (after those already waited for) that has
    // this name and device (-1: any); nullopt after the timeout.
    std::optional<Json::Value> wait(const std::string& name, int dev, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        std::optional<Json::Value> found;
        cond_.wait_for(lock, timeout, [&] {
            for (; next_ < events_.size() && !found; ++next_) {
                const Json::Value& e = events_[next_];
                if (e.get("event", "").asString() == name && (dev == -1 || e.get("dev", -1).asInt() == dev))
                    found = e;
            }
            return found.has_value();
        });
        return found;
    }

private:
    CNarrator& narrator_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::vector<Json::Value> events_;
    size_t next_ = 0;
};

// The output reports that carried the most recent frame to the telephone.
std::vector<std::string> reports_of(const vtel::CPhone& p, const vtel::frame_t& f)
{
    std::vector<std::string> out;
    for (const vtel::report_t& r : p.written())
        if (r.time >= f.first && r.time <= f.last)
            out.push_back(hex_bytes(r.bytes));
    return out;
}

std::string result_text(int r)
{
    const char* t = get_error_string(r > 0 ? 0 : r);
    std::string s = std::to_string(r) + " " + (t ? t : "?");
    if (r > 0)
        s += " (" + std::to_string(r) + " bytes written)";
    return s;
}

class CPhoneAct {
public:
    explicit CPhoneAct(CNarrator& n) : n_(n), events_(n) {}
    bool run();

private:
    bool expect(bool ok, const std::string& what)
    {
        if (!ok) {
            n_.note("!! " + what + " did not happen in time");
            ok_ = false;
        }
        return ok;
    }
    bool plug(vtel::te_chip chip, const vtel::phone_cfg_t& cfg, int& dev);
    void send(vtel::CPhone p, int dev, const char* name, const char* param, uint8_t opcode,
              const char* meaning);

    CNarrator& n_;
    CEvents events_;
    bool ok_ = true;
};

bool CPhoneAct::plug(vtel::te_chip chip, const vtel::phone_cfg_t& base, int& dev)
{
    vtel::phone_cfg_t cfg = base;
    cfg.chip = chip;
    vtel::CPhone p = vtel::plug(cfg);
    char ids[64];
    std::snprintf(ids, sizeof ids, "USB %04x:%04x", p.vid(), p.pid());
    n_.action("phone " + std::to_string(p.id()), std::string("plugged in: ") + vtel::chip_name(chip) +
                                                     " chip, " + ids + ", node " + p.path());
    // The library numbers the telephones in the order it sets them up.
    auto attached = events_.wait("Phone attached", -1, 15s);
    dev = attached ? attached->get("dev", -1).asInt() : p.id();
    return expect(attached.has_value(), "the announcement of the telephone");
}

void CPhoneAct::send(vtel::CPhone p, int dev, const char* name, const char* param, uint8_t opcode,
                     const char* meaning)
{
    p.clear_written();
    n_.action("app", std::string("hid_send_cmd(\"") + name + "\", " + (param ? "\"" + std::string(param) + "\"" : "NULL") +
                         ", " + std::to_string(dev) + ")    " + meaning);
    int r = hid_send_cmd(name, param, dev);
    n_.reply("app", "result " + result_text(r));
    auto f = p.wait_frame(opcode, 5s);
    if (!expect(f.has_value(), "the frame on telephone " + std::to_string(dev)))
        return;
    n_.reply("phone " + std::to_string(dev), "received the frame " + hex_bytes(f->bytes()));
    for (const std::string& r : reports_of(p, *f))
        n_.note("                in the " + std::string(vtel::chip_name(p.chip())) + " output report " + r);
}

bool CPhoneAct::run()
{
    n_.step("Start the library");
    set_language(1);
    n_.action("app", "set_language(1)    English names where the message table has them");
    int r = hid_server_start(&CEvents::callback, &events_);
    n_.action("app", "hid_server_start(callback, user)");
    n_.reply("app", "result " + result_text(r));
    if (r != 0)
        return false;

    n_.step("Plug in two telephones with different interface chips");
    n_.note("The kernel's hot-plug message wakes the library; it enumerates the HID devices,");
    n_.note("picks the chip driver by vendor id, product id and usage page, opens the node and");
    n_.note("asks the telephone for its firmware version. Once it answers, the application");
    n_.note("hears \"Phone attached\" with the telephone's device number.");
    int dev1 = 0, dev2 = 0;
    if (!plug(vtel::te_chip::sss1629, {}, dev1))
        n_.note("   (hot-plug messages need root: run the demo as root)");
    vtel::CPhone p1 = vtel::find(1);
    std::string setup;
    for (const vtel::frame_t& f : p1.frames())
        setup += (setup.empty() ? "" : ", ") + hex_bytes(f.bytes());
    n_.note("While setting it up the library sent telephone 1 the frames " + setup);
    n_.note("(\"USB在线\" = USB online, \"读取版本信息\" = read version; the library sends both to");
    n_.note("every telephone whenever one is found).");
    vtel::phone_cfg_t tl;
    tl.pid = 0x8001;
    plug(vtel::te_chip::tl8258, tl, dev2);
    vtel::CPhone p2 = vtel::find(2);

    n_.step("Lift the handset of telephone 1 and dial");
    p1.handset(true);
    n_.action("phone 1", "handset lifted");
    expect(events_.wait("手柄摘机", dev1).has_value(), "the handset event");
    for (const char* key : {"1", "2", "3", "#"}) {
        p1.press_key(key);
        n_.action("phone 1", std::string("key ") + key);
        expect(events_.wait("电话按键", dev1).has_value(), std::string("the key event ") + key);
    }
    p1.handset(false);
    n_.action("phone 1", "handset put down");
    expect(events_.wait("手柄挂机", dev1).has_value(), "the hang-up event");

    n_.step("An incoming call on telephone 2");
    p2.ring();
    n_.action("phone 2", "rings");
    expect(events_.wait("振铃", dev2).has_value(), "the ring event");
    p2.incoming_call("88123456", {5, 12, 9, 30});
    n_.action("phone 2", "caller identity: 88123456 on 12 May at 9:30");
    expect(events_.wait("来电", dev2).has_value(), "the incoming call event");

    n_.step("Send commands: each is encoded as a frame FF, length, opcode, data, then cut into");
    n_.note("the reports of the telephone's chip and paced out to it");
    send(p1, dev1, "写FLASH时间", "10", 0x24, "set the flash (recall) time to 10");
    send(p2, dev2, "DTMF发送", "12*#", 0x11, "dial 1 2 * #");
    n_.note("The telephone answers a state query with an event:");
    send(p2, dev2, "电话状态查询", nullptr, 0x21, "query the telephone's state");
    expect(events_.wait("电话状态查询", dev2).has_value(), "the state answer");
    n_.note("A command the library does not know, and a parameter it cannot read:");
    n_.action("app", "hid_send_cmd(\"no such command\", NULL, -1)");
    n_.reply("app", "result " + result_text(hid_send_cmd("no such command", nullptr, -1)));
    n_.action("app", "hid_send_cmd(\"设置话机的时间\", \"2023-13-01 10:20:30\", -1)    month 13");
    n_.reply("app", "result " + result_text(hid_send_cmd("设置话机的时间", "2023-13-01 10:20:30", -1)));

    n_.step("Unplug telephone 2");
    p2.unplug();
    n_.action("phone 2", "unplugged");
    expect(events_.wait("Phone removed", dev2).has_value(), "the removal event");

    n_.step("Stop the library");
    hid_server_stop();
    n_.action("app", "hid_server_stop()    closes the telephones and ends the library's threads");
    return ok_;
}

}  // namespace

bool run_phone_act(CNarrator& n)
{
    CPhoneAct act(n);
    return act.run();
}
