// A settable wall clock for the protocol tests. The test programs define
// time() themselves (fixed_time.cpp), which the statically linked engine
// calls; while no fixed time is set it reads the real clock.
#pragma once

#include <ctime>

typedef time_t (*test_clock_fn)();
void set_test_clock(test_clock_fn clock);
