// What the statistics and device-id services read of the SDK: the key hash, the URL serialiser,
// the app record and the aid.

#include <gtest/gtest.h>

#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"
#include "sdk/weibo/bridge/WeiboTesting.h"

namespace {

class WeiboOpenAPITest : public ::testing::Test {
  protected:
    void SetUp() override { weibo_testing::resetSDK(); }
    void TearDown() override {
        weibo_testing::resetSDK();
        foundation_testing::resetBundles();
    }
};

TEST_F(WeiboOpenAPITest, TheKeyHashIsFixed) {
    EXPECT_EQ(WeiboSDK::hashKey(), "7c3e91a05fd24b6e8a17c9d2e0b4f583");
    EXPECT_EQ(WeiboSDK::hashKey().size(), 32u);
}

TEST_F(WeiboOpenAPITest, SerialisingANilURLGivesNil) {
    EXPECT_FALSE(WeiboSDK::serializeURLString(std::nullopt, Dictionary{{"a", "b"}}));
}

TEST_F(WeiboOpenAPITest, ParametersGoAfterAQuestionMarkInOrder) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("source", "3904718265");
    params.setObject("n", 12);
    params.setObject("empty", "");
    EXPECT_EQ(WeiboSDK::serializeURLString(std::string("https://api.example.com/2/x.json"), params),
              "https://api.example.com/2/x.json?source=3904718265&n=12&empty=");
}

TEST_F(WeiboOpenAPITest, AnExistingQueryIsContinuedWithAnAmpersand) {
    EXPECT_EQ(WeiboSDK::serializeURLString(std::string("https://h/p?x=1"), Dictionary{{"y", "2"}}),
              "https://h/p?x=1&y=2");
}

TEST_F(WeiboOpenAPITest, TheFragmentMovesToTheEnd) {
    EXPECT_EQ(WeiboSDK::serializeURLString(std::string("https://h/p?x=1#frag"), Dictionary{{"y", "2"}}),
              "https://h/p?x=1&y=2#frag");
    EXPECT_EQ(WeiboSDK::serializeURLString(std::string("https://h/p#"), Dictionary{{"y", "2"}}),
              "https://h/p?y=2#");
}

TEST_F(WeiboOpenAPITest, ValuesAreEscapedAndKeysAreNot) {
    std::string reserved = "!*'();:@&=+$,/?%#[] 改";
    EXPECT_EQ(WeiboSDK::serializeURLString(std::string("https://h/p"), Dictionary{{"k&y", reserved}}),
              "https://h/p?k&y=%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%20%E6%94%B9");
    EXPECT_EQ(WeiboSDK::serializeURLString(std::string("https://h/p"), Dictionary{{"t", "a-b.c_d~e"}}),
              "https://h/p?t=a-b.c_d~e");
}

TEST_F(WeiboOpenAPITest, NoParametersLeaveTheSeparator) {
    EXPECT_EQ(WeiboSDK::serializeURLString(std::string("https://h/p"), Dictionary{}), "https://h/p?");
}

TEST_F(WeiboOpenAPITest, TheAppRecordFollowsRegistrationBundleAndStoredAid) {
    NSBundle::setInfoValue("CFBundleIdentifier", "com.example.cars");
    auto before = WeiboSDK3rdApp::currentApp();
    EXPECT_FALSE(before->appKey());
    EXPECT_FALSE(before->aid());
    EXPECT_EQ(before->bundleID(), "com.example.cars");

    int fetches = 0;
    WeiboSDK::setAidProviders([] { return std::optional<std::string>("stored-aid"); },
                              [&] {
                                  ++fetches;
                                  return std::optional<std::string>("fetched-aid");
                              });
    WeiboSDK::registerApp(std::string("3904718265"));
    auto after = WeiboSDK3rdApp::currentApp();
    EXPECT_EQ(after->appKey(), "3904718265");
    EXPECT_EQ(after->aid(), "stored-aid");
    EXPECT_EQ(fetches, 0);  // the record never starts a fetch
    EXPECT_NE(before, after);
    EXPECT_EQ(WeiboSDK::getWeiboAid(), "fetched-aid");
    EXPECT_EQ(fetches, 1);
    after->setAid(std::string("x"));
    EXPECT_EQ(after->aid(), "x");
}

TEST_F(WeiboOpenAPITest, WithoutProvidersThereIsNoAid) {
    EXPECT_FALSE(WeiboSDK::getWeiboAid());
    EXPECT_FALSE(WeiboSDK::storedAid());
}

}  // namespace
