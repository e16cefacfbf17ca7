// Encoding named commands into frames.
#include <gtest/gtest.h>

#include <cstring>

#include "helpers.h"

namespace {

struct encode_case {
    const char* title;
    const char* name;
    const char* param;  // null: no parameter text
    int result;
    std::string frame;  // bytes written from out[0], as hex; checked when result > 0
};

void PrintTo(const encode_case& c, std::ostream* os)
{
    *os << c.title;
}

class EncodeTable : public ::testing::TestWithParam<encode_case> {};

std::vector<encode_case> cases()
{
    return {
        {"none", "USB在线", "anything", 3, "FF 01 6A"},
        {"none, null text", "USB在线", nullptr, 3, "FF 01 6A"},
        {"hands-free command opcode", "免提摘机", nullptr, 3, "FF 01 61"},
        {"state query command opcode", "电话状态查询", nullptr, 3, "FF 01 21"},
        {"read version", "读取版本信息", "", 3, "FF 01 01"},
        {"flash time 0", "写FLASH时间", "0", 4, "FF 02 24 FE"},
        {"flash time 255", "写FLASH时间", "255", 4, "FF 02 24 FE"},
        {"flash time empty", "写FLASH时间", "", 4, "FF 02 24 FE"},
        {"flash time 10", "写FLASH时间", "10", 4, "FF 02 24 0A"},
        {"flash time 300", "写FLASH时间", "300", 4, "FF 02 24 2C"},
        {"flash time 512", "写FLASH时间", "512", 4, "FF 02 24 FE"},
        {"flash time blanks and sign", "写FLASH时间", "  +12abc", 4, "FF 02 24 0C"},
        {"flash time negative", "写FLASH时间", "-1", 4, "FF 02 24 FE"},
        {"flash time null", "写FLASH时间", nullptr, -6, ""},
        {"attached 255", "电话机插入 ", "255", 4, "FF 02 F1 FF"},
        {"attached 0 is not fixed up", "电话机插入 ", "0", 4, "FF 02 F1 00"},
        {"attached without the space", "电话机插入", "255", -5, ""},
        {"attached in English", "Phone attached", "3", 4, "FF 02 F1 03"},
        {"English name accepted", "VOIP_Start", nullptr, 3, "FF 01 6D"},
        {"Chinese name of the same", "VOIP_开始", nullptr, 3, "FF 01 6D"},
        {"English heartbeat", "USB Beatheart", nullptr, 0, ""},
        {"heartbeat", "USB心跳", "x", 0, ""},
        {"unknown", "no such command", "1", -5, ""},
        {"case differs", "usb beatheart", nullptr, -5, ""},
        {"event-only name", "手柄摘机", nullptr, -5, ""},
        {"transfer 78", "转接", "78", 4, "FF 02 65 0A"},
        {"transfer 100", "转接", "100", 4, "FF 02 65 0C"},
        {"transfer 1000", "转接", "1000", 4, "FF 02 65 80"},
        {"transfer -78", "转接", "-78", 4, "FF 02 65 F6"},
        {"transfer null", "转接", nullptr, -6, ""},
        {"dtmf", "DTMF发送", "12*#p", 9, "FF 07 11 64 01 02 0A 0B 0C"},
        {"dtmf upper P", "DTMF发送", "0P", 6, "FF 04 11 64 00 0C"},
        {"dtmf stops at a stranger", "DTMF发送", "12x4", 6, "FF 04 11 64 01 02"},
        {"dtmf B and C", "DTMF发送", "9BC", 7, "FF 05 11 64 09 0D 0E"},
        {"dtmf nothing valid", "DTMF发送", "x", 4, "FF 02 11 64"},
        {"dtmf empty", "DTMF发送", "", -6, ""},
        {"dtmf null", "DTMF发送", nullptr, -6, ""},
        {"hex 123", "写厂家代码", "123", 5, "FF 03 15 12 3F"},
        {"hex 1234", "写厂家代码", "1234", 6, "FF 04 15 12 34 F0"},
        {"hex abcde", "写厂家代码", "abcde", 6, "FF 04 15 AB CD EF"},
        {"hex upper", "写序列号", "ABCDE0", 7, "FF 05 17 AB CD E0 F0"},
        {"hex 12x4", "写序列号", "12x4", 5, "FF 03 17 12 F0"},
        {"hex 12x", "写序列号", "12x", 5, "FF 03 17 12 F0"},
        {"hex 1x34", "写序列号", "1x34", 4, "FF 02 17 1F"},
        {"hex f ends", "初始化EEPROM", "12f34", 5, "FF 03 2C 12 F0"},
        {"hex no digit", "初始化设置", "x", 4, "FF 02 2F F0"},
        {"hex empty", "初始化设置", "", -6, ""},
        {"hex null", "写厂家代码", nullptr, -6, ""},
        {"memory number", "写MERMORY号码", "12*#", 6, "FF 04 25 12 AB F0"},
        {"memory number pbc", "写MERMORY号码", "pbc", 5, "FF 03 25 CD EF"},
        {"memory number upper PBC", "写MERMORY号码", "PBC", 4, "FF 02 25 F0"},
        {"memory number a stays", "写MERMORY号码", "a1", 5, "FF 03 25 A1 F0"},
        {"memory number null", "写MERMORY号码", nullptr, -6, ""},
        {"time", "设置话机的时间", "2023-5-6 10:30:15", 9, "FF 07 22 17 05 06 0A 1E 0F"},
        {"time slashed with comma", "设置话机的时间", "2023/5/6,10:30:15", 9, "FF 07 22 17 05 06 0A 1E 0F"},
        {"time month/day/year", "设置话机的时间", "5/6/2023 10:30:15", 9, "FF 07 22 17 05 06 0A 1E 0F"},
        {"time month/day/two-digit year", "设置话机的时间", "5/6/23 10:30", 9, "FF 07 22 17 05 06 0A 1E 00"},
        {"time slashed without year", "设置话机的时间", "5/23 10:30", 9, "FF 07 22 17 05 17 0A 1E 00"},
        {"time month/day/year alone", "设置话机的时间", "12/24/2024", 9, "FF 07 22 18 0C 18 0E 05 09"},
        {"time without year", "设置话机的时间", "5-6 10:30", 9, "FF 07 22 17 05 06 0A 1E 00"},
        {"date alone", "设置话机的时间", "2023-5-6", 9, "FF 07 22 17 05 06 0E 05 09"},
        {"month and day alone", "设置话机的时间", "12-25", 9, "FF 07 22 17 0C 19 0E 05 09"},
        {"time pm", "设置话机的时间", "10:30 pm", 9, "FF 07 22 17 05 06 16 1E 00"},
        {"time AM", "设置话机的时间", "10:30:15 AM", 9, "FF 07 22 17 05 06 0A 1E 0F"},
        {"date and time PM", "设置话机的时间", "2023-5-6 10:30 PM", 9, "FF 07 22 17 05 06 16 1E 00"},
        {"two-digit year", "设置话机的时间", "23-5-6 10:30:15", 9, "FF 07 22 17 05 06 0A 1E 0F"},
        {"blanks around", "设置话机的时间", " \t2023-5-6   10:30:15\r\n", 9, "FF 07 22 17 05 06 0A 1E 0F"},
        {"zero field keeps its place", "设置话机的时间", "2023-5-6 10:00:30", 9, "FF 07 22 17 05 06 0A 00 1E"},
        {"zero fields", "设置话机的时间", "2023-05-06 00:00:00", 9, "FF 07 22 17 05 06 00 00 00"},
        {"time alone takes every number", "设置话机的时间", "10:30:15", 9, "FF 07 22 17 05 06 0A 1E 0F"},
        {"hour and minute alone", "设置话机的时间", "10:30", 9, "FF 07 22 17 05 06 0A 1E 00"},
        {"year 2000", "设置话机的时间", "2000-1-2 3:4:5", 9, "FF 07 22 00 01 02 03 04 05"},
        {"year 1999", "设置话机的时间", "1999-1-2 3:4:5", 9, "FF 07 22 CF 01 02 03 04 05"},
        {"month 13", "设置话机的时间", "2023-13-1 10:20:30", -6, ""},
        {"day 32", "设置话机的时间", "2023-1-32 10:20:30", -6, ""},
        {"hour 24", "设置话机的时间", "2023-1-3 24:20:30", -6, ""},
        {"pm past 23", "设置话机的时间", "2023-1-3 12:20 pm", -6, ""},
        {"minute 60", "设置话机的时间", "10:60", -6, ""},
        {"year alone", "设置话机的时间", "2023", -6, ""},
        {"date and hour only", "设置话机的时间", "2023-5-6 10", -6, ""},
        {"hour alone", "设置话机的时间", "10:", -6, ""},
        {"too many time fields", "设置话机的时间", "10:30:15:20", -6, ""},
        {"token too long", "设置话机的时间", "2023-5-6 1234567890", -6, ""},
        {"long word", "设置话机的时间", "2023-5-6 10:30 afternoons", -6, ""},
        {"words only", "设置话机的时间", "hello world", -6, ""},
        {"empty", "设置话机的时间", "", -6, ""},
        {"null", "设置话机的时间", nullptr, -6, ""},
    };
}

TEST_P(EncodeTable, GivesTheFrame)
{
    const encode_case& c = GetParam();
    clock_scope clock;
    unsigned char out[256];
    memset(out, 0xAA, sizeof out);
    int r = prot_qm.encode(c.name, c.param, out, sizeof out);
    ASSERT_EQ(r, c.result);
    EXPECT_EQ(out[0], 0xFF);
    if (r > 0) {
        EXPECT_EQ(hex_of(out, r), c.frame);
        EXPECT_EQ(out[1], r - 2);
    } else {
        EXPECT_EQ(out[1], 0xAA);  // nothing written but the start byte
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, EncodeTable, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<encode_case>& i) {
                             std::string n;
                             for (const char* p = i.param.title; *p; ++p)
                                 n += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

TEST(Encode, EveryCommandByBothNames)
{
    for (const te_evt_op& row : m_cmd_list)
        for (int lang = 0; lang < 2; ++lang)
            EXPECT_EQ(CProtocol::find_command(str_text(row.name, lang)), &row) << str_text(row.name, lang);
    EXPECT_EQ(CProtocol::find_command(nullptr), nullptr);
    unsigned char out[8];
    EXPECT_EQ(prot_qm.encode(nullptr, "1", out, sizeof out), -5);
}

TEST(Encode, NamesAcceptedInEitherLanguageWhateverTheCurrentOne)
{
    language_scope en(1);
    unsigned char out[8];
    EXPECT_EQ(prot_qm.encode("VOIP_结束", nullptr, out, sizeof out), 3);
    EXPECT_EQ(out[2], 0x6E);
    EXPECT_EQ(prot_qm.encode("VOIP_Stop", nullptr, out, sizeof out), 3);
    EXPECT_EQ(out[2], 0x6E);
}

TEST(Encode, DtmfBufferLimits)
{
    unsigned char out[256];
    std::string d253(253, '5'), d252(252, '5');
    EXPECT_EQ(prot_qm.encode("DTMF发送", d253.c_str(), out, sizeof out), -2);
    ASSERT_EQ(prot_qm.encode("DTMF发送", d252.c_str(), out, sizeof out), 256);
    EXPECT_EQ(out[1], 254);
    EXPECT_EQ(out[255], 5);
    // A bigger buffer does not make a longer frame than the length byte holds.
    std::vector<unsigned char> big(2000);
    std::string d1000(1000, '1');
    EXPECT_EQ(prot_qm.encode("DTMF发送", d1000.c_str(), big.data(), 2000), -2);
    // Invalid characters count in the size check.
    EXPECT_EQ(prot_qm.encode("DTMF发送", "12345", out, 8), -2);
    EXPECT_EQ(prot_qm.encode("DTMF发送", "12345", out, 9), 9);
}

TEST(Encode, HexBufferLimits)
{
    unsigned char out[256];
    std::string h505(505, '1'), h506(506, '1');
    ASSERT_EQ(prot_qm.encode("写序列号", h505.c_str(), out, sizeof out), 256);
    EXPECT_EQ(out[1], 254);
    EXPECT_EQ(out[255], 0x1F);
    EXPECT_EQ(prot_qm.encode("写序列号", h506.c_str(), out, sizeof out), -2);
    EXPECT_EQ(prot_qm.encode("写序列号", "1234", out, 5), -2);
    EXPECT_EQ(prot_qm.encode("写序列号", "1234", out, 6), 6);
}

TEST(Encode, SmallBuffers)
{
    unsigned char out[8];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(prot_qm.encode("USB在线", nullptr, out, 0), -2);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_EQ(prot_qm.encode("USB在线", nullptr, nullptr, 8), -2);
    EXPECT_EQ(prot_qm.encode("USB在线", nullptr, out, 2), -2);
    EXPECT_EQ(out[2], 0xAA);
    EXPECT_EQ(prot_qm.encode("USB在线", nullptr, out, 3), 3);
    EXPECT_EQ(prot_qm.encode("写FLASH时间", "1", out, 3), -2);
    EXPECT_EQ(prot_qm.encode("转接", "1", out, 3), -2);
    EXPECT_EQ(out[3], 0xAA);
    EXPECT_EQ(prot_qm.encode("设置话机的时间", "2023-5-6", out, 8), -2);
}

TEST(Encode, CheckParamTouchesOnlyTheFlashRow)
{
    const te_evt_op* flash = CProtocol::find_command("写FLASH时间");
    const te_evt_op* attached = CProtocol::find_command("电话机插入 ");
    unsigned char f[] = {0xFF, 0x02, 0x24, 0x00};
    EXPECT_EQ(CProtocol::check_param(flash, f, 4), 4);
    EXPECT_EQ(f[3], 0xFE);
    unsigned char g[] = {0xFF, 0x02, 0xF1, 0x00};
    EXPECT_EQ(CProtocol::check_param(attached, g, 4), 4);
    EXPECT_EQ(g[3], 0x00);
    EXPECT_EQ(CProtocol::check_param(flash, f, 2), 2);
}

TEST(Encode, TimeUsesTheCurrentYearForMoves)
{
    // Without the fixed clock the year of a month-day text is the current one.
    time_t now = time(nullptr);
    struct tm tm_now;
    localtime_r(&now, &tm_now);
    unsigned char out[16];
    ASSERT_EQ(prot_qm.encode("设置话机的时间", "1-2 3:4:5", out, sizeof out), 9);
    EXPECT_EQ(out[3], (tm_now.tm_year + 1900 - 2000) & 0xFF);
}

} // namespace
