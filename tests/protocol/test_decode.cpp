// Decoding telephone frames into event texts.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include <json/json.h>

#include "core/log.h"
#include "helpers.h"

namespace {

struct decode_case {
    const char* title;
    int language;
    bytes_t bytes;
    std::string expected;  // all lines appended by one decode call
};

void PrintTo(const decode_case& c, std::ostream* os)
{
    *os << c.title;
}

class DecodeTable : public ::testing::TestWithParam<decode_case> {};

const std::string hs_off = "{\"dev\":1,\"event\":\"手柄摘机\"}\n";
const std::string hs_on = "{\"dev\":1,\"event\":\"手柄挂机\"}\n";

std::vector<decode_case> cases()
{
    return {
        {"no value", 0, {0xFF, 0x01, 0xE7}, hs_off},
        {"repeated start bytes", 0, {0xFF, 0xFF, 0xFF, 0x01, 0xE7}, hs_off},
        {"noise before the start byte", 0, {0x00, 0x12, 0xE7, 0xFF, 0x01, 0xE7}, hs_off},
        {"key", 0, {0xFF, 0x02, 0xE0, 0x7D}, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n"},
        {"key, second opcode", 0, {0xFF, 0x02, 0xE1, 0xEC}, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"0\"}\n"},
        {"key in English", 1, {0xFF, 0x02, 0xE0, 0x7A}, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"UP\"}\n"},
        {"key P in English", 1, {0xFF, 0x02, 0xE0, 0xAA}, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"p\"}\n"},
        {"key volume", 0, {0xFF, 0x02, 0xE0, 0x5C}, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"音量\"}\n"},
        {"unlisted key", 0, {0xFF, 0x02, 0xE0, 0x01}, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"无效按键\"}\n"},
        {"unlisted key in English", 1, {0xFF, 0x02, 0xE0, 0x00}, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"INVALID KEY\"}\n"},
        {"state idle", 0, {0xFF, 0x02, 0xAB, 0x00}, "{\"dev\":1,\"event\":\"电话状态查询\",\"value\":\"IDLE状态\"}\n"},
        {"state parallel in English", 1, {0xFF, 0x02, 0xAB, 0x02}, "{\"dev\":1,\"event\":\"电话状态查询\",\"value\":\"并机摘机\"}\n"},
        {"unlisted state", 0, {0xFF, 0x02, 0xAB, 0x01}, "{\"dev\":1,\"event\":\"电话状态查询\",\"value\":\"保留消息字\"}\n"},
        {"hardware type", 0, {0xFF, 0x02, 0x85, 0x83}, "{\"dev\":1,\"event\":\"硬件类型信息\",\"value\":\"录音盒\"}\n"},
        {"hardware type in English", 1, {0xFF, 0x02, 0x85, 0x83}, "{\"dev\":1,\"event\":\"硬件类型信息\",\"value\":\"RecordBox\"}\n"},
        {"unlisted hardware type in English", 1, {0xFF, 0x02, 0x85, 0x90}, "{\"dev\":1,\"event\":\"硬件类型信息\",\"value\":\"Reserved\"}\n"},
        {"dtmf rx D", 0, {0xFF, 0x02, 0xD8, 0x0C}, "{\"dev\":1,\"event\":\"摘机DTMF\",\"value\":\"D\"}\n"},
        {"parallel dial", 0, {0xFF, 0x02, 0xD9, 0x0A}, "{\"dev\":1,\"event\":\"并机拔号\",\"value\":\"*\"}\n"},
        {"dtmf tx P", 0, {0xFF, 0x02, 0xEC, 0x0C}, "{\"dev\":1,\"event\":\"重拨号码上传\",\"value\":\"P\"}\n"},
        {"dtmf beyond the table", 0, {0xFF, 0x02, 0xD8, 0x0F}, "{\"dev\":1,\"event\":\"摘机DTMF\",\"value\":\"unkown\"}\n"},
        {"volume", 0, {0xFF, 0x02, 0x5C, 0x07}, "{\"dev\":1,\"event\":\"音量变化消息\",\"value\":7}\n"},
        {"version", 0, {0xFF, 0x02, 0x81, 0xC5}, "{\"dev\":1,\"event\":\"取版本号\",\"value\":197}\n"},
        {"attached in English", 1, {0xFF, 0x02, 0xF1, 0x00}, "{\"dev\":1,\"event\":\"Phone attached\",\"value\":0}\n"},
        {"vendor code", 0, {0xFF, 0x04, 0x83, 0x12, 0x34, 0x5F}, "{\"dev\":1,\"event\":\"厂家代码信息\",\"value\":\"12345\"}\n"},
        {"serial", 0, {0xFF, 0x03, 0x84, 0xAB, 0xCD}, "{\"dev\":1,\"event\":\"序列号信息\",\"value\":\"ABCD\"}\n"},
        {"serial ends at high nibble F", 0, {0xFF, 0x03, 0x84, 0xF1, 0x23}, "{\"dev\":1,\"event\":\"序列号信息\",\"value\":\"\"}\n"},
        {"incoming call", 0, {0xFF, 0x0B, 0xD1, 0x00, 0x08, 0x05, 0x0C, 0x09, 0x1E, 0x88, 0x12, 0x34, 0x56},
         "{\"dev\":1,\"event\":\"来电\",\"number\":\"88123456\",\"time\":\"5-12 9:30\"}\n"},
        {"incoming call, odd digits", 0, {0xFF, 0x0A, 0xD2, 0x00, 0x05, 0x0C, 0x1F, 0x17, 0x3B, 0x12, 0x34, 0x5F},
         "{\"dev\":1,\"event\":\"来电\",\"number\":\"12345\",\"time\":\"12-31 23:59\"}\n"},
        {"digits limited by the frame", 0, {0xFF, 0x09, 0xD4, 0x00, 0x14, 0x01, 0x02, 0x03, 0x04, 0x98, 0x76},
         "{\"dev\":1,\"event\":\"未接来电上传\",\"number\":\"9876\",\"time\":\"1-2 3:4\"}\n"},
        {"digits limited by the count", 0, {0xFF, 0x0A, 0xD5, 0x00, 0x03, 0x01, 0x02, 0x03, 0x04, 0x98, 0x76, 0x54},
         "{\"dev\":1,\"event\":\"已接来电上传\",\"number\":\"9876\",\"time\":\"1-2 3:4\"}\n"},
        {"bcd nibbles above 9", 0, {0xFF, 0x09, 0xD6, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0xAB, 0xCE},
         "{\"dev\":1,\"event\":\"拨出号码上传\",\"number\":\":;<>\",\"time\":\"1-2 3:4\"}\n"},
        {"special identity O", 0, {0xFF, 0x03, 0xD1, 0xEE, 0x4F},
         "{\"dev\":1,\"event\":\"来电\",\"time\":\"05061405\",\"value\":\"O\"}\n"},
        {"special identity P", 0, {0xFF, 0x03, 0xD1, 0xEE, 0x50},
         "{\"dev\":1,\"event\":\"来电\",\"time\":\"05061405\",\"value\":\"P\"}\n"},
        {"special identity E, longer frame", 0, {0xFF, 0x09, 0xD2, 0xEE, 0x45, 1, 2, 3, 4, 5, 6},
         "{\"dev\":1,\"event\":\"来电\",\"time\":\"05061405\",\"value\":\"E\"}\n"},
        {"no special identity, short", 0, {0xFF, 0x03, 0xD1, 0xEE, 0x58}, "{\"dev\":1,\"event\":\"来电\"}\n"},
        {"no special identity, standard layout", 0, {0xFF, 0x08, 0xD1, 0xEE, 0x58, 0x01, 0x02, 0x03, 0x04, 0x12},
         "{\"dev\":1,\"event\":\"来电\",\"number\":\"12\",\"time\":\"1-2 3:4\"}\n"},
        {"two frames in one call", 0, {0xFF, 0x01, 0xE7, 0xFF, 0x01, 0xE8}, hs_off + hs_on},
        {"unknown opcode then a frame", 0, {0xFF, 0x01, 0x99, 0xFF, 0x01, 0xE8}, hs_on},
        {"0xFF inside the data is skipped", 0, {0xFF, 0x02, 0xE0, 0xFF, 0x7D},
         "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n"},
        {"0xFF before the opcode is skipped", 0, {0xFF, 0x01, 0xFF, 0xE7}, hs_off},
        {"short key frame: no value", 0, {0xFF, 0x01, 0xE0}, "{\"dev\":1,\"event\":\"电话按键\"}\n"},
        {"short byte frame: no value", 0, {0xFF, 0x01, 0x81}, "{\"dev\":1,\"event\":\"取版本号\"}\n"},
        {"short char frame: no value", 0, {0xFF, 0x01, 0xD8}, "{\"dev\":1,\"event\":\"摘机DTMF\"}\n"},
        {"short identity frame", 0, {0xFF, 0x02, 0xD1, 0xEE}, "{\"dev\":1,\"event\":\"来电\"}\n"},
        {"empty hex frame", 0, {0xFF, 0x01, 0x83}, "{\"dev\":1,\"event\":\"厂家代码信息\",\"value\":\"\"}\n"},
        {"frame cut short takes the next frame's bytes", 0, {0xFF, 0x03, 0xE0, 0x7D, 0xFF, 0x01, 0xE7},
         "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n"},
    };
}

TEST_P(DecodeTable, GivesTheText)
{
    const decode_case& c = GetParam();
    clock_scope clock;
    language_scope lang(c.language);
    devinfo_t dev;
    dev.id = 1;
    int r = 0;
    EXPECT_EQ(decode_all(prot_qm, dev, c.bytes, &r), c.expected);
    EXPECT_EQ(r, static_cast<int>(c.bytes.size()));
}

TEST_P(DecodeTable, SameTextByteByByte)
{
    const decode_case& c = GetParam();
    clock_scope clock;
    language_scope lang(c.language);
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    for (unsigned char b : c.bytes)
        prot_qm.decode(&dev, &b, 1, out);
    EXPECT_EQ(out, c.expected);
}

// With a hook that changes nothing, the event goes through a JsonCpp event
// object and the general writer: the text must be the same.
void identity_hook(te_STR_ID, Json::Value&) {}

TEST_P(DecodeTable, SameTextThroughTheEventObject)
{
    const decode_case& c = GetParam();
    clock_scope clock;
    language_scope lang(c.language);
    CProtocol p("test_identity");
    p.regist_evt_dec_hook(identity_hook);
    devinfo_t dev;
    dev.id = 1;
    EXPECT_EQ(decode_all(p, dev, c.bytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Frames, DecodeTable, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<decode_case>& i) {
                             std::string n;
                             for (const char* p = i.param.title; *p; ++p)
                                 n += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

TEST(Decode, UnknownOpcodeLeavesTheTextAlone)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out = "mine";
    unsigned char f[] = {0xFF, 0x01, 0x99};
    EXPECT_EQ(prot_qm.decode(&dev, f, 3, out), 3);
    EXPECT_EQ(out, "mine");
}

TEST(Decode, AppendsToTheCallersText)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out = "before\n";
    unsigned char f[] = {0xFF, 0x01, 0xE7};
    prot_qm.decode(&dev, f, 3, out);
    EXPECT_EQ(out, "before\n" + hs_off);
}

TEST(Decode, DeviceNumberAndLanguageChangeAtOnce)
{
    devinfo_t dev;
    dev.id = 65535;
    EXPECT_EQ(decode_all(prot_qm, dev, {0xFF, 0x02, 0xF1, 0x05}), "{\"dev\":65535,\"event\":\"电话机插入 \",\"value\":5}\n");
    language_scope lang(1);
    EXPECT_EQ(decode_all(prot_qm, dev, {0xFF, 0x02, 0xF1, 0x05}), "{\"dev\":65535,\"event\":\"Phone attached\",\"value\":5}\n");
}

TEST(Announce, RowWithoutFrame)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    unsigned char row = 137;
    EXPECT_EQ(prot_qm.decode(&dev, &row, 0, out), 1);
    EXPECT_EQ(out, "{\"dev\":1,\"event\":\"电话机拔出\"}\n");
    out.clear();
    row = 136;
    {
        language_scope lang(1);
        EXPECT_EQ(prot_qm.decode(&dev, &row, 0, out), 1);
    }
    EXPECT_EQ(out, "{\"dev\":1,\"event\":\"Phone attached\"}\n");
}

TEST(Announce, NoRowNoText)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    for (int b : {0, 39, 40, 58, 59, 140, 255}) {
        unsigned char row = static_cast<unsigned char>(b);
        EXPECT_EQ(prot_qm.decode(&dev, &row, 0, out), 0) << b;
    }
    EXPECT_EQ(prot_qm.decode(&dev, nullptr, 0, out), 0);
    EXPECT_EQ(out, "");
}

TEST(Announce, LeavesAPartialFrameAlone)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    unsigned char head[] = {0xFF, 0x02, 0xE0};
    prot_qm.decode(&dev, head, 3, out);
    unsigned char row = 137;
    prot_qm.decode(&dev, &row, 0, out);
    unsigned char tail[] = {0x7D};
    prot_qm.decode(&dev, tail, 1, out);
    EXPECT_EQ(out, "{\"dev\":1,\"event\":\"电话机拔出\"}\n{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n");
}

TEST(Announce, HookIsNotCalled)
{
    static int calls = 0;
    CProtocol p("test_announce");
    p.regist_evt_dec_hook([](te_STR_ID, Json::Value&) { ++calls; });
    devinfo_t dev;
    std::string out;
    unsigned char row = 136;
    p.decode(&dev, &row, 0, out);
    EXPECT_EQ(calls, 0);
    decode_all(p, dev, {0xFF, 0x01, 0xE7});
    EXPECT_EQ(calls, 1);
}

TEST(SplitFrames, CompletedWithin500ms)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    unsigned char a[] = {0xFF, 0x04, 0x83, 0x12};
    unsigned char b[] = {0x34, 0x5F};
    prot_qm.decode(&dev, a, 4, out);
    EXPECT_EQ(out, "");
    dev.parser.last_tick -= 100;  // the second part comes 100 ms later
    prot_qm.decode(&dev, b, 2, out);
    EXPECT_EQ(out, "{\"dev\":1,\"event\":\"厂家代码信息\",\"value\":\"12345\"}\n");
}

TEST(SplitFrames, DroppedAfter500ms)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    unsigned char a[] = {0xFF, 0x04, 0x83, 0x12};
    unsigned char b[] = {0x34, 0x5F};
    prot_qm.decode(&dev, a, 4, out);
    dev.parser.last_tick -= 600;
    EXPECT_EQ(prot_qm.decode(&dev, b, 2, out), 2);
    EXPECT_EQ(out, "");
    // The rest of the dropped frame is ignored until the next start byte.
    unsigned char c[] = {0x01, 0xE7, 0xFF, 0x01, 0xE7};
    prot_qm.decode(&dev, c, 5, out);
    EXPECT_EQ(out, hs_off);
}

TEST(SplitFrames, DroppedAfterARealPause)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    unsigned char a[] = {0xFF, 0x02, 0xE0};
    unsigned char b[] = {0x7D};
    prot_qm.decode(&dev, a, 3, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(620));
    prot_qm.decode(&dev, b, 1, out);
    EXPECT_EQ(out, "");
    prot_qm.decode(&dev, a, 3, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    prot_qm.decode(&dev, b, 1, out);
    EXPECT_EQ(out, "{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n");
}

TEST(SplitFrames, LengthZeroFrameTakes255DataBytes)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    bytes_t f = {0xFF, 0x00, 0xE7};
    f.insert(f.end(), 254, 0x01);
    prot_qm.decode(&dev, f.data(), static_cast<int>(f.size()), out);
    EXPECT_EQ(out, "");
    unsigned char last = 0x02;
    prot_qm.decode(&dev, &last, 1, out);
    EXPECT_EQ(out, hs_off);
    EXPECT_EQ(dev.parser.count, 255);
}

TEST(SplitFrames, LongestIdentityFrameStaysInItsBuffer)
{
    clock_scope clock;
    devinfo_t dev;
    dev.id = 1;
    // L = 0: 255 data bytes; special identity is tried (L <= 9), then the
    // frame is too short for the standard layout by its length byte.
    bytes_t f = {0xFF, 0x00, 0xD1, 0xEE, 0x4F};
    f.insert(f.end(), 253, 0x11);
    EXPECT_EQ(decode_all(prot_qm, dev, f), "{\"dev\":1,\"event\":\"来电\",\"time\":\"05061405\",\"value\":\"O\"}\n");
    // L = 254: 253 data bytes, 247 digit bytes at most.
    bytes_t g = {0xFF, 0xFE, 0xD1, 0x00, 0xFE, 1, 2, 3, 4};
    g.insert(g.end(), 247, 0x12);
    std::string text = decode_all(prot_qm, dev, g);
    Json::Value v;
    ASSERT_TRUE(Json::Reader().parse(text, v));
    EXPECT_EQ(v["number"].asString().size(), 254u);
}

TEST(Devices, InterleavedPartialFramesStayApart)
{
    devinfo_t one, two;
    one.id = 1;
    two.id = 2;
    std::string out1, out2;
    unsigned char a1[] = {0xFF, 0x04, 0x83, 0x12};
    unsigned char b1[] = {0xFF, 0x02, 0xE0};
    unsigned char a2[] = {0x34, 0x5F};
    unsigned char b2[] = {0x7D, 0xFF, 0x01};
    unsigned char b3[] = {0xE8};
    prot_qm.decode(&one, a1, 4, out1);
    prot_qm.decode(&two, b1, 3, out2);
    prot_qm.decode(&one, a2, 2, out1);
    prot_qm.decode(&two, b2, 3, out2);
    prot_qm.decode(&two, b3, 1, out2);
    EXPECT_EQ(out1, "{\"dev\":1,\"event\":\"厂家代码信息\",\"value\":\"12345\"}\n");
    EXPECT_EQ(out2, "{\"dev\":2,\"event\":\"电话按键\",\"value\":\"1\"}\n{\"dev\":2,\"event\":\"手柄挂机\"}\n");
}

TEST(Devices, ResetKeepsTheNumber)
{
    devinfo_t dev;
    dev.id = 7;
    unsigned char a[] = {0xFF, 0x02, 0xE0};
    std::string out;
    prot_qm.decode(&dev, a, 3, out);
    dev.reset();
    EXPECT_EQ(dev.id, 7);
    EXPECT_EQ(dev.parser.stage, 0);
    unsigned char b[] = {0x7D};
    prot_qm.decode(&dev, b, 1, out);
    EXPECT_EQ(out, "");
}

namespace {
void version_hook(te_STR_ID name, Json::Value& ev)
{
    if (name == STR_VERSION)
        ev["value"] = ev["value"].asInt() + 1000;
    ev["zz"] = "added";
}
} // namespace

TEST(Hook, ChangesAndAddsMembers)
{
    CProtocol p("test_hook");
    p.regist_evt_dec_hook(version_hook);
    devinfo_t dev;
    dev.id = 4;
    EXPECT_EQ(decode_all(p, dev, {0xFF, 0x02, 0x81, 0xC5}),
              "{\"dev\":4,\"event\":\"取版本号\",\"value\":1197,\"zz\":\"added\"}\n");
    // The default object has no hook.
    EXPECT_EQ(decode_all(prot_qm, dev, {0xFF, 0x02, 0x81, 0xC5}),
              "{\"dev\":4,\"event\":\"取版本号\",\"value\":197}\n");
}

TEST(Hook, EmptiedEventWritesNothing)
{
    CProtocol p("test_hook_empty");
    p.regist_evt_dec_hook([](te_STR_ID, Json::Value& ev) { ev = Json::Value(Json::objectValue); });
    devinfo_t dev;
    EXPECT_EQ(decode_all(p, dev, {0xFF, 0x01, 0xE7}), "");
}

TEST(Helpers, Bcd2String)
{
    unsigned char a[] = {0x12, 0xAB, 0xF0};
    EXPECT_EQ(bcd2string(a, 3), "12:;");
    unsigned char b[] = {0x1F, 0x23};
    EXPECT_EQ(bcd2string(b, 2), "1");
    unsigned char c[] = {0xCE, 0xD9};
    EXPECT_EQ(bcd2string(c, 2), "<>=9");
    EXPECT_EQ(bcd2string(c, 0), "");
}

TEST(Helpers, ParseString)
{
    Json::Value ev(Json::objectValue);
    unsigned char a[] = {0x12, 0x34, 0x5F, 0x67};
    EXPECT_EQ(parse_string(ev, a, 4), 8);
    EXPECT_EQ(ev["value"].asString(), "12345");
    unsigned char b[] = {0xE0, 0x0D};
    parse_string(ev, b, 2);
    EXPECT_EQ(ev["value"].asString(), "E00D");
}

TEST(Helpers, TimeInfo)
{
    clock_scope clock;
    Json::Value ev(Json::objectValue);
    get_time_info(ev);
    EXPECT_EQ(ev["time"].asString(), "05061405");
}

TEST(Helpers, AnalyzeCallIdOutsideDecodeAddsNothing)
{
    Json::Value ev(Json::objectValue);
    EXPECT_EQ(AnalyzeCallID(ev, &prot_qm, 11), -1);
    EXPECT_EQ(ev.size(), 0u);
}

// Every event row, random data of every length: the fast writer and the
// event-object writer agree, and the text is valid JSON naming the event.
TEST(Property, FastAndObjectPathsAgree)
{
    clock_scope clock;
    CProtocol p("test_property");
    p.regist_evt_dec_hook(identity_hook);
    std::mt19937 rng(1234);
    for (int lang = 0; lang < 2; ++lang) {
        language_scope ls(lang);
        for (const te_evt_op& row : m_evt_list) {
            for (int len = 1; len <= 20; ++len) {
                bytes_t f = {0xFF, static_cast<unsigned char>(len), row.opcode};
                for (int i = 1; i < len; ++i)
                    f.push_back(static_cast<unsigned char>(rng() % 255));
                devinfo_t d1, d2;
                d1.id = d2.id = 12;
                std::string fast = decode_all(prot_qm, d1, f);
                std::string obj = decode_all(p, d2, f);
                ASSERT_EQ(fast, obj) << hex_of(f.data(), static_cast<int>(f.size()));
                Json::Value v;
                ASSERT_TRUE(Json::Reader().parse(fast, v)) << fast;
                EXPECT_EQ(v["event"].asString(), str_text(row.name, lang));
                EXPECT_EQ(v["dev"].asInt(), 12);
            }
        }
    }
}

} // namespace
