#include "sdk/analytics/collection/TANUtils.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "foundation/NSTimeZone.h"
#include "sdk/analytics/collection/TANUtil.h"

namespace {

TEST(TANUtils, Md5AndVersion) {
    EXPECT_EQ(TANUtils::md5Value("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(TANUtils::md5Value(std::string("abc\0def", 7)), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(TANUtils::utilsVersion(), "1.2.4");
}

TEST(TANUtils, TypedDictionaryLookups) {
    Value d(Dictionary{{"blank12", " 12"},
                       {"12x", "12x"},
                       {"real", 3.7},
                       {"null", Value::null()},
                       {"num", 5},
                       {"dict", Dictionary{{"a", 1}}}});
    EXPECT_EQ(TANUtils::getIntergerFromDictionary(d, "blank12"), 12);
    EXPECT_EQ(TANUtils::getIntergerFromDictionary(d, "12x"), TANUtils::kNotFound);
    EXPECT_EQ(TANUtils::getIntergerFromDictionary(d, "real"), 3);
    EXPECT_EQ(TANUtils::getIntergerFromDictionary(d, ""), TANUtils::kNotFound);
    EXPECT_EQ(TANUtils::getIntergerFromDictionary(Value("not a dictionary"), "num"), TANUtils::kNotFound);
    EXPECT_EQ(TANUtils::getStringFromDictionary(d, "null"), "");
    EXPECT_EQ(TANUtils::getStringFromDictionary(d, "num"), "5");
    EXPECT_EQ(TANUtils::getStringFromDictionary(d, "absent"), "");
    EXPECT_EQ(TANUtils::getDictionaryFromDictionary(d, "dict").count(), 1u);
    EXPECT_TRUE(TANUtils::getDictionaryFromDictionary(d, "num").empty());
}

TEST(TANUtils, QueryStrings) {
    Dictionary q = TANUtils::dictionaryWithQueryString("a=1&b=%41&c&d=x=y&e=%ZZ");
    EXPECT_EQ(q.count(), 2u);
    EXPECT_EQ(*q["a"].string(), "1");
    EXPECT_EQ(*q["b"].string(), "A");
    EXPECT_TRUE(TANUtils::dictionaryWithQueryString("").empty());
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("k", "a b&c");
    d.setObject("n", 3);
    EXPECT_EQ(TANUtils::queryStringWithDictionary(d), "k=a%20b%26c&n=3");
}

TEST(TANUtils, PercentEncoding) {
    EXPECT_EQ(TANUtils::urlEncode("a b&c~-._"), "a%20b%26c~-._");
    EXPECT_EQ(TANUtils::urlEncode("é"), "%C3%A9");
    EXPECT_EQ(TANUtils::urlEncode("!*'();:@&=+$,/?%#[]\""),
              "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%22");
    EXPECT_EQ(*TANUtils::urlDecode("a%20b+c"), "a b+c");
    EXPECT_FALSE(TANUtils::urlDecode("%4"));
    EXPECT_FALSE(TANUtils::urlDecode("%FF"));
}

TEST(TANUtils, ByteLimitedPrefixKeepsWholeCharacters) {
    EXPECT_EQ(*TANUtils::subString(std::string("éèà"), NSUTF8StringEncoding, 5), "éè");
    EXPECT_EQ(*TANUtils::subString(std::string("abc"), NSUTF8StringEncoding, 0), "abc");
    EXPECT_EQ(*TANUtils::subString(std::string("abc"), NSUTF8StringEncoding, 3), "abc");
    EXPECT_FALSE(TANUtils::subString(std::string(""), NSUTF8StringEncoding, 3));
    EXPECT_FALSE(TANUtils::subString(std::nullopt, NSUTF8StringEncoding, 3));
    EXPECT_EQ(*TANUtils::subString(std::string("ab\xF0\x9F\x98\x80"), NSUTF8StringEncoding, 5), "ab");
}

TEST(TANUtils, PureNumbersAndBase64) {
    EXPECT_TRUE(TANUtils::isPureInt(" 12 "));
    EXPECT_FALSE(TANUtils::isPureInt("12a"));
    EXPECT_TRUE(TANUtils::isPureFloat("1.5"));
    EXPECT_FALSE(TANUtils::isPureFloat("x"));
    EXPECT_EQ(TANUtils::base64Encode("foobar"), "Zm9vYmFy");
}

TEST(TANUtils, RandomRange) {
    foundation_testing::seedRandom(7);
    EXPECT_EQ(TANUtils::getRand(5, 5), 5);
    for (int i = 0; i < 200; ++i) {
        int v = TANUtils::getRand(-3, 3);
        EXPECT_GE(v, -3);
        EXPECT_LE(v, 3);
    }
    NSRandomReseedFromSystem();
}

TEST(TANUtils, DebugLogHasItsOwnSwitchAndPrefix) {
    TANUtils::setOpenLog(false);
    testing::internal::CaptureStdout();
    TANUtils::outLog(std::string("hidden %d"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    TANUtils::setOpenLog(true);
    TANUtils::setPrefix(std::string("PRE"));
    testing::internal::CaptureStdout();
    TANUtils::outLog(std::string("shown %d"), 2);
    TANUtils::outLog(std::optional<std::string>());
    std::string out = testing::internal::GetCapturedStdout();
    TANUtils::setOpenLog(false);
    TANUtils::setPrefix(std::nullopt);
    EXPECT_NE(out.find("] - PRE shown 2 \n"), std::string::npos) << out;
    EXPECT_NE(out.find("] - nil\n"), std::string::npos) << out;
    EXPECT_EQ(out[0], '[');
}

TEST(TANUtils, JsonEntryPointsLogFailures) {
    tallytest::LogCapture log;
    EXPECT_EQ(*TANUtils::JSONFragment(Value(Dictionary{{"a", 1}})), "{\"a\":1}");
    EXPECT_TRUE(TANUtils::JSONValue(std::string("{\"a\":[1]}")).isDictionary());
    EXPECT_TRUE(TANUtils::JSONValue(std::string("[1,")).isNil());
    EXPECT_TRUE(log.contains("-JSONValue failed. Error trace is:"));
    EXPECT_FALSE(TANUtils::JSONFragment(Value(NSData())));
    EXPECT_TRUE(log.contains("-JSONFragment failed. Error trace is:"));
}

TEST(TANUtils, StoreSheetNeverCompletesWithoutTheFramework) {
    bool called = false;
    TANUtils::presentStoreProductForApp("123", nullptr, [&](bool, const Ref<NSError>&) { called = true; });
    EXPECT_FALSE(called);
    EXPECT_FALSE(TANUtils::openUrl("not a url at all \x01"));
}

// ---------------------------------------------------------------------------------------------

class TANUtilTest : public tallytest::TallyTest {};

TEST_F(TANUtilTest, BlankText) {
    EXPECT_TRUE(TANUtil::isEmptyString(Value()));
    EXPECT_TRUE(TANUtil::isEmptyString(Value::null()));
    EXPECT_TRUE(TANUtil::isEmptyString(Value(" \n\t ")));
    EXPECT_FALSE(TANUtil::isEmptyString(Value(" x ")));
    EXPECT_TRUE(TANUtil::isEmptyString(std::optional<std::string>()));
}

TEST_F(TANUtilTest, ByteCutNeverSplitsACharacter) {
    EXPECT_EQ(TANUtil::getString("aé", 2), "a");
    EXPECT_EQ(TANUtil::getString("aé", 3), "aé");
    EXPECT_EQ(TANUtil::getString("abc", 10), "abc");
}

TEST_F(TANUtilTest, DigestsAndHex) {
    EXPECT_EQ(TANUtil::md5("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(TANUtil::sha1WithString("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    const std::uint8_t bytes[] = {0x00, 0xAB, 0xFF};
    EXPECT_EQ(TANUtil::bytesToHexString(bytes, 3), "00abff");
    EXPECT_EQ(TANUtil::bytesToHexString(bytes, 0), "");
    EXPECT_EQ(TANUtil::md5BytesWithString("abc").length(), 16u);
    EXPECT_EQ(TANUtil::umStringDecode("bcd"), "abc");
}

TEST_F(TANUtilTest, SessionIdsAreFreshUpperCaseDigests) {
    std::string a = TANUtil::sessionId(std::string("k"));
    std::string b = TANUtil::sessionId(std::string("k"));
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
    for (char c : a) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
}

TEST_F(TANUtilTest, FixedAnswersAndAppVersion) {
    EXPECT_EQ(TANUtil::deviceMacAddressString(), "02:00:00:00:00:00");
    EXPECT_EQ(TANUtil::sdkVersionString(), "3.6.7");
    EXPECT_EQ(TANUtil::sdkTypeString(), "iOS");
    EXPECT_TRUE(TANUtil::isDebugging());
    EXPECT_EQ(TallyApp::appVersionString(), "1.0");
    TallyApp::setAppVersion(std::string("2.5"));
    TallyApp::setAppVersion(std::string("  "));
    EXPECT_EQ(TallyApp::appVersionString(), "2.5");
    EXPECT_EQ(TANUtil::appPackageNameString(), "com.example.tuning");
}

TEST_F(TANUtilTest, TimeZoneHoursRoundTowardZero) {
    auto saved = NSTimeZone::defaultTimeZone();
    setenv("TZ", "America/St_Johns", 1);
    NSTimeZone::resetSystemTimeZone();
    // Newfoundland is 3.5 or 2.5 hours behind GMT; either way the hours round toward zero.
    int hours = TANUtil::timezone();
    EXPECT_TRUE(hours == -3 || hours == -2) << hours;
    EXPECT_EQ(TANUtil::timezoneString(), std::to_string(hours));
    unsetenv("TZ");
    NSTimeZone::resetSystemTimeZone();
}

TEST_F(TANUtilTest, ScreenAndDateFormats) {
    EXPECT_EQ(TANUtil::resolutionString(), "1334 x 750");
    EXPECT_EQ(TANUtil::resolutionHeight(), 1334);
    EXPECT_EQ(TANUtil::resolutionWidth(), 750);
    EXPECT_EQ(TANUtil::dateString().size(), 10u);
    EXPECT_EQ(TANUtil::timeString().size(), 8u);
    EXPECT_EQ(TANProtocolData::timeMSString().size(), 12u);
    EXPECT_EQ(TANProtocolData::orientationString(), "0");
    EXPECT_FALSE(TANUtil::isPad());
    EXPECT_FALSE(TANUtil::isDeviceJailBreak());
    EXPECT_EQ(TANUtil::deviceJailBreakString(), "NO");
}

TEST_F(TANUtilTest, LogLinesOnlyWhileTheSwitchIsOn) {
    analyticsLog("hidden %d", 1);
    EXPECT_FALSE(log_.contains("hidden"));
    TallyApp::setLogEnabled(true);
    analyticsLog("shown %d", 2);
    EXPECT_TRUE(log_.contains("TALOG: shown 2"));
}

}  // namespace
