/*
 * vsnd: a virtual sound card for tests, as an ALSA external I/O plugin.
 *
 * It runs in real time like a card: the hardware pointer follows
 * CLOCK_MONOTONIC from the moment the stream starts, and the poll descriptor
 * is a timerfd that fires once per period, so a blocking write of a full
 * buffer returns only when the "card" has played it, without busy waiting.
 * Playback appends every frame that passes the hardware pointer to a raw
 * file; frames written but dropped before they were played never get there.
 * Capture delivers the frames of a raw file at the stream's pace, then
 * silence.
 *
 *   pcm_type.vsnd { lib "/path/libasound_module_pcm_vsnd.so" }
 *   pcm.vphone {
 *       type vsnd
 *       playback_file "/tmp/x/played.raw"    # appended to
 *       capture_file  "/tmp/x/input.raw"     # read from the start at each open
 *       fail_after    0                      # frames until transfers fail with EIO (0: never)
 *   }
 */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
	snd_pcm_ioplug_t io;
	int timer_fd;
	int data_fd;                 /* playback: output file; capture: input file */
	unsigned long fail_after;    /* frames; 0 = never */
	unsigned long transferred;   /* frames moved through transfer() since open */
	struct timespec start_ts;
	snd_pcm_uframes_t start_hw;  /* hardware position when the stream started */
	snd_pcm_uframes_t boundary;
	snd_pcm_uframes_t played;    /* playback: frames already written to the file */
	off_t capture_pos;           /* capture: next byte of the input file */
	size_t frame_bytes;
	uint8_t *ring;               /* playback: copy of the application's buffer */
	int running;
} vsnd_t;

static uint64_t vsnd_elapsed_frames(const vsnd_t *v)
{
	struct timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	int64_t ns = (int64_t)(now.tv_sec - v->start_ts.tv_sec) * 1000000000 + (now.tv_nsec - v->start_ts.tv_nsec);
	if (ns < 0)
		ns = 0;
	return (uint64_t)((__int128)ns * v->io.rate / 1000000000);
}

static void vsnd_arm_timer(vsnd_t *v, int on)
{
	struct itimerspec its;
	memset(&its, 0, sizeof its);
	if (on) {
		uint64_t period_ns = (uint64_t)v->io.period_size * 1000000000 / v->io.rate;
		/* wake just after each period boundary, so a whole period is there */
		uint64_t first_ns = period_ns + 500000;
		its.it_interval.tv_sec = period_ns / 1000000000;
		its.it_interval.tv_nsec = period_ns % 1000000000;
		its.it_value.tv_sec = v->start_ts.tv_sec + (time_t)(first_ns / 1000000000);
		its.it_value.tv_nsec = v->start_ts.tv_nsec + (long)(first_ns % 1000000000);
		if (its.it_value.tv_nsec >= 1000000000) {
			its.it_value.tv_sec++;
			its.it_value.tv_nsec -= 1000000000;
		}
	}
	timerfd_settime(v->timer_fd, on ? TFD_TIMER_ABSTIME : 0, &its, NULL);
}

/* Appends ring frames [v->played, upto) to the output file. */
static void vsnd_flush_played(vsnd_t *v, snd_pcm_uframes_t upto)
{
	while (v->played < upto) {
		snd_pcm_uframes_t off = v->played % v->io.buffer_size;
		snd_pcm_uframes_t n = upto - v->played;
		if (n > v->io.buffer_size - off)
			n = v->io.buffer_size - off;
		if (v->data_fd >= 0) {
			const uint8_t *p = v->ring + off * v->frame_bytes;
			size_t left = n * v->frame_bytes;
			while (left > 0) {
				ssize_t w = write(v->data_fd, p, left);
				if (w < 0 && errno == EINTR)
					continue;
				if (w <= 0)
					break;
				p += w;
				left -= (size_t)w;
			}
		}
		v->played += n;
	}
}

static int vsnd_start(snd_pcm_ioplug_t *io)
{
	vsnd_t *v = io->private_data;
	clock_gettime(CLOCK_MONOTONIC, &v->start_ts);
	v->start_hw = io->hw_ptr;
	v->played = io->hw_ptr;
	v->running = 1;
	vsnd_arm_timer(v, 1);
	return 0;
}

static int vsnd_stop(snd_pcm_ioplug_t *io)
{
	vsnd_t *v = io->private_data;
	v->running = 0;
	vsnd_arm_timer(v, 0);
	return 0;
}

static snd_pcm_sframes_t vsnd_pointer(snd_pcm_ioplug_t *io)
{
	vsnd_t *v = io->private_data;
	if (!v->running)
		return (snd_pcm_sframes_t)(io->hw_ptr % v->boundary);
	snd_pcm_uframes_t pos = v->start_hw + (snd_pcm_uframes_t)vsnd_elapsed_frames(v);
	snd_pcm_uframes_t appl = io->appl_ptr;
	if (io->stream == SND_PCM_STREAM_PLAYBACK) {
		int xrun = 0;
		if (pos >= appl) {
			/* nothing left to play: a running card underruns, a draining one is done */
			pos = appl;
			xrun = io->state == SND_PCM_STATE_RUNNING;
		}
		vsnd_flush_played(v, pos);
		if (xrun)
			return -EPIPE;
	} else if (pos > appl + io->buffer_size) {
		return -EPIPE; /* overrun: the application did not read in time */
	}
	return (snd_pcm_sframes_t)(pos % v->boundary);
}

static int vsnd_check_failure(vsnd_t *v, snd_pcm_uframes_t size)
{
	v->transferred += size;
	return v->fail_after && v->transferred > v->fail_after;
}

static snd_pcm_sframes_t vsnd_transfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
				       snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
	vsnd_t *v = io->private_data;
	if (vsnd_check_failure(v, size))
		return -EIO;
	/* RW interleaved access: offset is into the application's buffer */
	const size_t bytes = size * v->frame_bytes;
	if (io->stream == SND_PCM_STREAM_PLAYBACK) {
		const uint8_t *app = (const uint8_t *)areas[0].addr + (areas[0].first + areas[0].step * offset) / 8;
		snd_pcm_uframes_t at = io->appl_ptr % io->buffer_size;
		snd_pcm_uframes_t first = size < io->buffer_size - at ? size : io->buffer_size - at;
		memcpy(v->ring + at * v->frame_bytes, app, first * v->frame_bytes);
		memcpy(v->ring, app + first * v->frame_bytes, (size - first) * v->frame_bytes);
		return (snd_pcm_sframes_t)size;
	}
	uint8_t *dst = (uint8_t *)areas[0].addr + (areas[0].first + areas[0].step * offset) / 8;
	size_t got = 0;
	while (v->data_fd >= 0 && got < bytes) {
		ssize_t r = pread(v->data_fd, dst + got, bytes - got, v->capture_pos);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			break;
		got += (size_t)r;
		v->capture_pos += r;
	}
	if (got < bytes)
		snd_pcm_format_set_silence(io->format, dst + got, (unsigned)((bytes - got) * 8 / (unsigned)snd_pcm_format_physical_width(io->format)));
	return (snd_pcm_sframes_t)size;
}

static int vsnd_poll_revents(snd_pcm_ioplug_t *io, struct pollfd *pfd, unsigned int nfds, unsigned short *revents)
{
	vsnd_t *v = io->private_data;
	*revents = 0;
	if (nfds < 1 || !(pfd[0].revents & POLLIN))
		return 0;
	uint64_t ticks;
	if (read(v->timer_fd, &ticks, sizeof ticks) < 0 && errno != EAGAIN)
		return -errno;
	*revents = io->stream == SND_PCM_STREAM_PLAYBACK ? POLLOUT : POLLIN;
	return 0;
}

static int vsnd_hw_params(snd_pcm_ioplug_t *io, snd_pcm_hw_params_t *params)
{
	vsnd_t *v = io->private_data;
	(void)params;
	v->frame_bytes = (size_t)snd_pcm_format_physical_width(io->format) / 8 * io->channels;
	free(v->ring);
	v->ring = calloc(io->buffer_size, v->frame_bytes);
	if (!v->ring)
		return -ENOMEM;
	/* the wrap point of the positions, as alsa-lib computes it */
	v->boundary = io->buffer_size;
	while (v->boundary * 2 <= LONG_MAX - io->buffer_size)
		v->boundary *= 2;
	return 0;
}

static int vsnd_prepare(snd_pcm_ioplug_t *io)
{
	vsnd_t *v = io->private_data;
	v->running = 0;
	vsnd_arm_timer(v, 0);
	return 0;
}

static int vsnd_close(snd_pcm_ioplug_t *io)
{
	vsnd_t *v = io->private_data;
	if (v->timer_fd >= 0)
		close(v->timer_fd);
	if (v->data_fd >= 0)
		close(v->data_fd);
	free(v->ring);
	free(v);
	return 0;
}

static const snd_pcm_ioplug_callback_t vsnd_callback = {
	.start = vsnd_start,
	.stop = vsnd_stop,
	.pointer = vsnd_pointer,
	.transfer = vsnd_transfer,
	.close = vsnd_close,
	.hw_params = vsnd_hw_params,
	.prepare = vsnd_prepare,
	.poll_revents = vsnd_poll_revents,
};

static int vsnd_set_constraints(snd_pcm_ioplug_t *io)
{
	static const unsigned int accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
	static const unsigned int formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE};
	int err;
	if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses)) < 0 ||
	    (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 2, formats)) < 0 ||
	    (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2)) < 0 ||
	    (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 48000)) < 0 ||
	    (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) < 0 ||
	    (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0 ||
	    (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 128, 4 << 20)) < 0)
		return err;
	return 0;
}

SND_PCM_PLUGIN_DEFINE_FUNC(vsnd)
{
	snd_config_iterator_t i, next;
	const char *playback_file = NULL, *capture_file = NULL;
	long fail_after = 0;
	(void)root;

	snd_config_for_each(i, next, conf) {
		snd_config_t *n = snd_config_iterator_entry(i);
		const char *id;
		if (snd_config_get_id(n, &id) < 0)
			continue;
		if (!strcmp(id, "comment") || !strcmp(id, "type") || !strcmp(id, "hint"))
			continue;
		if (!strcmp(id, "playback_file") && snd_config_get_string(n, &playback_file) == 0)
			continue;
		if (!strcmp(id, "capture_file") && snd_config_get_string(n, &capture_file) == 0)
			continue;
		if (!strcmp(id, "fail_after") && snd_config_get_integer(n, &fail_after) == 0)
			continue;
		SNDERR("vsnd: bad field %s", id);
		return -EINVAL;
	}

	vsnd_t *v = calloc(1, sizeof *v);
	if (!v)
		return -ENOMEM;
	v->data_fd = -1;
	v->fail_after = fail_after > 0 ? (unsigned long)fail_after : 0;
	v->boundary = LONG_MAX;
	v->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
	int err = v->timer_fd < 0 ? -errno : 0;
	if (!err && stream == SND_PCM_STREAM_PLAYBACK && playback_file) {
		v->data_fd = open(playback_file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
		if (v->data_fd < 0)
			err = -errno;
	} else if (!err && stream == SND_PCM_STREAM_CAPTURE && capture_file) {
		/* a missing input is a silent microphone */
		v->data_fd = open(capture_file, O_RDONLY | O_CLOEXEC);
	}
	if (err) {
		if (v->timer_fd >= 0)
			close(v->timer_fd);
		free(v);
		return err;
	}

	v->io.version = SND_PCM_IOPLUG_VERSION;
	v->io.name = "vsnd virtual sound card";
	v->io.callback = &vsnd_callback;
	v->io.private_data = v;
	v->io.poll_fd = v->timer_fd;
	v->io.poll_events = POLLIN;
	v->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
	err = snd_pcm_ioplug_create(&v->io, name, stream, mode);
	if (err < 0) {
		vsnd_close(&v->io);
		return err;
	}
	err = vsnd_set_constraints(&v->io);
	if (err < 0) {
		snd_pcm_ioplug_delete(&v->io);
		return err;
	}
	*pcmp = v->io.pcm;
	return 0;
}

SND_PCM_PLUGIN_SYMBOL(vsnd);
