// Report pacing of the chip drivers, checked on the telephone's receive
// times. Lower bounds allow 1 ms for the millisecond tick; upper bounds are
// generous, since other builds share this machine.
#include <string>

#include "core/utils.h"
#include "device/ht82r83x.h"
#include "device/sss1629.h"
#include "device/tl8258.h"
#include "vphone.h"

using namespace devtest;
using vtel::te_chip;

namespace {

constexpr double tick_slack_ms = 1.0;
constexpr double load_slack_ms = 150.0;

class Pacing : public VPhoneTest {};

// Gaps between consecutive reports the telephone received.
std::vector<double> gaps(const std::vector<vtel::report_t>& w) {
    std::vector<double> g;
    for (size_t i = 1; i < w.size(); ++i) g.push_back(ms_between(w[i - 1].time, w[i].time));
    return g;
}

TEST_F(Pacing, PerTelephoneSpacingHoldsWithinAndAcrossCommands) {
    struct row_t {
        const CHidDriver* drv;
        te_chip chip;
        double spacing_ms;
    };
    for (auto r : {row_t{s1629_driver, te_chip::sss1629, 32}, row_t{ht82r83x_driver, te_chip::ht82r83x, 20}}) {
        SCOPED_TRACE(r.drv->drv_name);
        auto phone = vtel::plug(r.chip);
        DriverHandle h(*r.drv, phone);
        unsigned int next_send = 0;  // the device's pacing time
        bytes_t cmd{0xFF, 0x06, 0x41, 1, 2, 3, 4, 5};
        ASSERT_EQ(h.write(cmd, &next_send), 8);
        ASSERT_EQ(h.write(cmd, &next_send), 8);  // at once: still paced
        auto w = phone.written();
        ASSERT_GE(w.size(), 4u);
        for (double g : gaps(w)) {
            EXPECT_GE(g, r.spacing_ms - tick_slack_ms);
            EXPECT_LE(g, r.spacing_ms + load_slack_ms);
        }
    }
}

TEST_F(Pacing, WithoutThePacingTimeOnlyReportsOfOneCommandAreSpaced) {
    auto phone = vtel::plug(te_chip::sss1629);
    DriverHandle h(*s1629_driver, phone);
    ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    auto w = phone.written();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_LT(ms_between(w[0].time, w[1].time), 32.0);
}

TEST_F(Pacing, SssSleepNeverExceeds32ms) {
    auto phone = vtel::plug(te_chip::sss1629);
    DriverHandle h(*s1629_driver, phone);
    // A pacing time far ahead (as after a clock jump) costs at most 32 ms.
    unsigned int next_send = static_cast<unsigned int>(GetTickCount()) + 5000;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}, &next_send), 3);
    double took = ms_since(t0);
    EXPECT_GE(took, 32.0 - tick_slack_ms);
    EXPECT_LE(took, 32.0 + load_slack_ms);
}

TEST_F(Pacing, Tl8258HoldsTheNextFrameBack100ms) {
    auto phone = vtel::plug(te_chip::tl8258);
    DriverHandle h(*tl8258_driver, phone);
    ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    testing::internal::CaptureStdout();
    ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    std::string log = testing::internal::GetCapturedStdout();
    auto w = phone.written();
    ASSERT_EQ(w.size(), 2u);
    double g = ms_between(w[0].time, w[1].time);
    EXPECT_GE(g, 100.0 - tick_slack_ms);
    EXPECT_LE(g, 100.0 + load_slack_ms);
    EXPECT_NE(log.find("delay "), std::string::npos) << log;
}

TEST_F(Pacing, Tl8258FramesMoreThan100msApartGoAtOnce) {
    auto phone = vtel::plug(te_chip::tl8258);
    DriverHandle h(*tl8258_driver, phone);
    ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    std::this_thread::sleep_for(130ms);
    testing::internal::CaptureStdout();
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    double took = ms_since(t0);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.find("delay "), std::string::npos) << log;
    EXPECT_LT(took, 60.0);  // well below the 100 ms it would wait if held back
}

TEST_F(Pacing, Tl8258SpacesReportsOfAFrame20msAndFramesOfACommand100ms) {
    auto phone = vtel::plug(te_chip::tl8258);
    DriverHandle h(*tl8258_driver, phone);
    std::this_thread::sleep_for(110ms);  // earlier tests' pacing has passed
    // Two frames in one command: 8 bytes (two reports), then 3 bytes.
    bytes_t cmd{0xFF, 0x06, 0x41, 1, 2, 3, 4, 5, 0xFF, 0x01, 0x6A};
    ASSERT_EQ(h.write(cmd), static_cast<int>(cmd.size()));
    auto w = phone.written();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_GE(ms_between(w[0].time, w[1].time), 20.0 - tick_slack_ms);
    EXPECT_LE(ms_between(w[0].time, w[1].time), 20.0 + load_slack_ms);
    EXPECT_GE(ms_between(w[0].time, w[2].time), 100.0 - tick_slack_ms);
    EXPECT_LE(ms_between(w[0].time, w[2].time), 100.0 + load_slack_ms);
    ASSERT_EQ(phone.frames().size(), 2u);
}

TEST_F(Pacing, Tl8258FrameAfterADelayedFrameWaitsAFull100ms) {
    // Three commands at once: each frame must follow the previous one by 100
    // ms, also the one after a frame that itself had to wait.
    auto phone = vtel::plug(te_chip::tl8258);
    DriverHandle h(*tl8258_driver, phone);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(h.write({0xFF, 0x01, 0x6A}), 3);
    auto w = phone.written();
    ASSERT_EQ(w.size(), 3u);
    for (double g : gaps(w)) EXPECT_GE(g, 100.0 - tick_slack_ms);
}

TEST_F(Pacing, Tl8258DataByteFFCountsAsFrameData) {
    // FF 03 41 FF 07: the FF is data, so the frame ends with 07 and the next
    // frame is a separate, paced one.
    auto phone = vtel::plug(te_chip::tl8258);
    DriverHandle h(*tl8258_driver, phone);
    std::this_thread::sleep_for(110ms);
    te_prot state;
    const uint8_t cmd[] = {0xFF, 0x03, 0x41, 0xFF, 0x07, 0xFF, 0x01, 0x6A};
    EXPECT_EQ(tl8258.parse_packet(&state, cmd, sizeof cmd), 5);
    EXPECT_EQ(state.phase, 4);
    EXPECT_EQ(state.op, 0x41);
    EXPECT_EQ(tl8258.parse_packet(&state, cmd + 5, 3), 3);  // waits its 100 ms first
    EXPECT_EQ(state.op, 0x6A);
    const uint8_t partial[] = {0x11, 0xFF, 0xFF, 0x05, 0x42};  // lead filler, incomplete frame
    te_prot fresh;
    EXPECT_EQ(tl8258.parse_packet(&fresh, partial, sizeof partial), 5);
    EXPECT_EQ(fresh.phase, 3);
    EXPECT_EQ(fresh.left, 4);
}

}  // namespace
