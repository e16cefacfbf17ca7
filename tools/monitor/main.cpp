// telhid-monitor: shows what the telephones report and sends them commands,
// through libtelhid's public interface only.
#include <fcntl.h>
#include <unistd.h>

#include <telhid.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "monitor.h"
#include "name_list.h"
#include "options.h"
#include "printer.h"
#include "stdout_aside.h"

namespace {

int g_stop_pipe[2] = {-1, -1};

void on_stop_signal(int)
{
    char c = 1;
    [[maybe_unused]] ssize_t n = write(g_stop_pipe[1], &c, 1);
}

bool install_stop_signals()
{
    if (pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) < 0)
        return false;
    struct sigaction sa{};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

// The real standard output carries events, results and lists; with
// --verbose the library's own lines are pointed at standard error later.
const int g_out_fd = stdout_aside_fd();

}  // namespace

int main(int argc, char** argv)
{
    monitor_options_t opt;
    std::string error;
    if (!parse_options(std::vector<std::string>(argv + 1, argv + argc), opt, error)) {
        std::fprintf(stderr, "telhid-monitor: %s\n\n%s", error.c_str(), m_monitor_usage);
        return 2;
    }
    if (g_out_fd < 0 || !install_stop_signals()) {
        std::perror("telhid-monitor");
        return 1;
    }
    if (opt.verbose)
        dup2(STDERR_FILENO, STDOUT_FILENO);
    FILE* out_file = fdopen(g_out_fd, "w");
    if (opt.help) {
        std::fputs(m_monitor_usage, out_file);
        return 0;
    }
    if (opt.version) {
        std::fprintf(out_file, "telhid-monitor, library %s\n", hid_server_version());
        return 0;
    }
    if (opt.list != te_list_kind::none) {
        for (const std::string& name : load_names(opt.list == te_list_kind::events, opt.language))
            std::fprintf(out_file, "%s\n", quoted_name(name).c_str());
        return 0;
    }
    std::fflush(out_file);
    CPrinter out(g_out_fd, opt.pretty);
    return run_monitor(opt, STDIN_FILENO, g_stop_pipe[0], out);
}
