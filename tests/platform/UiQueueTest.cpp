#include "platform/UiQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace kestrune {
namespace {

using namespace std::chrono_literals;

TEST(UiQueue, PostedCallsRunOnTheUiThreadInOrder) {
    UiQueue ui;
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            ui.post([&, i] {
                EXPECT_TRUE(ui.isUiThread());
                order.push_back(i);
            });
    });
    worker.join();
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(ui.processPending(), 3);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(UiQueue, InvokeWaitsForTheUiThreadAndCarriesExceptions) {
    UiQueue ui;
    bool ran = false;
    bool threw = false;
    std::atomic<bool> done = false;
    std::thread worker([&] {
        ui.invoke([&] { ran = true; });
        try {
            ui.invoke([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            threw = std::string(e.what()) == "boom";
        }
        done = true;
    });
    while (!done) ui.waitAndProcess(10ms);
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(threw);
}

TEST(UiQueue, InvokeOnTheUiThreadRunsAtOnce) {
    UiQueue ui;
    int n = 0;
    ui.invoke([&] { ++n; });
    EXPECT_EQ(n, 1);
}

TEST(UiQueue, JoinPumpingReleasesAThreadBlockedInInvoke) {
    UiQueue ui;
    int calls = 0;
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) ui.invoke([&] { ++calls; });
    });
    ui.joinPumping(worker);
    EXPECT_FALSE(worker.joinable());
    EXPECT_EQ(calls, 5);
}

TEST(UiQueue, WakeHandlerFiresOnPost) {
    UiQueue ui;
    std::atomic<int> wakes = 0;
    ui.setWakeHandler([&] { ++wakes; });
    std::thread([&] { ui.post([] {}); }).join();
    EXPECT_EQ(wakes, 1);
    ui.processPending();
}

}  // namespace
}  // namespace kestrune
