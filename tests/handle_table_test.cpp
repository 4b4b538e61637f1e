// The backends' handle table under several threads at once: every handle
// names its own object and is taken out once, and an object ends after the
// table's lock is released.
#include "platform/handle_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <latch>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Table = platform::HandleTable<int>;
constexpr int THREADS = 4, PER_THREAD = 2000;

// Runs `work(t)` on THREADS threads released at the same moment.
void race(const std::function<void(int)>& work) {
    std::latch start(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) threads.emplace_back([&, t] { start.arrive_and_wait(), work(t); });
    for (std::thread& thread : threads) thread.join();
}

TEST(HandleTableThreads, EveryHandleNamesItsOwnObjectAndIsTakenOnce) {
    Table table;
    std::vector<std::vector<Table::Handle>> handles(THREADS);
    std::atomic<int> wrong{0}, taken{0};
    race([&](int t) {
        for (int i = 0; i < PER_THREAD; ++i) {
            handles[t].push_back(table.add(std::make_shared<int>(t * PER_THREAD + i)));
            const std::shared_ptr<int> found = table.find(handles[t].back());
            if (!found || *found != t * PER_THREAD + i) ++wrong;
        }
    });
    EXPECT_EQ(wrong, 0);
    std::set<Table::Handle> distinct{0};
    for (const auto& own : handles) distinct.insert(own.begin(), own.end());
    EXPECT_EQ(distinct.size(), std::size_t{THREADS * PER_THREAD + 1}) << "a handle given twice, or 0";
    // Every thread tries to take every handle: each is taken exactly once.
    race([&](int) {
        for (const Table::Handle handle : distinct) taken += table.take(handle) != nullptr;
    });
    EXPECT_EQ(taken, THREADS * PER_THREAD);
}

// An object whose end takes time (an unregistration waiting for a callback,
// a released interface) must not hold up another thread's lookup.
TEST(HandleTableThreads, AnObjectEndsOutsideTheLock) {
    Table table;
    auto looked_up = std::make_shared<std::promise<void>>();
    std::future<void> lookup = looked_up->get_future();
    bool lookup_ran_meanwhile = false;
    const auto ends_slowly = [&](int* object) {
        std::thread([&table, looked_up] { table.find(1), looked_up->set_value(); }).detach();
        lookup_ran_meanwhile = lookup.wait_for(2s) == std::future_status::ready;
        delete object;
    };
    table.erase(table.add(std::shared_ptr<int>(new int(0), ends_slowly)));
    EXPECT_TRUE(lookup_ran_meanwhile) << "a lookup waited for an object to end";
    EXPECT_EQ(lookup.wait_for(5s), std::future_status::ready);  // over before the table goes
}

}  // namespace
