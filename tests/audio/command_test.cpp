// Command splitting, recognition, field extraction, the device list text and
// the amixer arguments.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "server.h"
#include "snd_card.h"

namespace {

std::vector<std::string> feed(snd_reader_t &r, const std::string &text)
{
    std::vector<std::string> out;
    snd_reader_feed(&r, text.data(), text.size(),
                    [](void *user, const char *cmd) { static_cast<std::vector<std::string> *>(user)->push_back(cmd); },
                    &out);
    return out;
}

using Cmds = std::vector<std::string>;

}  // namespace

TEST(CommandSplitting, CutsAtEveryBraceAndKeepsTheRest)
{
    snd_reader_t r{};
    EXPECT_EQ(feed(r, "{\"a\":1}{\"b\":2}{\"c\""), (Cmds{"{\"a\":1", "{\"b\":2"}));
    EXPECT_EQ(feed(r, ":3"), Cmds{});
    EXPECT_EQ(feed(r, "}"), Cmds{"{\"c\":3"});
    EXPECT_EQ(feed(r, "}}"), (Cmds{"", ""}));
}

TEST(CommandSplitting, DropsOverlongTextAndRecovers)
{
    snd_reader_t r{};
    // 255 characters is a command, 256 is not.
    EXPECT_EQ(feed(r, std::string(255, 'a') + "}").size(), 1u);
    EXPECT_EQ(feed(r, std::string(256, 'a') + "}x}"), Cmds{"x"});
    // Past 1023 characters without "}": dropped up to the next "}", however
    // many reads that takes.
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(feed(r, std::string(200, 'b')), Cmds{});
    EXPECT_EQ(feed(r, "bbb}ok}"), Cmds{"ok"});
    // Exactly 1023 characters still waits for its "}" (and is then too long).
    EXPECT_EQ(feed(r, std::string(1023, 'c')), Cmds{});
    EXPECT_EQ(feed(r, "}next}"), Cmds{"next"});
}

TEST(CommandRecognition, FirstMatchInFixedOrder)
{
    const struct {
        const char *text;
        snd_cmd_kind_t kind;
    } cases[] = {
        {R"({"cmd":"get_snd_play")", SND_CMD_GET_PLAY},
        {R"({"cmd":"get_snd_record")", SND_CMD_GET_RECORD},
        {R"({"cmd":"get_snd_all")", SND_CMD_GET_ALL},
        {R"({"x":"1","cmd":"playwave")", SND_CMD_PLAYWAVE},
        {R"({"cmd":"setvolume")", SND_CMD_SETVOLUME},
        {R"({"cmd":"exitplay")", SND_CMD_EXITPLAY},
        {R"({"cmd":"pausewave")", SND_CMD_PAUSEWAVE},
        {R"({"cmd":"resumewave")", SND_CMD_RESUMEWAVE},
        {R"({"cmd":"recordwave")", SND_CMD_RECORDWAVE},
        {R"({"cmd":"exitrecord")", SND_CMD_EXITRECORD},
        {R"({"cmd": "exitplay")", SND_CMD_NONE},
        {R"({"cmd":"exitplay2")", SND_CMD_NONE},
        {R"({"cmd":"exitrecord","cmd":"playwave")", SND_CMD_PLAYWAVE},
        {"", SND_CMD_NONE},
    };
    for (const auto &k : cases)
        EXPECT_EQ(snd_find_command(k.text), k.kind) << k.text;
}

TEST(CommandFields, ExtractsUpToTheNextQuoteWithinLimits)
{
    char file[256], dev[64];
    int repeat = -1;
    ASSERT_EQ(get_cmdinfo_from_json(R"({"cmd":"playwave","device":"plughw:1,0","filename":"/a b.wav","playback":"norepeat")",
                                    file, dev, &repeat),
              0);
    EXPECT_STREQ(file, "/a b.wav");
    EXPECT_STREQ(dev, "plughw:1,0");
    EXPECT_EQ(repeat, 1);  // "norepeat" contains "repeat"
    ASSERT_EQ(get_cmdinfo_from_json(R"({"filename":"x","playback":"once")", file, dev, &repeat), 0);
    EXPECT_STREQ(dev, "");
    EXPECT_EQ(repeat, 0);
    ASSERT_EQ(get_cmdinfo_from_json(R"({"filename":"unterminated)", file, dev, &repeat), 0);
    EXPECT_STREQ(file, "");

    const std::string long_file = R"({"filename":")" + std::string(256, 'f') + "\"";
    const std::string max_file = R"({"filename":")" + std::string(255, 'f') + "\"";
    const std::string long_dev = R"({"filename":"x","device":")" + std::string(64, 'd') + "\"";
    const std::string long_playback = R"({"playback":")" + std::string(24, 'p') + "\"";
    EXPECT_EQ(get_cmdinfo_from_json(long_file.c_str(), file, dev, &repeat), -1);
    EXPECT_EQ(get_cmdinfo_from_json(max_file.c_str(), file, dev, &repeat), 0);
    EXPECT_EQ(strlen(file), 255u);
    EXPECT_EQ(get_cmdinfo_from_json(long_dev.c_str(), file, dev, &repeat), -1);
    EXPECT_EQ(get_cmdinfo_from_json(long_playback.c_str(), file, dev, &repeat), -1);
}

TEST(CommandFields, VolumeDefaultsAndNumbers)
{
    const struct {
        const char *text;
        int rc, value, spk;
    } cases[] = {
        {R"("device":"hw:1")", 0, 60, 0},
        {R"("value":"abc","spk":"1")", 0, 0, 1},
        {R"("value":" -7x","spk":"2")", 0, -7, 2},
        {R"("value":"99999999999999999999")", 0, INT_MAX, 0},
        {R"("value":"123456789012345678901234")", -1, 0, 0},
        {R"("device":"hw:123456789012345678901")", -1, 0, 0},
    };
    for (const auto &k : cases) {
        char dev[24];
        int value = 0, spk = 0;
        ASSERT_EQ(get_volume_fields(k.text, dev, &value, &spk), k.rc) << k.text;
        if (k.rc == 0) {
            EXPECT_EQ(value, k.value) << k.text;
            EXPECT_EQ(spk, k.spk) << k.text;
        }
    }
}

TEST(DeviceList, EmptyFullAndCutLists)
{
    char buf[2048];
    snd_list_t l;
    snd_list_begin(&l, buf, sizeof buf, 0);
    snd_list_end(&l);
    EXPECT_STREQ(buf, R"({"recordlist":[]})");

    snd_list_begin(&l, buf, sizeof buf, 1);
    snd_list_add(&l, "USB Phone", "USB Audio", 1, 0);
    snd_list_add(&l, "Say \"hi\"", "a\\b", 2, 3);
    snd_list_end(&l);
    EXPECT_STREQ(buf, R"({"playlist":[{"name":"USB Phone:USB Audio","device":"plughw:1,0"},)"
                      R"({"name":"Say \"hi\":a\\b","device":"plughw:2,3"}]})");

    // Twenty devices: fifteen listed, twenty counted.
    snd_list_begin(&l, buf, sizeof buf, 1);
    for (int i = 0; i < 20; ++i)
        snd_list_add(&l, "C", "P", i, 0);
    snd_list_end(&l);
    EXPECT_EQ(l.count, 20);
    const std::string text = buf;
    EXPECT_NE(text.find("plughw:14,0"), std::string::npos);
    EXPECT_EQ(text.find("plughw:15,0"), std::string::npos);

    // Long names in a small buffer: whole items only, and always closed.
    for (size_t size : {32u, 100u, 300u, 1007u}) {
        std::vector<char> small(size, '\x7f');
        snd_list_begin(&l, small.data(), size, 1);
        for (int i = 0; i < 15; ++i)
            snd_list_add(&l, std::string(100, 'n').c_str(), "pcm", 0, i);
        snd_list_end(&l);
        const std::string s = small.data();
        EXPECT_LT(s.size(), size);
        EXPECT_EQ(s.rfind(R"({"playlist":[)", 0), 0u);
        EXPECT_EQ(s.substr(s.size() - 2), "]}");
        EXPECT_TRUE(s.size() == 15 || s[s.size() - 3] == '}') << s;
    }
}

TEST(DeviceList, NoCardsGivesEmptyLists)
{
    char buf[64];
    EXPECT_EQ(snd_device_list(1, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, R"({"playlist":[]})");
    char reply[SND_REPLY_SIZE] = {};
    ASSERT_EQ(ParseSocketData(R"({"cmd":"get_snd_all")", reply), 1);
    EXPECT_STREQ(reply, R"({"cmd":"get_snd_all","data":[{"recordlist":[]},{"playlist":[]}]})");
}

TEST(Volume, AmixerArgumentsAndRawLevels)
{
    const struct {
        const char *device;
        int volume, spk;
        const char *args;
        int raw;
    } cases[] = {
        {"hw:1", 50, 1, "amixer -c 1 cset numid=4 50%", 716},
        {"plughw:1,0", 50, 1, "amixer set Master 50%", 716},
        {"hw:1", 100, 0, "amixer -c 1 cset numid=6 100%", 496},
        {"hw:1", 100, 2, "amixer -c 1 cset numid=6 100%", 1008},
        {"hw:1", 150, 1, "amixer -c 1 cset numid=4 150%", 1512},
        {"hw:1", 0, 1, "amixer -c 1 cset numid=4 0%", 0},
        {"hw:1;rm -rf ~", 5, 0, "amixer -c 1;rm -rf ~ cset numid=6 5%", 24},
        {"hw:1", -2147483647 - 1, 2, "amixer -c 1 cset numid=6 -2147483648%", INT_MIN},
    };
    for (const auto &k : cases) {
        snd_mixer_cmd_t cmd;
        ASSERT_TRUE(snd_mixer_command(k.device, k.volume, k.spk, &cmd)) << k.device;
        std::string line;
        for (int i = 0; cmd.argv[i]; ++i)
            line += (i ? " " : "") + std::string(cmd.argv[i]);
        EXPECT_EQ(line, k.args);
        EXPECT_EQ(snd_mixer_raw_level(k.volume, k.spk), k.raw) << k.args;
    }
    snd_mixer_cmd_t cmd;
    EXPECT_FALSE(snd_mixer_command("default", 5, 1, &cmd));
    EXPECT_FALSE(snd_mixer_command("hw:", 5, 1, &cmd));
}
