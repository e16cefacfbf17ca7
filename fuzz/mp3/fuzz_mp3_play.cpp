// MP3 playback's decode path on arbitrary file bytes: tag skipping, the
// decoder fed block by block and drained, and the staging of its frames into
// periods in the layout of the first frame header, over two passes as with
// repeat. The first byte picks the period size; the rest is the file.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mp3_decode.h"

namespace {

void quiet(const char *, va_list) {}

void stage_all(MP3Stage_t *st, std::vector<uint8_t> *period, size_t period_frames, const MP3Frame_t *f)
{
    if (!st->buf) {
        if (!f->header || (f->channels != 1 && f->channels != 2))
            return;
        period->assign(period_frames * 2 * size_t(f->channels), 0);
        *st = MP3Stage_t{period->data(), period->size(), 0, f->channels};
    }
    for (size_t at = 0; at < size_t(f->samples);) {
        const size_t taken = MP3_StageFrames(st, f, at);
        if (taken == 0 && st->staged == 0)
            __builtin_trap();  // a period that holds no frame
        at += taken;
        if (taken == 0 || st->staged == st->size)
            st->staged = 0;  // sent
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t period_frames = 1 + data[0] * 16u;
    ++data;
    --size;
    MP3Decoder_t *dec = MP3_DecoderCreate(quiet);
    if (!dec)
        return 0;
    std::vector<uint8_t> period;
    MP3Stage_t st{};
    for (int pass = 0; pass < 2; ++pass) {
        MP3_DecoderRewind(dec);
        for (size_t at = 0;; at += MP3_BLOCK_SIZE) {
            const size_t n = at < size ? std::min(MP3_BLOCK_SIZE, size - at) : 0;
            // A copy per block, as read from the file: the decoder must not
            // read past what it was given.
            std::vector<unsigned char> block(data + (n ? at : 0), data + (n ? at + n : 0));
            MP3_DecoderFeed(dec, block.data(), n);
            MP3Frame_t f;
            while (MP3_DecoderNext(dec, &f) > 0)
                stage_all(&st, &period, period_frames, &f);
            if (n == 0)
                break;
        }
    }
    MP3_DecoderDestroy(dec);
    return 0;
}
