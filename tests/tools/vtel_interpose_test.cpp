// A shared library linked against libhidapi-hidraw reaches the virtual
// telephone when the program links libvtel ahead of it.
#include "hid_probe.h"
#include "vtel.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

namespace {

TEST(Interposition, LibraryLinkedAgainstHidapiSeesTheVirtualTelephones)
{
    vtel::reset();
    auto p = vtel::plug(vtel::te_chip::sss1629);
    EXPECT_EQ(probe_count_devices(0x0C76), 1);
    const unsigned char report[5] = {0x00, 0x80, 0xFF, 0x01, 0x6A};
    EXPECT_EQ(probe_write(p.path().c_str(), report, 5), 5);
    ASSERT_EQ(p.frames().size(), 1u);
    EXPECT_EQ(p.frames()[0].opcode, 0x6A);
    vtel::reset();
}

TEST(Interposition, GlobalLookupFindsLibvtelFirst)
{
    Dl_info info{};
    void* sym = dlsym(RTLD_DEFAULT, "hid_write");
    ASSERT_NE(sym, nullptr);
    ASSERT_NE(dladdr(sym, &info), 0);
    EXPECT_NE(std::string(info.dli_fname).find("libvtel.so"), std::string::npos) << info.dli_fname;
}

}  // namespace
