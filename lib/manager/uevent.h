// Kernel hot-plug datagrams (NETLINK_KOBJECT_UEVENT): which of them concern a
// HID device that may be a telephone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Walks the zero-terminated "KEY=value" texts of one datagram of `length`
// bytes. Returns vendor << 16 | product from the first well-formed HID_ID
// ("bus:vendor:product", hexadecimal) that follows an ACTION of the known
// actions and SUBSYSTEM "hid"; nullopt for any other message. Never reads
// past `length`.
std::optional<uint32_t> parse_hid_uevent(const char* data, size_t length);
