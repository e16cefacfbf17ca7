// The library writes its diagnostics to standard output, some of them while
// it is loaded. A program that needs standard output to itself (the monitor's
// events, the demo's transcript) links stdout_aside.cpp: before any shared
// library's initialisation (the executable's pre-initialisation functions run
// first) it takes the real standard output aside and points descriptor 1 at
// /dev/null. The program decides later where descriptor 1 goes.
#pragma once

// The real standard output, or -1 when it could not be taken aside.
int stdout_aside_fd();
