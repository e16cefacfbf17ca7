// Commands as the telephones receive them: bytes, report layout, pacing and
// addressing.
#include <algorithm>

#include "fixture.h"

using namespace mgrtest;

namespace {

using ms_d = std::chrono::duration<double, std::milli>;

// The SSS1629 needs 32 ms between reports; the clock of the telephone's
// timestamps and the library's millisecond tick differ by up to 1 ms.
constexpr double kMinGapMs = 31.0;

class ManagerCommands : public ManagerTest {
protected:
    void SetUp() override { start(); }
};

std::vector<uint8_t> bytes_of(std::initializer_list<int> v)
{
    return std::vector<uint8_t>(v.begin(), v.end());
}

TEST_F(ManagerCommands, MultiReportCommandBytesAndPacing)
{
    attached_phone_t p = attach();
    std::this_thread::sleep_for(100ms);  // let the mount's queries drain
    p.phone.clear_written();

    EXPECT_EQ(hid_send_cmd("写FLASH时间", "5", p.dev), 4);
    std::vector<vtel::report_t> reports = p.phone.written();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].bytes, bytes_of({0x00, 0x80, 0xFF, 0x02, 0x24}));
    EXPECT_EQ(reports[1].bytes, bytes_of({0x00, 0x80, 0x05, 0xFF, 0xFF}));
    EXPECT_GE(ms_d(reports[1].time - reports[0].time).count(), kMinGapMs);

    // 16 digits: a 20-byte frame in 7 reports, each at least 32 ms apart.
    p.phone.clear_written();
    const std::string digits = "0123456789*#pbc0";
    EXPECT_EQ(hid_send_cmd("DTMF发送", digits.c_str(), -1), 20);
    auto frame = p.phone.wait_frame(OP_DTMF, 1000ms);
    ASSERT_TRUE(frame);
    std::vector<uint8_t> expect = {0xFF, 18, OP_DTMF, 0x64};
    for (int i = 0; i < 15; ++i)
        expect.push_back(static_cast<uint8_t>(i));
    expect.push_back(0);
    EXPECT_EQ(frame->bytes(), expect);
    reports = p.phone.written();
    ASSERT_EQ(reports.size(), 7u);
    for (size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(ms_d(reports[i].time - reports[i - 1].time).count(), kMinGapMs) << i;
    EXPECT_EQ(reports.back().bytes, bytes_of({0x00, 0x80, 0x0E, 0x00, 0xFF}));
}

TEST_F(ManagerCommands, QuickCommandsFromTwoThreadsAreNotInterleaved)
{
    attached_phone_t p = attach();
    std::this_thread::sleep_for(100ms);
    p.phone.clear_written();

    std::thread other([&] { EXPECT_EQ(hid_send_cmd("DTMF发送", "123456789", p.dev), 13); });
    EXPECT_EQ(hid_send_cmd("DTMF发送", "987654321", p.dev), 13);
    other.join();

    std::vector<vtel::frame_t> frames = p.phone.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].opcode, OP_DTMF);
    EXPECT_EQ(frames[1].opcode, OP_DTMF);
    EXPECT_NE(frames[0].data, frames[1].data);
    EXPECT_LE(frames[0].last, frames[1].first) << "one command's reports are not interleaved";
    std::vector<vtel::report_t> reports = p.phone.written();
    ASSERT_EQ(reports.size(), 10u);
    for (size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(ms_d(reports[i].time - reports[i - 1].time).count(), kMinGapMs) << i;
}

TEST_F(ManagerCommands, Addressing)
{
    attached_phone_t a = attach();
    vtel::phone_cfg_t other;
    other.chip = vtel::te_chip::ht82r83x;
    attached_phone_t b = attach(other);
    std::this_thread::sleep_for(100ms);

    struct case_t {
        int device;
        bool to_a, to_b;
        int result;
    };
    const case_t cases[] = {
        {-1, true, true, 3},
        {a.dev, true, false, 3},
        {b.dev, false, true, 3},
        {b.dev + 0x10000, false, true, 3},  // the low 16 bits name the telephone
        {0, false, false, 0},
        {999, false, false, 0},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.device);
        a.phone.clear_written();
        b.phone.clear_written();
        EXPECT_EQ(hid_send_cmd("话机静音", nullptr, c.device), c.result);
        EXPECT_EQ(a.phone.frames().size(), c.to_a ? 1u : 0u);
        EXPECT_EQ(b.phone.frames().size(), c.to_b ? 1u : 0u);
    }
}

TEST_F(ManagerCommands, EncodingErrorsWriteNothing)
{
    attached_phone_t p = attach();
    std::this_thread::sleep_for(100ms);
    p.phone.clear_written();

    struct case_t {
        const char* name;
        const char* param;
        int result;
    };
    const case_t cases[] = {
        {"no such command", nullptr, ERR_UNKOWN_CMD},
        {"电话机插入", "1", ERR_UNKOWN_CMD},  // without its final space
        {nullptr, nullptr, ERR_UNKOWN_CMD},
        {"DTMF发送", "", ERR_WRONG_PARAM},
        {"DTMF发送", nullptr, ERR_WRONG_PARAM},
        {"设置话机的时间", "2023-13-1 10:20:30", ERR_WRONG_PARAM},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        EXPECT_EQ(hid_send_cmd(c.name, c.param, -1), c.result);
    }
    const std::string too_long(253, '1');
    EXPECT_EQ(hid_send_cmd("DTMF发送", too_long.c_str(), -1), ERR_BUFF_NOT_ENOUGH);
    // The heartbeat encodes to nothing: each telephone gets an empty write.
    EXPECT_EQ(hid_send_cmd("USB心跳", nullptr, -1), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(p.phone.written().empty());
}

}  // namespace
