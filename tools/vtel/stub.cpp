// Placeholder bodies so that tests can be written against vtel.h while the
// simulator is completed.
#include "vtel.h"

#include <hidapi.h>

namespace vtel {

const char* chip_name(te_chip chip)
{
    switch (chip) {
    case te_chip::sss1629: return "sss1629";
    case te_chip::ht82r83x: return "ht82r83x";
    case te_chip::tl8258: return "tl8258";
    }
    return "";
}
std::optional<te_chip> chip_by_name(std::string_view) { return std::nullopt; }
std::vector<uint8_t> frame_t::bytes() const { return {}; }

int CPhone::id() const { return 0; }
te_chip CPhone::chip() const { return te_chip::sss1629; }
std::string CPhone::path() const { return {}; }
uint16_t CPhone::vid() const { return 0; }
uint16_t CPhone::pid() const { return 0; }
bool CPhone::plugged() const { return false; }
int CPhone::open_handles() const { return 0; }
void CPhone::unplug() {}
void CPhone::plug() {}
void CPhone::set_version(int) {}
void CPhone::set_openable(bool) {}
void CPhone::set_state(uint8_t) {}
int CPhone::send_frame(uint8_t, std::span<const uint8_t>) { return -1; }
int CPhone::send_frame(uint8_t, std::initializer_list<uint8_t>) { return -1; }
int CPhone::send_bytes(std::span<const uint8_t>) { return -1; }
int CPhone::inject_report(std::span<const uint8_t>) { return -1; }
int CPhone::press_key(std::string_view) { return -1; }
int CPhone::handset(bool) { return -1; }
int CPhone::hands_free(bool) { return -1; }
int CPhone::parallel(bool) { return -1; }
int CPhone::ring() { return -1; }
int CPhone::dial_done() { return -1; }
int CPhone::busy_tone() { return -1; }
int CPhone::dtmf(char) { return -1; }
int CPhone::incoming_call(std::string_view, call_time_t) { return -1; }
int CPhone::incoming_call_special(char) { return -1; }
int CPhone::upload_records(const std::vector<call_record_t>&) { return -1; }
int CPhone::report_volume(int) { return -1; }
int CPhone::report_state(uint8_t) { return -1; }
int CPhone::report_version(int) { return -1; }
int CPhone::report_hw_type(uint8_t) { return -1; }
std::vector<report_t> CPhone::written() const { return {}; }
std::vector<frame_t> CPhone::frames() const { return {}; }
std::optional<frame_t> CPhone::wait_frame(uint8_t, milliseconds) { return std::nullopt; }
std::optional<frame_t> CPhone::wait_frame(const std::function<bool(const frame_t&)>&, milliseconds)
{
    return std::nullopt;
}
bool CPhone::wait_frames(size_t, milliseconds) { return false; }
bool CPhone::wait_open(milliseconds) { return false; }
bool CPhone::wait_closed(milliseconds) { return false; }
void CPhone::clear_written() {}

CPhone plug(const phone_cfg_t&) { return {}; }
CPhone plug(te_chip) { return {}; }
std::vector<CPhone> phones() { return {}; }
CPhone find(int) { return {}; }
void reset() {}
int send_uevent(const std::vector<std::string>&) { return -1; }
int run_command(std::string_view, std::string& reply)
{
    reply = "not implemented";
    return -1;
}
int run_script(const std::string&) { return -1; }
int serve_control(const std::string&) { return -1; }
void stop_control() {}

}  // namespace vtel

extern "C" {
int hid_init(void) { return 0; }
int hid_exit(void) { return 0; }
struct hid_device_info* hid_enumerate(unsigned short, unsigned short) { return nullptr; }
void hid_free_enumeration(struct hid_device_info*) {}
hid_device* hid_open(unsigned short, unsigned short, const wchar_t*) { return nullptr; }
hid_device* hid_open_path(const char*) { return nullptr; }
int hid_write(hid_device*, const unsigned char*, size_t) { return -1; }
int hid_read_timeout(hid_device*, unsigned char*, size_t, int) { return -1; }
int hid_read(hid_device*, unsigned char*, size_t) { return -1; }
int hid_set_nonblocking(hid_device*, int) { return 0; }
int hid_send_feature_report(hid_device*, const unsigned char*, size_t) { return -1; }
int hid_get_feature_report(hid_device*, unsigned char*, size_t) { return -1; }
int hid_get_input_report(hid_device*, unsigned char*, size_t) { return -1; }
void hid_close(hid_device*) {}
int hid_get_manufacturer_string(hid_device*, wchar_t*, size_t) { return -1; }
int hid_get_product_string(hid_device*, wchar_t*, size_t) { return -1; }
int hid_get_serial_number_string(hid_device*, wchar_t*, size_t) { return -1; }
struct hid_device_info* hid_get_device_info(hid_device*) { return nullptr; }
int hid_get_indexed_string(hid_device*, int, wchar_t*, size_t) { return -1; }
const wchar_t* hid_error(hid_device*) { return L"virtual telephone not ready"; }
const struct hid_api_version* hid_version(void)
{
    static const hid_api_version v{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
    return &v;
}
const char* hid_version_str(void) { return HID_API_VERSION_STR; }
}
