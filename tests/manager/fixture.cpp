#include "fixture.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace mgrtest {

Json::Value parse_json(const std::string& text)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value v;
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &v, &errors);
    return v;
}

bool is_attached(const event_t& e)
{
    return e.name() == kAttached[0] || e.name() == kAttached[1];
}

bool is_removed(const event_t& e)
{
    return e.name() == kRemoved[0] || e.name() == kRemoved[1];
}

bool is_key(const event_t& e)
{
    return e.name() == "电话按键";
}

int EventLog::callback(void* user, const char* text, int length)
{
    auto* self = static_cast<EventLog*>(user);
    event_t e;
    e.time = clock::now();
    e.text.assign(text, static_cast<size_t>(length));
    e.json = parse_json(e.text);
    e.thread = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->events_.push_back(std::move(e));
    }
    self->cond_.notify_all();
    return 0;
}

std::vector<event_t> EventLog::all() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

size_t EventLog::count(const std::function<bool(const event_t&)>& match) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const event_t& e : events_)
        n += match(e) ? 1 : 0;
    return n;
}

std::optional<event_t> EventLog::wait(const std::function<bool(const event_t&)>& match,
                                      std::chrono::milliseconds timeout, size_t nth) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<event_t> found;
    cond_.wait_for(lock, timeout, [&] {
        size_t n = 0;
        for (const event_t& e : events_) {
            if (match(e) && ++n == nth) {
                found = e;
                return true;
            }
        }
        return false;
    });
    return found;
}

TcpPeer::TcpPeer()
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(listen_fd_, 4);
    socklen_t len = sizeof(addr);
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
}

TcpPeer::~TcpPeer()
{
    close_client();
    close_listener();
}

bool TcpPeer::accept_client(std::chrono::milliseconds timeout)
{
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1)
        return false;
    conn_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return conn_fd_ >= 0;
}

std::optional<std::string> TcpPeer::read_line(std::chrono::milliseconds timeout)
{
    auto deadline = clock::now() + timeout;
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl + 1);
            pending_.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0 || conn_fd_ < 0)
            return std::nullopt;
        pollfd p{conn_fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) != 1)
            return std::nullopt;
        char buf[4096];
        ssize_t n = recv(conn_fd_, buf, sizeof(buf), 0);
        if (n <= 0)
            return std::nullopt;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

void TcpPeer::close_client()
{
    if (conn_fd_ >= 0)
        close(conn_fd_);
    conn_fd_ = -1;
}

void TcpPeer::close_listener()
{
    if (listen_fd_ >= 0)
        close(listen_fd_);
    listen_fd_ = -1;
}

void ManagerTest::TearDown()
{
    hid_server_stop();
    vtel::reset();
    set_language(0);
}

void ManagerTest::start()
{
    ASSERT_EQ(hid_server_start(&EventLog::callback, &log), 0);
}

attached_phone_t ManagerTest::attach(const vtel::phone_cfg_t& cfg)
{
    size_t before = log.count(is_attached);
    attached_phone_t out;
    out.phone = vtel::plug(cfg);
    std::optional<event_t> e = log.wait(is_attached, 5000ms, before + 1);
    EXPECT_TRUE(e) << "telephone " << out.phone.id() << " was not announced";
    if (e)
        out.dev = e->dev();
    return out;
}

std::vector<std::string> hid_uevent(const std::string& action, const std::string& subsystem,
                                    const std::string& hid_id)
{
    const std::string devpath = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.3/0003:0C76:1685.0009";
    return {action + "@" + devpath,  "ACTION=" + action,       "DEVPATH=" + devpath,
            "SUBSYSTEM=" + subsystem, "HID_ID=" + hid_id,       "HID_NAME=vtel",
            "MODALIAS=hid:b0003g0001v00000C76p00001685", "SEQNUM=4711"};
}

int thread_count()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

StdoutTap::StdoutTap()
{
    fflush(stdout);
    char name[] = "/tmp/telhid-stdout-XXXXXX";
    file_ = mkstemp(name);
    unlink(name);
    saved_ = dup(1);
    dup2(file_, 1);
}

StdoutTap::~StdoutTap()
{
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    close(file_);
}

std::string StdoutTap::text() const
{
    fflush(stdout);
    std::string out;
    char buf[65536];
    off_t off = 0;
    for (ssize_t n; (n = pread(file_, buf, sizeof(buf), off)) > 0; off += n)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

bool StdoutTap::wait_for(const std::string& what, std::chrono::milliseconds timeout) const
{
    auto deadline = clock::now() + timeout;
    do {
        if (text().find(what) != std::string::npos)
            return true;
        std::this_thread::sleep_for(20ms);
    } while (clock::now() < deadline);
    return false;
}

}  // namespace mgrtest
