// The simulated bus: every telephone, every open hidapi handle, and the one
// lock that guards them. hidapi calls arrive from any thread of the program
// under test; tests drive telephones from their own threads.
#pragma once

#include "chip.h"
#include "frames.h"
#include "vtel.h"

#include <hidapi.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vtel::detail {

struct phone;

struct queued_report {
    std::vector<uint8_t> bytes;
    bool raw;  // injected as is: the chip model does not touch it
};

// hidapi's opaque handle. Owned by the program from hid_open_path to
// hid_close; reports are copied to every open handle, as hidraw does.
struct handle {
    std::shared_ptr<phone> ph;
    bool dead = false;  // the telephone was unplugged since the handle was opened
    bool nonblocking = false;
    std::deque<queued_report> queue;
    size_t dropped = 0;
    std::condition_variable cv;  // report queued, or dead
    std::wstring error;
    hid_device_info info{};
    std::string info_path;
    std::wstring info_serial;
};

// Queue bound per handle; a reader that stops reading loses what comes after.
constexpr size_t max_queued_reports = 1024;

struct phone {
    phone(int id_, const phone_cfg_t& cfg);

    const int id;
    const CChipModel& chip;
    const std::string path;
    const uint16_t vid, pid, usage_page, usage;
    const int interface_number;
    const std::string serial;
    const std::vector<usage_t> extra_usages;

    // Everything below is guarded by registry().mu.
    int version;
    bool openable;
    uint8_t state;
    uint8_t hw_type;
    bool plugged = false;
    std::vector<handle*> handles;
    std::vector<report_t> written;
    std::vector<frame_t> frames;
    size_t wait_pos = 0;
    CFrameReader reader;
    std::condition_variable changed;  // frames, handles or plug state changed
};

struct registry_t {
    std::mutex mu;
    std::vector<std::shared_ptr<phone>> phones;
    int next_id = 1;
    unsigned uevent_seq = 0;
};

// Never destroyed: hidapi calls and background threads may outlive static
// destruction at exit.
registry_t& registry();

// With registry().mu held:
// Queues a byte stream from the telephone as this chip's input reports.
int queue_bytes_locked(phone& ph, std::span<const uint8_t> bytes);
int queue_report_locked(phone& ph, std::vector<uint8_t> report, bool raw);
// Records one written report, decodes it and lets the telephone answer.
int record_write_locked(phone& ph, std::span<const uint8_t> report);
void unplug_locked(phone& ph);

// Kernel-style hot-plug messages for a plug or an unplug (without the lock).
void announce(const phone& ph, bool added, unsigned seq);

}  // namespace vtel::detail
