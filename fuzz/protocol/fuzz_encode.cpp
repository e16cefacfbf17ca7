// Encoding every command name with arbitrary parameter text and buffer size.
//
// Input: byte 0 = command row (modulo the table), byte 1 = flags (bit 0
// English name, bit 1 null parameter, bit 2 use the text as the command
// name), byte 2 = buffer size 0-255 (255 gives 256), rest = the text.
// Checks: the frame stays within the buffer (an exactly sized heap buffer,
// so AddressSanitizer sees any overrun) and within 256 bytes; results are a
// frame length, 0 or one of the error codes; frames are well formed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/log.h"
#include "protocol/proto.h"

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "check failed: %s\n", what);
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // EncTime writes the time it sends to standard output.
    if (!freopen("/dev/null", "w", stdout))
        return 0;
    log_level = 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || size > 4096)
        return 0;
    const te_evt_op& row = m_cmd_list[data[0] % CMD_LIST_COUNT];
    const uint8_t flags = data[1];
    const int bufsize = data[2] == 255 ? 256 : data[2];
    std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
    const char* name = (flags & 4) ? text.c_str() : str_text(row.name, flags & 1);
    const char* param = (flags & 2) ? nullptr : text.c_str();

    std::unique_ptr<unsigned char[]> out(new unsigned char[bufsize ? bufsize : 1]);
    int r = prot_qm.encode(name, param, bufsize ? out.get() : nullptr, bufsize);

    check(r <= bufsize, "frame within the buffer");
    check(r <= PROT_MAX_FRAME, "frame within 256 bytes");
    check(r >= 0 || r == PROT_ERR_BUFF_NOT_ENOUGH || r == PROT_ERR_UNKNOWN_CMD || r == PROT_ERR_WRONG_PARAM,
          "result code");
    const te_evt_op* found = CProtocol::find_command(name);
    if (!found)
        check(r == PROT_ERR_UNKNOWN_CMD || r == PROT_ERR_BUFF_NOT_ENOUGH, "unknown name");
    if (r > 0) {
        check(r >= 3, "frame has start, length and opcode");
        check(out[0] == 0xFF, "start byte");
        check(out[1] == r - 2 && out[1] != 0xFF, "length byte");
        check(found && out[2] == found->opcode, "opcode of the row");
    }
    return 0;
}
