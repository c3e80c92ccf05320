#include "foundation/NSRandom.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <thread>
#include <vector>

namespace {

class NSRandomTest : public ::testing::Test {
  protected:
    void TearDown() override { NSRandomReseedFromSystem(); }
};

TEST_F(NSRandomTest, SeededSourceRepeats) {
    foundation_testing::seedRandom(42);
    std::vector<std::uint32_t> first;
    for (int i = 0; i < 20; ++i) first.push_back(arc4random());
    foundation_testing::seedRandom(42);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(arc4random(), first[i]);
    foundation_testing::seedRandom(43);
    int same = 0;
    for (int i = 0; i < 20; ++i) same += arc4random() == first[i];
    EXPECT_LT(same, 2);
}

TEST_F(NSRandomTest, AllThreeFunctionsShareTheStream) {
    foundation_testing::seedRandom(1);
    std::uint32_t a = arc4random();
    std::uint8_t bytes[4];
    arc4random_buf(bytes, sizeof bytes);
    foundation_testing::seedRandom(1);
    std::uint8_t all[8];
    arc4random_buf(all, sizeof all);
    std::uint32_t b;
    std::memcpy(&b, all, 4);
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::memcmp(bytes, all + 4, 4), 0);
    arc4random_buf(all, 0);  // a zero length is fine
}

TEST_F(NSRandomTest, ReseedingFromTheSystemLeavesTheSequence) {
    foundation_testing::seedRandom(99);
    std::uint32_t seeded[4];
    for (auto& v : seeded) v = arc4random();
    foundation_testing::seedRandom(99);
    NSRandomReseedFromSystem();
    int same = 0;
    for (auto v : seeded) same += arc4random() == v;
    EXPECT_LT(same, 2);
}

TEST_F(NSRandomTest, AForkedChildDrawsOtherNumbers) {
    NSRandomReseedFromSystem();
    (void)arc4random();
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::uint32_t v = arc4random();
        ssize_t written = ::write(pipeEnds[1], &v, sizeof v);
        ::_exit(written == sizeof v ? 0 : 1);
    }
    std::uint32_t parent = arc4random(), fromChild = 0;
    ASSERT_EQ(::read(pipeEnds[0], &fromChild, sizeof fromChild), static_cast<ssize_t>(sizeof fromChild));
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    EXPECT_NE(parent, fromChild);
}

TEST_F(NSRandomTest, UniformStaysInBounds) {
    foundation_testing::seedRandom(5);
    EXPECT_EQ(arc4random_uniform(0), 0u);
    EXPECT_EQ(arc4random_uniform(1), 0u);
    for (std::uint32_t bound : {2u, 3u, 7u, 1000u, 0x80000001u, 0xffffffffu}) {
        for (int i = 0; i < 2000; ++i) EXPECT_LT(arc4random_uniform(bound), bound);
    }
}

TEST_F(NSRandomTest, UniformIsEvenlySpread) {
    foundation_testing::seedRandom(2024);
    // A chi-square test over 6 buckets with 60,000 draws; 20.5 is the 0.001 tail for 5 degrees.
    constexpr int kBuckets = 6, kDraws = 60000;
    std::array<int, kBuckets> counts{};
    for (int i = 0; i < kDraws; ++i) ++counts[arc4random_uniform(kBuckets)];
    double chi = 0, expected = double(kDraws) / kBuckets;
    for (int c : counts) chi += (c - expected) * (c - expected) / expected;
    EXPECT_LT(chi, 20.5);
    // A bound just above 2^31 is where modulo bias would double the low half's chances.
    std::uint32_t bound = 0x80000001u;
    int low = 0;
    for (int i = 0; i < 20000; ++i) low += arc4random_uniform(bound) < bound / 2;
    EXPECT_NEAR(low, 10000, 400);
}

TEST_F(NSRandomTest, BitsAreBalanced) {
    foundation_testing::seedRandom(77);
    std::array<int, 32> ones{};
    constexpr int kDraws = 20000;
    for (int i = 0; i < kDraws; ++i) {
        std::uint32_t v = arc4random();
        for (int b = 0; b < 32; ++b) ones[b] += (v >> b) & 1;
    }
    for (int b = 0; b < 32; ++b) EXPECT_NEAR(ones[b], kDraws / 2, 500) << "bit " << b;
}

TEST_F(NSRandomTest, SafeFromManyThreads) {
    foundation_testing::seedRandom(3);
    std::vector<std::thread> threads;
    std::vector<std::vector<std::uint32_t>> drawn(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                drawn[t].push_back(t % 2 ? arc4random() : arc4random_uniform(1u << 31));
                std::uint8_t buf[3];
                arc4random_buf(buf, sizeof buf);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (auto& d : drawn) EXPECT_EQ(d.size(), 5000u);
}

}  // namespace
