// The canonical 44-byte WAV header: RIFF header, a 16-byte "fmt " chunk and
// the "data" chunk header, nothing in between.
#pragma once

#include <cstdint>

struct WAVHeader_t {
    uint32_t magic;   // "RIFF"
    uint32_t length;  // file size - 8
    uint32_t type;    // "WAVE"
};

struct WAVFmt_t {
    uint32_t magic;     // "fmt "
    uint32_t fmt_size;  // 16
    uint16_t format;    // 1 = PCM
    uint16_t channels;
    uint32_t sample_rate;
    uint32_t bytes_p_second;
    uint16_t blocks_align;
    uint16_t sample_length;  // bits per sample
};

struct WAVChunkHeader_t {
    uint32_t type;    // "data"
    uint32_t length;  // sample bytes that follow
};

struct WAVContainer_t {
    WAVHeader_t header;
    WAVFmt_t format;
    WAVChunkHeader_t chunk;
};

// Four-character codes as they compare with the fields above (the fields hold
// the file's bytes read as a little-endian number).
constexpr uint32_t WAV_FourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

inline constexpr uint32_t WAV_RIFF = WAV_FourCC("RIFF");
inline constexpr uint32_t WAV_WAVE = WAV_FourCC("WAVE");
inline constexpr uint32_t WAV_FMT = WAV_FourCC("fmt ");
inline constexpr uint32_t WAV_DATA = WAV_FourCC("data");
inline constexpr int WAV_HEADER_SIZE = 44;

// Reads the header at the current position of fd; 0 with the position at the
// first sample, or -1 ("Error WAV_ReadHeader" / "non standard wav file." on
// standard error). fd must be open and container present (asserted).
int WAV_ReadHeader(int fd, WAVContainer_t *container);

// Validates container and writes it as 44 bytes at the current position of
// fd; 0, or -1 without writing anything when it is not a valid header.
int WAV_WriteHeader(int fd, const WAVContainer_t *container);

// Byte image of a header (little-endian), for writers that place it themselves.
void WAV_P_Encode(const WAVContainer_t *container, uint8_t out[WAV_HEADER_SIZE]);
void WAV_P_Decode(const uint8_t in[WAV_HEADER_SIZE], WAVContainer_t *container);

int WAV_P_CheckValid(const WAVContainer_t *container);
const char *WAV_P_FmtString(uint16_t fmt);
void WAV_P_PrintHeader(const WAVContainer_t *container);
