// The WAV header: reading, the refused layouts, writing, and the headers the
// service fills itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "sndwav_common.h"
#include "telsnd_fixture.h"
#include "wav_parser.h"

using telsnd_test::make_wav;
using telsnd_test::pattern_pcm;

namespace {

// An unlinked temporary file holding `bytes`, positioned at its start.
class TempFile {
public:
    explicit TempFile(const std::string &bytes = "")
    {
        FILE *f = tmpfile();
        fd_ = dup(fileno(f));
        fclose(f);
        EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        lseek(fd_, 0, SEEK_SET);
    }
    ~TempFile() { close(fd_); }
    int fd() const { return fd_; }
    std::string contents() const
    {
        std::string s(size_t(lseek(fd_, 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(fd_, s.data(), s.size(), 0), ssize_t(s.size()));
        return s;
    }

private:
    int fd_;
};

std::string with(std::string s, size_t at, const std::string &bytes) { return s.replace(at, bytes.size(), bytes); }

}  // namespace

TEST(WavHeader, ReadsCanonicalHeaderAndStopsAtFirstSample)
{
    const std::string pcm = pattern_pcm(100, 2);
    TempFile f(make_wav(pcm, 44100, 2));
    WAVContainer_t w{};
    ASSERT_EQ(WAV_ReadHeader(f.fd(), &w), 0);
    EXPECT_EQ(w.format.channels, 2);
    EXPECT_EQ(w.format.sample_rate, 44100u);
    EXPECT_EQ(w.format.bytes_p_second, 176400u);
    EXPECT_EQ(w.format.blocks_align, 4);
    EXPECT_EQ(w.format.sample_length, 16);
    EXPECT_EQ(w.chunk.length, pcm.size());
    EXPECT_EQ(w.header.length, pcm.size() + 36);
    EXPECT_EQ(lseek(f.fd(), 0, SEEK_CUR), 44);
}

TEST(WavHeader, RefusesNonCanonicalLayouts)
{
    const std::string good = make_wav(pattern_pcm(100, 2), 8000, 2);
    std::string list_chunk = good.substr(0, 36) + "LIST" + std::string("\x04\0\0\0abcd", 8) + good.substr(36);
    std::string fmt18 = with(good, 16, std::string("\x12\0\0\0", 4));
    const struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"shorter than a header", good.substr(0, 43)},
        {"empty", ""},
        {"LIST chunk before data", list_chunk},
        {"fmt chunk of 18 bytes", fmt18},
        {"big-endian RIFX", with(good, 0, "RIFX")},
        {"not WAVE", with(good, 8, "AVI ")},
        {"three channels", with(good, 22, std::string("\x03\0", 2))},
        {"no channels", with(good, 22, std::string("\0\0", 2))},
        {"fact chunk instead of data", with(good, 36, "fact")},
    };
    for (const auto &k : cases) {
        TempFile f(k.bytes);
        WAVContainer_t w{};
        EXPECT_EQ(WAV_ReadHeader(f.fd(), &w), -1) << k.name;
    }
}

TEST(WavHeader, AcceptsWhatOnlyTheDeviceSetUpRefuses)
{
    // Float samples and wrong lengths pass the header check; the device set-up
    // decides about the format.
    std::string floats = with(make_wav(pattern_pcm(10, 1), 8000, 1, 32), 20, std::string("\x03\0", 2));
    std::string bad_length = with(make_wav(pattern_pcm(10, 1), 8000, 1), 40, std::string("\xff\xff\0\0", 4));
    for (const auto &bytes : {floats, bad_length}) {
        TempFile f(bytes);
        WAVContainer_t w{};
        EXPECT_EQ(WAV_ReadHeader(f.fd(), &w), 0);
    }
    WAVContainer_t w{};
    snd_pcm_format_t fmt;
    TempFile f(floats);
    ASSERT_EQ(WAV_ReadHeader(f.fd(), &w), 0);
    EXPECT_EQ(SNDWAV_P_GetFormat(&w, &fmt), -1);
    const struct {
        uint16_t bits;
        snd_pcm_format_t format;
    } widths[] = {{8, SND_PCM_FORMAT_U8}, {16, SND_PCM_FORMAT_S16_LE}, {24, SND_PCM_FORMAT_UNKNOWN}};
    for (const auto &k : widths) {
        w.format.format = 1;
        w.format.sample_length = k.bits;
        ASSERT_EQ(SNDWAV_P_GetFormat(&w, &fmt), 0);
        EXPECT_EQ(fmt, k.format) << k.bits;
    }
}

TEST(WavHeader, WritesWhatItReadsAndNothingWhenInvalid)
{
    WAVContainer_t w{};
    SNDWAV_PrepareWAVParams(&w, 1000);
    TempFile out;
    ASSERT_EQ(WAV_WriteHeader(out.fd(), &w), 0);
    const std::string bytes = out.contents();
    EXPECT_EQ(bytes, with(make_wav(std::string(1000, '\0'), 8000, 2), 0, "").substr(0, 44));
    lseek(out.fd(), 0, SEEK_SET);
    WAVContainer_t back{};
    // The data chunk header claims 1000 bytes that are not there: still a header.
    ASSERT_EQ(WAV_ReadHeader(out.fd(), &back), 0);
    EXPECT_EQ(back.chunk.length, 1000u);
    EXPECT_EQ(back.header.length, 1036u);

    w.format.channels = 0;
    TempFile none;
    EXPECT_EQ(WAV_WriteHeader(none.fd(), &w), -1);
    EXPECT_EQ(none.contents(), "");
}

TEST(WavHeader, ServiceFilledHeaders)
{
    WAVContainer_t w{};
    SNDWAV_PrepareWAVParams(&w, 0);  // provisional: one hour
    EXPECT_EQ(w.chunk.length, 115200000u);
    EXPECT_EQ(w.header.length, 115200036u);
    EXPECT_EQ(WAV_P_CheckValid(&w), 0);

    SNDWAV_PrepareWAVParams_1(&w, 44100, 2, 0);
    EXPECT_EQ(w.format.blocks_align, 4);
    EXPECT_EQ(w.format.bytes_p_second, 176400u);
    EXPECT_EQ(w.chunk.length, 635040000u);
    SNDWAV_PrepareWAVParams_1(&w, 22050, 1, 500);
    EXPECT_EQ(w.format.blocks_align, 2);
    EXPECT_EQ(w.chunk.length, 500u);
    EXPECT_EQ(w.header.length, 536u);
}

TEST(WavHeader, SaveReadCollectsUntilCountOrEnd)
{
    TempFile f(std::string(10, 'x'));
    char buf[16];
    EXPECT_EQ(SNDWAV_P_SaveRead(f.fd(), buf, 0), 0);
    EXPECT_EQ(SNDWAV_P_SaveRead(f.fd(), buf, 4), 4);
    EXPECT_EQ(SNDWAV_P_SaveRead(f.fd(), buf, 16), 6);
    EXPECT_EQ(SNDWAV_P_SaveRead(f.fd(), buf, 16), 0);
    EXPECT_LT(SNDWAV_P_SaveRead(-1, buf, 4), 0);
}
