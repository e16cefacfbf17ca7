// The bilingual message table: every event, command, key, telephone state and
// hardware-type name of the library, one row per name, a Chinese column (0)
// and an English column (1). The row number (te_STR_ID) is the identity of a
// name everywhere in the library. Constant data, readable from any thread.
#pragma once

#include <atomic>
#include <cstdint>

enum te_STR_ID : int32_t {
    STR_RESERVED = 0,               // "保留消息字" / "Reserved"
    STR_USB_PLUG_IN = 1,            // "USB设备插入状态" / "USB Plug in"
    STR_USB_REMOVED = 2,            // "usb设备移出状态" / "usb Removed"
    STR_PC_OFFHOOK = 3,             // "PC摘机" / "PC Calling"
    STR_PC_ONHOOK = 4,              // "PC挂机" / "PC "
    STR_HANDSET_OFFHOOK = 5,        // "手柄摘机"
    STR_HANDSET_ONHOOK = 6,         // "手柄挂机"
    STR_HANDSFREE_OFFHOOK = 7,      // "免提摘机" (event and command)
    STR_HANDSFREE_ONHOOK = 8,       // "免提挂机" (event and command)
    STR_PARALLEL_OFFHOOK = 9,       // "并机摘机"
    STR_PARALLEL_ONHOOK = 10,       // "并机挂机"
    STR_RING = 11,                  // "振铃"
    STR_KEY = 12,                   // "电话按键"
    STR_STATE_QUERY = 13,           // "电话状态查询" (event and command)
    STR_CALLER_ID = 14,             // "来电"
    STR_DIAL_DONE = 15,             // "拨号完成"
    STR_OFFHOOK_DTMF = 16,          // "摘机DTMF"
    STR_PLAY_START = 17,            // "开始放音"
    STR_PLAY_DONE = 18,             // "放音完成"
    STR_PLAY_STOP = 19,             // "终止放音"
    STR_REC_START = 20,             // "开始录音"
    STR_REC_STOP = 21,              // "停止录音"
    STR_BUSY_TONE = 22,             // "对方忙音"
    STR_AUDIO_READY = 23,           // "音频通道准备就绪"
    STR_MISSED_CALL_UPLOAD = 24,    // "未接来电上传"
    STR_ANSWERED_CALL_UPLOAD = 25,  // "已接来电上传"
    STR_DIALED_UPLOAD = 26,         // "拨出号码上传"
    STR_RECORDS_UPLOADED = 27,      // "记录上传完成"
    STR_VERSION = 28,               // "取版本号" (also the version property id)
    STR_CID_RESTART = 29,           // "来电显示单片机重启"
    STR_REDIAL_UPLOAD = 30,         // "重拨号码上传"
    STR_LOW_BATTERY = 31,           // "电池低电提示"
    STR_VOIP_OFFHOOK = 32,          // "网络电话摘机"
    STR_VOIP_ONHOOK = 33,           // "网络电话挂机"
    STR_PARALLEL_DIAL = 34,         // "并机拔号"
    STR_VENDOR_INFO = 35,           // "厂家代码信息"
    STR_SERIAL_INFO = 36,           // "序列号信息"
    STR_HW_TYPE_INFO = 37,          // "硬件类型信息"
    STR_VOLUME_CHANGED = 38,        // "音量变化消息"
    // rows 39 and 40 do not exist
    STR_IDLE = 41,                  // "IDLE状态"
    STR_USB_ONLINE = 42,            // "USB在线" (also the mount-pending property id)
    STR_LOCAL_REC_START = 43,       // "本地录音开始"
    STR_LOCAL_REC_STOP = 44,        // "本地录音结束"
    STR_TRANSFER = 45,              // "转接" (also the report-handler property id)
    STR_LOCAL_PLAY_START = 46,      // "本地播放开始"
    STR_LOCAL_PLAY_STOP = 47,       // "本地播放结束"
    STR_LINE_PLAY_START = 48,       // "留言电话线上播放开始"
    STR_LINE_PLAY_STOP = 49,        // "留言电话线上播放结束"
    STR_USB_ONLINE2 = 50,           // "USB在线2"
    STR_SPECIAL_RING_START = 51,    // "开始特色振铃"
    STR_VOIP_START = 52,            // "VOIP_开始" / "VOIP_Start"
    STR_VOIP_STOP = 53,             // "VOIP_结束" / "VOIP_Stop"
    STR_QUERY_STATE = 54,           // "查询电话状态"
    STR_DTMF_SEND = 55,             // "DTMF发送"
    STR_UPLOAD_ALL_RECORDS = 56,    // "所有记录上传"
    STR_READ_VERSION = 57,          // "读取版本信息"
    // rows 58 and 59 do not exist
    STR_SPECIAL_RING_STOP = 60,     // "关闭特色振铃"
    STR_SET_TIME = 61,              // "设置话机的时间"
    STR_CALL_REC_START = 62,        // "通话录音开始"
    STR_CALL_REC_STOP = 63,         // "通话录音结束"
    STR_BUSY_DETECT = 64,           // "启动忙音检测"
    STR_WRITE_FLASH_TIME = 65,      // "写FLASH时间"
    STR_WRITE_MEMORY_NUMBER = 66,   // "写MERMORY号码"
    STR_READ_VENDOR = 67,           // "读厂家代码"
    STR_WRITE_VENDOR = 68,          // "写厂家代码"
    STR_READ_SERIAL = 69,           // "读序列号"
    STR_WRITE_SERIAL = 70,          // "写序列号"
    STR_READ_HW_TYPE = 71,          // "读取硬件类型"
    STR_VOIP_RING = 72,             // "网络电话振铃"
    STR_CUSTOM_KEYPAD = 73,         // "自定义键盘"
    STR_ICON_LIGHT = 74,            // "点亮和关闭图标"
    STR_VOLUME_ADJUST = 75,         // "话机音量加减"
    STR_PHONE_MUTE = 76,            // "话机静音"
    STR_INIT_EEPROM = 77,           // "初始化EEPROM"
    STR_MSG_LED_ON = 78,            // "开启留言灯"
    STR_MSG_LED_OFF = 79,           // "关闭留言灯"
    STR_INIT_SETTINGS = 80,         // "初始化设置"
    STR_KDXVOIP_ON = 81,            // "KDXVOIP模式开"
    STR_KDXVOIP_OFF = 82,           // "KDXVOIP模式关"
    STR_USB_HEARTBEAT = 83,         // "USB心跳" / "USB Beatheart"
    STR_KEY_0 = 84,                 // "0" ... STR_KEY_0 + 9 is "9"
    STR_KEY_1 = 85,
    STR_KEY_2 = 86,
    STR_KEY_3 = 87,
    STR_KEY_4 = 88,
    STR_KEY_5 = 89,
    STR_KEY_6 = 90,
    STR_KEY_7 = 91,
    STR_KEY_8 = 92,
    STR_KEY_9 = 93,
    STR_KEY_STAR = 94,              // "*"
    STR_KEY_HASH = 95,              // "#"
    STR_KEY_P = 96,                 // "P" / "p"
    STR_KEY_UP = 97,                // "上翻" / "UP"
    STR_KEY_DOWN = 98,              // "下翻" / "DOWN"
    STR_KEY_REDIAL = 99,            // "重拨" / "REDIAL"
    STR_KEY_HANDSFREE = 100,        // "免提" / "HANDFREE"
    STR_KEY_DEL = 101,              // "删除" / "DEL"
    STR_KEY_HISTORY = 102,          // "拨出记录" / "HISTORY DIAL"
    STR_KEY_FLASH = 103,            // "闪断" / "FLASH/R"
    STR_KEY_PAUSE = 104,            // "暂停" / "PAUSE"
    STR_KEY_VOIP = 105,             // "VOIP"
    STR_KEY_RECORD = 106,           // "录音" / "RECORD"
    STR_KEY_MISSED = 107,           // "未接来电" / "MISS CALL"
    STR_KEY_CALLBACK = 108,         // "回拨" / "DAIL BACK"
    STR_KEY_LIGHT = 109,            // "亮度" / "LIGHT"
    STR_KEY_M1 = 110,               // "M1" ... STR_KEY_M1 + 9 is "M10"
    STR_KEY_M2 = 111,
    STR_KEY_M3 = 112,
    STR_KEY_M4 = 113,
    STR_KEY_M5 = 114,
    STR_KEY_M6 = 115,
    STR_KEY_M7 = 116,
    STR_KEY_M8 = 117,
    STR_KEY_M9 = 118,
    STR_KEY_M10 = 119,
    STR_KEY_MUTE = 120,             // "静音" / "MUTE"
    STR_KEY_VOL = 121,              // "音量" / "VOL"
    STR_KEY_SETTING = 122,          // "设置" / "SETTING"
    STR_KEY_RINGTONE = 123,         // "铃声" / "RINGTONG"
    STR_CHAR_STAR = 124,            // "*"
    STR_CHAR_HASH = 125,            // "#"
    STR_CHAR_A = 126,               // "A"
    STR_CHAR_B = 127,               // "B"
    STR_CHAR_C = 128,               // "C"
    STR_CHAR_D = 129,               // "D"
    STR_CHAR_P = 130,               // "P"
    STR_KEY_INVALID = 131,          // "无效按键" / "INVALID KEY"
    STR_DEV_INVALID = 132,          // "未知设备" / "INVALID DEVICE"
    STR_HW_RECORD_PHONE = 133,      // "录音电话机" / "RecordPhone"
    STR_HW_RECORD_BOX = 134,        // "录音盒" / "RecordBox"
    STR_HW_VOIP_PHONE = 135,        // "网络电话机" / "VOIP Phone"
    STR_PHONE_ATTACHED = 136,       // "电话机插入 " / "Phone attached" (trailing space in Chinese)
    STR_PHONE_REMOVED = 137,        // "电话机拔出" / "Phone removed"
    STR_STRING = 138,               // "string"
    STR_KEY_MIC = 139,              // "耳麦键" / "Key-Mic"
};

// Number of rows, including the four that do not exist (39, 40, 58, 59).
constexpr int STR_ROW_COUNT = 140;

// The table: column 0 Chinese, column 1 English, zero-terminated UTF-8.
// Rows that do not exist hold null in both columns.
extern const char* const m_string_tbl[STR_ROW_COUNT][2];

// Process-wide column index: 0 Chinese (the value at load), 1 English.
// Written by set_language, read by every thread (hence atomic; a reader sees
// the old or the new value). Only 0 and 1 select a column; str_text treats
// any other value as 0.
extern std::atomic<int> g_language;

// Whether row `id` exists (0-139 and not one of the four missing rows).
bool str_exists(int id);

// Text of row `id` in the current language; "" for a row that does not
// exist. Thread-safe. The text is constant and lives for the whole process.
const char* str_text(int id);

// Text of row `id` in column `language` (0 or 1; other values read column 0);
// "" for a row that does not exist.
const char* str_text(int id, int language);
