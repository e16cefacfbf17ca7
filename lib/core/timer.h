// Periodic and one-shot callbacks, all run on one process-wide timer thread.
#pragma once

#include <map>
#include <pthread.h>

typedef int (*timer_callback)(void* user);

class timer {
public:
    // interval in seconds; repeat != 0 makes the timer periodic.
    timer(double interval, timer_callback cb, void* user, int repeat);
    ~timer();
    timer(const timer&) = delete;
    timer& operator=(const timer&) = delete;

    int timer_start();
    // After return, the callback of this timer is not running on another
    // thread and will not run again until timer_start. May be called from
    // inside the callback itself.
    int timer_stop();
    int timer_modify_internal(double interval);
    int timer_get_id() const;
    void* timer_get_userdata() const;
    timer_callback get_user_callback() const;
    static int setNonBlock(int fd);

private:
    void* user_data;
    int id;
    double interval;
    bool repeat;
    timer_callback callback;
    bool registered;
};

class timers_poll;
extern timers_poll my_timers;
