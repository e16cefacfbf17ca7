// Hot-plug messages arrive where a program listens for the kernel's: a
// NETLINK_KOBJECT_UEVENT socket bound to the process id, uevent group 1.
#include "vtel.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using vtel::te_chip;

namespace {

class Listener {
public:
    explicit Listener(uint32_t port)
    {
        fd_ = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
        sockaddr_nl a{};
        a.nl_family = AF_NETLINK;
        a.nl_pid = port;
        a.nl_groups = 1;
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        timeval tv{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = a.nl_pid;
    }
    ~Listener()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool bound() const { return bound_; }
    uint32_t port() const { return port_; }

    // The zero-terminated texts of the next datagram; empty after a timeout.
    std::vector<std::string> next()
    {
        char buf[4096];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        std::vector<std::string> texts;
        for (ssize_t i = 0; i < n;) {
            std::string t(buf + i, strnlen(buf + i, static_cast<size_t>(n - i)));
            i += static_cast<ssize_t>(t.size()) + 1;
            texts.push_back(t);
        }
        return texts;
    }

    // The next datagram of SUBSYSTEM=hid, passing over the hidraw ones.
    std::vector<std::string> next_hid()
    {
        for (int i = 0; i < 8; ++i) {
            auto t = next();
            if (t.empty() || has(t, "SUBSYSTEM=hid"))
                return t;
        }
        return {};
    }

    static bool has(const std::vector<std::string>& t, const std::string& s)
    {
        return std::find(t.begin(), t.end(), s) != t.end();
    }

private:
    int fd_ = -1;
    bool bound_ = false;
    uint32_t port_ = 0;
};

struct port_case {
    const char* name;
    bool explicit_pid;  // bound with nl_pid = getpid(), or 0 for the kernel to choose
};

void PrintTo(const port_case& c, std::ostream* os)
{
    *os << c.name;
}

class Uevent : public ::testing::TestWithParam<port_case> {
protected:
    void SetUp() override { vtel::reset(); }
    void TearDown() override { vtel::reset(); }
};

TEST_P(Uevent, PlugAndUnplugReachTheProcessPort)
{
    Listener l(GetParam().explicit_pid ? static_cast<uint32_t>(getpid()) : 0);
    ASSERT_TRUE(l.bound());
    ASSERT_EQ(l.port(), static_cast<uint32_t>(getpid()));

    auto p = vtel::plug(te_chip::sss1629);
    auto add = l.next_hid();
    ASSERT_FALSE(add.empty());
    EXPECT_EQ(add[0].rfind("add@/devices/", 0), 0u) << add[0];
    EXPECT_EQ(add[0].find('='), std::string::npos);
    EXPECT_TRUE(Listener::has(add, "ACTION=add"));
    EXPECT_TRUE(Listener::has(add, "HID_ID=0003:00000C76:00001685"));
    // The kernel's order: ACTION and SUBSYSTEM come before HID_ID.
    auto at = [&add](const std::string& s) { return std::find(add.begin(), add.end(), s) - add.begin(); };
    EXPECT_LT(at("ACTION=add"), at("HID_ID=0003:00000C76:00001685"));
    EXPECT_LT(at("SUBSYSTEM=hid"), at("HID_ID=0003:00000C76:00001685"));

    p.unplug();
    std::vector<std::string> removal;
    for (auto t = l.next_hid(); !t.empty(); t = l.next_hid()) {
        if (Listener::has(t, "ACTION=remove")) {
            removal = t;
            break;
        }
    }
    ASSERT_FALSE(removal.empty());
    EXPECT_EQ(removal[0].rfind("remove@/devices/", 0), 0u);
    EXPECT_TRUE(Listener::has(removal, "HID_ID=0003:00000C76:00001685"));
}

INSTANTIATE_TEST_SUITE_P(Ports, Uevent,
                         ::testing::Values(port_case{"pid", true}, port_case{"kernel_chosen", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UeventSend, CustomMessageKeepsItsTextsAndFailsWithoutListener)
{
    EXPECT_EQ(vtel::send_uevent({"add@/x", "ACTION=add"}), -1);
    Listener l(static_cast<uint32_t>(getpid()));
    ASSERT_TRUE(l.bound());
    ASSERT_EQ(vtel::send_uevent({"change@/x", "HID_ID=0003:00000C76:00001685", "ACTION=change"}), 0);
    EXPECT_EQ(l.next(), (std::vector<std::string>{"change@/x", "HID_ID=0003:00000C76:00001685", "ACTION=change"}));
}

TEST(UeventSend, SenderNeverTakesTheProcessPort)
{
    // A message sent before the program binds its socket must not leave the
    // process id's port occupied by the sender.
    vtel::send_uevent({"add@/x"});
    Listener l(static_cast<uint32_t>(getpid()));
    EXPECT_TRUE(l.bound());
}

}  // namespace
