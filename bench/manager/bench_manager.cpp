// Measures the library end to end against virtual telephones and prints the
// figures:
//   event latency  from a telephone queuing a key report to the callback
//                  receiving its text (p50/p99 over --events events)
//   attach time    from plug to "Phone attached" with an answering telephone
//   pacing         duration of a 252-digit DTMF command to an SSS1629
//                  telephone over the protocol minimum, (reports - 1) x 32 ms
//   idle cost      CPU time of the process with 4 idle telephones attached
//                  over --idle-seconds seconds
// The library's log lines go to /dev/null; the figures to standard error.
//
// Usage: bench_manager [--events N] [--idle-seconds S] [--attach-rounds N]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "manager/telhid.h"
#include "vtel.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

struct options_t {
    int events = 10000;
    int idle_seconds = 60;
    int attach_rounds = 20;
};

options_t parse_options(int argc, char** argv)
{
    options_t o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](int& out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "%s needs a value\n", a.c_str());
                exit(2);
            }
            out = atoi(argv[++i]);
        };
        if (a == "--events")
            value(o.events);
        else if (a == "--idle-seconds")
            value(o.idle_seconds);
        else if (a == "--attach-rounds")
            value(o.attach_rounds);
        else {
            fprintf(stderr, "usage: %s [--events N] [--idle-seconds S] [--attach-rounds N]\n",
                    argv[0]);
            exit(2);
        }
    }
    return o;
}

// What the callback saw last, for the measuring thread to wait on.
struct sink_t {
    std::mutex mutex;
    std::condition_variable cond;
    uint64_t keys = 0, attached = 0, removed = 0;
    clock_type::time_point last_key, last_attached;
};
sink_t g_sink;

int on_event(void*, const char* text, int)
{
    const auto now = clock_type::now();
    std::lock_guard<std::mutex> lock(g_sink.mutex);
    if (strstr(text, "\"电话按键\"")) {
        ++g_sink.keys;
        g_sink.last_key = now;
    } else if (strstr(text, "\"Phone attached\"")) {
        ++g_sink.attached;
        g_sink.last_attached = now;
    } else if (strstr(text, "\"Phone removed\"")) {
        ++g_sink.removed;
    }
    g_sink.cond.notify_all();
    return 0;
}

template <class Pred>
bool wait_sink(Pred pred, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(g_sink.mutex);
    return g_sink.cond.wait_for(lock, timeout, [&] { return pred(g_sink); });
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

vtel::CPhone attach_one()
{
    uint64_t before;
    {
        std::lock_guard<std::mutex> lock(g_sink.mutex);
        before = g_sink.attached;
    }
    vtel::CPhone phone = vtel::plug(vtel::te_chip::sss1629);
    if (!wait_sink([&](const sink_t& s) { return s.attached > before; }, 5000ms)) {
        fprintf(stderr, "telephone not announced\n");
        exit(1);
    }
    return phone;
}

void measure_latency(const options_t& o)
{
    vtel::CPhone phone = attach_one();
    std::this_thread::sleep_for(300ms);  // the mount's queries are answered
    const char* keys[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"};
    std::vector<double> us;
    us.reserve(static_cast<size_t>(o.events));
    for (int i = 0; i < o.events; ++i) {
        uint64_t before;
        {
            std::lock_guard<std::mutex> lock(g_sink.mutex);
            before = g_sink.keys;
        }
        const auto t0 = clock_type::now();
        phone.press_key(keys[i % 10]);
        if (!wait_sink([&](const sink_t& s) { return s.keys > before; }, 2000ms)) {
            fprintf(stderr, "event %d lost\n", i);
            continue;
        }
        std::lock_guard<std::mutex> lock(g_sink.mutex);
        us.push_back(std::chrono::duration<double, std::micro>(g_sink.last_key - t0).count());
    }
    fprintf(stderr, "event latency: %zu events, p50 %.1f us, p99 %.1f us, max %.1f us\n",
            us.size(), percentile(us, 0.50), percentile(us, 0.99),
            us.empty() ? 0.0 : *std::max_element(us.begin(), us.end()));
    phone.unplug();
    wait_sink([](const sink_t& s) { return s.removed > 0; }, 3000ms);
}

void measure_attach(const options_t& o)
{
    std::vector<double> ms, first_write;
    for (int i = 0; i < o.attach_rounds; ++i) {
        const auto t0 = clock_type::now();
        vtel::CPhone phone = attach_one();
        {
            std::lock_guard<std::mutex> lock(g_sink.mutex);
            ms.push_back(std::chrono::duration<double, std::milli>(g_sink.last_attached - t0).count());
        }
        std::vector<vtel::report_t> written = phone.written();
        if (!written.empty())
            first_write.push_back(
                std::chrono::duration<double, std::milli>(written.front().time - t0).count());
        uint64_t removed;
        {
            std::lock_guard<std::mutex> lock(g_sink.mutex);
            removed = g_sink.removed;
        }
        phone.unplug();
        wait_sink([&](const sink_t& s) { return s.removed > removed; }, 3000ms);
        std::this_thread::sleep_for(250ms);  // a quiet bus before the next plug
    }
    fprintf(stderr,
            "attach time: %zu telephones, median %.1f ms, max %.1f ms "
            "(first query written after %.1f ms)\n",
            ms.size(), percentile(ms, 0.5), ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()),
            percentile(first_write, 0.5));
}

void measure_pacing()
{
    vtel::CPhone phone = attach_one();
    std::this_thread::sleep_for(300ms);
    phone.clear_written();
    const std::string digits(252, '5');
    const auto t0 = clock_type::now();
    const int rc = hid_send_cmd("DTMF发送", digits.c_str(), -1);
    const auto call = std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
    std::vector<vtel::report_t> reports = phone.written();
    if (rc != 256 || reports.size() < 2) {
        fprintf(stderr, "pacing: command failed (%d, %zu reports)\n", rc, reports.size());
        return;
    }
    const double span =
        std::chrono::duration<double, std::milli>(reports.back().time - reports.front().time).count();
    const double minimum = static_cast<double>(reports.size() - 1) * 32.0;
    fprintf(stderr,
            "pacing: 252 digits, %zu reports in %.1f ms (call %.1f ms), minimum %.0f ms, "
            "efficiency %.4f\n",
            reports.size(), span, call, minimum, span / minimum);
    phone.unplug();
}

double process_cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void measure_idle(const options_t& o)
{
    std::vector<vtel::CPhone> phones;
    for (int i = 0; i < 4; ++i)
        phones.push_back(attach_one());
    std::this_thread::sleep_for(500ms);
    const double cpu0 = process_cpu_seconds();
    const auto t0 = clock_type::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.idle_seconds));
    const double cpu = process_cpu_seconds() - cpu0;
    const double wall = std::chrono::duration<double>(clock_type::now() - t0).count();
    fprintf(stderr, "idle cost: 4 telephones, %.1f s, CPU %.4f s = %.4f %% of one core\n", wall,
            cpu, 100.0 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv)
{
    const options_t o = parse_options(argc, argv);
    // The library's progress and log lines would measure the terminal.
    fflush(stdout);
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0)
        dup2(devnull, STDOUT_FILENO);

    set_language(1);
    if (hid_server_start(on_event, nullptr) != 0) {
        fprintf(stderr, "hid_server_start failed\n");
        return 1;
    }
    measure_latency(o);
    measure_attach(o);
    measure_pacing();
    measure_idle(o);
    hid_server_stop();
    return 0;
}
