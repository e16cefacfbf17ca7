// LD_PRELOAD=libvtel.so puts virtual telephones under a program that was
// built against hidapi alone, described by a script read at load.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string run_preloaded(const std::string& script_text)
{
    char script[] = "/tmp/vtel-preload-XXXXXX";
    int fd = mkstemp(script);
    if (fd < 0)
        return {};
    close(fd);
    std::ofstream(script) << script_text;
    // A sanitizer runtime in libvtel would otherwise insist on coming first.
    std::string cmd = std::string("ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=") + VTEL_LIBRARY +
                      " VTEL_SCRIPT=" + script + " " + HID_LISTER + " 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    unlink(script);
    return out;
}

TEST(Preload, ScriptAtLoadPlugsTelephonesBeforeTheProgramLooks)
{
    std::string out = run_preloaded("# two telephones\nplug sss1629 version=77\nplug tl8258 pid=8001\n");
    EXPECT_NE(out.find("0c76:1685 /dev/vtel/hidraw1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("2488:8001 /dev/vtel/hidraw2\n"), std::string::npos) << out;
    // FF 02 81 4D in two reports of three frame bytes; bit 0 of the fourth
    // byte travels in bit 7 of the first, the chip's toggle takes its place.
    EXPECT_NE(out.find("read 80 FF 02 81 80 4D FF FE\n"), std::string::npos) << out;
}

TEST(Preload, BadScriptLineIsReported)
{
    std::string out = run_preloaded("plug sss1629\nplug nosuchchip\n");
    EXPECT_NE(out.find(":2: error: unknown chip 'nosuchchip'"), std::string::npos) << out;
    EXPECT_NE(out.find("0c76:1685"), std::string::npos) << out;
}

}  // namespace
