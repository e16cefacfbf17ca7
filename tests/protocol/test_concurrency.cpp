// Several reader threads decoding for different devices through one shared
// protocol object, while the application changes the language, a driver sets
// hooks and registers objects, and commands are encoded.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include <json/json.h>

#include "core/log.h"
#include "helpers.h"

namespace {

void identity_hook(te_STR_ID, Json::Value&) {}

// Frames whose texts are the same in both languages.
const bytes_t frames = {0xFF, 0x01, 0xE7, 0xFF, 0x02, 0xE0, 0x7D, 0xFF, 0x04, 0x83, 0x12, 0x34, 0x5F,
                        0xFF, 0x02, 0x81, 0x10, 0xFF, 0x01, 0x99};

std::string expected_for(int id)
{
    std::string d = "{\"dev\":" + std::to_string(id);
    return d + ",\"event\":\"手柄摘机\"}\n" + d + ",\"event\":\"电话按键\",\"value\":\"1\"}\n" + d +
           ",\"event\":\"厂家代码信息\",\"value\":\"12345\"}\n" + d + ",\"event\":\"取版本号\",\"value\":16}\n";
}

struct quiet_log {
    int saved = log_level;
    quiet_log() { __atomic_store_n(&log_level, 2, __ATOMIC_RELAXED); }
    ~quiet_log() { __atomic_store_n(&log_level, saved, __ATOMIC_RELAXED); }
};

void reader(CProtocol* p, int id, int rounds, std::atomic<int>* failures)
{
    std::mt19937 rng(static_cast<unsigned>(id));
    devinfo_t dev;
    dev.id = id;
    const std::string want = expected_for(id);
    for (int r = 0; r < rounds; ++r) {
        std::string out;
        size_t pos = 0;
        while (pos < frames.size()) {
            size_t n = 1 + rng() % 5;
            n = std::min(n, frames.size() - pos);
            p->decode(&dev, const_cast<unsigned char*>(frames.data() + pos), static_cast<int>(n), out);
            pos += n;
        }
        if (out != want)
            failures->fetch_add(1);
    }
}

TEST(Concurrency, DevicesShareOneProtocolObject)
{
    quiet_log quiet;
    auto* shared = new CProtocol("test_shared");
    CProtocol::regist(shared);
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};

    std::vector<std::thread> threads;
    for (int id = 1; id <= 4; ++id)
        threads.emplace_back(reader, id % 2 ? &prot_qm : shared, id, 400, &failures);

    std::thread app([&] {
        unsigned char buf[256];
        int i = 0;
        while (!stop.load()) {
            g_language = i & 1;
            shared->regist_evt_dec_hook((i & 2) ? identity_hook : nullptr);
            if (prot_qm.encode("DTMF发送", "0123456789", buf, sizeof buf) != 14)
                failures.fetch_add(1);
            std::string list;
            if (prot_qm.get_list("event", list) <= 0)
                failures.fetch_add(1);
            if (CProtocol::get_prot_by_name("test_shared") != shared)
                failures.fetch_add(1);
            {
                CProtocol other("test_other");  // leaves the registry when destroyed
                CProtocol::regist(&other);
                if (CProtocol::get_prot_by_name("test_other") != &other)
                    failures.fetch_add(1);
            }
            std::string text;
            unsigned char row = 137;
            devinfo_t dev;
            dev.id = 99;
            prot_qm.decode(&dev, &row, 0, text);
            ++i;
        }
    });

    for (size_t t = 0; t < threads.size(); ++t)
        threads[t].join();
    stop = true;
    app.join();
    g_language = 0;
    EXPECT_EQ(failures.load(), 0);

    CProtocol::freeAll();
    EXPECT_EQ(CProtocol::get_prot_by_name("test_shared"), nullptr);
}

TEST(Concurrency, EncodeFromManyThreads)
{
    quiet_log quiet;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            unsigned char buf[256];
            for (int i = 0; i < 2000; ++i) {
                if (prot_qm.encode("写序列号", "12345", buf, sizeof buf) != 6)
                    failures.fetch_add(1);
                if (prot_qm.encode("VOIP_Start", nullptr, buf, sizeof buf) != 3)
                    failures.fetch_add(1);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
