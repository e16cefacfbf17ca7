// Report pacing of the chip drivers. Internal to the device layer.
//
// Between commands the pacing time is the device's 32-bit millisecond tick
// (`next_send`); within one command the drivers keep the precise time of the
// previous report and sleep until exactly the spacing has passed, so that
// long commands do not gather a millisecond of rounding per report.
#pragma once

#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

#include "core/utils.h"

namespace pacing {

// GetTickCount truncated to 32 bits, as the pacing times are kept.
inline uint32_t tick() { return static_cast<uint32_t>(GetTickCount()); }

// Whether tick a comes after tick b; correct across the 32-bit wrap.
inline bool later(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }

// Milliseconds from now until `due`, 0 when it has passed.
inline uint32_t until(uint32_t due, uint32_t now) { return later(due, now) ? due - now : 0; }

// Sleeps (never spins) for `ms` milliseconds; at least that long.
inline void sleep_ms(uint32_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Nanoseconds of the monotonic clock (the clock of GetTickCount).
inline uint64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

constexpr uint64_t ns_per_ms = 1000000;

// Sleeps until the monotonic clock reads `due` (nanoseconds).
inline void sleep_until_ns(uint64_t due) {
    timespec ts{static_cast<time_t>(due / 1000000000u), static_cast<long>(due % 1000000000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace pacing
