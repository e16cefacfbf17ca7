#include "monitor.h"

#include <poll.h>
#include <unistd.h>

#include <telhid.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "event_format.h"
#include "name_list.h"
#include "tcp_channel.h"

namespace {

// Commands are at most a few hundred bytes; a longer line is not a command.
constexpr size_t m_max_line = 64 * 1024;

int on_event(void* user, const char* text, int length)
{
    static_cast<CPrinter*>(user)->event(std::string_view(text, static_cast<size_t>(length)));
    return 0;
}

void send_line(const std::string& line, const std::vector<std::string>& names, CPrinter& out)
{
    te_command_t cmd;
    std::string error;
    switch (parse_command_line(line, names, cmd, error)) {
    case te_parse::empty:
        return;
    case te_parse::error:
        std::fprintf(stderr, "telhid-monitor: %s: %s\n", error.c_str(), line.c_str());
        return;
    case te_parse::command:
        break;
    }
    int r = hid_send_cmd(cmd.name.c_str(), cmd.param ? cmd.param->c_str() : nullptr, cmd.device);
    const char* text = result_text(r);
    out.line(out.pretty() ? result_pretty(cmd, r, text) : result_json(cmd, r, text));
}

// Waits for input or the stop signal; false once the monitor is to stop.
enum class te_wake { input, stop, timeout };

te_wake wait_for(int input_fd, int stop_fd, int timeout_ms)
{
    for (;;) {
        pollfd p[2] = {{stop_fd, POLLIN, 0}, {input_fd, POLLIN, 0}};
        int n = poll(p, input_fd >= 0 ? 2 : 1, timeout_ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return te_wake::timeout;
        if (p[0].revents)
            return te_wake::stop;
        return te_wake::input;
    }
}

}  // namespace

int run_monitor(const monitor_options_t& opt, int input_fd, int stop_fd, CPrinter& out)
{
    if (opt.language >= 0)
        set_language(opt.language);
    // Either language's names are accepted (the library knows both).
    std::vector<std::string> names = load_names(false, 0);
    for (std::string& n : load_names(false, 1))
        names.push_back(std::move(n));

    CTcpChannel tcp(out);
    std::string error;
    if (opt.tcp_port >= 0) {
        int port = tcp.listen(opt.tcp_port, error);
        if (port < 0) {
            std::fprintf(stderr, "telhid-monitor: %s\n", error.c_str());
            return 1;
        }
        if (hid_server_start_tcp(port, "127.0.0.1") != 0) {
            std::fprintf(stderr, "telhid-monitor: the library did not start\n");
            return 1;
        }
        if (!tcp.accept_and_read(5000, error)) {
            hid_server_stop();
            std::fprintf(stderr, "telhid-monitor: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "telhid-monitor: events over TCP on 127.0.0.1:%d\n", port);
    } else if (hid_server_start(on_event, &out) != 0) {
        std::fprintf(stderr, "telhid-monitor: the library did not start\n");
        return 1;
    }
    if (isatty(input_fd))
        std::fprintf(stderr, "telhid-monitor: library %s started; type commands (NAME [PARAMETER] [@DEVICE]), "
                             "Ctrl-C or Ctrl-D to stop\n", hid_server_version());

    std::string pending;
    bool stop = false;
    bool skipping = false;  // the rest of an over-long line
    while (!stop && !out.broken()) {
        if (wait_for(input_fd, stop_fd, -1) == te_wake::stop)
            break;
        char buf[4096];
        ssize_t n = read(input_fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            if (!pending.empty() && !skipping)
                send_line(pending, names, out);
            if (opt.linger_ms > 0)
                stop = wait_for(-1, stop_fd, opt.linger_ms) == te_wake::stop;
            break;
        }
        pending.append(buf, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
            if (!skipping)
                send_line(pending.substr(start, nl - start), names, out);
            skipping = false;
        }
        pending.erase(0, start);
        if (pending.size() > m_max_line) {
            if (!skipping)
                std::fprintf(stderr, "telhid-monitor: input line longer than %zu bytes ignored\n", m_max_line);
            pending.clear();
            skipping = true;
        }
    }

    hid_server_stop();
    tcp.finish();
    return 0;
}
