#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

#include "app/NSArray+Log.h"
#include "app/NSDictionary+Log.h"
#include "app/NSNumber+Extension.h"
#include "app/NSString+Extension.h"
#include "app/NSString+RMExtension.h"
#include "app/QVNAppStartup.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"
#include "foundation/ValueDescriptionHook.h"
#include "tests/support/TestSupport.h"

// ----- Phone numbers -----

TEST(PhoneNumbers, ElevenDigitsOnly) {
    using NSString_Extension::isPureNumandCharacters;
    EXPECT_TRUE(isPureNumandCharacters("13800138000"));
    EXPECT_TRUE(isPureNumandCharacters("00000000000"));
    EXPECT_FALSE(isPureNumandCharacters("1380013800"));
    EXPECT_FALSE(isPureNumandCharacters("1380013800a"));
    EXPECT_FALSE(isPureNumandCharacters("138001380001"));
    EXPECT_FALSE(isPureNumandCharacters(""));
    EXPECT_FALSE(isPureNumandCharacters(" 13800138000"));
    EXPECT_FALSE(isPureNumandCharacters("13800138000\n"));
    // Other scripts' digits are digits, but not 0 to 9.
    EXPECT_FALSE(isPureNumandCharacters("١٢٣٤٥٦٧٨٩٠١"));
    EXPECT_FALSE(isPureNumandCharacters("１３８００１３８０００"));
}

TEST(PhoneNumbers, MobilePrefixes) {
    auto check = [](const char* number) { return NSString_Extension::checkPhoneNumInput("ignored", number); };
    for (const char* good : {"13012345678", "13912345678", "14512345678", "14712345678", "15012345678",
                             "15312345678", "15512345678", "15912345678", "17012345678", "17612345678",
                             "17712345678", "17812345678", "18012345678", "18912345678"}) {
        EXPECT_TRUE(check(good)) << good;
    }
    for (const char* bad : {"15412345678", "17112345678", "17912345678", "14612345678", "12012345678",
                            "1301234567", "130123456789", "23012345678", "1301234567a", ""}) {
        EXPECT_FALSE(check(bad)) << bad;
    }
    // The receiver plays no part.
    EXPECT_TRUE(NSString_Extension::checkPhoneNumInput("", "13012345678"));
}

// ----- Paths -----

class CarPathsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path())); }
    void TearDown() override { NSString_Extension::setWebHost(std::nullopt); }
    testsupport::TemporaryDirectory sandbox_;
};

TEST_F(CarPathsTest, CachePathsUnderTheLibraryFolder) {
    EXPECT_EQ(NSString_Extension::carCachePath(), NSSandbox::libraryPath() + "/Caches/Cars/");
    EXPECT_EQ(NSString_Extension::cacheCarListPath(), NSSandbox::libraryPath() + "/Caches/carlist");
}

TEST_F(CarPathsTest, OptionURLPrefixFromTheWebHost) {
    NSString_Extension::setWebHost(std::string("127.0.0.1:8080"));
    EXPECT_EQ(NSString_Extension::carOptionURLPrefix(), "http://127.0.0.1:8080/static/model/");
    NSString_Extension::setWebHost(std::string("cars.example"));
    EXPECT_EQ(NSString_Extension::carOptionURLPrefix(), "http://cars.example/static/model/");
    NSString_Extension::setWebHost(std::nullopt);
    std::string prefix = NSString_Extension::carOptionURLPrefix();
    EXPECT_EQ(prefix.rfind("http://", 0), 0u);
    EXPECT_EQ(prefix.substr(prefix.size() - 14), "/static/model/");
}

// ----- Colours -----

TEST(Palette, Components) {
    struct Case {
        Ref<UIColor> color;
        int r, g, b;
    };
    for (const Case& c : {Case{UIColor_Extensions::QVNRedColor(), 99, 214, 228},
                          Case{UIColor_Extensions::QVNBlackColor(), 11, 35, 44},
                          Case{UIColor_Extensions::QVNCacheTableViewColor(), 230, 230, 230}}) {
        CGFloat r = -1, g = -1, b = -1, a = -1;
        ASSERT_TRUE(c.color->getRed(&r, &g, &b, &a));
        EXPECT_NEAR(r * 255, c.r, 1e-9);
        EXPECT_NEAR(g * 255, c.g, 1e-9);
        EXPECT_NEAR(b * 255, c.b, 1e-9);
        EXPECT_EQ(a, 1.0);
    }
}

// ----- Log forms -----

TEST(LogForms, ArrayOfTwoStrings) {
    EXPECT_EQ(NSArray_Log::descriptionWithLocale(Array{"a", "b"}), "[\n\ta,\n\tb\n]");
}

TEST(LogForms, DictionaryWithChineseText) {
    Dictionary d{{"name", "小明"}, {"age", 12}};
    EXPECT_EQ(NSDictionary_Log::descriptionWithLocale(d), "{\n\tname : 小明,\n\tage : 12\n}");
}

TEST(LogForms, EmptyContainers) {
    EXPECT_EQ(NSDictionary_Log::descriptionWithLocale(Dictionary()), "{\n}");
    EXPECT_EQ(NSArray_Log::descriptionWithLocale(Array()), "[\n]");
}

TEST(LogForms, NestedContainersUseTheSameLayout) {
    Dictionary d{{"list", Array{1, Dictionary{{"k", "值"}}}}, {"n", Value::null()}, {"none", Dictionary()}};
    EXPECT_EQ(NSDictionary_Log::descriptionWithLocale(d),
              "{\n\tlist : [\n\t1,\n\t{\n\tk : 值\n}\n],\n\tn : <null>,\n\tnone : {\n}\n}");
}

TEST(LogForms, OnlyTheLastCommaOfTheWholeTextGoes) {
    // A comma inside the last text is the last comma, so it is the one deleted.
    EXPECT_EQ(NSArray_Log::descriptionWithLocale(Array{"a", "b,c"}), "[\n\ta,\n\tb,c\n]");
    EXPECT_EQ(NSArray_Log::descriptionWithLocale(Array{"x,"}), "[\n\tx,\n]");
}

TEST(LogForms, SelfContainingContainersEnd) {
    Array loop = Array::mutableArray();
    loop.addObject("a");
    loop.addObject(Value(loop));
    loop.addObject(Value(loop));
    std::string text = NSArray_Log::descriptionWithLocale(loop);
    EXPECT_EQ(text, "[\n\ta,\n\t...,\n\t...\n]");
    loop.removeAllObjects();
}

TEST(LogForms, StartUpPutsThemBehindEveryContainersDescription) {
    auto before = ValueDescriptionHook::containerDescriber();
    QVNAppStartup::prepare();
    std::vector<std::string> lines;
    NSLogSink previous = NSLogSetSink([&](const std::string& line) { lines.push_back(line); });
    Dictionary d{{"car", "奔驰"}, {"parts", Array{"a", "b"}}};
    NSLog("%@", Value(d));
    NSLog("%@ %@", Array{"a", "b"}, Dictionary());
    NSLogSetSink(previous);
    EXPECT_EQ(lines, (std::vector<std::string>{"{\n\tcar : 奔驰,\n\tparts : [\n\ta,\n\tb\n]\n}",
                                               "[\n\ta,\n\tb\n] {\n}"}));
    EXPECT_EQ(NSString::stringWithFormat("<%@>", Value(Array())), "<[\n]>");
    EXPECT_EQ(Value(d).description(), NSDictionary_Log::descriptionWithLocale(d));
    ValueDescriptionHook::setContainerDescriber(before);
}

// ----- Numbers -----

TEST(ResultCodes, InvalidToken) {
    EXPECT_EQ(NSNumber_Extension::invalidTokenResultCode(), NSNumber::numberWithInt(10003));
    EXPECT_EQ(Value(NSNumber_Extension::invalidTokenResultCode()), Value(10003.0));
    EXPECT_EQ(NSNumber_Extension::invalidTokenResultCode().objCType(), 'i');
}

TEST(ResultCodes, CountersStepWithoutLeavingTheIntegerRange) {
    constexpr long kMax = std::numeric_limits<long>::max(), kMin = std::numeric_limits<long>::min();
    struct Case {
        std::optional<NSNumber> count;
        long delta;
        long expected;
    } cases[] = {
        {std::nullopt, 1, 1},
        {std::nullopt, -1, -1},
        {NSNumber::numberWithInt(4), 1, 5},
        {NSNumber::numberWithInt(0), -1, -1},
        {NSNumber::numberWithLong(kMax), 1, kMax},
        {NSNumber::numberWithLong(kMin), -1, kMin},
        {NSNumber::numberWithDouble(1e30), 1, kMax},  // a real past the range reads as the top
        {NSNumber::numberWithDouble(2.9), 1, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NSNumber_Extension::steppedCount(c.count, c.delta).integerValue(), c.expected) << c.delta;
}

// ----- Record-layer string operations -----

TEST(RecordStrings, CaseConversions) {
    using namespace NSString_RMExtension;
    EXPECT_EQ(underlineFromCamel("userName"), "user_name");
    EXPECT_EQ(underlineFromCamel("URL"), "_u_r_l");
    EXPECT_EQ(underlineFromCamel(""), "");
    EXPECT_EQ(underlineFromCamel("plain"), "plain");
    EXPECT_EQ(camelFromUnderline("user_name"), "userName");
    EXPECT_EQ(camelFromUnderline("user__name_"), "userName");
    EXPECT_EQ(camelFromUnderline("_lead"), "Lead");
    EXPECT_EQ(camelFromUnderline(""), "");
    EXPECT_EQ(firstCharLower("Name"), "name");
    EXPECT_EQ(firstCharUpper("name"), "Name");
    EXPECT_EQ(firstCharUpper(""), "");
    EXPECT_EQ(firstCharUpper("élan"), "Élan");
}

TEST(RecordStrings, PureIntegers) {
    using NSString_RMExtension::isPureInt;
    EXPECT_TRUE(isPureInt("12"));
    EXPECT_TRUE(isPureInt("-12"));
    EXPECT_FALSE(isPureInt("12a"));
    EXPECT_FALSE(isPureInt("1.5"));
    EXPECT_FALSE(isPureInt(""));
    EXPECT_FALSE(isPureInt("abc"));
}

TEST(RecordStrings, URLs) {
    using NSString_RMExtension::url;
    EXPECT_EQ(url("http://h/a b")->absoluteString(), "http://h/a%20b");
    EXPECT_EQ(url("http://h/p?q=1&r=$#frag")->absoluteString(), "http://h/p?q=1&r=$#frag");
    EXPECT_EQ(url("http://h/%41")->absoluteString(), "http://h/%41");
    EXPECT_EQ(url("http://h/\"quoted\"")->absoluteString(), "http://h/%22quoted%22");
    EXPECT_FALSE(url(""));
    EXPECT_FALSE(url("http://h/100%"));
}
