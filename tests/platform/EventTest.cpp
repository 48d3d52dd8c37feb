#include "platform/Event.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

namespace kestrune {
namespace {

using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSignalledUntilReset) {
    Event e(Event::Reset::Manual);
    EXPECT_FALSE(e.wait(1ms));
    e.set();
    EXPECT_TRUE(e.wait(0ms));
    EXPECT_TRUE(e.wait(0ms));
    e.reset();
    EXPECT_FALSE(e.wait(1ms));
}

TEST(Event, AutoResetReleasesOneWaitPerSet) {
    Event e(Event::Reset::Auto, true);
    EXPECT_TRUE(e.wait(0ms));
    EXPECT_FALSE(e.isSet());
    EXPECT_FALSE(e.wait(1ms));
}

TEST(Event, WaitWakesWhenAnotherThreadSets) {
    Event e(Event::Reset::Manual);
    std::thread t([&] {
        std::this_thread::sleep_for(10ms);
        e.set();
    });
    EXPECT_TRUE(e.wait());
    t.join();
}

TEST(Event, WaitAnyReturnsLowestSignalledAndConsumesAutoReset) {
    Event a(Event::Reset::Auto), b(Event::Reset::Auto), c(Event::Reset::Manual);
    std::array<Event*, 3> all{&a, &b, &c};
    EXPECT_FALSE(Event::waitAny(all, 1ms).has_value());
    b.set();
    c.set();
    EXPECT_EQ(Event::waitAny(all, 0ms), 1u);
    EXPECT_EQ(Event::waitAny(all, 0ms), 2u);  // b consumed, c is manual
    EXPECT_EQ(Event::waitAny(all, 0ms), 2u);
}

TEST(Event, WaitAnyWakesOnALaterSetAndNeverLosesOne) {
    Event a(Event::Reset::Auto), b(Event::Reset::Auto);
    std::array<Event*, 2> both{&a, &b};
    std::atomic<int> delivered = 0;
    std::thread waiter([&] {
        for (int i = 0; i < 200; ++i)
            if (Event::waitAny(both, 5s)) ++delivered;
    });
    for (int i = 0; i < 200; ++i) {
        (i % 2 ? a : b).set();
        while (a.isSet() || b.isSet()) std::this_thread::yield();
    }
    waiter.join();
    EXPECT_EQ(delivered, 200);
}

TEST(Event, WaitAnyTakesAtMost64Events) {
    std::vector<std::unique_ptr<Event>> owned;
    std::vector<Event*> events;
    for (int i = 0; i < 65; ++i) {
        owned.push_back(std::make_unique<Event>(Event::Reset::Auto));
        events.push_back(owned.back().get());
    }
    owned[63]->set();
    EXPECT_EQ(Event::waitAny(std::span(events).first(64), 0ms), 63u);
    EXPECT_THROW(Event::waitAny(events, 0ms), std::invalid_argument);
}

}  // namespace
}  // namespace kestrune
