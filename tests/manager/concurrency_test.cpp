// Several telephones, commands from several application threads while
// telephones are plugged and unplugged, and stops while commands are being
// written. Run under ThreadSanitizer as well.
#include <atomic>

#include "fixture.h"

using namespace mgrtest;

namespace {

class ManagerConcurrency : public ManagerTest {};

TEST_F(ManagerConcurrency, CommandsWhileTelephonesComeAndGo)
{
    start();
    // One telephone of each chip: several SSS1629 telephones answering at
    // the same moment can lose answers to the chip's shared repetition filter.
    std::vector<attached_phone_t> steady;
    for (vtel::te_chip c : {vtel::te_chip::sss1629, vtel::te_chip::ht82r83x, vtel::te_chip::tl8258}) {
        vtel::phone_cfg_t cfg;
        cfg.chip = c;
        steady.push_back(attach(cfg));
    }

    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([&, t] {
            const char* names[] = {"话机静音", "DTMF发送", "开启留言灯"};
            while (!done) {
                int device = (t == 0) ? -1 : steady[static_cast<size_t>(t)].dev;
                int rc = hid_send_cmd(names[t], "1234", device);
                // A telephone unplugged under the write refuses it.
                EXPECT_TRUE(rc >= 0 || rc == ERR_DEVICE) << rc;
                ++sent;
                EXPECT_GE(hid_remount_dev(), 3);
            }
        });
    }
    // Telephones plugged and unplugged meanwhile, some of them mid-mount.
    for (int round = 0; round < 4; ++round) {
        vtel::CPhone extra = vtel::plug();
        std::this_thread::sleep_for(std::chrono::milliseconds(60 * round));
        extra.press_key("3");
        extra.unplug();
        EXPECT_TRUE(extra.wait_closed(5000ms));
    }
    done = true;
    for (std::thread& t : senders)
        t.join();
    EXPECT_GT(sent.load(), 3);

    // The steady telephones are still there and delivering. One at a time:
    // the SSS1629 chips' repetition filter is shared by all of them.
    for (attached_phone_t& p : steady) {
        EXPECT_EQ(p.phone.press_key("7"), 0);
        EXPECT_TRUE(wait_event([&](const event_t& e) {
            return is_key(e) && e.dev() == p.dev && e.json["value"].asString() == "7";
        }, 3000ms)) << p.dev;
    }
}

TEST_F(ManagerConcurrency, StopWhileCommandsAreWritten)
{
    for (int round = 0; round < 2; ++round) {
        start();
        attach();
        vtel::phone_cfg_t other;
        other.chip = vtel::te_chip::tl8258;
        attach(other);
        const std::string digits(60, '5');  // about 0.7 s of reports each
        std::thread sender([&] {
            int rc = hid_send_cmd("DTMF发送", digits.c_str(), -1);
            EXPECT_TRUE(rc >= 0 || rc == ERR_DEVICE) << rc;
        });
        std::this_thread::sleep_for(100ms);
        hid_server_stop();
        sender.join();
        vtel::reset();
    }
}

}  // namespace
