// The decoding and encoding units of MP3 playback and recording, without a
// device: what reaches the period buffer and what lands in the file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "mp3_decode.h"
#include "mp3_encode.h"
#include "mp3_test_util.h"

using namespace mp3_test;

namespace {

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/mp3_codec_test.XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "";
        EXPECT_FALSE(dir_.empty());
    }
    ~TempDir() { std::filesystem::remove_all(dir_); }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void quiet(const char *, va_list) {}

struct Decoded {
    std::vector<short> samples;  // interleaved as staged for a stereo device
    int channels = 0;
    int rate = 0;
};

// Decodes file bytes the way a playback pass does, blocks of `block` bytes.
Decoded decode_all(const std::string &bytes, size_t block)
{
    Decoded out;
    MP3Decoder_t *dec = MP3_DecoderCreate(quiet);
    EXPECT_NE(dec, nullptr);
    if (!dec)
        return out;
    MP3_DecoderRewind(dec);
    auto take = [&] {
        MP3Frame_t f;
        while (MP3_DecoderNext(dec, &f) > 0) {
            out.channels = f.channels;
            out.rate = f.rate;
            for (int i = 0; i < f.samples; ++i) {
                out.samples.push_back(f.left[i]);
                out.samples.push_back(f.channels == 2 ? f.right[i] : f.left[i]);
            }
        }
    };
    for (size_t at = 0; at < bytes.size(); at += block) {
        const size_t n = std::min(block, bytes.size() - at);
        MP3_DecoderFeed(dec, reinterpret_cast<const unsigned char *>(bytes.data() + at), n);
        take();
    }
    MP3_DecoderFeed(dec, nullptr, 0);
    take();
    MP3_DecoderDestroy(dec);
    return out;
}

bool any_sound(const std::vector<short> &s)
{
    for (short v : s)
        if (v > 1000 || v < -1000)
            return true;
    return false;
}

}  // namespace

TEST(Mp3Id3v2, LengthFromTheTagHeader)
{
    struct Case {
        const char *what;
        std::string head;
        size_t expected;
    };
    const std::string v3("ID3\x03\x00\x00\x00\x00\x02\x01", 10);
    const Case cases[] = {
        {"body of 257 bytes", v3, 10 + 257},
        {"largest syncsafe size", std::string("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10), 10 + 0x0fffffff},
        {"v2.4 footer", std::string("ID3\x04\x00\x10\x00\x00\x00\x05", 10), 10 + 5 + 10},
        {"size byte with the high bit", std::string("ID3\x03\x00\x00\x00\x80\x00\x00", 10), 0},
        {"version 0xFF", std::string("ID3\xff\x00\x00\x00\x00\x00\x00", 10), 0},
        {"shorter than a tag header", v3.substr(0, 9), 0},
        {"MP3 frame", std::string("\xff\xfb\x90\x64\x00\x00\x00\x00\x00\x00", 10), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MP3_Id3v2Length(reinterpret_cast<const unsigned char *>(c.head.data()), c.head.size()), c.expected);
    }
}

// Whatever the block size, a tag in front or the file being shorter than one
// block, every frame is decoded, and the same way.
TEST(Mp3Decoder, EveryFrameReachesTheStageWhateverTheBlocksAndTags)
{
    TempDir d;
    struct Case {
        const char *name;
        uint32_t rate;
        int channels;
        size_t frames;
    };
    const Case cases[] = {
        {"short.mp3", 44100, 2, 44100 * 3 / 10},  // under one 8192-byte block
        {"long.mp3", 44100, 2, 44100 * 2},
        {"mono.mp3", 22050, 1, 22050},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string mp3 = slurp(make_mp3(d.dir(), c.name, sine_pcm(c.frames, c.channels, c.rate), c.rate, c.channels));
        if (std::string(c.name) == "short.mp3") {
            ASSERT_LT(mp3.size(), MP3_BLOCK_SIZE);
        }
        const Decoded whole = decode_all(mp3, MP3_BLOCK_SIZE);
        EXPECT_EQ(whole.channels, c.channels);
        EXPECT_EQ(whole.rate, int(c.rate));
        // All source frames, plus at most the encoder's delay and padding.
        EXPECT_GE(whole.samples.size() / 2, c.frames);
        EXPECT_LE(whole.samples.size() / 2, c.frames + 3 * 1152);
        EXPECT_TRUE(any_sound(whole.samples));

        EXPECT_EQ(decode_all(mp3, 100).samples, whole.samples) << "small blocks";
        EXPECT_EQ(decode_all(fake_id3v2(20000) + mp3, MP3_BLOCK_SIZE).samples, whole.samples)
            << "a tag across blocks";
        EXPECT_EQ(decode_all(fake_id3v2(8182) + fake_id3v2(300) + mp3, MP3_BLOCK_SIZE).samples, whole.samples)
            << "two tags, the first filling the first block";
    }
}

TEST(Mp3Decoder, DataWithoutFramesGivesNoHeaderAndNoSamples)
{
    for (const std::string &junk : {std::string(30000, '\0'), std::string(5000, 'a'), fake_id3v2(3000)}) {
        const Decoded d = decode_all(junk, MP3_BLOCK_SIZE);
        EXPECT_TRUE(d.samples.empty());
        EXPECT_EQ(d.rate, 0);
    }
}

// The device keeps the layout of the first header; frames with another
// channel count are converted to it.
TEST(Mp3Stage, ConvertsToTheDeviceChannelsAndStopsWhenFull)
{
    const short left[] = {100, -200, 300, 32767};
    const short right[] = {-100, 400, 301, 32767};
    struct Case {
        const char *what;
        int in_channels, device_channels;
        std::vector<short> expected;
    };
    const Case cases[] = {
        {"stereo on stereo", 2, 2, {100, -100, -200, 400, 300, 301, 32767, 32767}},
        {"mono on stereo: copied to both", 1, 2, {100, 100, -200, -200, 300, 300, 32767, 32767}},
        {"stereo on mono: mixed", 2, 1, {0, 100, 300, 32767}},
        {"mono on mono", 1, 1, {100, -200, 300, 32767}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        MP3Frame_t f{4, c.in_channels, 8000, true, left, right};
        // A period of three device frames: the fourth sample waits for the next one.
        std::vector<uint8_t> buf(3 * 2 * size_t(c.device_channels) + 1, 0xAA);
        MP3Stage_t st{buf.data(), buf.size() - 1, 0, c.device_channels};
        EXPECT_EQ(MP3_StageFrames(&st, &f, 0), 3u);
        EXPECT_EQ(st.staged, st.size);
        EXPECT_EQ(buf.back(), 0xAA) << "wrote past the period";
        EXPECT_EQ(MP3_StageFrames(&st, &f, 3), 0u) << "a full period takes nothing";
        std::vector<short> got(st.size / 2);
        memcpy(got.data(), buf.data(), st.size);
        st.staged = 0;
        EXPECT_EQ(MP3_StageFrames(&st, &f, 3), 1u);
        got.resize(got.size() + size_t(c.device_channels));
        memcpy(got.data() + st.size / 2, buf.data(), st.staged);
        EXPECT_EQ(got, c.expected);
    }
}

namespace {

struct Recording {
    std::string file;
    int id3tagLen = 0;
};

// Records `periods` periods of 1000 frames of a sine through the encoder, as
// the recording loop does; flush_after flushes the encoder after that period
// as a short capture read does.
Recording encode(const TempDir &d, int periods, int flush_after = -1)
{
    Recording r;
    const std::string path = d.path("rec.mp3");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    MP3Encoder_t enc;
    EXPECT_TRUE(MP3_EncoderInit(&enc, fd));
    const std::string pcm = sine_pcm(1000 * size_t(periods), 2, 8000);
    for (int p = 0; p < periods; ++p) {
        EXPECT_EQ(MP3_EncodePcm(&enc, reinterpret_cast<const short *>(pcm.data()) + p * 2000, 1000, fd), 0);
        if (p == flush_after) {
            const int n = lame_encode_flush(enc.mp3Gfp, enc.mp3_buff, MP3_OUT_SIZE);
            EXPECT_EQ(write(fd, enc.mp3_buff, size_t(n)), n);
        }
    }
    MP3_EncoderFinish(&enc, fd, true);
    r.id3tagLen = enc.id3tagLen;
    MP3_EncoderRelease(&enc, 2);
    EXPECT_EQ(enc.mp3Gfp, nullptr);
    EXPECT_EQ(enc.mp3_buff, nullptr);
    close(fd);
    r.file = slurp(path);
    return r;
}

size_t count(const std::string &s, const std::string &what)
{
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(Mp3Encoder, FileHasTheTagsOnceAndTheLameTagOverTheFirstFrame)
{
    TempDir d;
    const Recording r = encode(d, 16);  // 2 s
    const std::string &f = r.file;
    ASSERT_GT(r.id3tagLen, 10);
    ASSERT_GT(f.size(), size_t(r.id3tagLen) + 128 + 1000);

    ASSERT_EQ(f.substr(0, 3), "ID3");
    const std::string id3v2 = f.substr(0, size_t(r.id3tagLen));
    EXPECT_EQ(MP3_Id3v2Length(reinterpret_cast<const unsigned char *>(f.data()), f.size()), size_t(r.id3tagLen));
    for (const char *text : {"corvane", "2024", "Zereroziz Edizi"})
        EXPECT_NE(id3v2.find(text), std::string::npos) << text << " missing from the ID3v2 tag";

    // The LAME tag frame: a frame header, then the Info header with the encoder's name.
    const std::string first = f.substr(size_t(r.id3tagLen), 200);
    EXPECT_EQ(uint8_t(first[0]), 0xFF);
    EXPECT_EQ(uint8_t(first[1]) & 0xE0, 0xE0);
    EXPECT_NE(first.find("Info"), std::string::npos);
    EXPECT_NE(first.find("LAME"), std::string::npos);

    const std::string v1 = f.substr(f.size() - 128);
    EXPECT_EQ(v1.substr(0, 3), "TAG");
    EXPECT_NE(v1.find("corvane"), std::string::npos);
    EXPECT_NE(v1.find("2024"), std::string::npos);
    EXPECT_EQ(count(f, "TAG"), 1u) << "more than one ID3v1 tag";

    // The LAME tag lets the decoder trim to exactly what was recorded.
    const std::string wav = lame_decode(d.path("rec.mp3"));
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(le32(wav, 24), 8000u);
    EXPECT_EQ(wav[22], 2);
    EXPECT_EQ(wav.size() - 44, 16u * 1000 * 4);
}

TEST(Mp3Encoder, FlushAfterAShortReadPutsNoTagIntoTheAudio)
{
    TempDir d;
    const Recording r = encode(d, 8, 3);
    EXPECT_EQ(count(r.file, "TAG"), 1u);
    EXPECT_EQ(r.file.rfind("TAG"), r.file.size() - 128);
    EXPECT_TRUE(run("lame --decode '" + d.path("rec.mp3") + "' '" + d.path("out.wav") + "' 2>'" +
                    d.path("lame.txt") + "'"));
    EXPECT_EQ(slurp(d.path("lame.txt")).find("resync"), std::string::npos) << slurp(d.path("lame.txt"));
}

TEST(Mp3Encoder, StoppedAtOnceStillGivesAPlayableFile)
{
    TempDir d;
    const Recording r = encode(d, 0);
    EXPECT_EQ(r.file.substr(0, 3), "ID3");
    EXPECT_EQ(r.file.substr(r.file.size() - 128, 3), "TAG");
    const std::string wav = lame_decode(d.path("rec.mp3"));
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.size(), 44u);
}
