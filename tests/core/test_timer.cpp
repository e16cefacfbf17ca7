// Timer service: firing, stopping, restarting, coalescing, waiting
// for a running callback, many timers, concurrency, and exit/unload safety.
#include "core/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Polls pred every millisecond until it holds or the timeout passes.
bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 3000ms) {
    auto end = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Counter {
    std::atomic<int> n{0};
    static int cb(void* u) {
        static_cast<Counter*>(u)->n++;
        return 0;
    }
};

size_t registered() { return timers_poll::get_poll()->timer_count(); }

int count_threads() {
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

}  // namespace

TEST(Timer, Accessors) {
    Counter c;
    timer a(0.5, Counter::cb, &c, 1), b(0.5, Counter::cb, nullptr, 0);
    EXPECT_GE(a.timer_get_id(), 0);
    EXPECT_NE(a.timer_get_id(), b.timer_get_id());
    EXPECT_EQ(a.timer_get_userdata(), &c);
    EXPECT_EQ(b.timer_get_userdata(), nullptr);
    EXPECT_EQ(a.get_user_callback(), &Counter::cb);
    EXPECT_TRUE(fcntl(a.timer_get_id(), F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(timers_poll::get_poll(), &my_timers);

    int p[2];
    ASSERT_EQ(pipe(p), 0);
    EXPECT_EQ(timer::setNonBlock(p[0]), 1);
    EXPECT_TRUE(fcntl(p[0], F_GETFL) & O_NONBLOCK);
    close(p[0]);
    close(p[1]);
    EXPECT_EQ(timer::setNonBlock(-1), 0);
}

TEST(Timer, PeriodicFiresUntilStopped) {
    Counter c;
    timer t(0.02, Counter::cb, &c, 1);
    auto start = Clock::now();
    EXPECT_EQ(t.timer_start(), 0);
    ASSERT_TRUE(wait_until([&] { return c.n >= 5; }));
    EXPECT_GE(ms_since(start), 5 * 20 - 1);   // never earlier than 5 periods
    EXPECT_EQ(t.timer_stop(), 0);
    int after = c.n;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(c.n, after);
}

TEST(Timer, OneShotFiresOnce) {
    Counter c;
    timer t(0.02, Counter::cb, &c, 0);
    t.timer_start();
    ASSERT_TRUE(wait_until([&] { return c.n >= 1; }));
    std::this_thread::sleep_for(120ms);
    EXPECT_EQ(c.n, 1);
}

TEST(Timer, FirstFiringAfterFractionalInterval) {
    struct U { std::atomic<double> at{0}; Clock::time_point start; } u;
    timer t(0.15, [](void* p) {
        auto* u = static_cast<U*>(p);
        u->at = ms_since(u->start);
        return 0;
    }, &u, 0);
    u.start = Clock::now();
    t.timer_start();
    ASSERT_TRUE(wait_until([&] { return u.at > 0; }));
    EXPECT_GE(u.at, 150.0);
    EXPECT_LT(u.at, 1500.0);
}

TEST(Timer, ZeroIntervalStaysRegisteredButNeverFires) {
    Counter c;
    size_t before = registered();
    timer t(0, Counter::cb, &c, 1);
    t.timer_start();
    EXPECT_EQ(registered(), before + 1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(c.n, 0);
    t.timer_stop();
    EXPECT_EQ(registered(), before);
}

TEST(Timer, StopInsideCallback) {
    struct U { timer* t; std::atomic<int> n{0}; } u;
    timer t(0.01, [](void* p) {
        auto* u = static_cast<U*>(p);
        u->n++;
        u->t->timer_stop();
        return 0;
    }, &u, 1);
    u.t = &t;
    size_t before = registered();
    t.timer_start();
    ASSERT_TRUE(wait_until([&] { return u.n >= 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(u.n, 1);
    EXPECT_EQ(registered(), before);
}

TEST(Timer, DestroyInsideCallback) {
    struct U { timer* t; std::atomic<int> n{0}; } u;
    u.t = new timer(0.01, [](void* p) {
        auto* u = static_cast<U*>(p);
        u->n++;
        delete u->t;   // the callback destroys its own timer
        return 0;
    }, &u, 1);
    size_t before = registered();
    u.t->timer_start();
    EXPECT_EQ(registered(), before + 1);
    ASSERT_TRUE(wait_until([&] { return u.n >= 1; }));
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(u.n, 1);
    EXPECT_EQ(registered(), before);
}

TEST(Timer, RestartResumesCallbacks) {
    Counter c;
    timer t(0.015, Counter::cb, &c, 1);
    t.timer_start();
    ASSERT_TRUE(wait_until([&] { return c.n >= 2; }));
    t.timer_stop();
    int stopped = c.n;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(c.n, stopped);
    t.timer_start();
    ASSERT_TRUE(wait_until([&] { return c.n >= stopped + 2; }));
    t.timer_start();   // starting a started timer just re-arms it
    ASSERT_TRUE(wait_until([&] { return c.n >= stopped + 4; }));
}

TEST(Timer, ModifyIntervalRearms) {
    Counter c;
    timer t(30.0, Counter::cb, &c, 0);
    t.timer_start();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(c.n, 0);
    auto start = Clock::now();
    EXPECT_EQ(t.timer_modify_internal(0.02), 0);
    ASSERT_TRUE(wait_until([&] { return c.n >= 1; }));
    EXPECT_GE(ms_since(start), 19.0);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(c.n, 1);
}

// Firings that pass while the poll thread is busy give one callback: the
// first callback of a 60 ms periodic timer stalls the poll thread until 10 ms
// after its fourth missed firing; the pending firings then give one callback
// at once, and the next one waits for the next period (~50 ms later).
// Without coalescing the third callback would follow the second at once.
TEST(Timer, CoalescedFirings) {
    struct U {
        timer* t;
        std::atomic<int> n{0};
        Clock::time_point stall_end, second, third;
    } u;
    timer t(0.06, [](void* p) {
        auto* u = static_cast<U*>(p);
        int n = ++u->n;
        if (n == 1) {
            std::this_thread::sleep_until(Clock::now() + 4 * 60ms + 10ms);
            u->stall_end = Clock::now();
        } else if (n == 2) {
            u->second = Clock::now();
        } else if (n == 3) {
            u->third = Clock::now();
            u->t->timer_stop();
        }
        return 0;
    }, &u, 1);
    u.t = &t;
    t.timer_start();
    ASSERT_TRUE(wait_until([&] { return u.n >= 3; }));
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(u.n, 3);
    double gap = std::chrono::duration<double, std::milli>(u.third - u.stall_end).count();
    EXPECT_GE(gap, 5.0);
}

// timer_stop from another thread while the callback runs waits for it; so
// does destruction, after which the user data can be freed.
TEST(Timer, StopFromAnotherThreadWaitsForRunningCallback) {
    struct U { std::atomic<bool> entered{false}, done{false}; std::atomic<int> n{0}; } u;
    timer t(0.01, [](void* p) {
        auto* u = static_cast<U*>(p);
        u->n++;
        u->entered = true;
        std::this_thread::sleep_for(100ms);
        u->done = true;
        return 0;
    }, &u, 1);
    t.timer_start();
    ASSERT_TRUE(wait_until([&] { return u.entered.load(); }));
    auto start = Clock::now();
    t.timer_stop();
    EXPECT_TRUE(u.done);
    EXPECT_GE(ms_since(start), 30.0);
    int n = u.n;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(u.n, n);
}

namespace {
std::atomic<int> g_destroy_done{0};
struct Heavy { std::atomic<bool> entered{false}; std::vector<int> data = std::vector<int>(1000, 1); };
}  // namespace

TEST(Timer, DestroyFromAnotherThreadWhileCallbackRuns) {
    for (int round = 0; round < 3; ++round) {
        auto* u = new Heavy;
        auto* t = new timer(0.005, [](void* p) {
            auto* u = static_cast<Heavy*>(p);
            u->entered = true;
            std::this_thread::sleep_for(40ms);
            for (int& x : u->data) x++;   // use-after-free if not waited for
            g_destroy_done++;
            return 0;
        }, u, 1);
        t->timer_start();
        ASSERT_TRUE(wait_until([&] { return u->entered.load(); }));
        int before = g_destroy_done;
        delete t;
        EXPECT_GT(g_destroy_done, before - 1);
        delete u;
    }
}

// A callback may start, modify and stop other timers without deadlock.
TEST(Timer, CallbackControlsOtherTimers) {
    Counter cb, cc;
    timer b(0.01, Counter::cb, &cb, 1);
    timer c(0.01, Counter::cb, &cc, 1);
    c.timer_start();
    ASSERT_TRUE(wait_until([&] { return cc.n >= 1; }));
    struct U { timer *b, *c; std::atomic<int> n{0}; } u{&b, &c};
    timer a(0.01, [](void* p) {
        auto* u = static_cast<U*>(p);
        u->b->timer_start();
        u->c->timer_stop();
        u->b->timer_modify_internal(0.012);
        u->n++;
        return 0;
    }, &u, 0);
    a.timer_start();
    ASSERT_TRUE(wait_until([&] { return u.n >= 1 && cb.n >= 2; }));
    int stopped = cc.n;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(cc.n, stopped);
    b.timer_stop();
}

// An event for a descriptor that is no longer registered is ignored: two
// timers firing in the same wake-up, the first one destroys the other.
TEST(Timer, EventOfRemovedTimerIgnored) {
    for (int round = 0; round < 20; ++round) {
        struct U { timer* other; std::atomic<int>* late; std::atomic<bool> gone{false}; };
        std::atomic<int> late{0};
        auto* ub = new U{nullptr, &late};
        auto* ua = new U{nullptr, &late};
        auto cb = [](void* p) {
            auto* u = static_cast<U*>(p);
            if (u->gone) (*u->late)++;      // called after destruction: wrong
            if (u->other) {
                U* peer = static_cast<U*>(u->other->timer_get_userdata());
                delete u->other;
                u->other = nullptr;
                peer->gone = true;
            }
            return 0;
        };
        timer* tb = new timer(0.02, cb, ub, 0);
        timer* ta = new timer(0.02, cb, ua, 0);
        ua->other = tb;
        ub->other = ta;
        ta->timer_start();
        tb->timer_start();
        ASSERT_TRUE(wait_until([&] { return ua->gone || ub->gone; }));
        std::this_thread::sleep_for(40ms);
        EXPECT_EQ(late, 0);
        // Exactly one of them destroyed the other; destroy the survivor.
        delete (ua->gone ? ub->other : ua->other);
        delete ua;
        delete ub;
    }
}

TEST(Timer, ManyTimersAtOnce) {
    const int kTimers = 200;   // more than one epoll batch (128)
    std::vector<std::unique_ptr<Counter>> counters;
    std::vector<std::unique_ptr<timer>> timers;
    size_t before = registered();
    for (int i = 0; i < kTimers; ++i) {
        counters.push_back(std::make_unique<Counter>());
        timers.push_back(std::make_unique<timer>(0.01 + 0.001 * (i % 40), Counter::cb,
                                                 counters.back().get(), i % 5 != 0));
    }
    for (auto& t : timers) t->timer_start();
    EXPECT_EQ(registered(), before + kTimers);
    ASSERT_TRUE(wait_until([&] {
        for (int i = 0; i < kTimers; ++i)
            if (counters[size_t(i)]->n < (i % 5 != 0 ? 3 : 1)) return false;
        return true;
    }, 5000ms));
    // Stop them from several threads at once.
    std::vector<std::thread> stoppers;
    for (int k = 0; k < 4; ++k)
        stoppers.emplace_back([&, k] {
            for (int i = k; i < kTimers; i += 4) timers[size_t(i)]->timer_stop();
        });
    for (auto& s : stoppers) s.join();
    EXPECT_EQ(registered(), before);
    std::vector<int> snap;
    for (auto& c : counters) snap.push_back(c->n);
    std::this_thread::sleep_for(80ms);
    for (int i = 0; i < kTimers; ++i) EXPECT_EQ(counters[size_t(i)]->n, snap[size_t(i)]);
    for (int i = 0; i < kTimers; i += 5) EXPECT_EQ(counters[size_t(i)]->n, 1) << i;
}

// Many threads create, start, modify, stop and destroy timers firing every
// millisecond, and share some timers that they start and stop concurrently.
TEST(Timer, ConcurrentStartStopStress) {
    std::atomic<long> fired{0};
    auto cb = [](void* p) {
        static_cast<std::atomic<long>*>(p)->fetch_add(1);
        return 0;
    };
    std::vector<std::unique_ptr<timer>> shared;
    for (int i = 0; i < 4; ++i) shared.push_back(std::make_unique<timer>(0.001, cb, &fired, 1));
    std::vector<std::thread> ts;
    for (int k = 0; k < 4; ++k)
        ts.emplace_back([&, k] {
            std::mt19937 rng{unsigned(k)};
            for (int i = 0; i < 150; ++i) {
                auto own = std::make_unique<std::atomic<long>>(0);
                auto t = std::make_unique<timer>(0.001, cb, own.get(), int(rng() % 2));
                t->timer_start();
                timer& s = *shared[rng() % shared.size()];
                if (rng() % 2) s.timer_start(); else s.timer_stop();
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
                if (rng() % 3 == 0) t->timer_modify_internal(0.002);
                if (rng() % 2) t->timer_stop();
                t.reset();     // destroyed, then its user data
                own.reset();
            }
        });
    for (auto& t : ts) t.join();
    for (auto& s : shared) s->timer_stop();
    EXPECT_GT(fired.load(), 0);
}

// ---------------------------------------------------------------- exit

// A poll object of one's own starts its thread and ends it on destruction,
// by waking and joining it; deactivation and shutdown are idempotent.
TEST(TimerExit, PrivatePollObjectStartsAndJoinsItsThread) {
    int before = count_threads();
    {
        timers_poll p(16);
        EXPECT_EQ(p.is_active(), 1);
        EXPECT_EQ(count_threads(), before + 1);
        EXPECT_FALSE(p.on_poll_thread());
    }
    EXPECT_EQ(count_threads(), before);
    {
        timers_poll p(16);
        EXPECT_EQ(p.timers_poll_deactive(), 0);
        EXPECT_EQ(p.is_active(), 0);
        EXPECT_EQ(p.shutdown(), 0);
        EXPECT_EQ(p.shutdown(), 0);
        EXPECT_EQ(count_threads(), before);
    }
    EXPECT_EQ(timers_poll::get_poll()->is_active(), 1);
}


namespace {
// Constructed before the poll object (this file precedes the library on the
// link line), so destroyed after the poll thread has been ended: stopping
// then must be safe.
struct LateStopper {
    timer t{0.002, [](void*) { return 0; }, nullptr, 1};
    bool armed = false;
    ~LateStopper() {
        if (!armed) return;
        int active = timers_poll::get_poll()->is_active();
        t.timer_stop();
        fprintf(stderr, "late-stop active=%d registered=%zu\n", active,
                timers_poll::get_poll()->timer_count());
    }
} g_late;
}  // namespace

TEST(TimerExit, ExitWhileTimersRunIsClean) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            g_late.armed = true;
            g_late.t.timer_start();
            static Counter c;
            static timer busy(0.001, [](void* p) {
                static_cast<Counter*>(p)->n++;
                std::this_thread::sleep_for(2ms);
                return 0;
            }, &c, 1);
            busy.timer_start();
            wait_until([&] { return c.n >= 5; });
            exit(0);
        },
        ::testing::ExitedWithCode(0), "late-stop active=0 registered=0");
}

TEST(TimerExit, ExitFromInsideACallback) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static timer t(0.005, [](void*) -> int { exit(3); }, nullptr, 0);
            t.timer_start();
            std::this_thread::sleep_for(5s);
            exit(1);
        },
        ::testing::ExitedWithCode(3), "");
}

// The library (here a module that links the core) can be unloaded while a
// timer runs: its poll thread is ended and joined before the code goes away.
TEST(TimerExit, UnloadJoinsThePollThread) {
    int threads_before = count_threads();
    void* h = dlopen(TIMER_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(h) << dlerror();
    auto start = reinterpret_cast<int (*)(double)>(dlsym(h, "module_timer_start"));
    auto count = reinterpret_cast<int (*)()>(dlsym(h, "module_timer_count"));
    ASSERT_TRUE(start && count);
    EXPECT_EQ(count_threads(), threads_before + 1);   // started at load
    start(0.001);
    ASSERT_TRUE(wait_until([&] { return count() >= 5; }));
    ASSERT_EQ(dlclose(h), 0);
    EXPECT_EQ(dlopen(TIMER_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "module not unloaded (a STB_GNU_UNIQUE symbol makes a DSO undeletable)";
    EXPECT_EQ(count_threads(), threads_before);
    std::this_thread::sleep_for(30ms);   // a left-over thread would crash here
}
