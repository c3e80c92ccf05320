// Copy on write across threads: a value changed on one thread while a copy of it is read and
// dropped on another. Under the thread sanitizer, a change made in place without being ordered
// after the other holder's reads is reported.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "foundation/NSData.h"

namespace {

TEST(NSDataThreadsTest, AnEditAfterTheOtherHolderLetGoIsOrderedAfterItsReads) {
    NSData data = NSData::fromString("abc");
    for (int round = 0; round < 50; ++round) {
        std::atomic<bool> dropped{false};
        std::thread reader([&dropped, expected = data.toString(), copy = NSData(data)]() mutable {
            EXPECT_EQ(copy.toString(), expected);
            copy = NSData();
            dropped.store(true, std::memory_order_relaxed);  // orders nothing by itself
        });
        while (!dropped.load(std::memory_order_relaxed)) std::this_thread::yield();
        data.mutableBytes()[0] = static_cast<std::uint8_t>('a' + round % 26);  // the last holder now
        data.appendBytes("d", 1);
        reader.join();
    }
    EXPECT_EQ(data.length(), 53u);
}

TEST(NSDataThreadsTest, AnEditWhileAnotherThreadHoldsACopyLeavesTheCopyAlone) {
    NSData data = NSData::fromString("abc");
    std::atomic<bool> edited{false};
    std::thread reader([&edited, copy = NSData(data)] {
        while (!edited.load(std::memory_order_acquire)) std::this_thread::yield();
        EXPECT_EQ(copy.toString(), "abc");
    });
    data.mutableBytes()[0] = 'x';
    data.appendBytes("d", 1);
    edited.store(true, std::memory_order_release);
    reader.join();
    EXPECT_EQ(data.toString(), "xbcd");
}

TEST(NSDataTest, AssignmentsShareAndDetach) {
    NSData a = NSData::fromString("abc");
    NSData b;
    b = a;
    b = b;  // self-assignment keeps the bytes
    NSData c = std::move(b);
    EXPECT_TRUE(b.empty());
    c.appendBytes("d", 1);
    a = std::move(c);
    EXPECT_EQ(a.toString(), "abcd");
    a.setLength(0);
    EXPECT_TRUE(a.empty());
}

}  // namespace
