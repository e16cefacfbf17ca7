// Report pacing of the chip drivers: the 32-bit millisecond tick and sleeps
// towards a due tick. Internal to the device layer.
#pragma once

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

}  // namespace pacing
