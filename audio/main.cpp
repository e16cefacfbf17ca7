// telsnd PORT: the audio service for the desktop application.
#include <cstdio>

#include "server.h"

int main(int argc, char **argv)
{
    const int port = argc == 2 ? snd_parse_port(argv[1]) : -1;
    if (port < 0) {
        fprintf(stderr, "usage: %s PORT\n", argc ? argv[0] : "telsnd");
        return 2;
    }
    // Progress lines are read by people and tools while the service runs.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return snd_server_run(port);
}
