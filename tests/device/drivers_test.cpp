// The three chip drivers: identity, matching, report layouts both ways, the
// HT82R83X protocol object and its version fix-up.
#include <json/json.h>

#include <string>

#include "device/ht82r83x.h"
#include "device/sss1629.h"
#include "device/tl8258.h"
#include "protocol/proto.h"
#include "vphone.h"

using namespace devtest;
using vtel::te_chip;

namespace {

TEST(ChipDrivers, IdentityAndRegistryKeys) {
    struct row_t {
        const CHidDriver* drv;
        const char* name;
        uint16_t vid, pid, usage_page;
        uint32_t key;
    };
    const row_t rows[] = {
        {s1629_driver, "sss1629", 0x0C76, 0x1685, 0, 0x0C761685},
        {tl8258_driver, "tl8158", 0x2488, 0x0000, 0xFF01, 0x24880000},
        {ht82r83x_driver, "ht82r83x", 0x04D9, 0x2832, 0, 0x04D92832},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.drv->drv_name, r.name);
        EXPECT_EQ(r.drv->vid, r.vid);
        EXPECT_EQ(r.drv->pid, r.pid);
        EXPECT_EQ(r.drv->usage_page, r.usage_page);
        EXPECT_EQ(r.drv->key, r.key);
    }
}

TEST(ChipDrivers, MatchByProductRangeAndUsagePage) {
    struct row_t {
        const CHidDriver* drv;
        uint16_t vid, pid, page;
        bool taken;
    };
    const row_t rows[] = {
        // The SSS1629 driver takes every record it is asked about.
        {s1629_driver, 0x0C76, 0x1685, 0x000C, true},
        {s1629_driver, 0x0C76, 0x1685, 0xFF00, true},
        // HT82R83X: only the vendor-defined interface.
        {ht82r83x_driver, 0x04D9, 0x2832, 0xFF00, true},
        {ht82r83x_driver, 0x04D9, 0x2832, 0xFF01, false},
        {ht82r83x_driver, 0x04D9, 0x2832, 0x000C, false},
        // TL8258: products 0x8001-0x8020 on page 0xFF01.
        {tl8258_driver, 0x2488, 0x8001, 0xFF01, true},
        {tl8258_driver, 0x2488, 0x8020, 0xFF01, true},
        {tl8258_driver, 0x2488, 0x8000, 0xFF01, false},
        {tl8258_driver, 0x2488, 0x8021, 0xFF01, false},
        {tl8258_driver, 0x2488, 0x8010, 0xFF00, false},
        {tl8258_driver, 0x2489, 0x8010, 0xFF01, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.drv->drv_name << std::hex << " " << r.pid << "/" << r.page);
        hid_device_info rec = record(r.vid, r.pid, r.page);
        EXPECT_EQ(r.drv->match_device(&rec), r.taken);
    }
}

TEST(ChipDrivers, MatchLogsOnlyWhenTaken) {
    hid_device_info yes = record(0x04D9, 0x2832, 0xFF00), no = record(0x04D9, 0x2832, 0xFF01);
    testing::internal::CaptureStdout();
    ht82r83x_driver->match_device(&no);
    std::string refused = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    ht82r83x_driver->match_device(&yes);
    std::string taken = testing::internal::GetCapturedStdout();
    EXPECT_EQ(refused, "");
    EXPECT_NE(taken.find("ht82r83x(04D9:2832) driver match [0xFF00/0xFF00]\n"), std::string::npos) << taken;
}

// ---------------------------------------------------------------------------
// Output reports, as the telephone receives them.

class ChipWrite : public VPhoneTest {};

TEST_F(ChipWrite, Sss1629CutsIntoThreeBytePiecesPaddedWithFF) {
    auto phone = vtel::plug(te_chip::sss1629);
    DriverHandle h(*s1629_driver, phone);
    ASSERT_NE(h.get(), nullptr);
    EXPECT_EQ(h.write({0xFF, 0x06, 0x43, 1, 2, 3, 4}), 7);
    auto w = phone.written();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].bytes, (bytes_t{0x00, 0x80, 0xFF, 0x06, 0x43}));
    EXPECT_EQ(w[1].bytes, (bytes_t{0x00, 0x80, 1, 2, 3}));
    EXPECT_EQ(w[2].bytes, (bytes_t{0x00, 0x80, 4, 0xFF, 0xFF}));
}

TEST_F(ChipWrite, Ht82r83xSendsSixBytesWithCountInReportThree) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    DriverHandle h(*ht82r83x_driver, phone);
    ASSERT_NE(h.get(), nullptr);
    bytes_t cmd{0xFF, 0x0B, 0x41, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(h.write(cmd), 13);
    auto w = phone.written();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].bytes, (bytes_t{3, 6, 0xFF, 0x0B, 0x41, 1, 2, 3}));
    EXPECT_EQ(w[1].bytes, (bytes_t{3, 6, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(w[2].bytes, (bytes_t{3, 1, 10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(phone.frames().size(), 1u);
    EXPECT_EQ(phone.frames()[0].bytes(), cmd);
}

TEST_F(ChipWrite, Tl8258SendsNineByteReportsOfSixBytes) {
    auto phone = vtel::plug(te_chip::tl8258);
    DriverHandle h(*tl8258_driver, phone);
    ASSERT_NE(h.get(), nullptr);
    EXPECT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    EXPECT_EQ(h.write({0xFF, 0x06, 0x41, 1, 2, 3, 4, 5}), 8);
    auto w = phone.written();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].bytes, (bytes_t{4, 3, 0xFF, 0x01, 0x6A, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(w[1].bytes, (bytes_t{4, 6, 0xFF, 0x06, 0x41, 1, 2, 3, 0xFF}));
    EXPECT_EQ(w[2].bytes, (bytes_t{4, 2, 4, 5, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(ChipWrite, EmptyCommandOrClosedDeviceWritesNothing) {
    auto phone = vtel::plug(te_chip::tl8258);
    for (const CHidDriver* drv : {s1629_driver, ht82r83x_driver, tl8258_driver}) {
        SCOPED_TRACE(drv->drv_name);
        DriverHandle h(*drv, phone);
        uint8_t cmd[] = {0xFF, 0x01, 0x6A};
        EXPECT_EQ(drv->write(h.get(), cmd, 0, nullptr), 0);
        // A closed device (null handle) takes nothing: reporting the bytes as
        // sent would hide a lost command.
        EXPECT_EQ(drv->write(nullptr, cmd, 3, nullptr), 0);
    }
    EXPECT_TRUE(phone.written().empty());
}

TEST_F(ChipWrite, RefusedReportIsAnErrorNotSuccess) {
    struct row_t {
        const CHidDriver* drv;
        te_chip chip;
    };
    for (auto r : {row_t{s1629_driver, te_chip::sss1629}, row_t{ht82r83x_driver, te_chip::ht82r83x},
                   row_t{tl8258_driver, te_chip::tl8258}}) {
        SCOPED_TRACE(r.drv->drv_name);
        auto phone = vtel::plug(r.chip);
        DriverHandle h(*r.drv, phone);
        ASSERT_NE(h.get(), nullptr);
        phone.unplug();
        EXPECT_EQ(h.write({0xFF, 0x06, 0x41, 1, 2, 3, 4, 5}), HID_ERR_DEVICE);
        EXPECT_TRUE(phone.written().empty());
    }
}

// ---------------------------------------------------------------------------
// Input reports, as the driver passes them on.

class ChipRead : public VPhoneTest {};

TEST_F(ChipRead, Sss1629RestoresBitZeroAndDropsRepeats) {
    auto phone = vtel::plug(te_chip::sss1629);
    DriverHandle h(*s1629_driver, phone);
    ASSERT_NE(h.get(), nullptr);
    struct row_t {
        bytes_t report;
        bytes_t passed;  // empty: dropped as a repeat
    };
    const row_t rows[] = {
        {{0x00, 0x01, 0x02, 0x33}, {0x01, 0x02, 0x32}},  // sets the detector apart from the cases below
        {{0x10, 0x20, 0x30, 0x41}, {0x20, 0x30, 0x40}},  // bit 7 of byte 0 is 0
        {{0x90, 0x20, 0x30, 0x40}, {0x20, 0x30, 0x41}},  // bit 7 of byte 0 is 1
        {{0x90, 0x20, 0x30, 0x40}, {}},                  // same fourth byte again
        {{0x00, 0x55, 0x66, 0x40}, {}},                  // compared as received, whatever else differs
        {{0x80, 0x21, 0x31, 0x42, 0x07}, {0x21, 0x31, 0x43, 0x07}},  // bytes after the fourth unchanged
        {{0x80, 0x11, 0x22}, {0x11, 0x22}},  // no fourth byte: nothing to restore or compare
        {{0x80, 0x21, 0x31, 0x43}, {0x21, 0x31, 0x43}},  // so the detector still holds 0x42
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.report));
        ASSERT_EQ(phone.inject_report(r.report), 0);
        testing::internal::CaptureStdout();
        unsigned char buf[64];
        int n = 0;
        for (int i = 0; i < 40 && n == 0; ++i) {
            n = s1629_driver->read(h.get(), buf, sizeof buf, 50);
            if (n == 0 && r.passed.empty()) break;  // the dropped report gives 0 at once
        }
        std::string out = testing::internal::GetCapturedStdout();
        ASSERT_GE(n, 0);
        EXPECT_EQ(bytes_t(buf, buf + n), r.passed);
        if (r.passed.empty()) {
            EXPECT_NE(out.find("update in process:40\n"), std::string::npos) << out;
        }
    }
}

// Each telephone has its own repetition state: a report of one telephone is
// never dropped because another telephone's last report had the same byte.
TEST_F(ChipRead, Sss1629RepeatsAreTrackedPerTelephone) {
    auto a = vtel::plug(te_chip::sss1629);
    auto b = vtel::plug(te_chip::sss1629);
    DriverHandle ha(*s1629_driver, a);
    DriverHandle hb(*s1629_driver, b);
    ASSERT_NE(ha.get(), nullptr);
    ASSERT_NE(hb.get(), nullptr);
    testing::internal::CaptureStdout();
    ASSERT_EQ(a.inject_report(bytes_t{0x00, 0x11, 0x22, 0x34}), 0);
    EXPECT_EQ(ha.read(), (bytes_t{0x11, 0x22, 0x34}));
    ASSERT_EQ(b.inject_report(bytes_t{0x00, 0x55, 0x66, 0x34}), 0);
    EXPECT_EQ(hb.read(), (bytes_t{0x55, 0x66, 0x34}));
    // The same telephone repeating itself is still dropped.
    ASSERT_EQ(b.inject_report(bytes_t{0x00, 0x55, 0x66, 0x34}), 0);
    unsigned char buf[64];
    EXPECT_EQ(s1629_driver->read(hb.get(), buf, sizeof buf, 500), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("update in process:34\n"), std::string::npos) << out;
}

TEST_F(ChipRead, Ht82r83xPassesOnlyTheCountedBytesThatArrived) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    DriverHandle h(*ht82r83x_driver, phone);
    ASSERT_NE(h.get(), nullptr);
    struct row_t {
        bytes_t report;
        bytes_t passed;
    };
    const row_t rows[] = {
        {{0x03, 0x04, 0xFF, 0x02, 0x81, 0x86, 0xFF, 0xFF}, {0xFF, 0x02, 0x81, 0x86}},
        {{0x03, 0xF3, 0xFF, 0x01, 0xE7, 0xFF, 0xFF, 0xFF}, {0xFF, 0x01, 0xE7}},  // high nibble ignored
        {{0x03, 0x06, 0xFF, 0x02, 0x81}, {0xFF, 0x02, 0x81}},  // claims 6, three arrived
        {{0x03, 0x0F, 1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},  // claims 15, report holds 6
        {{0x03, 0x00, 1, 2, 3, 4, 5, 6}, {}},                  // nothing counted
        {{0x03}, {}},                                          // no count at all
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.report));
        ASSERT_EQ(phone.inject_report(r.report), 0);
        if (r.passed.empty()) {
            unsigned char buf[64];
            int n = 0;
            for (int i = 0; i < 20 && n == 0; ++i) n = ht82r83x_driver->read(h.get(), buf, sizeof buf, 20);
            EXPECT_EQ(n, 0);
        } else {
            EXPECT_EQ(h.read(), r.passed);
        }
    }
}

TEST_F(ChipRead, Ht82r83xNeverWritesPastTheCallersBuffer) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    DriverHandle h(*ht82r83x_driver, phone);
    ASSERT_EQ(phone.inject_report(bytes_t{0x03, 0x06, 1, 2, 3, 4, 5, 6}), 0);
    unsigned char buf[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int n = 0;
    for (int i = 0; i < 40 && n == 0; ++i) n = ht82r83x_driver->read(h.get(), buf, 2, 50);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(bytes_t(buf, buf + 4), (bytes_t{1, 2, 0, 0}));
}

TEST_F(ChipRead, Tl8258DropsTheReportNumberOnly) {
    auto phone = vtel::plug(te_chip::tl8258);
    DriverHandle h(*tl8258_driver, phone);
    ASSERT_NE(h.get(), nullptr);
    ASSERT_EQ(phone.inject_report(bytes_t{0x04, 0xFF, 0x02, 0x81, 0x86, 0xFF, 0xFF, 0xFF, 0xFF}), 0);
    EXPECT_EQ(h.read(), (bytes_t{0xFF, 0x02, 0x81, 0x86, 0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(phone.inject_report(bytes_t{0x04, 0x11, 0x22}), 0);
    EXPECT_EQ(h.read(), (bytes_t{0x11, 0x22}));
}

TEST_F(ChipRead, ReadErrorsReachTheReaderWhenTheTelephoneIsGone) {
    struct row_t {
        const CHidDriver* drv;
        te_chip chip;
    };
    for (auto r : {row_t{s1629_driver, te_chip::sss1629}, row_t{ht82r83x_driver, te_chip::ht82r83x},
                   row_t{tl8258_driver, te_chip::tl8258}}) {
        SCOPED_TRACE(r.drv->drv_name);
        auto phone = vtel::plug(r.chip);
        DriverHandle h(*r.drv, phone);
        unsigned char buf[64];
        EXPECT_EQ(r.drv->read(h.get(), buf, sizeof buf, 10), 0);  // a timeout is "nothing came"
        phone.unplug();
        EXPECT_LT(r.drv->read(h.get(), buf, sizeof buf, 10), 0);
    }
}

// ---------------------------------------------------------------------------
// The HT82R83X protocol object and its version fix-up.

class HtProtocol : public VPhoneTest {
protected:
    void TearDown() override {
        CProtocol::freeAll();
        VPhoneTest::TearDown();
    }
};

TEST_F(HtProtocol, TelephonesShareOneRegisteredObjectWithTheHook) {
    auto a = vtel::plug(te_chip::ht82r83x), b = vtel::plug(te_chip::ht82r83x);
    CProtocol *pa = nullptr, *pb = nullptr;
    DriverHandle ha(*ht82r83x_driver, a, &pa), hb(*ht82r83x_driver, b, &pb);
    ASSERT_NE(pa, nullptr);
    EXPECT_EQ(pa, pb);
    EXPECT_STREQ(pa->name(), "qm_prot");
    EXPECT_EQ(CProtocol::get_prot_by_name("qm_prot"), pa);
    EXPECT_NE(pa, ptr_prot_qm);
    EXPECT_EQ(pa->regist_evt_dec_hook(hack_ht_version), &hack_ht_version);

    // The registry's objects go when the manager stops; the next open makes
    // a new one.
    CProtocol::freeAll();
    CProtocol* again = nullptr;
    DriverHandle hc(*ht82r83x_driver, a, &again);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(CProtocol::get_prot_by_name("qm_prot"), again);
}

TEST_F(HtProtocol, OtherChipsDecodeWithTheManagersDefault) {
    auto phone = vtel::plug(te_chip::tl8258);
    for (const CHidDriver* drv : {s1629_driver, tl8258_driver}) {
        CProtocol* prot = ptr_prot_qm;
        DriverHandle h(*drv, phone, &prot);
        EXPECT_EQ(prot, nullptr) << drv->drv_name;
    }
}

TEST(HtVersionHack, OnlyVersion134BecomesAnswer194) {
    struct row_t {
        te_STR_ID event;
        Json::Value value;  // null: no "value" member
        Json::Value expected;
    };
    const row_t rows[] = {
        {STR_VERSION, 134, 194},
        {STR_VERSION, 135, 135},
        {STR_VERSION, 194, 194},
        {STR_VERSION, "134", "134"},
        {STR_KEY, 134, 134},
        {STR_VERSION, Json::Value(), Json::Value()},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.event << " " << r.value.toStyledString());
        Json::Value event(Json::objectValue);
        event["event"] = "x";
        if (!r.value.isNull()) event["value"] = r.value;
        hack_ht_version(r.event, event);
        EXPECT_EQ(event.isMember("value"), !r.expected.isNull());
        if (!r.expected.isNull()) {
            EXPECT_EQ(event["value"], r.expected);
        }
    }
}

TEST_F(HtProtocol, VersionAnswerDecodesAs194OnlyForHt82r83x) {
    auto phone = vtel::plug(te_chip::ht82r83x);
    CProtocol* qm = nullptr;
    DriverHandle h(*ht82r83x_driver, phone, &qm);
    ASSERT_NE(qm, nullptr);
    unsigned char answer[] = {0xFF, 0x02, 0x81, 0x86};  // version 134
    devinfo_t dev;
    dev.id = 3;
    std::string out;
    qm->decode(&dev, answer, 4, out);
    EXPECT_NE(out.find("\"value\":194"), std::string::npos) << out;
    devinfo_t other;
    other.id = 4;
    out.clear();
    ptr_prot_qm->decode(&other, answer, 4, out);
    EXPECT_NE(out.find("\"value\":134"), std::string::npos) << out;
}

}  // namespace
