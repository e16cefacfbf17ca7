// A loadable module with the core linked in, for the unload test.
#include "core/timer.h"

#include <atomic>

namespace {
std::atomic<int> fired{0};
timer* running = nullptr;
int on_fire(void*) {
    fired++;
    return 0;
}
struct Owner {
    ~Owner() { delete running; }
} owner;
}  // namespace

extern "C" __attribute__((visibility("default"))) int module_timer_start(double interval) {
    if (!running) running = new timer(interval, on_fire, nullptr, 1);
    return running->timer_start();
}

extern "C" __attribute__((visibility("default"))) int module_timer_count() { return fired; }
