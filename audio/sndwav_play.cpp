#include "sndwav_play.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "snd_shared.h"
#include "sndwav_mp3.h"

std::atomic<int> play_status{SND_IDLE};
std::atomic<int> record_status{SND_IDLE};

namespace {

// Everything one playback owns. Each playback thread has its own, so a thread
// that was given up on can never touch the next playback's file or device.
struct SNDPlay_t {
    SNDPCMContainer_t play_playback{};
    WAVContainer_t play_wav{};
    int play_fileid = -1;
    bool gIsPlayWave = true;
    char file[SND_FILENAME_SIZE]{};
    char device[SND_DEVICE_SIZE]{};
    unsigned gen = 0;
};

struct SNDRecord_t {
    SNDPCMContainer_t record_playback{};
    WAVContainer_t record_wav{};
    int record_fileid = -1;
    bool gIsRecordWave = true;
    char file[SND_FILENAME_SIZE]{};
    char device[SND_DEVICE_SIZE]{};
};

// Guards the playback generation and every store of SND_IDLE into
// play_status, so a superseded thread cannot idle a newer playback; the
// condition wakes pause, gap and idle waits on any state change.
std::mutex m_state_lock;
std::condition_variable m_state_cv;
unsigned m_play_gen = 0;
thread_local unsigned t_play_gen = 0;  // generation of the playback this thread runs

void SNDWAV_P_Notify()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    m_state_cv.notify_all();
}

// state from -> to, waking waiters when it changed.
void SNDWAV_P_Move(std::atomic<int> &state, int from, int to)
{
    if (state.compare_exchange_strong(from, to))
        SNDWAV_P_Notify();
}

bool SNDWAV_P_Current()
{
    return t_play_gen == m_play_gen;
}

void SNDWAV_P_EndPlay()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    if (SNDWAV_P_Current())
        play_status = SND_IDLE;
    m_state_cv.notify_all();
}

void SNDWAV_P_EndRecord()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    record_status = SND_IDLE;
    m_state_cv.notify_all();
}

int SNDWAV_P_OpenDevice(SNDPCMContainer_t *pcm, const char *device, snd_pcm_stream_t stream)
{
    if (snd_output_stdio_attach(&pcm->log, stderr, 0) < 0) {
        fprintf(stderr, "Error snd_output_stdio_attach\n");
        return -1;
    }
    if (snd_pcm_open(&pcm->handle, device, stream, 0) < 0) {
        fprintf(stderr, "Error snd_pcm_open [ %s]\n", device);
        pcm->handle = nullptr;
        return -1;
    }
    return 0;
}

void release_play_wav(SNDPlay_t *p)
{
    if (p->play_fileid >= 0)
        close(p->play_fileid);
    p->play_fileid = -1;
    SNDWAV_P_ReleasePcm(&p->play_playback);
}

int init_play_wav(SNDPlay_t *p)
{
    p->play_playback = SNDPCMContainer_t{};
    p->play_fileid = -1;
    p->gIsPlayWave = !SNDWAV_IsMp3Name(p->file);
    p->play_fileid = open(p->file, O_RDONLY | O_CLOEXEC);
    if (p->play_fileid < 0) {
        fprintf(stderr, "Error open [%s]\n", p->file);
        return -1;
    }
    if (p->gIsPlayWave && WAV_ReadHeader(p->play_fileid, &p->play_wav) < 0) {
        fprintf(stderr, "Error WAV_Parse [%s]\n", p->file);
    } else if (SNDWAV_P_OpenDevice(&p->play_playback, p->device, SND_PCM_STREAM_PLAYBACK) == 0) {
        if (!p->gIsPlayWave)
            return 0;  // configured from the first MP3 frame
        if (SNDWAV_SetParams(&p->play_playback, &p->play_wav) == 0) {
            snd_pcm_dump(p->play_playback.handle, p->play_playback.log);
            return 0;
        }
        fprintf(stderr, "Error set_snd_pcm_params\n");
    }
    release_play_wav(p);
    return -1;
}

void ThreadPlayFunc(SNDPlay_t *p)
{
    t_play_gen = p->gen;
    bool ok = init_play_wav(p) == 0;
    if (!ok) {
        usleep(1000);
        ok = init_play_wav(p) == 0;
    }
    if (ok && !p->gIsPlayWave && !init_play_mp3()) {
        release_play_wav(p);
        ok = false;
    }
    if (!ok) {
        // Idle first: a client that answers the error report at once must
        // find the playback free.
        delete p;
        SNDWAV_P_EndPlay();
        sendErrorInfo(SND_REPORT_PLAY);
        puts("init_play_wav error");
        return;
    }
    puts("init_play_file ok");
    SNDPCMContainer_t *pcm = &p->play_playback;
    const int r = p->gIsPlayWave ? SNDWAV_Play(pcm, &p->play_wav, p->play_fileid)
                                 : SNDMp3_Play(pcm, &p->play_wav, p->play_fileid);
    puts(r == 0 ? "play_wav ok" : "play_wav error");
    if (pcm->handle) {
        if (pcm->error)
            snd_pcm_drop(pcm->handle);
        else
            snd_pcm_drain(pcm->handle);
    }
    if (!p->gIsPlayWave)
        release_play_mp3(2);
    release_play_wav(p);
    delete p;
    SNDWAV_P_EndPlay();
}

void release_record_wav(SNDRecord_t *r)
{
    if (r->record_fileid >= 0)
        close(r->record_fileid);
    r->record_fileid = -1;
    SNDWAV_P_ReleasePcm(&r->record_playback);
}

int init_record_wav(SNDRecord_t *r)
{
    r->record_playback = SNDPCMContainer_t{};
    r->record_fileid = -1;
    unlink(r->file);
    r->gIsRecordWave = !SNDWAV_IsMp3Name(r->file);
    r->record_fileid = open(r->file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0664);
    if (r->record_fileid < 0) {
        fprintf(stderr, "Error open: [%s]\n", r->file);
        return -1;
    }
    if (SNDWAV_P_OpenDevice(&r->record_playback, r->device, SND_PCM_STREAM_CAPTURE) == 0) {
        SNDWAV_PrepareWAVParams(&r->record_wav, 0);
        if (SNDWAV_SetParams(&r->record_playback, &r->record_wav) == 0) {
            snd_pcm_dump(r->record_playback.handle, r->record_playback.log);
            return 0;
        }
        fprintf(stderr, "Error set_snd_pcm_params\n");
    }
    release_record_wav(r);
    unlink(r->file);
    return -1;
}

void ThreadRecordFunc(SNDRecord_t *r)
{
    bool ok = init_record_wav(r) == 0;
    if (!ok) {
        usleep(1000);
        ok = init_record_wav(r) == 0;
    }
    if (ok && !r->gIsRecordWave && !init_record_mp3(r->record_fileid)) {
        release_record_wav(r);
        unlink(r->file);
        ok = false;
    }
    if (!ok) {
        // Idle first, as for playback.
        delete r;
        SNDWAV_P_EndRecord();
        sendErrorInfo(SND_REPORT_RECORD);
        puts("init_record_wav error");
        return;
    }
    puts("init_record_wav ok");
    SNDPCMContainer_t *pcm = &r->record_playback;
    const int res = r->gIsRecordWave ? SNDWAV_Record(pcm, &r->record_wav, r->record_fileid)
                                     : SNDMp3_Record(pcm, &r->record_wav, r->record_fileid);
    puts(res == 0 ? "record_wav ok" : "record_wav error");
    if (!r->gIsRecordWave)
        release_record_mp3(2);
    puts("release_record_mp3 ok");
    // What is still in the capture buffer was never asked for.
    snd_pcm_drop(pcm->handle);
    release_record_wav(r);
    puts("release_record_wav ok");
    delete r;
    SNDWAV_P_EndRecord();
}

}  // namespace

bool SNDWAV_IsMp3Name(const char *filename)
{
    return strstr(filename, ".mp3") || strstr(filename, ".MP3") || strstr(filename, ".Mp3");
}

void Start_Play_Wav()
{
    int expected = SND_IDLE;
    if (!play_status.compare_exchange_strong(expected, SND_RUNNING)) {
        puts("Start_Playing error");
        return;
    }
    auto *p = new SNDPlay_t;
    memcpy(p->file, play_FileName, sizeof p->file);
    memcpy(p->device, play_DeviceName, sizeof p->device);
    p->file[sizeof p->file - 1] = p->device[sizeof p->device - 1] = '\0';
    {
        std::lock_guard<std::mutex> lock(m_state_lock);
        p->gen = ++m_play_gen;
    }
    try {
        std::thread(ThreadPlayFunc, p).detach();
    } catch (const std::system_error &e) {
        fprintf(stderr, "Error starting the playback thread: %s\n", e.what());
        delete p;
        sendErrorInfo(SND_REPORT_PLAY);
        play_status = SND_IDLE;
    }
}

void Pause_Play_Wav() { SNDWAV_P_Move(play_status, SND_RUNNING, SND_PAUSED); }
void Resume_Play_Wav() { SNDWAV_P_Move(play_status, SND_PAUSED, SND_RUNNING); }

void Exit_Play_Wav()
{
    SNDWAV_P_Move(play_status, SND_RUNNING, SND_STOP);
    SNDWAV_P_Move(play_status, SND_PAUSED, SND_STOP);
}

void Start_Record_Wav()
{
    int expected = SND_IDLE;
    if (!record_status.compare_exchange_strong(expected, SND_RUNNING))
        return;
    auto *r = new SNDRecord_t;
    memcpy(r->file, record_FileName, sizeof r->file);
    memcpy(r->device, record_DeviceName, sizeof r->device);
    r->file[sizeof r->file - 1] = r->device[sizeof r->device - 1] = '\0';
    try {
        std::thread(ThreadRecordFunc, r).detach();
    } catch (const std::system_error &e) {
        fprintf(stderr, "Error starting the recording thread: %s\n", e.what());
        delete r;
        sendErrorInfo(SND_REPORT_RECORD);
        record_status = SND_IDLE;
    }
}

void Exit_Record_Wav() { SNDWAV_P_Move(record_status, SND_RUNNING, SND_STOP); }

bool SNDWAV_WaitPlayIdle(int ms)
{
    std::unique_lock<std::mutex> lock(m_state_lock);
    return m_state_cv.wait_for(lock, std::chrono::milliseconds(ms), [] { return play_status == SND_IDLE; });
}

void SNDWAV_ForcePlayIdle()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    ++m_play_gen;  // the old thread now sees SND_STOP and will not idle the next playback
    play_status = SND_IDLE;
    m_state_cv.notify_all();
}

int SNDWAV_PlayStatus()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    return SNDWAV_P_Current() ? play_status.load() : SND_STOP;
}

bool SNDWAV_PlayShouldStop()
{
    std::unique_lock<std::mutex> lock(m_state_lock);
    m_state_cv.wait(lock, [] { return !SNDWAV_P_Current() || play_status != SND_PAUSED; });
    return !SNDWAV_P_Current() || play_status == SND_STOP;
}

bool SNDWAV_PlayGap(int ms)
{
    std::unique_lock<std::mutex> lock(m_state_lock);
    auto stopping = [] { return !SNDWAV_P_Current() || play_status == SND_STOP; };
    m_state_cv.wait_for(lock, std::chrono::milliseconds(ms), stopping);
    return stopping();
}

int SNDWAV_Play(SNDPCMContainer_t *sndpcm, WAVContainer_t *wav, int fd)
{
    int nBegin = int(time(nullptr));
    sendTimerInfo(nBegin, 0, SND_REPORT_PLAY);
    const size_t count = wav->chunk.length;
    size_t written = 0;
    for (;;) {
        if (SNDWAV_PlayShouldStop()) {
            sendTimerInfo(nBegin, -1, SND_REPORT_PLAY);
            return -1;
        }
        if (written < count) {
            size_t load = 0;
            bool ended = false;
            while (load < sndpcm->chunk_bytes) {
                const size_t want = std::min(sndpcm->chunk_bytes, count - written) - load;
                if (want == 0)
                    break;
                const ssize_t r = SNDWAV_P_SaveRead(fd, sndpcm->data_buf + load, want);
                if (r < 0) {
                    fprintf(stderr, "Error safe_read\n");
                    sendTimerInfo(nBegin, -1, SND_REPORT_PLAY);
                    return -1;
                }
                if (r == 0) {
                    ended = true;
                    break;
                }
                load += size_t(r);
                sendTimerInfo(nBegin, SND_TIME_RUNNING, SND_REPORT_PLAY);
            }
            written += load;
            const size_t frames = load * 8 / sndpcm->bits_per_frame;
            if (load > 0) {
                const ssize_t w = SNDWAV_WritePcm(sndpcm, frames);
                if (w < 0) {
                    sendTimerInfo(nBegin, -1, SND_REPORT_PLAY);
                    return -1;
                }
                if (size_t(w) == frames)
                    sendTimerInfo(nBegin, SND_TIME_RUNNING, SND_REPORT_PLAY);
            }
            if (ended || load == 0)
                written = count;
            continue;
        }
        if (play_BackRepeat != 1) {
            fprintf(stderr, "exit %d\n", play_BackRepeat.load());
            sendTimerInfo(nBegin, -1, SND_REPORT_PLAY);
            return 0;
        }
        if (SNDWAV_PlayGap(2000))
            continue;  // reported as a stop at the top of the loop
        lseek(fd, WAV_HEADER_SIZE, SEEK_SET);
        nBegin = int(time(nullptr));
        sendTimerInfo(nBegin, 0, SND_REPORT_PLAY);
        written = 0;
    }
}

int SNDWAV_Record(SNDPCMContainer_t *sndpcm, WAVContainer_t *wav, int fd)
{
    if (WAV_WriteHeader(fd, wav) < 0)
        return -1;
    const int nBegin = int(time(nullptr));
    sendTimerInfo(nBegin, 0, SND_REPORT_RECORD);
    // The header's 32-bit lengths bound what one file can hold.
    constexpr uint64_t max_data = UINT32_MAX - 36;
    uint64_t total = 0;
    int result = 0;
    while (record_status == SND_RUNNING) {
        if (SNDWAV_ReadPcm(sndpcm, sndpcm->chunk_size) < 0) {
            result = -1;
            break;
        }
        if (total + sndpcm->chunk_bytes > max_data) {
            fprintf(stderr, "recording stopped: a WAV file cannot hold more data\n");
            break;
        }
        const size_t w = SNDWAV_P_WriteAll(fd, sndpcm->data_buf, sndpcm->chunk_bytes);
        total += w;
        if (w < sndpcm->chunk_bytes) {
            fprintf(stderr, "Error SNDWAV_Record[write]\n");
            result = -1;
            break;
        }
        sendTimerInfo(nBegin, SND_TIME_RUNNING, SND_REPORT_RECORD);
    }
    // The final header always states the data actually written, also when
    // nothing was (the provisional one claims an hour).
    SNDWAV_PrepareWAVParams(wav, uint32_t(total));
    wav->chunk.length = uint32_t(total);
    wav->header.length = uint32_t(total + 36);
    if (lseek(fd, 0, SEEK_SET) != 0 || WAV_WriteHeader(fd, wav) < 0)
        result = -1;
    sendTimerInfo(nBegin, -1, SND_REPORT_RECORD);
    return result;
}
