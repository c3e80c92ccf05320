// The game extension: levels and their played time on the manual clock, payments, purchases,
// items and bonuses, as game events.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "sdk/analytics/collection/TallyGameAnalytics.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallySession.h"
#include "uikit/UIApplication.h"

namespace {

class TallyGameAnalyticsTest : public tallytest::TallyTest {
  protected:
    void SetUp() override {
        TallyTest::SetUp();
        TallySession::sharedInstance()->setSessionStatus(1);
    }
    void TearDown() override {
        TallyGameAnalytics::resetForTesting();
        TallyTest::TearDown();
    }
    Ref<TallyGameAnalytics> game() { return TallyGameAnalytics::sharedInstance(); }
    std::vector<Ref<TANEkv>> events() {
        testsupport::drainMainRunLoop();
        std::vector<Ref<TANEkv>> out;
        for (auto& item : TallyInternal::sharedInstance()->ekv())
            out.push_back(std::dynamic_pointer_cast<TANEkv>(item));
        return out;
    }
};

TEST_F(TallyGameAnalyticsTest, StartThenFinish) {
    game()->startLevel(std::string("  "));
    TallyGameAnalytics::setUserLevelId(7);
    game()->startLevel(std::string("L1"));
    clock().jump(2);
    game()->finishLevel(std::string("L1"));
    auto e = events();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(*e[0]->type, "gkv");
    EXPECT_EQ(*e[0]->id, "level");
    EXPECT_EQ(*e[0]->values["status"].string(), "0");
    EXPECT_EQ(*e[0]->values["user_level"].string(), "7");
    EXPECT_EQ(*e[1]->values["status"].string(), "1");
    EXPECT_EQ(e[1]->values["duration"].longLongValue(), 2000);
    EXPECT_TRUE(game()->levels().empty());
}

TEST_F(TallyGameAnalyticsTest, PausedTimeDoesNotCount) {
    game()->startLevel(std::string("L"));
    clock().jump(1);
    game()->pauseLevel(std::string("L"));
    clock().jump(5);
    game()->resumeLevel(std::string("L"));
    clock().jump(1);
    game()->finishLevel(std::string("L"));
    EXPECT_EQ(events().back()->values["duration"].longLongValue(), 2000);
}

TEST_F(TallyGameAnalyticsTest, BackgroundTimeDoesNotCount) {
    auto app = UIApplication::sharedApplication();
    game()->startLevel(std::string("L"));
    clock().jump(1);
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationWillResignActiveNotification,
                                                                app);
    clock().jump(100);
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationDidBecomeActiveNotification,
                                                                app);
    clock().jump(1);
    game()->failLevel(std::nullopt);
    auto last = events().back();
    EXPECT_EQ(*last->values["status"].string(), "-1");
    EXPECT_EQ(*last->values["level"].string(), "L");
    EXPECT_EQ(last->values["duration"].longLongValue(), 2000);
}

TEST_F(TallyGameAnalyticsTest, FinishingANeverStartedLevel) {
    game()->finishLevel(std::string("ghost"));
    auto e = events();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0]->values["duration"].longLongValue(), 0);
    EXPECT_TRUE(game()->levels().empty());
}

TEST_F(TallyGameAnalyticsTest, PaymentsPurchasesAndBonuses) {
    game()->startLevel(std::string("L"));
    events();
    TallyInternal::sharedInstance()->ekv().clear();
    game()->pay(0.005, 1, 0);
    game()->pay(1.5, 2, 0);
    game()->buy(std::string("wheel"), 0, 1);
    game()->buy(std::string("wheel"), 1, -1);
    game()->buy(std::string("wheel"), 2, 1.25);
    game()->use(std::string("nitro"), 1, 0);
    game()->bonus(-1, 3);
    game()->bonus(2.5, 3);
    game()->pay(10, 1, std::string("rim"), 2, 3);
    game()->bonus(std::string("gift"), 1, 2, 4);
    auto e = events();
    ASSERT_EQ(e.size(), 8u);
    EXPECT_EQ(*e[0]->id, "pay");
    EXPECT_EQ(e[0]->values["cash"].longLongValue(), 150);
    EXPECT_EQ(e[0]->values["coin"].longLongValue(), 0);
    EXPECT_EQ(*e[0]->values["level"].string(), "L");
    EXPECT_EQ(*e[1]->id, "buy");
    EXPECT_DOUBLE_EQ(e[1]->values["coin"].doubleValue(), 250.0);
    EXPECT_EQ(*e[2]->id, "use");
    EXPECT_EQ(*e[3]->id, "bonus");
    EXPECT_EQ(e[3]->values["coin"].longLongValue(), 250);
    EXPECT_EQ(*e[4]->id, "pay");
    EXPECT_EQ(*e[5]->id, "buy");
    EXPECT_EQ(*e[6]->id, "bonus");
    EXPECT_EQ(*e[7]->id, "buy");
}

TEST_F(TallyGameAnalyticsTest, DeprecatedCallsOnlyLog) {
    TallyGameAnalytics::setUserLevelDeprecated(std::string("9"));
    TallyGameAnalytics::setUserID(std::string("u"), 1, 20, std::string("p"));
    EXPECT_TRUE(log_.contains("setUserLevel is deprecated"));
    EXPECT_TRUE(log_.contains("setUserID: is deprecated"));
    EXPECT_FALSE(game()->userLevel());
    game()->clean();
}

}  // namespace
