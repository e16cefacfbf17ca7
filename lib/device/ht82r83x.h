// Driver of telephones built on the HT82R83X interface chip: numbered 8-byte
// output reports of up to six command bytes with their count, paced 20 ms
// apart per telephone; input reports with a length nibble. Its telephones
// share one protocol object of their own, "qm_prot", whose decode hook
// corrects one firmware version number.
#pragma once

#include "device/drv_hid.h"
#include "protocol/str_table.h"

namespace Json { class Value; }

class CHT82R83X : public CHidDriver {
public:
    static constexpr uint16_t m_vid = 0x04D9;
    static constexpr uint16_t m_pid = 0x2832;
    static constexpr uint16_t m_usagepage = 0xFF00;

    CHT82R83X();
    // Reports go at least 20 ms apart, also across commands through the
    // device's pacing tick. Runs under the device's write lock and sleeps
    // there. Returns len; 0 for a null handle or an empty command;
    // HID_ERR_DEVICE when a report was refused.
    int write(void* handle, void* data, int len, unsigned int* next_send) const override;
    // Passes on the frame bytes of one report (at most those received).
    int read(void* handle, void* buf, int len, int timeout) const override;
    // Opens the node; hands out the shared "qm_prot" object, created and
    // registered (with its hook) by the first open.
    void* open(const char* path, CProtocol** protocol) const override;
    // Takes only the vendor-defined interface (usage page 0xFF00).
    bool match_device(const hid_device_info* record) const override;
    virtual ~CHT82R83X();

    int chunk_len = 6;         // command bytes per output report
    uint8_t report_id = 3;     // report number of the output reports
};

// Decode hook of "qm_prot": firmware version 134 is reported as 194.
void hack_ht_version(te_STR_ID event, Json::Value& object);

extern CHT82R83X ht82r83x;
extern CHidDriver* const ht82r83x_driver;
