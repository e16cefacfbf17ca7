// Reports in both directions for each chip, checked against the host's side
// of the chip's report layout.
#include "host_framing.h"
#include "vtel.h"

#include <hidapi.h>

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using host::bytes_t;
using vtel::te_chip;

namespace {

struct chip_case {
    te_chip chip;
    uint16_t vid, pid, usage_page;
    size_t out_len, in_len;
};

const chip_case m_chips[] = {
    {te_chip::sss1629, 0x0C76, 0x1685, 0x000C, 5, 4},
    {te_chip::ht82r83x, 0x04D9, 0x2832, 0xFF00, 8, 8},
    {te_chip::tl8258, 0x2488, 0x8010, 0xFF01, 9, 9},
};

void PrintTo(const chip_case& c, std::ostream* os)
{
    *os << vtel::chip_name(c.chip);
}

class Framing : public ::testing::TestWithParam<chip_case> {
protected:
    void SetUp() override
    {
        vtel::reset();
        phone_ = vtel::plug(GetParam().chip);
        dev_ = hid_open_path(phone_.path().c_str());
        ASSERT_NE(dev_, nullptr);
    }
    void TearDown() override
    {
        if (dev_)
            hid_close(dev_);
        vtel::reset();
    }

    // Everything queued for the host, unframed as the host's driver does.
    bytes_t read_stream()
    {
        bytes_t stream;
        unsigned char buf[64];
        int n;
        while ((n = hid_read_timeout(dev_, buf, sizeof buf, 0)) > 0) {
            EXPECT_EQ(static_cast<size_t>(n), GetParam().in_len);
            bytes_t part = host::unpack_input(GetParam().chip, bytes_t(buf, buf + n), last3_);
            stream.insert(stream.end(), part.begin(), part.end());
        }
        EXPECT_EQ(n, 0);
        return stream;
    }

    void write_command(const bytes_t& cmd)
    {
        for (const bytes_t& r : host::pack_output(GetParam().chip, cmd))
            ASSERT_EQ(hid_write(dev_, r.data(), r.size()), static_cast<int>(r.size()));
    }

    vtel::CPhone phone_;
    hid_device* dev_ = nullptr;
    uint8_t last3_ = 0;
};

TEST_P(Framing, EventFramesReachTheHostIntact)
{
    // Short and multi-report frames, and the same frame twice in a row, which
    // the SSS1629 host would drop if the reports were identical.
    const bytes_t call = {0x00, 0x08, 0x05, 0x0C, 0x09, 0x1E, 0x88, 0x12, 0x34, 0x56};
    ASSERT_EQ(phone_.handset(true), 0);
    ASSERT_EQ(phone_.press_key("1"), 0);
    ASSERT_EQ(phone_.press_key("1"), 0);
    ASSERT_EQ(phone_.send_frame(0xD1, call), 0);
    ASSERT_EQ(phone_.report_volume(7), 0);

    bytes_t want_call = {0xFF, 0x0B, 0xD1};
    want_call.insert(want_call.end(), call.begin(), call.end());
    std::vector<bytes_t> want = {{0xFF, 0x01, 0xE7}, {0xFF, 0x02, 0xE0, 0x7D}, {0xFF, 0x02, 0xE0, 0x7D},
                                 want_call, {0xFF, 0x02, 0x5C, 0x07}};
    EXPECT_EQ(host::frames_in(read_stream()), want);
}

TEST_P(Framing, CommandFramesAreDecodedAndTimed)
{
    const bytes_t online = {0xFF, 0x01, 0x6A};
    const bytes_t dtmf = {0xFF, 0x07, 0x11, 0x64, 0x01, 0x02, 0x0A, 0x0B, 0x0C};
    const bytes_t with_ff = {0xFF, 0x02, 0xF1, 0xFF};  // a command may carry 0xFF as data
    write_command(online);
    write_command(dtmf);
    write_command(with_ff);

    auto frames = phone_.frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes(), online);
    EXPECT_EQ(frames[1].bytes(), dtmf);
    EXPECT_EQ(frames[2].bytes(), with_ff);
    EXPECT_LE(frames[1].first, frames[1].last);

    auto written = phone_.written();
    ASSERT_FALSE(written.empty());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_TRUE(written[i].valid);
        EXPECT_EQ(written[i].bytes.size(), GetParam().out_len);
        if (i) {
            EXPECT_LE(written[i - 1].time, written[i].time);
        }
    }
    EXPECT_EQ(phone_.wait_frame(0x11, 0ms)->bytes(), dtmf);
    EXPECT_FALSE(phone_.wait_frame(0x6A, 0ms)) << "a wait passes over the frames before its match";
}

TEST_P(Framing, ForeignReportIsRefusedAndRecorded)
{
    const bytes_t junk = {0x07, 0x01, 0x02};
    EXPECT_EQ(hid_write(dev_, junk.data(), junk.size()), -1);
    auto written = phone_.written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_FALSE(written[0].valid);
    EXPECT_TRUE(phone_.frames().empty());
}

TEST_P(Framing, VersionQueryIsAnsweredWithTheConfiguredVersion)
{
    phone_.set_version(134);
    write_command({0xFF, 0x01, 0x01});
    bytes_t want = {0xFF, 0x02, 0x81, 134};
    EXPECT_EQ(host::frames_in(read_stream()), std::vector<bytes_t>{want});

    phone_.set_version(-1);
    write_command({0xFF, 0x01, 0x01});
    EXPECT_TRUE(read_stream().empty());
}

TEST_P(Framing, EnumerationRecordCarriesTheChipIdentity)
{
    hid_device_info* list = hid_enumerate(0, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(list->vendor_id, GetParam().vid);
    EXPECT_EQ(list->product_id, GetParam().pid);
    EXPECT_EQ(list->usage_page, GetParam().usage_page);
    EXPECT_EQ(std::string(list->path), phone_.path());
    hid_free_enumeration(list);
}

INSTANTIATE_TEST_SUITE_P(Chips, Framing, ::testing::ValuesIn(m_chips),
                         [](const auto& info) { return std::string(vtel::chip_name(info.param.chip)); });

TEST(FramingLimits, FramesThatCannotBeCarriedAreRefused)
{
    vtel::reset();
    auto p = vtel::plug(te_chip::tl8258);
    EXPECT_EQ(p.send_frame(0x5C, {0xFF}), -1);  // 0xFF never occurs inside a frame
    EXPECT_EQ(p.send_frame(0xFF), -1);
    EXPECT_EQ(p.send_frame(0xD4, bytes_t(254, 1)), -1);  // length byte would be 0xFF
    EXPECT_EQ(p.press_key("NOKEY"), -1);
    EXPECT_EQ(p.incoming_call("12a4", {}), -1);
    EXPECT_EQ(p.dtmf('x'), -1);
    EXPECT_EQ(p.press_key("miss_call"), 0);
    p.unplug();
    EXPECT_EQ(p.ring(), -1);
    vtel::reset();
}

}  // namespace
