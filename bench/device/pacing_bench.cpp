// Pacing efficiency of each chip driver: how long a command takes on the
// wire compared with the least time its pacing rules allow. Measured through
// CHidDevice::send on virtual telephones, from the telephone's receive time
// of the first report to that of the last.
//
//   device_pacing_bench [repetitions]
//
// Prints one line per chip and case: reports, protocol minimum, median and
// worst duration, their ratios to the minimum (target: at most 1.03), and
// the median time per gap beyond the minimum.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/log.h"
#include "device/ht82r83x.h"
#include "device/sss1629.h"
#include "device/tl8258.h"
#include "vtel.h"

namespace {

using namespace std::chrono_literals;
using bytes_t = std::vector<uint8_t>;

struct chip_t {
    const char* name;
    const CHidDriver* driver;
    vtel::te_chip chip;
    int chunk;           // command bytes per report
    double report_ms;    // least spacing of reports
    double frame_ms;     // least spacing of frames (0: none of its own)
};

// The longest frame: FF, length 253, opcode and 252 digits.
bytes_t long_command() {
    bytes_t cmd{0xFF, 253, 0x43};
    for (int i = 0; i < 252; ++i) cmd.push_back(static_cast<uint8_t>(i % 10));
    return cmd;
}

const bytes_t short_command{0xFF, 0x01, 0x6A};

double ms(vtel::time_point a, vtel::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Duration on the wire of sending `cmds` back to back.
double measure(CHidDevice& dev, vtel::CPhone& phone, const std::vector<bytes_t>& cmds, size_t& reports) {
    std::this_thread::sleep_for(150ms);  // the previous run's pacing has passed
    phone.clear_written();
    for (auto c : cmds) dev.send(c.data(), static_cast<int>(c.size()));
    auto w = phone.written();
    reports = w.size();
    return w.size() < 2 ? 0.0 : ms(w.front().time, w.back().time);
}

}  // namespace

int main(int argc, char** argv) {
    int reps = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    // The drivers log every report; keep the figures apart from that.
    fflush(stdout);
    int figures = dup(STDOUT_FILENO);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
    FILE* out = fdopen(figures, "w");

    const chip_t chips[] = {
        {"sss1629", s1629_driver, vtel::te_chip::sss1629, 3, 32, 0},
        {"ht82r83x", ht82r83x_driver, vtel::te_chip::ht82r83x, 6, 20, 0},
        {"tl8258", tl8258_driver, vtel::te_chip::tl8258, 6, 20, 100},
    };
    fprintf(out, "%-9s %-22s %7s %9s %10s %9s %8s %8s %12s\n", "chip", "case", "reports", "min_ms", "median_ms",
            "worst_ms", "median", "worst", "us_per_gap");
    for (const auto& c : chips) {
        auto phone = vtel::plug(c.chip);
        CHidDevice dev(c.driver, phone.path());
        int parent = 0;
        if (dev.mount(&parent, nullptr, 1) != 0) {
            fprintf(out, "%s: cannot open the virtual telephone\n", c.name);
            return 1;
        }
        struct case_t {
            const char* name;
            std::vector<bytes_t> cmds;
        };
        const case_t cases[] = {
            {"long command (255 B)", {long_command()}},
            {"10 short commands", std::vector<bytes_t>(10, short_command)},
        };
        for (const auto& k : cases) {
            std::vector<double> runs;
            size_t reports = 0;
            for (int r = 0; r < reps; ++r) runs.push_back(measure(dev, phone, k.cmds, reports));
            std::sort(runs.begin(), runs.end());
            // One frame: reports apart by the report spacing. Several one-report
            // frames: apart by the frame spacing where the chip has one.
            double gap = k.cmds.size() > 1 && c.frame_ms > 0 ? c.frame_ms : c.report_ms;
            double minimum = (static_cast<double>(reports) - 1) * gap;
            double median = runs[runs.size() / 2], worst = runs.back();
            // What each gap took beyond its minimum, in the median run: the
            // sleeps' wake-up latency and the work around each report.
            double extra_us = (median - minimum) * 1000.0 / static_cast<double>(reports - 1);
            fprintf(out, "%-9s %-22s %7zu %9.1f %10.1f %9.1f %8.4f %8.4f %12.0f\n", c.name, k.name, reports, minimum,
                    median, worst, median / minimum, worst / minimum, extra_us);
            fflush(out);
        }
        dev.close();
    }
    vtel::reset();
    fclose(out);
    return 0;
}
