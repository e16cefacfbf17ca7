// The unmodified libtelhid.so on virtual telephones: hot-plug, mount, an
// event each way and removal, for each chip. The library's chip drivers and
// the simulator's chip models were written apart, so agreement here checks
// both against the report layouts.
#include "manager/telhid.h"
#include "vtel.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using vtel::te_chip;

namespace vtel {
void PrintTo(te_chip chip, std::ostream* os)
{
    *os << chip_name(chip);
}
}  // namespace vtel

namespace {

class Events {
public:
    static int on_event(void* user, const char* text, int length)
    {
        auto* self = static_cast<Events*>(user);
        std::lock_guard lock(self->mu_);
        self->texts_.emplace_back(text, static_cast<size_t>(length));
        self->cv_.notify_all();
        return 0;
    }

    bool wait_for(const std::string& part, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mu_);
        return cv_.wait_for(lock, timeout, [&] {
            for (const auto& t : texts_)
                if (t.find(part) != std::string::npos)
                    return true;
            return false;
        });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> texts_;
};

class Telhid : public ::testing::TestWithParam<te_chip> {
protected:
    void SetUp() override
    {
        vtel::reset();
        set_language(1);
        ASSERT_EQ(hid_server_start(&Events::on_event, &events_), 0);
    }
    void TearDown() override
    {
        hid_server_stop();
        vtel::reset();
    }
    Events events_;
};

TEST_P(Telhid, HotPluggedTelephoneIsMountedUsedAndRemoved)
{
    std::this_thread::sleep_for(200ms);  // past the first scan: only the hot-plug message can find it
    vtel::phone_cfg_t cfg;
    cfg.chip = GetParam();
    cfg.version = GetParam() == te_chip::ht82r83x ? 134 : 194;
    auto phone = vtel::plug(cfg);

    ASSERT_TRUE(phone.wait_frame(0x6A, 10s)) << "\"USB在线\" after the hot-plug message";
    ASSERT_TRUE(phone.wait_frame(0x01, 10s)) << "version query";
    ASSERT_TRUE(events_.wait_for(R"("event":"Phone attached","value":"0"})", 10s));

    ASSERT_EQ(phone.press_key("1"), 0);
    EXPECT_TRUE(events_.wait_for(R"("event":"电话按键","value":"1"})", 10s));
    ASSERT_EQ(phone.incoming_call("88123456", {5, 12, 9, 30}), 0);
    EXPECT_TRUE(events_.wait_for(R"("event":"来电","number":"88123456","time":"5-12 9:30"})", 10s));

    phone.unplug();
    EXPECT_TRUE(events_.wait_for(R"("event":"Phone removed"})", 10s));
    EXPECT_TRUE(phone.wait_closed(10s));
}

INSTANTIATE_TEST_SUITE_P(Chips, Telhid,
                         ::testing::Values(te_chip::sss1629, te_chip::ht82r83x, te_chip::tl8258),
                         [](const auto& info) { return std::string(vtel::chip_name(info.param)); });

}  // namespace
