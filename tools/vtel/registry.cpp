#include "registry.h"

#include <algorithm>

namespace vtel::detail {

registry_t& registry()
{
    static registry_t* r = new registry_t;
    return *r;
}

namespace {

std::string default_path(int id)
{
    return "/dev/vtel/hidraw" + std::to_string(id);
}

}  // namespace

phone::phone(int id_, const phone_cfg_t& cfg)
    : id(id_),
      chip(chip_model(cfg.chip)),
      path(cfg.path.empty() ? default_path(id_) : cfg.path),
      vid(cfg.vid.value_or(chip.vid)),
      pid(cfg.pid.value_or(chip.pid)),
      usage_page(cfg.usage_page.value_or(chip.usage_page)),
      usage(cfg.usage.value_or(chip.usage)),
      interface_number(cfg.interface_number.value_or(chip.interface_number)),
      serial(cfg.serial.empty() ? "VTEL" + std::to_string(id_) : cfg.serial),
      extra_usages(cfg.extra_usages),
      version(cfg.version),
      openable(cfg.openable),
      state(cfg.state),
      hw_type(cfg.hw_type)
{
}

int queue_report_locked(phone& ph, std::vector<uint8_t> report, bool raw)
{
    if (!ph.plugged)
        return -1;
    for (handle* h : ph.handles) {
        if (h->dead)
            continue;
        if (h->queue.size() >= max_queued_reports) {
            ++h->dropped;
            continue;
        }
        h->queue.push_back({report, raw});
        h->cv.notify_all();
    }
    return 0;
}

int queue_bytes_locked(phone& ph, std::span<const uint8_t> bytes)
{
    if (!ph.plugged)
        return -1;
    std::vector<std::vector<uint8_t>> reports;
    ph.chip.pack_input(bytes, reports);
    for (auto& r : reports)
        queue_report_locked(ph, std::move(r), false);
    return 0;
}

namespace {

void answer_locked(phone& ph, const frame_t& f)
{
    std::vector<uint8_t> out;
    switch (f.opcode) {
    case cmd::read_version:
        if (ph.version >= 0 && ph.version < 0xFF) {
            const uint8_t v = static_cast<uint8_t>(ph.version);
            build_frame(evt::version, {&v, 1}, out);
        }
        break;
    case cmd::read_state:
        build_frame(evt::state, {&ph.state, 1}, out);
        break;
    case cmd::read_hw_type:
        build_frame(evt::hw_type, {&ph.hw_type, 1}, out);
        break;
    default:
        break;
    }
    if (!out.empty())
        queue_bytes_locked(ph, out);
}

}  // namespace

int record_write_locked(phone& ph, std::span<const uint8_t> report)
{
    report_t rec;
    rec.time = std::chrono::steady_clock::now();
    rec.bytes.assign(report.begin(), report.end());
    std::vector<uint8_t> bytes;
    rec.valid = ph.chip.unpack_output(report, bytes);
    ph.written.push_back(std::move(rec));
    if (!ph.written.back().valid) {
        ph.changed.notify_all();
        return -1;
    }
    size_t before = ph.frames.size();
    ph.reader.feed(bytes, ph.written.back().time, ph.frames);
    for (size_t i = before; i < ph.frames.size(); ++i)
        answer_locked(ph, ph.frames[i]);
    ph.changed.notify_all();
    return static_cast<int>(report.size());
}

void unplug_locked(phone& ph)
{
    ph.plugged = false;
    for (handle* h : ph.handles) {
        h->dead = true;
        h->queue.clear();
        h->cv.notify_all();
    }
    ph.changed.notify_all();
}

}  // namespace vtel::detail
