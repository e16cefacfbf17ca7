#include "fixed_time.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<test_clock_fn> test_clock{nullptr};
}

void set_test_clock(test_clock_fn clock)
{
    test_clock.store(clock);
}

extern "C" time_t time(time_t* out) noexcept
{
    test_clock_fn clock = test_clock.load();
    time_t now;
    if (clock) {
        now = clock();
    } else {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        now = ts.tv_sec;
    }
    if (out)
        *out = now;
    return now;
}
