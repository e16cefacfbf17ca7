// `cmake --install` into a temporary prefix, then an application built
// against that prefix, once through pkg-config and once through
// find_package(telhid), running against a virtual telephone.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "child.h"

namespace {

using insttest::read_file;
using insttest::run_shell;
using insttest::write_file;

bool exists(const std::string& path)
{
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

std::string link_target(const std::string& path)
{
    char buf[512];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

class Install : public testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/telhid-install-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root_ = dir;
        prefix_ = root_ + "/prefix";
        std::string out;
        ASSERT_EQ(run_shell("'" CMAKE_COMMAND "' --install '" BUILD_DIR "' --prefix '" + prefix_ + "'", out), 0)
            << out;
        // A telephone at start, and a key pressed again and again until the
        // application, once it has seen the telephone, has seen the key.
        write_file(root_ + "/phones.vtel", "plug ht82r83x\nsleep 1500\nkey 5\nsleep 1500\nkey 5\nsleep 1500\n"
                                           "key 5\nsleep 3000\nkey 5\nsleep 5000\nkey 5\n");
    }

    void TearDown() override
    {
        if (!root_.empty()) {
            std::string out;
            run_shell("rm -rf '" + root_ + "'", out);
        }
    }

    // Runs an application against the virtual telephone; returns its output.
    std::string run_app(const std::string& program, int& status, const std::string& env = "")
    {
        std::string out;
        status = run_shell(env + " LD_PRELOAD='" VTEL_LIBRARY "' VTEL_SCRIPT='" + root_ + "/phones.vtel' '" +
                               program + "'",
                           out);
        return out;
    }

    std::string root_, prefix_;
};

// In sanitizer builds the installed library is instrumented: a plain
// application cannot load it.
#ifdef TELHID_SANITIZE
#define SKIP_IN_SANITIZER_BUILDS() GTEST_SKIP() << "instrumented library"
#else
#define SKIP_IN_SANITIZER_BUILDS() (void)0
#endif

TEST_F(Install, PutsEveryFileInPlace)
{
    const std::string lib = prefix_ + "/" LIBDIR;
    EXPECT_EQ(link_target(lib + "/libtelhid.so"), "libtelhid.so.1");
    EXPECT_TRUE(exists(lib + "/" + link_target(lib + "/libtelhid.so.1")));
    EXPECT_TRUE(exists(prefix_ + "/include/telhid.h"));
    EXPECT_TRUE(exists(prefix_ + "/bin/telsnd"));
    EXPECT_TRUE(exists(prefix_ + "/bin/telhid-monitor"));
    EXPECT_TRUE(exists(lib + "/pkgconfig/telhid.pc"));
    EXPECT_TRUE(exists(lib + "/cmake/telhid/telhidConfig.cmake"));
    EXPECT_TRUE(exists(lib + "/cmake/telhid/telhidConfigVersion.cmake"));

    std::string rules = read_file(prefix_ + "/lib/udev/rules.d/70-telhid.rules");
    for (const char* line : {
             "KERNEL==\"hidraw*\", SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"0c76\", ATTRS{idProduct}==\"1685\", "
             "TAG+=\"uaccess\"",
             "KERNEL==\"hidraw*\", SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"04d9\", ATTRS{idProduct}==\"2832\", "
             "TAG+=\"uaccess\"",
             "ATTRS{idVendor}==\"2488\", ATTRS{idProduct}==\"800[1-9a-f]\"",
             "ATTRS{idVendor}==\"2488\", ATTRS{idProduct}==\"8020\"",
             "SUBSYSTEMS==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTRS{idVendor}==\"0c76\"",
         })
        EXPECT_NE(rules.find(line), std::string::npos) << line;

    // The installed monitor finds the installed library by itself.
    std::string out;
    EXPECT_EQ(run_shell("ASAN_OPTIONS=detect_leaks=0 '" + prefix_ + "/bin/telhid-monitor' --version", out), 0) << out;
    EXPECT_NE(out.find("library 1.1.0.6x"), std::string::npos) << out;
}

TEST_F(Install, ApplicationBuiltWithPkgConfigRuns)
{
    SKIP_IN_SANITIZER_BUILDS();
    const std::string pc = "PKG_CONFIG_PATH='" + prefix_ + "/" LIBDIR "/pkgconfig'";
    std::string out;
    ASSERT_EQ(run_shell(pc + " pkg-config --modversion telhid", out), 0) << out;
    EXPECT_EQ(out, PROJECT_VERSION "\n");
    const std::string app = root_ + "/app_pc";
    ASSERT_EQ(run_shell("'" C_COMPILER "' -std=c11 -Wall -Wextra -Werror '" APP_SOURCE_DIR "/telhid_app.c' -o '" +
                            app + "' $(" + pc + " pkg-config --cflags --libs telhid)",
                        out),
              0)
        << out;

    int status = -1;
    out = run_app(app, status, "LD_LIBRARY_PATH='" + prefix_ + "/" LIBDIR "'");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("event: {\"dev\":1,\"event\":\"Phone attached\""), std::string::npos) << out;
    EXPECT_NE(out.find("command: 3 SUCCESS"), std::string::npos) << out;
    EXPECT_NE(out.find("event: {\"dev\":1,\"event\":\"电话按键\",\"value\":\"5\"}"), std::string::npos) << out;
}

TEST_F(Install, ApplicationBuiltWithFindPackageRuns)
{
    SKIP_IN_SANITIZER_BUILDS();
    std::string out;
    const std::string build = root_ + "/app_build";
    ASSERT_EQ(run_shell("'" CMAKE_COMMAND "' -S '" APP_SOURCE_DIR "' -B '" + build + "' -DCMAKE_PREFIX_PATH='" +
                            prefix_ + "' -DCMAKE_C_COMPILER='" C_COMPILER "'",
                        out),
              0)
        << out;
    ASSERT_EQ(run_shell("'" CMAKE_COMMAND "' --build '" + build + "'", out), 0) << out;

    // No LD_LIBRARY_PATH: the imported target's location is enough.
    int status = -1;
    out = run_app(build + "/telhid_app", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("event: {\"dev\":1,\"event\":\"Phone attached\""), std::string::npos) << out;
    EXPECT_NE(out.find("done"), std::string::npos) << out;
}

}  // namespace
