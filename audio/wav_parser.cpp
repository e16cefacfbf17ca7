#include "wav_parser.h"

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

uint16_t get16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put16(uint8_t *p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void put32(uint8_t *p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }

// One call per header part, as the header must be whole: a short count is a
// refused file, not something to piece together.
bool read_part(int fd, uint8_t *buf, size_t count)
{
    ssize_t n;
    do {
        n = read(fd, buf, count);
    } while (n < 0 && errno == EINTR);
    return n == ssize_t(count);
}

bool write_part(int fd, const uint8_t *buf, size_t count)
{
    ssize_t n;
    do {
        n = write(fd, buf, count);
    } while (n < 0 && errno == EINTR);
    return n == ssize_t(count);
}

void print_fourcc(const char *label, uint32_t v)
{
    printf("%s[%c%c%c%c]\n", label, char(v), char(v >> 8), char(v >> 16), char(v >> 24));
}

}  // namespace

void WAV_P_Decode(const uint8_t in[WAV_HEADER_SIZE], WAVContainer_t *c)
{
    c->header.magic = get32(in + 0);
    c->header.length = get32(in + 4);
    c->header.type = get32(in + 8);
    c->format.magic = get32(in + 12);
    c->format.fmt_size = get32(in + 16);
    c->format.format = get16(in + 20);
    c->format.channels = get16(in + 22);
    c->format.sample_rate = get32(in + 24);
    c->format.bytes_p_second = get32(in + 28);
    c->format.blocks_align = get16(in + 32);
    c->format.sample_length = get16(in + 34);
    c->chunk.type = get32(in + 36);
    c->chunk.length = get32(in + 40);
}

void WAV_P_Encode(const WAVContainer_t *c, uint8_t out[WAV_HEADER_SIZE])
{
    put32(out + 0, c->header.magic);
    put32(out + 4, c->header.length);
    put32(out + 8, c->header.type);
    put32(out + 12, c->format.magic);
    put32(out + 16, c->format.fmt_size);
    put16(out + 20, c->format.format);
    put16(out + 22, c->format.channels);
    put32(out + 24, c->format.sample_rate);
    put32(out + 28, c->format.bytes_p_second);
    put16(out + 32, c->format.blocks_align);
    put16(out + 34, c->format.sample_length);
    put32(out + 36, c->chunk.type);
    put32(out + 40, c->chunk.length);
}

int WAV_P_CheckValid(const WAVContainer_t *c)
{
    if (c->header.magic != WAV_RIFF || c->header.type != WAV_WAVE || c->format.magic != WAV_FMT ||
        c->format.fmt_size != 16 || (c->format.channels != 1 && c->format.channels != 2) ||
        c->chunk.type != WAV_DATA) {
        fprintf(stderr, "non standard wav file.\n");
        return -1;
    }
    return 0;
}

const char *WAV_P_FmtString(uint16_t fmt)
{
    switch (fmt) {
    case 1: return "PCM";
    case 3: return "IEEE FLOAT";
    case 0x92: return "DOLBY AC3 SPDIF";
    case 0xFFFE: return "EXTENSIBLE";
    default: return "NON Support Fmt";
    }
}

void WAV_P_PrintHeader(const WAVContainer_t *c)
{
    printf("+++++++++++++++++++++++++++\n\n");
    print_fourcc("File Magic:         ", c->header.magic);
    printf("File Length:        [%d]\n", int(c->header.length));
    print_fourcc("File Type:          ", c->header.type);
    printf("\n");
    print_fourcc("Fmt Magic:          ", c->format.magic);
    printf("Fmt Size:           [%d]\n", int(c->format.fmt_size));
    printf("Fmt Format:         [%s]\n", WAV_P_FmtString(c->format.format));
    printf("Fmt Channels:       [%d]\n", c->format.channels);
    printf("Fmt Sample_rate:    [%d](HZ)\n", int(c->format.sample_rate));
    printf("Fmt Bytes_p_second: [%d]\n", int(c->format.bytes_p_second));
    printf("Fmt Blocks_align:   [%d]\n", c->format.blocks_align);
    printf("Fmt Sample_length:  [%d]\n\n", c->format.sample_length);
    print_fourcc("Chunk Type:         ", c->chunk.type);
    printf("Chunk Length: [%d]\n\n", int(c->chunk.length));
    printf("++++++++++++++++++++++++++++++++++++++\n");
}

int WAV_ReadHeader(int fd, WAVContainer_t *container)
{
    assert((fd >= 0) && container);
    uint8_t raw[WAV_HEADER_SIZE];
    if (!read_part(fd, raw, 12) || !read_part(fd, raw + 12, 24) || !read_part(fd, raw + 36, 8)) {
        fprintf(stderr, "Error WAV_ReadHeader\n");
        return -1;
    }
    WAVContainer_t parsed;
    WAV_P_Decode(raw, &parsed);
    if (WAV_P_CheckValid(&parsed) < 0)
        return -1;
    *container = parsed;
    WAV_P_PrintHeader(container);
    return 0;
}

int WAV_WriteHeader(int fd, const WAVContainer_t *container)
{
    assert((fd >= 0) && container);
    if (WAV_P_CheckValid(container) < 0)
        return -1;
    uint8_t raw[WAV_HEADER_SIZE];
    WAV_P_Encode(container, raw);
    if (!write_part(fd, raw, 12) || !write_part(fd, raw + 12, 24) || !write_part(fd, raw + 36, 8)) {
        fprintf(stderr, "Error WAV_WriteHeader\n");
        return -1;
    }
    WAV_P_PrintHeader(container);
    return 0;
}
