// The user configuration file $HOME/.config/.vexconfig, read at every start.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fixture.h"

using namespace mgrtest;
namespace fs = std::filesystem;

namespace {

class ManagerConfig : public ManagerTest {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/telhid-home-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home = tmpl;
        fs::create_directories(home / ".config");
        ASSERT_EQ(setenv("HOME", home.c_str(), 1), 0);
    }
    void TearDown() override
    {
        ManagerTest::TearDown();
        fs::remove_all(home);
    }
    void write_config(const std::string& text)
    {
        std::ofstream(home / ".config" / ".vexconfig", std::ios::binary) << text;
    }
    // One start and stop, as an application would do it.
    int beatheart_after_start()
    {
        EXPECT_EQ(hid_server_start(&EventLog::callback, &log), 0);
        hid_server_stop();
        return gheckBeatheart;
    }

    fs::path home;
};

TEST_F(ManagerConfig, BeatheartValues)
{
    EXPECT_EQ(beatheart_after_start(), 0) << "no file";

    struct case_t {
        const char* what;
        std::string text;
        int expected;
    };
    const std::string pad(500, '#');
    const case_t cases[] = {
        {"spaces and CR", "FOO=1\n  BEATHEART = 5\r\nBAR=2", 5},
        {"low 8 bits", "BEATHEART=300", 44},
        {"file without the key keeps the value", "OTHER=9\n", 44},
        {"no digits", "BEATHEART=abc", 0},
        {"set again", "BEATHEART=9", 9},
        {"lower-case key ignored", "beatheart=7\n", 9},
        {"line without '=' ignored", "BEATHEART 8\n", 9},
        {"last line wins", "BEATHEART=3\nBEATHEART=4\n", 4},
        {"empty file keeps the value", "", 4},
        {"only the first 512 bytes", pad + "\n" + std::string(11, '#') + "\nBEATHEART=77\n", 4},
        {"a line cut at byte 512", std::string(499, '#') + "\nBEATHEART=123", 12},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.what);
        write_config(c.text);
        EXPECT_EQ(beatheart_after_start(), c.expected);
    }

    fs::remove(home / ".config" / ".vexconfig");
    EXPECT_EQ(beatheart_after_start(), 12) << "a missing file keeps the value";
}

TEST_F(ManagerConfig, UnsetHomeIsSkipped)
{
    write_config("BEATHEART=6\n");
    ASSERT_EQ(unsetenv("HOME"), 0);
    EXPECT_EQ(beatheart_after_start(), 0);
    ASSERT_EQ(setenv("HOME", home.c_str(), 1), 0);
    EXPECT_EQ(beatheart_after_start(), 6);
}

}  // namespace
