#include "foundation/NSProcessInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "dispatch/Clock.h"
#include "tests/support/TestSupport.h"

namespace {

class NSProcessInfoTest : public ::testing::Test {
  protected:
    Ref<NSProcessInfo> info = NSProcessInfo::processInfo();
    NSOperatingSystemVersion saved = info->operatingSystemVersion();
    double savedFoundation = NSFoundationVersionNumber;
    void TearDown() override {
        NSProcessInfo::setOperatingSystemVersion(saved);
        NSFoundationVersionNumber = savedFoundation;
        PlatformClock::useRealClock();
    }
};

TEST_F(NSProcessInfoTest, ProcessFacts) {
    EXPECT_EQ(info, NSProcessInfo::processInfo());
    EXPECT_EQ(info->processIdentifier(), static_cast<int>(::getpid()));
    auto args = info->arguments();
    ASSERT_FALSE(args.empty());
    EXPECT_NE(args[0].find("test_foundation"), std::string::npos);
    EXPECT_EQ(info->processName(), "test_foundation");
    EXPECT_FALSE(info->hostName().empty());
    EXPECT_GT(info->physicalMemory(), 0u);
    EXPECT_GE(info->processorCount(), 1u);
    EXPECT_GE(info->activeProcessorCount(), 1u);
}

TEST_F(NSProcessInfoTest, ProcessNameCanBeSet) {
    std::string before = info->processName();
    info->setProcessName("CarTuning");
    EXPECT_EQ(info->processName(), "CarTuning");
    info->setProcessName(before);
}

TEST_F(NSProcessInfoTest, EnvironmentIsCurrent) {
    ::setenv("APP_PROCESS_INFO_TEST", "a=b", 1);
    auto env = info->environment();
    EXPECT_EQ(env["APP_PROCESS_INFO_TEST"].stringValue(), "a=b");  // only the first "=" splits
    ::unsetenv("APP_PROCESS_INFO_TEST");
    EXPECT_TRUE(info->environment()["APP_PROCESS_INFO_TEST"].isNil());
}

TEST_F(NSProcessInfoTest, GloballyUniqueStringsDoNotRepeatAcrossThreads) {
    std::mutex mutex;
    std::set<std::string> seen;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                std::string s = info->globallyUniqueString();
                std::lock_guard<std::mutex> guard(mutex);
                seen.insert(s);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(seen.size(), 2000u);
    std::string one = *seen.begin();
    EXPECT_GE(one.size(), 36u);
    EXPECT_NE(one.find("-" + std::to_string(::getpid()) + "-"), std::string::npos);
}

TEST_F(NSProcessInfoTest, UptimeFollowsThePlatformClock) {
    PlatformClock::useManualClock();
    double start = info->systemUptime();
    PlatformClock::advance(12.5);
    EXPECT_DOUBLE_EQ(info->systemUptime() - start, 12.5);
}

TEST_F(NSProcessInfoTest, DefaultSystemIsOfThe8Line) {
    if (std::getenv("APP_OS_VERSION")) GTEST_SKIP() << "configured by the environment";
    auto v = info->operatingSystemVersion();
    EXPECT_EQ(v.majorVersion, 8);
    EXPECT_EQ(v.minorVersion, 4);
    EXPECT_EQ(v.patchVersion, 0);
    EXPECT_EQ(info->operatingSystemVersionString(), "Version 8.4 (Build 0)");
    // The numbers agree with that system: 8.x but not 9, and a ring-width check above 847.2.
    EXPECT_EQ(std::floor(NSFoundationVersionNumber.load()), 1144);
    EXPECT_GT(std::floor(NSFoundationVersionNumber.load()), NSFoundationVersionNumber_iOS_8_1);
    EXPECT_GE(kCFCoreFoundationVersionNumber.load(), kCFCoreFoundationVersionNumber_iOS_7_0);
}

TEST_F(NSProcessInfoTest, AtLeastComparesPartByPart) {
    NSProcessInfo::setOperatingSystemVersion({8, 4, 1});
    EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({8, 0, 0}));
    EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({8, 4, 1}));
    EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({7, 9, 9}));
    EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({8, 4, 2}));
    EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({8, 5, 0}));
    EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({9, 0, 0}));
    EXPECT_EQ(info->operatingSystemVersionString(), "Version 8.4.1 (Build 0)");
}

TEST_F(NSProcessInfoTest, FoundationVersionCanBeSetForOlderSystems) {
    NSFoundationVersionNumber = NSFoundationVersionNumber_iOS_7_1;
    EXPECT_LE(std::floor(NSFoundationVersionNumber.load()), 1047);
    NSFoundationVersionNumber = 1240.1;
    EXPECT_GT(std::floor(NSFoundationVersionNumber.load()), 1144);
}

TEST_F(NSProcessInfoTest, VersionTextOmitsAZeroPatch) {
    EXPECT_EQ(NSProcessInfo::versionText({8, 4, 0}), "8.4");
    EXPECT_EQ(NSProcessInfo::versionText({9, 0, 2}), "9.0.2");
}

TEST(NSProcessInfoParse, AcceptsOneToThreeNumbers) {
    NSOperatingSystemVersion v;
    ASSERT_TRUE(NSProcessInfo::parseVersion("9", v));
    EXPECT_EQ(v.majorVersion, 9);
    EXPECT_EQ(v.minorVersion, 0);
    ASSERT_TRUE(NSProcessInfo::parseVersion("8.4.1", v));
    EXPECT_EQ(v.patchVersion, 1);
    for (const char* bad : {"", ".", "8.", ".8", "8..4", "8.4.1.2", "v8", "8.x", "-1", "8.4 ", " 8",
                            "99999999999999999999999"}) {
        NSOperatingSystemVersion untouched{1, 2, 3};
        EXPECT_FALSE(NSProcessInfo::parseVersion(bad, untouched)) << bad;
        EXPECT_EQ(untouched.majorVersion, 1) << bad;
    }
}

TEST(NSProcessInfoParse, MutatedVersionTextNeverCrashes) {
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::string text = testsupport::mutate("8.4.1", seed);
        NSOperatingSystemVersion v{-1, -1, -1};
        if (NSProcessInfo::parseVersion(text, v)) {
            EXPECT_GE(v.majorVersion, 0) << text;
            EXPECT_GE(v.minorVersion, 0) << text;
            EXPECT_GE(v.patchVersion, 0) << text;
        }
    }
}

}  // namespace
