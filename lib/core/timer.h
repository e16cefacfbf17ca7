// Periodic and one-shot callbacks, all run on one process-wide timer thread.
//
// Each `timer` owns a timerfd; the one poll object (`timers_poll`, reached
// through timers_poll::get_poll() or `my_timers`) waits on all of them with
// epoll on a single thread and calls each fired timer's callback there.
//
// Guarantees:
//  - The poll object's map is guarded by its mutex; the mutex is never held
//    while a callback runs, so a callback may start, stop, modify or destroy
//    any timer, including its own.
//  - timer_stop() (and so the destructor) called on another thread while the
//    timer's callback is running waits until that callback has returned.
//    Do not call it while holding a lock that the callback takes.
//  - Called on the poll thread (from inside a callback) it never waits.
//  - Several firings that pass while the poll thread is busy give one
//    callback. A firing that was cancelled by timer_stop or superseded by a
//    new timer_start before the poll thread read it gives none.
//  - The poll object is created on first use (at the latest when the library
//    is loaded, by the initialisation of `my_timers`) and is never freed; its
//    thread is woken through an eventfd and joined at process exit or library
//    unload. After that, timers can still be started, stopped and destroyed
//    safely (e.g. from other static objects' destructors); their callbacks no
//    longer run.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sys/types.h>

typedef int (*timer_callback)(void* user);

class timers_poll;

class timer {
public:
    // interval in seconds; repeat != 0 makes the timer periodic.
    timer(double interval, timer_callback cb, void* user, int repeat);
    ~timer();
    timer(const timer&) = delete;
    timer& operator=(const timer&) = delete;

    // Registers the timer with the poll object if needed and (re)arms it:
    // first firing after `interval`, then every `interval` when repeating.
    // An interval of 0 leaves it registered but disarmed. Always 0.
    int timer_start();
    // After return, the callback of this timer is not running on another
    // thread and will not run again until timer_start. May be called from
    // inside the callback itself. Always 0.
    int timer_stop();
    // Stores the new interval and calls timer_start. Always 0.
    int timer_modify_internal(double interval);
    int timer_get_id() const;
    void* timer_get_userdata() const;
    timer_callback get_user_callback() const;
    // Adds O_NONBLOCK to fd's status flags: 1 on success, 0 on failure.
    static int setNonBlock(int fd);

private:
    friend class timers_poll;
    void arm(bool on);   // sets the descriptor; caller holds the poll mutex

    void* user_data;
    int id;
    double interval;          // written and read under the poll mutex
    bool repeat;
    timer_callback callback;
    bool registered;          // guarded by the poll mutex
};

class timers_poll {
public:
    // capacity: size hint of the epoll set. Starts the poll thread.
    explicit timers_poll(int capacity);
    // Ends and joins the thread (shutdown), clears the map, closes the
    // descriptors. The process-wide object is never destroyed.
    ~timers_poll();
    timers_poll(const timers_poll&) = delete;
    timers_poll& operator=(const timers_poll&) = delete;

    // The one process-wide poll object (created on first call, never freed).
    static timers_poll* get_poll();

    // Enters the timer in the map under its id and adds its descriptor to
    // the epoll set (EPOLLIN | EPOLLET). Does not arm it. Always 0.
    int timers_poll_add_timer(timer* t);
    // Removes the timer from the epoll set and the map, disarms it, and, when
    // called off the poll thread, waits until a running callback of the timer
    // has returned. Always 0.
    int timers_poll_del_timer(timer* t);
    // The poll loop; returns once the object is deactivated. Always 0.
    int run();
    // Tells the loop to end and wakes it (does not join). Always 0.
    int timers_poll_deactive();
    // Deactivates, wakes and joins the poll thread (never cancels it).
    // Idempotent; safe to call from the poll thread itself (then it does
    // not join) and in a forked child (then it does not join either).
    int shutdown();

    // True when the caller is the poll thread.
    bool on_poll_thread() const;
    // Number of registered timers (for tests and diagnostics).
    size_t timer_count();
    // 1 while the poll loop is to keep running, 0 after deactivation.
    int is_active();

private:
    friend class timer;
    static void* thread_fun(void* arg);
    // Registers if needed, optionally sets a new interval, and arms.
    int start_timer(timer* t, const double* new_interval);
    void add_locked(timer* t);
    void del_locked(timer* t);

    int epfd;                       // epoll set; -1 after shutdown
    int active;                     // 1 while the loop is to keep running
    std::map<int, timer*> timers;   // registered timers by id; not owned
    pthread_t thread;

    int wake_fd;                    // eventfd that wakes the loop
    bool thread_started;
    bool join_claimed;              // a shutdown has taken over the join
    pid_t owner_pid;                // process that started the thread
    const timer* running;           // timer whose callback runs now
    std::mutex mu;                  // guards all of the above but `thread`
    std::condition_variable idle;   // signalled when `running` is cleared
};

// The process-wide poll object (= *timers_poll::get_poll()); initialised when
// the library is loaded, which starts the timer thread. Code that runs during
// static initialisation should use timers_poll::get_poll() instead.
extern timers_poll& my_timers;
