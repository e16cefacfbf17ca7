// Decoding arbitrary bytes in arbitrary splits, for two devices that share
// one protocol object, with random pauses and announcements.
//
// Input: byte 0 = flags (bit 0 language), then chunks of
//   [control byte][n bytes]: n = control & 31, bit 5 = device 2, bit 6 = a
//   pause of more than 500 ms before the chunk, bit 7 = an announcement
//   (count 0) with the chunk's first byte instead of frame bytes. An empty
//   chunk is a call with count 0 and the byte 0 (nothing happens).
// Checks: decode returns what it must; the parser stays within its buffer;
// every appended text is one JSON object line naming the device and an
// event; the fast writer and the event-object writer agree byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <json/json.h>

#include "core/log.h"
#include "protocol/proto.h"
#include "../../tests/protocol/fixed_time.h"

namespace {

time_t fixed_clock()
{
    return 1683381909;
}

void identity_hook(te_STR_ID, Json::Value&) {}

CProtocol* with_hook()
{
    static CProtocol* p = [] {
        auto* q = new CProtocol("fuzz_hooked");
        q->regist_evt_dec_hook(identity_hook);
        return q;
    }();
    return p;
}

void check(bool ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "check failed: %s\n", what);
        abort();
    }
}

void check_parser(const devinfo_t& d)
{
    check(d.parser.stage <= 3, "parser stage");
    check(d.parser.count <= sizeof(d.parser.data), "parser data within its buffer");
}

void check_lines(const std::string& text, int id)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        check(nl != std::string::npos, "every text ends with a line feed");
        std::string line = text.substr(pos, nl - pos);
        Json::Value v;
        Json::CharReaderBuilder b;
        std::unique_ptr<Json::CharReader> r(b.newCharReader());
        std::string err;
        check(r->parse(line.data(), line.data() + line.size(), &v, &err), "text is JSON");
        check(v.isObject() && v["dev"].isInt() && v["dev"].asInt() == id, "text names the device");
        check(v["event"].isString(), "text names an event");
        pos = nl + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The decoder writes caller-identity dumps to standard output.
    if (!freopen("/dev/null", "w", stdout))
        return 0;
    log_level = 0;
    set_test_clock(fixed_clock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 8192)
        return 0;
    g_language = data[0] & 1;
    devinfo_t fast[2], slow[2];
    fast[0].id = slow[0].id = 1;
    fast[1].id = slow[1].id = 2;
    std::string out_fast[2], out_slow[2];

    size_t pos = 1;
    while (pos < size) {
        uint8_t ctl = data[pos++];
        int n = ctl & 31;
        if (static_cast<size_t>(n) > size - pos)
            n = static_cast<int>(size - pos);
        int dev = (ctl >> 5) & 1;
        unsigned char chunk[32] = {0};
        memcpy(chunk, data + pos, static_cast<size_t>(n));
        pos += static_cast<size_t>(n);
        if (ctl & 0x40) {
            fast[dev].parser.last_tick -= 600;
            slow[dev].parser.last_tick -= 600;
        }
        if (ctl & 0x80) {
            unsigned char row = n ? chunk[0] : 0;
            size_t before = out_fast[dev].size();
            int r = prot_qm.decode(&fast[dev], &row, 0, out_fast[dev]);
            check(r == ((row >= 1 && str_exists(row)) ? 1 : 0), "announcement result");
            check((r == 1) == (out_fast[dev].size() > before), "announcement text");
            with_hook()->decode(&slow[dev], &row, 0, out_slow[dev]);
            continue;
        }
        std::string add_fast, add_slow;
        int r = prot_qm.decode(&fast[dev], chunk, n, add_fast);
        // A count of 0 with a first byte 0 announces nothing.
        check(r == n, "decode returns the count");
        with_hook()->decode(&slow[dev], chunk, n, add_slow);
        check(add_fast == add_slow, "fast and event-object texts agree");
        check_parser(fast[dev]);
        check_lines(add_fast, dev + 1);
        out_fast[dev] += add_fast;
        out_slow[dev] += add_slow;
    }
    check(out_fast[0] == out_slow[0] && out_fast[1] == out_slow[1], "whole texts agree");
    g_language = 0;
    return 0;
}
