// Timer service: timerfd + epoll, every callback on one thread.
#include "core/timer.h"

#include "core/log.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

// ---------------------------------------------------------------- timer

timer::timer(double interval_, timer_callback cb, void* user, int repeat_)
    : user_data(user), id(-1), interval(interval_), repeat(repeat_ != 0),
      callback(cb), registered(false) {
    // Relative timers are not affected by changes of the real-time clock.
    id = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC);
    if (id >= 0) setNonBlock(id);
}

timer::~timer() {
    timer_stop();
    if (id >= 0) close(id);
}

int timer::timer_start() {
    timers_poll::get_poll()->start_timer(this, nullptr);
    return 0;
}

int timer::timer_stop() {
    timers_poll::get_poll()->timers_poll_del_timer(this);
    return 0;
}

int timer::timer_modify_internal(double interval_) {
    timers_poll::get_poll()->start_timer(this, &interval_);
    return 0;
}

int timer::timer_get_id() const { return id; }
void* timer::timer_get_userdata() const { return user_data; }
timer_callback timer::get_user_callback() const { return callback; }

int timer::setNonBlock(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return 0;
    return fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 ? 0 : 1;
}

void timer::arm(bool on) {
    if (id < 0) return;
    struct itimerspec its = {};
    // !(x > 0) also catches NaN; huge values are clamped before the cast.
    if (on && interval > 0) {
        double iv = interval < static_cast<double>(INT_MAX) ? interval : INT_MAX;
        int sec = static_cast<int>(iv);
        long nsec = static_cast<long>((iv - sec) * 1e9);
        if (nsec > 999999999L) nsec = 999999999L;
        its.it_value.tv_sec = sec;
        its.it_value.tv_nsec = nsec;
        if (repeat) its.it_interval = its.it_value;
    }
    // A zero first firing disarms; setting the timer also discards firings
    // not yet read, so a restarted timer starts a fresh interval.
    timerfd_settime(id, 0, &its, nullptr);
}

// ----------------------------------------------------------- timers_poll

timers_poll::timers_poll(int capacity)
    : epfd(-1), active(1), thread(), wake_fd(-1), thread_started(false),
      join_claimed(false), owner_pid(getpid()), running(nullptr) {
    (void)capacity;   // the size hint of epoll_create; ignored by the kernel
    epfd = epoll_create1(EPOLL_CLOEXEC);
    wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epfd < 0 || wake_fd < 0) {
        logd(3, "timers_poll", __LINE__, "timer service unavailable (errno %d)\n", errno);
        return;
    }
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.fd = wake_fd;
    epoll_ctl(epfd, EPOLL_CTL_ADD, wake_fd, &ev);

    // The thread runs with every signal blocked: process signals go to the
    // application's threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    {
        // Held so that the new thread sees `thread` and `thread_started`.
        std::lock_guard<std::mutex> lk(mu);
        thread_started = pthread_create(&thread, nullptr, thread_fun, this) == 0;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (!thread_started)
        logd(3, "timers_poll", __LINE__, "cannot start the timer thread\n");
}

timers_poll::~timers_poll() {
    shutdown();
    std::lock_guard<std::mutex> lk(mu);
    timers.clear();
    if (epfd >= 0) close(epfd);
    if (wake_fd >= 0) close(wake_fd);
    epfd = wake_fd = -1;
}

namespace {
// Ends the process-wide poll thread when the process exits or the library is
// unloaded. Registered (through its construction) right after the poll
// object is created, so it runs before the destructors of static objects
// constructed earlier; those may still stop timers afterwards, safely.
struct poll_reaper {
    timers_poll* p;
    ~poll_reaper() { p->shutdown(); }
};
}  // namespace

timers_poll* timers_poll::get_poll() {
    static timers_poll* const poll = new timers_poll(128);   // never freed
    static poll_reaper reaper{poll};
    return poll;
}

// Initialised when the library is loaded: creates the poll object and
// starts its thread, so timers are served from the start.
timers_poll& my_timers = *timers_poll::get_poll();

namespace {
thread_local const timers_poll* tl_poll = nullptr;   // set on a poll thread
}

void* timers_poll::thread_fun(void* arg) {
    tl_poll = static_cast<timers_poll*>(arg);
    static_cast<timers_poll*>(arg)->run();
    return nullptr;
}

bool timers_poll::on_poll_thread() const { return tl_poll == this; }

size_t timers_poll::timer_count() {
    std::lock_guard<std::mutex> lk(mu);
    return timers.size();
}

int timers_poll::is_active() {
    std::lock_guard<std::mutex> lk(mu);
    return active;
}

int timers_poll::timers_poll_add_timer(timer* t) {
    if (!t) return 0;
    std::lock_guard<std::mutex> lk(mu);
    add_locked(t);
    return 0;
}

void timers_poll::add_locked(timer* t) {
    if (t->id < 0 || t->registered) return;
    timers.insert_or_assign(t->id, t);
    t->registered = true;
    if (epfd >= 0) {
        struct epoll_event ev = {};
        ev.events = EPOLLIN | EPOLLET;
        ev.data.fd = t->id;
        epoll_ctl(epfd, EPOLL_CTL_ADD, t->id, &ev);
    }
}

int timers_poll::start_timer(timer* t, const double* new_interval) {
    if (!t) return 0;
    std::lock_guard<std::mutex> lk(mu);
    add_locked(t);
    if (new_interval) t->interval = *new_interval;
    // Registered and armed under one lock: the poll thread cannot act on the
    // descriptor before both are done, and a firing left over from an
    // earlier arming is discarded by the re-arming.
    t->arm(true);
    return 0;
}

void timers_poll::del_locked(timer* t) {
    if (!t->registered) return;
    auto it = timers.find(t->id);
    if (it != timers.end() && it->second == t) timers.erase(it);
    if (epfd >= 0) epoll_ctl(epfd, EPOLL_CTL_DEL, t->id, nullptr);
    t->registered = false;
    t->arm(false);
}

int timers_poll::timers_poll_del_timer(timer* t) {
    if (!t) return 0;
    std::unique_lock<std::mutex> lk(mu);
    del_locked(t);
    if (running == t && !on_poll_thread()) {
        idle.wait(lk, [&] { return running != t; });
        // The callback may have started its timer again meanwhile.
        del_locked(t);
    }
    return 0;
}

int timers_poll::run() {
    struct epoll_event evs[128];
    for (;;) {
        {
            std::lock_guard<std::mutex> lk(mu);
            if (!active) break;
        }
        int n = epoll_wait(epfd, evs, 128, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            logd(3, "run", __LINE__, "epoll_wait failed (errno %d)\n", errno);
            break;
        }
        for (int i = 0; i < n; ++i) {
            int fd = evs[i].data.fd;
            if (fd == wake_fd) {
                uint64_t v;
                while (read(wake_fd, &v, sizeof v) > 0) {
                }
                continue;
            }
            std::unique_lock<std::mutex> lk(mu);
            if (!active) return 0;
            auto it = timers.find(fd);
            if (it == timers.end()) continue;   // stopped since: ignored
            timer* t = it->second;
            // Drain the pending count; however many firings accumulated, the
            // callback runs once. No count means the firing was cancelled or
            // superseded (stop / restart) after the wake-up: no callback.
            uint64_t fired = 0;
            unsigned char scratch[128];
            for (;;) {
                ssize_t r = read(fd, scratch, sizeof scratch);
                if (r <= 0) break;
                if (r >= static_cast<ssize_t>(sizeof(uint64_t))) fired += 1;
            }
            if (!fired) continue;
            timer_callback cb = t->callback;
            void* user = t->user_data;
            running = t;
            lk.unlock();
            // From here on `t` may be stopped or even destroyed by the
            // callback itself; it is not touched again.
            if (cb) {
                try {
                    cb(user);
                } catch (...) {
                    logd(3, "run", __LINE__, "timer callback threw an exception\n");
                }
            }
            lk.lock();
            running = nullptr;
            idle.notify_all();
        }
    }
    return 0;
}

int timers_poll::timers_poll_deactive() {
    int fd;
    {
        std::lock_guard<std::mutex> lk(mu);
        active = 0;
        fd = wake_fd;
    }
    if (fd >= 0) {
        uint64_t one = 1;
        ssize_t r = write(fd, &one, sizeof one);
        (void)r;
    }
    return 0;
}

int timers_poll::shutdown() {
    bool join;
    {
        std::lock_guard<std::mutex> lk(mu);
        if (join_claimed) return 0;
        join_claimed = true;
        join = thread_started && getpid() == owner_pid && !on_poll_thread();
    }
    timers_poll_deactive();
    if (!join) return 0;
    pthread_join(thread, nullptr);
    std::lock_guard<std::mutex> lk(mu);
    thread_started = false;
    running = nullptr;
    if (epfd >= 0) close(epfd);
    if (wake_fd >= 0) close(wake_fd);
    epfd = wake_fd = -1;
    return 0;
}
