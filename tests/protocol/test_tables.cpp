// The message table, the opcode tables and their value lists.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "helpers.h"

TEST(StringTable, AttachedRowKeepsItsTrailingSpace)
{
    EXPECT_STREQ(str_text(STR_PHONE_ATTACHED, 0), "电话机插入 ");
    EXPECT_STREQ(str_text(STR_PHONE_ATTACHED, 1), "Phone attached");
    language_scope en(1);
    EXPECT_STREQ(str_text(136), "Phone attached");
}

TEST(StringTable, SelectedRows)
{
    EXPECT_STREQ(str_text(4, 1), "PC ");
    EXPECT_STREQ(str_text(4, 0), "PC挂机");
    EXPECT_STREQ(str_text(96, 0), "P");
    EXPECT_STREQ(str_text(96, 1), "p");
    EXPECT_STREQ(str_text(130, 0), "P");
    EXPECT_STREQ(str_text(130, 1), "P");
    EXPECT_STREQ(str_text(94, 0), "*");
    EXPECT_STREQ(str_text(124, 0), "*");
    EXPECT_STREQ(str_text(83, 1), "USB Beatheart");
    EXPECT_STREQ(str_text(66, 0), "写MERMORY号码");
    EXPECT_STREQ(str_text(108, 1), "DAIL BACK");
    EXPECT_STREQ(str_text(123, 1), "RINGTONG");
    EXPECT_STREQ(str_text(139, 1), "Key-Mic");
    EXPECT_STREQ(str_text(0, 0), "保留消息字");
    EXPECT_STREQ(str_text(138, 1), "string");
}

TEST(StringTable, MissingRowsAndBadIndexes)
{
    for (int r : {39, 40, 58, 59, -1, 140, 1000}) {
        EXPECT_FALSE(str_exists(r)) << r;
        EXPECT_STREQ(str_text(r, 0), "") << r;
    }
    int present = 0;
    for (int r = 0; r < STR_ROW_COUNT; ++r)
        present += str_exists(r);
    EXPECT_EQ(present, 136);
    // A column index other than 0 or 1 never reads outside the table.
    EXPECT_STREQ(str_text(136, 7), "电话机插入 ");
    EXPECT_STREQ(str_text(136, -1), "电话机插入 ");
}

TEST(StringTable, OnlyTheListedRowsChangeInEnglish)
{
    std::set<int> differ;
    for (int r = 0; r < STR_ROW_COUNT; ++r)
        if (str_exists(r) && std::string(str_text(r, 0)) != str_text(r, 1))
            differ.insert(r);
    std::set<int> expected = {0, 1, 2, 3, 4, 52, 53, 83, 96, 97, 98, 99, 100, 101, 102, 103, 104,
                              106, 107, 108, 109, 120, 121, 122, 123, 131, 132, 133, 134, 135,
                              136, 137, 139};
    EXPECT_EQ(differ, expected);
}

TEST(OpcodeTables, SizesAndUniqueness)
{
    std::set<int> evt_ops, cmd_ops;
    std::set<std::string> cmd_names;
    for (const te_evt_op& r : m_evt_list)
        evt_ops.insert(r.opcode);
    for (const te_evt_op& r : m_cmd_list) {
        cmd_ops.insert(r.opcode);
        cmd_names.insert(str_text(r.name, 0));
    }
    EXPECT_EQ(evt_ops.size(), 31u);
    EXPECT_EQ(cmd_ops.size(), 43u);
    EXPECT_EQ(cmd_names.size(), 43u);
}

TEST(OpcodeTables, RowsAsDefined)
{
    EXPECT_EQ(m_evt_list[0].opcode, 0xF1);
    EXPECT_EQ(m_evt_list[0].kind, PARAM_BYTE);
    EXPECT_EQ(m_evt_list[0].name, STR_PHONE_ATTACHED);
    EXPECT_EQ(m_evt_list[15].opcode, 0xE0);
    EXPECT_EQ(m_evt_list[15].param.list, &m_key_str_list);
    EXPECT_EQ(m_evt_list[21].param.chars, m_dtmf_tx_tbl);
    EXPECT_EQ(m_evt_list[24].param.dec, &AnalyzeCallID);
    EXPECT_EQ(m_evt_list[30].opcode, 0x84);
    EXPECT_EQ(m_evt_list[30].param.hex, &parse_string);
    EXPECT_EQ(m_cmd_list[0].opcode, 0x8A);
    EXPECT_EQ(m_cmd_list[0].param.enc, &LoadString);
    EXPECT_EQ(m_cmd_list[21].opcode, 0x22);
    EXPECT_EQ(m_cmd_list[21].param.enc, &EncTime);
    EXPECT_EQ(m_cmd_list[42].opcode, 0x1A);
    EXPECT_EQ(m_cmd_list[42].name, STR_KDXVOIP_OFF);
    EXPECT_EQ(static_cast<int>(PARAM_HEX), 6);
    EXPECT_EQ(static_cast<int>(PARAM_LIST), 4);
}

TEST(OpcodeTables, EventIndexFindsEveryRow)
{
    for (const te_evt_op& r : m_evt_list)
        EXPECT_EQ(CProtocol::find_event(r.opcode), &r);
    EXPECT_EQ(CProtocol::find_event(0x99), nullptr);
    EXPECT_EQ(CProtocol::find_event(-1), nullptr);
    EXPECT_EQ(CProtocol::find_event(256), nullptr);
}

TEST(ValueLists, KeysStatesHardware)
{
    EXPECT_EQ(m_key_str_list.count, 42);
    EXPECT_EQ(value_list_lookup(m_key_str_list, 0x7D), STR_KEY_1);
    EXPECT_EQ(value_list_lookup(m_key_str_list, 0xEC), STR_KEY_0);
    EXPECT_EQ(value_list_lookup(m_key_str_list, 0x5C), STR_KEY_VOL);
    EXPECT_EQ(value_list_lookup(m_key_str_list, 0xB8), STR_KEY_MIC);
    EXPECT_EQ(value_list_lookup(m_key_str_list, 0xFF), STR_KEY_INVALID);
    EXPECT_EQ(value_list_lookup(m_key_str_list, 0x01), STR_KEY_INVALID);
    EXPECT_EQ(value_list_lookup(m_state_list, 0x02), STR_PARALLEL_OFFHOOK);
    EXPECT_EQ(value_list_lookup(m_state_list, 0x01), STR_RESERVED);
    EXPECT_EQ(value_list_lookup(m_hw_type_list, 0x84), STR_HW_VOIP_PHONE);
    EXPECT_EQ(value_list_lookup(m_hw_type_list, 0x85), STR_RESERVED);
    EXPECT_STREQ(m_dtmf_rx_tbl, "0123456789*#DBC");
    EXPECT_STREQ(m_dtmf_tx_tbl, "0123456789*#PBC");
}

// Objects built before main (see test_static_init.cpp) found the tables
// filled, whatever the order of construction.
extern std::string static_init_list;
extern int static_init_encode;
extern std::string static_init_event;

TEST(StaticInit, DefaultObjectUsableFromStaticConstructors)
{
    EXPECT_EQ(static_init_encode, 3);
    EXPECT_TRUE(static_init_list.starts_with("{\"command\":[\"USB心跳")) << static_init_list;
    EXPECT_EQ(static_init_event, "{\"dev\":9,\"event\":\"手柄摘机\"}\n");
}
