// Kernel-style hot-plug messages, sent to the process's own netlink port.
//
// A NETLINK_KOBJECT_UEVENT socket bound with nl_pid = getpid() (or with
// nl_pid = 0, which the kernel then binds to the process id when that port is
// free) receives unicast datagrams addressed to that port id from any socket
// of the same protocol, whatever multicast groups it joined. Sending to the
// uevent multicast group instead would reach every listener on the machine,
// udev included, so the messages are unicast.
#include "registry.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vtel::detail {
namespace {

std::mutex g_sock_mu;
int g_sock = -1;

// The sending socket needs a port of its own that is not the process id:
// unbound, the kernel would give it exactly that port on the first send and
// the program's own hot-plug socket could no longer bind it.
int sender_locked()
{
    if (g_sock >= 0)
        return g_sock;
    int s = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (s < 0)
        return -1;
    sockaddr_nl a{};
    a.nl_family = AF_NETLINK;
    for (uint32_t k = 0; k < 64; ++k) {
        a.nl_pid = 0x40000000u + static_cast<uint32_t>(getpid()) + k * 0x01000000u;
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            g_sock = s;
            return s;
        }
        if (errno != EADDRINUSE)
            break;
    }
    close(s);
    return -1;
}

std::string hex(const char* fmt, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

}  // namespace

int send_datagram(const std::vector<std::string>& texts)
{
    std::string msg;
    for (const std::string& t : texts) {
        msg += t;
        msg.push_back('\0');
    }
    std::lock_guard lock(g_sock_mu);
    int s = sender_locked();
    if (s < 0)
        return -1;
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_pid = static_cast<uint32_t>(getpid());
    ssize_t n = sendto(s, msg.data(), msg.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n == static_cast<ssize_t>(msg.size()) ? 0 : -1;
}

void announce(const phone& ph, bool added, unsigned seq)
{
    const std::string dev = hex("/devices/virtual/vtel/0003:%04X:%04X.%04X", ph.vid, ph.pid, ph.id & 0xFFFF);
    const std::string raw = dev + "/hidraw/hidraw" + std::to_string(ph.id);
    const std::string hid_id = hex("HID_ID=0003:%08X:%08X", ph.vid, ph.pid);
    const std::string modalias = hex("MODALIAS=hid:b0003g0001v%08Xp%08X", ph.vid, ph.pid);
    const std::string name = std::string("HID_NAME=vtel ") + ph.chip.name;
    const std::string uniq = "HID_UNIQ=" + ph.serial;
    std::string node = ph.path.rfind("/dev/", 0) == 0 ? ph.path.substr(5) : ph.path;
    auto seqnum = [&seq] { return "SEQNUM=" + std::to_string(seq++); };

    // The order the kernel uses: the hid device, its hidraw node, then the
    // driver binding; the reverse on removal.
    if (added) {
        send_datagram({"add@" + dev, "ACTION=add", "DEVPATH=" + dev, "SUBSYSTEM=hid", hid_id, name, uniq,
                       modalias, seqnum()});
        send_datagram({"add@" + raw, "ACTION=add", "DEVPATH=" + raw, "SUBSYSTEM=hidraw", "MAJOR=240",
                       "MINOR=" + std::to_string(ph.id), "DEVNAME=" + node, seqnum()});
        send_datagram({"bind@" + dev, "ACTION=bind", "DEVPATH=" + dev, "SUBSYSTEM=hid", "DRIVER=hid-generic",
                       hid_id, name, uniq, modalias, seqnum()});
    } else {
        send_datagram({"remove@" + raw, "ACTION=remove", "DEVPATH=" + raw, "SUBSYSTEM=hidraw", "MAJOR=240",
                       "MINOR=" + std::to_string(ph.id), "DEVNAME=" + node, seqnum()});
        send_datagram({"unbind@" + dev, "ACTION=unbind", "DEVPATH=" + dev, "SUBSYSTEM=hid", hid_id, name, uniq,
                       modalias, seqnum()});
        send_datagram({"remove@" + dev, "ACTION=remove", "DEVPATH=" + dev, "SUBSYSTEM=hid", hid_id, name, uniq,
                       modalias, seqnum()});
    }
}

}  // namespace vtel::detail

int vtel::send_uevent(const std::vector<std::string>& texts)
{
    return detail::send_datagram(texts);
}
