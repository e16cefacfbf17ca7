// The hot-plug thread: listens to the kernel's uevent messages and wakes the
// scan thread when a HID device of a vendor with a registered driver comes or
// goes.
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/log.h"
#include "manager/hid_server.h"
#include "manager/uevent.h"

int CHidManagerServer::init_pnp_socket()
{
    int sock = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (sock < 0) {
        LOGD(3, "netlink socket: %s\n", strerror(errno));
        return -1;
    }
    // Bursts of messages (a hub with several devices) must not overflow the
    // queue while the thread sleeps; failure (no privilege) is harmless.
    int size = 16 * 1024 * 1024;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size));

    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = static_cast<uint32_t>(getpid());
    addr.nl_groups = 1;  // the kernel's uevent group
    if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0)
        LOGD(6, "Netlink on HID:%d\n", static_cast<int>(getpid()));
    return sock;
}

void CHidManagerServer::wake_scan(uint32_t delay_ms)
{
    std::lock_guard<std::mutex> lock(pnp_mutex);
    pnp_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms);
    pnp_wake = true;
    pnp_cond.notify_all();
}

// The socket is made by start (pnp_sock), so that start knows whether hot-plug
// works; the thread owns it from then on and closes it when it ends.
void* CHidManagerServer::det_thread(void* arg)
{
    const int sock = pnp_sock;
    if (sock >= 0) {
        timeval tv{0, 100 * 1000};
        setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    }

    char buf[4096];
    while (running) {
        // With the stop eventfd the thread sleeps until a message or stop;
        // without it, it looks at `running` every 100 ms, so stop never
        // waits longer.
        pollfd fds[2];
        nfds_t n = 0;
        if (stop_fd >= 0)
            fds[n++] = {stop_fd, POLLIN, 0};
        if (sock >= 0)
            fds[n++] = {sock, POLLIN, 0};
        int ready = poll(fds, n, stop_fd >= 0 ? -1 : 100);
        if (ready <= 0 || !running)
            continue;
        if (sock < 0 || !(fds[n - 1].revents & POLLIN))
            continue;

        ssize_t len = recv(sock, buf, sizeof(buf), MSG_DONTWAIT);
        if (len <= 0)
            continue;
        std::optional<uint32_t> key = parse_hid_uevent(buf, static_cast<size_t>(len));
        if (!key)
            continue;
        if (find_driver(*key) || find_driver(*key & 0xFFFF0000u)) {
            LOGD(5, "driver change msg: [%X]\n", *key);
            wake_scan(100);
        }
    }

    pnp_sock = -1;
    if (sock >= 0)
        close(sock);
    LOGD(6, "det exit\n");
    return arg;
}
