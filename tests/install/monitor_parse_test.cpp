// The monitor's command lines, event forms and options.
#include <gtest/gtest.h>

#include <telhid.h>

#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "event_format.h"
#include "name_list.h"
#include "options.h"

namespace {

struct line_case_t {
    const char* line;
    te_parse kind;
    const char* name;
    std::optional<std::string> param;
    int device;
};

class CommandLine : public testing::TestWithParam<line_case_t> {
protected:
    static std::vector<std::string> names()
    {
        std::vector<std::string> n = load_names(false, 0);
        for (std::string& e : load_names(false, 1))
            n.push_back(e);
        return n;
    }
};

TEST_P(CommandLine, SplitsNameParameterAndDevice)
{
    const line_case_t& c = GetParam();
    te_command_t cmd;
    std::string error;
    ASSERT_EQ(parse_command_line(c.line, names(), cmd, error), c.kind) << c.line << " / " << error;
    if (c.kind != te_parse::command) {
        EXPECT_EQ(c.kind == te_parse::error, !error.empty());
        return;
    }
    EXPECT_EQ(cmd.name, c.name);
    EXPECT_EQ(cmd.param, c.param);
    EXPECT_EQ(cmd.device, c.device);
}

const line_case_t m_lines[] = {
    {"读取版本信息", te_parse::command, "读取版本信息", std::nullopt, -1},
    {"  读取版本信息 @all\r\n", te_parse::command, "读取版本信息", std::nullopt, -1},
    {"写FLASH时间 10 @2", te_parse::command, "写FLASH时间", "10", 2},
    // A name with a blank inside, and the longer of two names sharing a start.
    {"USB Beatheart", te_parse::command, "USB Beatheart", std::nullopt, -1},
    {"USB在线2 @1", te_parse::command, "USB在线2", std::nullopt, 1},
    {"USB在线 @1", te_parse::command, "USB在线", std::nullopt, 1},
    // The name's own trailing blank: typed, left out at the end, or quoted.
    {"电话机插入  255", te_parse::command, "电话机插入 ", "255", -1},
    {"电话机插入", te_parse::command, "电话机插入 ", std::nullopt, -1},
    {"\"电话机插入 \" 255 @3", te_parse::command, "电话机插入 ", "255", 3},
    {"Phone attached 7", te_parse::command, "Phone attached", "7", -1},
    // Parameters with blanks; quotes keep the blanks at the ends.
    {"设置话机的时间 2023-5-6 10:30:15 @1", te_parse::command, "设置话机的时间", "2023-5-6 10:30:15", 1},
    {"DTMF发送 \" 12 \"", te_parse::command, "DTMF发送", " 12 ", -1},
    {"DTMF发送 \"\"", te_parse::command, "DTMF发送", "", -1},
    // Unknown names go to the library, which answers for them.
    {"nosuch a b", te_parse::command, "nosuch", "a b", -1},
    {"", te_parse::empty, "", std::nullopt, -1},
    {"   \t", te_parse::empty, "", std::nullopt, -1},
    {"# a comment", te_parse::empty, "", std::nullopt, -1},
    {"读取版本信息 @x", te_parse::error, "", std::nullopt, -1},
    {"读取版本信息 @70000", te_parse::error, "", std::nullopt, -1},
    {"@2", te_parse::error, "", std::nullopt, -1},
    {"\"电话机插入  255", te_parse::error, "", std::nullopt, -1},
};

INSTANTIATE_TEST_SUITE_P(Lines, CommandLine, testing::ValuesIn(m_lines));

TEST(EventForm, PrettyShowsDeviceEventAndValues)
{
    const std::pair<const char*, const char*> cases[] = {
        {"{\"dev\":1,\"event\":\"手柄摘机\"}\n", "dev 1  手柄摘机"},
        {"{\"dev\":1,\"event\":\"电话按键\",\"value\":\"1\"}\n", "dev 1  电话按键  value=1"},
        {"{\"dev\":2,\"event\":\"取版本号\",\"value\":194}\n", "dev 2  取版本号  value=194"},
        {"{\"dev\":1,\"event\":\"来电\",\"number\":\"88123456\",\"time\":\"5-12 9:30\"}\n",
         "dev 1  来电  number=88123456 time=\"5-12 9:30\""},
        {"not json\n", "not json"},
    };
    for (const auto& [text, pretty] : cases)
        EXPECT_EQ(pretty_event(text), pretty) << text;
}

TEST(EventForm, ResultsCarryCodeAndLibraryText)
{
    int previous = set_language(1);
    te_command_t cmd{"写FLASH时间", "10", 2};
    EXPECT_EQ(result_json(cmd, 4, result_text(4)),
              "{\"command\":\"写FLASH时间\",\"dev\":2,\"result\":4,\"text\":\"SUCCESS\"}\n");
    te_command_t unknown{"nosuch", std::nullopt, -1};
    EXPECT_EQ(result_pretty(unknown, -5, result_text(-5)), "> nosuch @all: -5 ERR_UNKOWN_CMD\n");
    EXPECT_EQ(result_pretty(cmd, -6, result_text(-6)), "> 写FLASH时间 \"10\" @2: -6 ERR_WRONG_PARAM\n");
    set_language(0);
    EXPECT_EQ(result_pretty(unknown, -5, result_text(-5)), "> nosuch @all: -5 未知命令\n");
    set_language(previous);
}

TEST(Options, ParsesAndRejects)
{
    monitor_options_t opt;
    std::string error;
    ASSERT_TRUE(parse_options({"--pretty", "--lang", "en", "--tcp", "0", "--linger", "500"}, opt, error));
    EXPECT_TRUE(opt.pretty);
    EXPECT_EQ(opt.language, 1);
    EXPECT_EQ(opt.tcp_port, 0);
    EXPECT_EQ(opt.linger_ms, 500);
    ASSERT_TRUE(parse_options({"--list", "events"}, opt, error));
    EXPECT_EQ(opt.list, te_list_kind::events);

    const std::vector<std::vector<std::string>> bad = {
        {"--lang", "fr"}, {"--lang"}, {"--tcp", "70000"}, {"--tcp", "12x"}, {"--list", "keys"}, {"--nope"},
    };
    for (const auto& args : bad) {
        monitor_options_t o;
        error.clear();
        EXPECT_FALSE(parse_options(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
