// The JSON event text, the name lists and the registry of protocol objects.
#include <gtest/gtest.h>

#include <json/json.h>

#include "helpers.h"

namespace {

std::string write(const Json::Value& v)
{
    std::string s;
    json_write(v, s);
    return s;
}

int count_of(const std::string& s, const std::string& what)
{
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1))
        ++n;
    return n;
}

} // namespace

TEST(JsonText, EscapesExactly)
{
    std::string raw("q\"b\\s/\b\f\n\r\t\x01\x1b\x1f\x7f", 15);
    std::string out;
    json_write_string(raw.data(), raw.size(), out);
    EXPECT_EQ(out, "\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001B\\u001F\x7f\"");
}

TEST(JsonText, Utf8AndHighBytesAreCopied)
{
    std::string raw = "中文é\xF0\x9F\x98\x80\xC3";  // a truncated sequence too
    std::string out;
    json_write_string(raw.data(), raw.size(), out);
    EXPECT_EQ(out, "\"" + raw + "\"");
}

TEST(JsonText, ZeroByteInsideAString)
{
    Json::Value v(std::string("a\0b", 3));
    EXPECT_EQ(write(v), "\"a\\u0000b\"");
}

TEST(JsonText, MembersInByteOrderWithoutBlanks)
{
    Json::Value v(Json::objectValue);
    v["value"] = "x";
    v["time"] = "t";
    v["number"] = "1";
    v["event"] = "e";
    v["dev"] = 1;
    v["B"] = 2;
    v["ab"] = 3;
    v["a"] = 4;
    v["é"] = 5;
    EXPECT_EQ(write(v), "{\"B\":2,\"a\":4,\"ab\":3,\"dev\":1,\"event\":\"e\",\"number\":\"1\","
                        "\"time\":\"t\",\"value\":\"x\",\"é\":5}");
}

TEST(JsonText, NumbersArraysAndOtherValues)
{
    Json::Value v(Json::objectValue);
    v["n"] = -42;
    v["u"] = Json::Value::UInt64(18446744073709551615ull);
    v["i"] = Json::Value::Int64(-9223372036854775807LL - 1);
    v["a"] = Json::Value(Json::arrayValue);
    v["a"].append(1);
    v["a"].append("x");
    v["a"].append(Json::Value(Json::arrayValue));
    v["b"] = true;
    v["z"] = Json::Value();
    v["o"] = Json::Value(Json::objectValue);
    EXPECT_EQ(write(v), "{\"a\":[1,\"x\",[]],\"b\":true,\"i\":-9223372036854775808,\"n\":-42,"
                        "\"o\":{},\"u\":18446744073709551615,\"z\":null}");
}

TEST(EventText, FormatAnnouncesADevice)
{
    devinfo_t dev;
    dev.id = 3;
    std::string out = "old";
    EXPECT_EQ(prot_qm.format(&dev, str_text(136), "0", out), 0);
    EXPECT_EQ(out, "{\"dev\":3,\"event\":\"电话机插入 \",\"value\":\"0\"}\n");
}

TEST(EventText, FormatEscapesItsTexts)
{
    devinfo_t dev;
    dev.id = 65535;
    std::string out;
    prot_qm.format(&dev, "a\"b\n", "\x02", out);
    EXPECT_EQ(out, "{\"dev\":65535,\"event\":\"a\\\"b\\n\",\"value\":\"\\u0002\"}\n");
}

TEST(EventText, UnpackValueOfAnEmptyObjectWritesNothing)
{
    std::string out = "keep";
    Json::Value none;
    EXPECT_EQ(prot_qm.unpack_value(1, none, out), 0);
    Json::Value empty(Json::objectValue);
    EXPECT_EQ(prot_qm.unpack_value(1, empty, out), 0);
    Json::Value text("not an object");
    EXPECT_EQ(prot_qm.unpack_value(1, text, out), 0);
    EXPECT_EQ(out, "keep");
    Json::Value ev(Json::objectValue);
    ev["event"] = "x";
    EXPECT_EQ(prot_qm.unpack_value(-2, ev, out), 1);
    EXPECT_EQ(out, "{\"dev\":-2,\"event\":\"x\"}\n");
}

TEST(NameLists, Commands)
{
    std::string out;
    int n = prot_qm.get_list("command", out);
    EXPECT_EQ(n, static_cast<int>(out.size()));
    EXPECT_EQ(out.back(), '\n');
    EXPECT_TRUE(out.starts_with("{\"command\":[\"USB心跳\",\"电话机插入 \",\"USB在线\"")) << out;
    EXPECT_TRUE(out.ends_with("\"KDXVOIP模式开\",\"KDXVOIP模式关\"]}\n")) << out;
    EXPECT_EQ(count_of(out, "\",\""), 42);
    std::string dflt;
    EXPECT_EQ(prot_qm.get_list(nullptr, dflt), n);
    EXPECT_EQ(dflt, out);
    Json::Value parsed;
    ASSERT_TRUE(Json::Reader().parse(out, parsed));
    ASSERT_EQ(parsed["command"].size(), 43u);
    for (int i = 0; i < CMD_LIST_COUNT; ++i)
        EXPECT_EQ(parsed["command"][i].asString(), str_text(m_cmd_list[i].name, 0));
}

TEST(NameLists, Events)
{
    std::string out;
    int n = prot_qm.get_list("event", out);
    EXPECT_EQ(n, static_cast<int>(out.size()));
    Json::Value parsed;
    ASSERT_TRUE(Json::Reader().parse(out, parsed));
    ASSERT_EQ(parsed["event"].size(), 31u);
    EXPECT_EQ(count_of(out, "\"电话按键\""), 2);
    EXPECT_EQ(count_of(out, "\"来电\""), 2);
    EXPECT_TRUE(out.starts_with("{\"event\":[\"电话机插入 \",")) << out;
}

TEST(NameLists, OtherKindsGiveNothing)
{
    std::string out = "same";
    EXPECT_EQ(prot_qm.get_list("Command", out), 0);
    EXPECT_EQ(prot_qm.get_list("", out), 0);
    EXPECT_EQ(prot_qm.get_list("events", out), 0);
    EXPECT_EQ(out, "same");
}

TEST(NameLists, EnglishDiffersInFourNames)
{
    std::string zh, en;
    prot_qm.get_list("command", zh);
    {
        language_scope lang(1);
        prot_qm.get_list("command", en);
    }
    std::string expect = zh;
    auto swap = [&](const std::string& a, const std::string& b) {
        size_t p = expect.find(a);
        ASSERT_NE(p, std::string::npos) << a;
        expect.replace(p, a.size(), b);
    };
    swap("\"USB心跳\"", "\"USB Beatheart\"");
    swap("\"电话机插入 \"", "\"Phone attached\"");
    swap("\"VOIP_开始\"", "\"VOIP_Start\"");
    swap("\"VOIP_结束\"", "\"VOIP_Stop\"");
    EXPECT_EQ(en, expect);
}

TEST(Registry, RegisterReplaceFindAndFree)
{
    auto* a = new CProtocol("test_a");
    auto* b = new CProtocol("test_a");
    EXPECT_TRUE(a->is_owned());
    EXPECT_FALSE(a->is_default());
    EXPECT_FALSE(prot_qm.is_owned());
    EXPECT_TRUE(prot_qm.is_default());
    EXPECT_STREQ(prot_qm.name(), "default");
    EXPECT_EQ(CProtocol::get_prot_by_name("test_a"), nullptr);
    CProtocol::regist(a);
    EXPECT_EQ(CProtocol::get_prot_by_name("test_a"), a);
    CProtocol::regist(b);  // replaces a, which is left alone
    EXPECT_EQ(CProtocol::get_prot_by_name("test_a"), b);
    EXPECT_EQ(CProtocol::get_prot_by_name(nullptr), nullptr);  // no default registered
    CProtocol::freeAll();                                         // destroys b
    EXPECT_EQ(CProtocol::get_prot_by_name("test_a"), nullptr);
    delete a;
}

TEST(Registry, NullNameFindsARegisteredDefaultObject)
{
    CProtocol other;  // a second default object, not owned
    auto* named = new CProtocol("qm_prot");
    CProtocol::regist(named);
    EXPECT_EQ(CProtocol::get_prot_by_name(nullptr), nullptr);
    CProtocol::regist(&other);
    EXPECT_EQ(CProtocol::get_prot_by_name(nullptr), &other);
    CProtocol::freeAll();  // destroys qm_prot only
    EXPECT_EQ(CProtocol::get_prot_by_name("qm_prot"), nullptr);
    EXPECT_EQ(CProtocol::get_prot_by_name("default"), &other);
    // `other` leaves the registry when destroyed (and frees what is owned).
}

TEST(Registry, DestroyedObjectLeavesTheRegistry)
{
    {
        CProtocol local("test_local");
        CProtocol::regist(&local);
        EXPECT_EQ(CProtocol::get_prot_by_name("test_local"), &local);
    }
    EXPECT_EQ(CProtocol::get_prot_by_name("test_local"), nullptr);
    EXPECT_EQ(CProtocol::get_prot_by_name("default"), nullptr);
}

namespace {
void hook_one(te_STR_ID, Json::Value&) {}
void hook_two(te_STR_ID, Json::Value&) {}
} // namespace

TEST(Registry, HookReturnsThePreviousOne)
{
    CProtocol p("hooked");
    EXPECT_EQ(p.regist_evt_dec_hook(hook_one), nullptr);
    EXPECT_EQ(p.regist_evt_dec_hook(hook_two), &hook_one);
    EXPECT_EQ(p.regist_evt_dec_hook(nullptr), &hook_two);
}

TEST(Registry, DefaultObjectKeepsWorkingAfterFreeAll)
{
    CProtocol::regist(new CProtocol("qm_prot"));
    CProtocol::freeAll();
    unsigned char buf[8];
    EXPECT_EQ(prot_qm.encode("USB在线", nullptr, buf, sizeof buf), 3);
    devinfo_t dev;
    dev.id = 1;
    EXPECT_EQ(decode_all(prot_qm, dev, {0xFF, 0x01, 0xE7}), "{\"dev\":1,\"event\":\"手柄摘机\"}\n");
}
