// The monitor's main loop.
#pragma once

#include "options.h"
#include "printer.h"

// Starts the library (callback or TCP delivery, as `opt` says), sends the
// commands read from `input_fd` and prints their results and every event to
// `out`, until the end of input (then `opt.linger_ms` more) or until
// `stop_fd` becomes readable. Stops the library before it returns. Returns
// the process's exit status.
int run_monitor(const monitor_options_t& opt, int input_fd, int stop_fd, CPrinter& out);
