// telhid-demo: shows telhid and telsnd at work on virtual hardware, as a
// transcript a newcomer can follow.
#include <fcntl.h>
#include <unistd.h>

#include <telhid.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits.h>
#include <string>

#include "acts.h"
#include "stdout_aside.h"

#ifndef DEMO_TELSND
#define DEMO_TELSND ""
#endif
#ifndef DEMO_VSND
#define DEMO_VSND ""
#endif

namespace {

// The real standard output carries the transcript; the library's own lines
// go to a log file in the demo's folder.
const int g_out_fd = stdout_aside_fd();

const char* const m_usage =
    "usage: telhid-demo [--telsnd PROGRAM] [--vsnd PLUGIN] [--clean]\n"
    "Runs libtelhid against two virtual telephones and telsnd against a virtual\n"
    "sound card, and explains what happens. Needs root for the hot-plug messages.\n"
    "--clean removes the run's files (logs, recording) at the end.\n";

}  // namespace

int main(int argc, char** argv)
{
    std::string telsnd = DEMO_TELSND, vsnd = DEMO_VSND;
    bool clean = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--telsnd") && i + 1 < argc) {
            telsnd = argv[++i];
        } else if (!std::strcmp(argv[i], "--vsnd") && i + 1 < argc) {
            vsnd = argv[++i];
        } else if (!std::strcmp(argv[i], "--clean")) {
            clean = true;
        } else {
            std::fputs(m_usage, stderr);
            return 2;
        }
    }
    // The audio service runs in the demo's folder: relative paths would not
    // hold there.
    for (std::string* path : {&telsnd, &vsnd}) {
        if (char* full = path->empty() ? nullptr : realpath(path->c_str(), nullptr)) {
            *path = full;
            std::free(full);
        }
    }
    FILE* out = g_out_fd >= 0 ? fdopen(g_out_fd, "w") : nullptr;
    char dir_template[] = "/tmp/telhid-demo-XXXXXX";
    if (!out || !mkdtemp(dir_template)) {
        std::perror("telhid-demo");
        return 1;
    }
    const std::string dir = dir_template;
    int log = open((dir + "/library.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log >= 0) {
        dup2(log, STDOUT_FILENO);
        close(log);
    }

    CNarrator n(out);
    n.title(std::string("telhid ") + hid_server_version() + " and telsnd on virtual hardware");
    n.note("Everything below runs on this machine without USB or sound hardware: the");
    n.note("telephones are simulated behind hidapi's functions (libvtel), the sound card");
    n.note("is an ALSA plugin (vsnd). Lines marked \"app >\" are calls an application makes,");
    n.note("\"phone N >\" things done to a telephone, \"<\" what comes back.");

    n.part("Telephones (libtelhid)");
    bool phones_ok = run_phone_act(n);
    n.part("Sound (telsnd)");
    bool sound_ok = run_sound_act(n, telsnd, vsnd, dir);

    n.part(phones_ok && sound_ok ? "Done: every step worked." : "Done, but some steps did not work (marked !!).");
    if (clean)
        std::filesystem::remove_all(dir);
    else
        n.note("Files of this run (library log, telsnd log, the recording): " + dir);
    n.note("Next: docs/developing.md, docs/reference.md, and telhid-monitor --help.");
    std::fflush(stdout);
    return phones_ok && sound_ok ? 0 : 1;
}
