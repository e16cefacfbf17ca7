// WAV_ReadHeader on arbitrary bytes; an accepted header must survive a
// write and read back unchanged, and the format mapping must not misbehave.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sndwav_common.h"
#include "wav_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int fd = memfd_create("wav", 0);
    static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    lseek(fd, 0, SEEK_SET);
    WAVContainer_t w;
    memset(&w, 0, sizeof w);
    if (WAV_ReadHeader(fd, &w) != 0)
        return 0;
    if (lseek(fd, 0, SEEK_CUR) != WAV_HEADER_SIZE || WAV_P_CheckValid(&w) != 0)
        __builtin_trap();
    snd_pcm_format_t format;
    SNDWAV_P_GetFormat(&w, &format);
    uint8_t raw[WAV_HEADER_SIZE];
    WAV_P_Encode(&w, raw);
    if (memcmp(raw, data, WAV_HEADER_SIZE) != 0)
        __builtin_trap();
    return 0;
}
