// Costs of the protocol engine: a key-event frame and an incoming-call frame
// decoded into their texts, a 20-digit DTMF command and a date-time command
// encoded. Library logging is below INFO unless a benchmark says otherwise;
// what the decoder and EncTime write to standard output goes to /dev/null
// (the report is written to the original standard output).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <json/json.h>

#include "core/log.h"
#include "protocol/proto.h"

namespace {

unsigned char key_frame[] = {0xFF, 0x02, 0xE0, 0x7D};
unsigned char call_frame[] = {0xFF, 0x0B, 0xD1, 0x00, 0x08, 0x05, 0x0C, 0x09, 0x1E, 0x88, 0x12, 0x34, 0x56};

void decode_loop(benchmark::State& state, CProtocol& p, unsigned char* frame, int len)
{
    devinfo_t dev;
    dev.id = 1;
    std::string out;
    for (auto _ : state) {
        out.clear();
        p.decode(&dev, frame, len, out);
        benchmark::DoNotOptimize(out.data());
    }
    if (out.empty())
        state.SkipWithError("no event text");
}

void BM_DecodeKeyEvent(benchmark::State& state)
{
    decode_loop(state, prot_qm, key_frame, sizeof key_frame);
}
BENCHMARK(BM_DecodeKeyEvent);

void BM_DecodeIncomingCall(benchmark::State& state)
{
    decode_loop(state, prot_qm, call_frame, sizeof call_frame);
}
BENCHMARK(BM_DecodeIncomingCall);

// What every caller-identity frame writes to standard output, whatever the
// log level ("on callid" and the data bytes): the share of
// BM_DecodeIncomingCall that is not decoding.
void BM_CallIdOutputOnly(benchmark::State& state)
{
    for (auto _ : state) {
        printf("on callid: %02X\n", call_frame[2]);
        dump_hex("callid:", call_frame + 3, sizeof call_frame - 3);
    }
}
BENCHMARK(BM_CallIdOutputOnly);

// The same frames through a JsonCpp event object (what a decode hook costs).
void identity_hook(te_STR_ID, Json::Value&) {}

void BM_DecodeKeyEvent_EventObject(benchmark::State& state)
{
    CProtocol p("bench_hooked");
    p.regist_evt_dec_hook(identity_hook);
    decode_loop(state, p, key_frame, sizeof key_frame);
}
BENCHMARK(BM_DecodeKeyEvent_EventObject);

void BM_DecodeIncomingCall_EventObject(benchmark::State& state)
{
    CProtocol p("bench_hooked");
    p.regist_evt_dec_hook(identity_hook);
    decode_loop(state, p, call_frame, sizeof call_frame);
}
BENCHMARK(BM_DecodeIncomingCall_EventObject);

// With the library's default threshold the INFO lines of every event are
// written (here to /dev/null).
void BM_DecodeKeyEvent_InfoLog(benchmark::State& state)
{
    int saved = log_level;
    log_level = 6;
    decode_loop(state, prot_qm, key_frame, sizeof key_frame);
    log_level = saved;
}
BENCHMARK(BM_DecodeKeyEvent_InfoLog);

void encode_loop(benchmark::State& state, const char* name, const char* param, int expect)
{
    unsigned char buf[256];
    for (auto _ : state) {
        int r = prot_qm.encode(name, param, buf, sizeof buf);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(buf);
        if (r != expect) {
            state.SkipWithError("unexpected result");
            break;
        }
    }
}

void BM_EncodeDtmf20(benchmark::State& state)
{
    encode_loop(state, "DTMF发送", "12345678901234567890", 24);
}
BENCHMARK(BM_EncodeDtmf20);

void BM_EncodeDateTime(benchmark::State& state)
{
    encode_loop(state, "设置话机的时间", "2023-5-6 10:30:15", 9);
}
BENCHMARK(BM_EncodeDateTime);

} // namespace

int main(int argc, char** argv)
{
    // Keep the report on the real standard output; send the library's own
    // standard-output writes to /dev/null.
    int report_fd = dup(STDOUT_FILENO);
    int null_fd = open("/dev/null", O_WRONLY);
    if (report_fd < 0 || null_fd < 0)
        return 1;
    fflush(stdout);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
    std::ofstream report("/proc/self/fd/" + std::to_string(report_fd));

    log_level = 4;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&report);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
