#include "foundation/NSUserDefaults.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/NSBundle.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"
#include "tests/support/TestSupport.h"

#if __has_include("foundation/NSPropertyListSerialization.h")
#include "foundation/NSPropertyListSerialization.h"
#define APP_TEST_PROPERTY_LISTS 1
#else
#define APP_TEST_PROPERTY_LISTS 0
#endif

namespace {

class NSUserDefaultsTest : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;
    NSLogSink previousSink;
    std::mutex logMutex;
    std::vector<std::string> logLines;

    void SetUp() override {
        previousSink = NSLogSetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(logMutex);
            logLines.push_back(line);
        });
        ASSERT_TRUE(NSSandbox::setRoot(dir.path()));
        foundation_testing::resetBundles();
        NSBundle::setMainBundlePath(dir.file("resources"));
        NSUserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override {
        NSUserDefaults::resetStandardUserDefaults();
        foundation_testing::resetBundles();
        NSLogSetSink(previousSink);
    }
    Ref<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }
    std::string preferencesFile() const {
        return dir.file("Library/Preferences/com.example.cartuning.plist");
    }
    // Drops the in-memory defaults so the next read comes from the file.
    Ref<NSUserDefaults> reopened() {
        NSUserDefaults::resetStandardUserDefaults();
        return defaults();
    }
};

// ---------------------------------------------------------------------------------------------
TEST_F(NSUserDefaultsTest, OneStandardObjectPerRoot) {
    auto first = defaults();
    EXPECT_EQ(first, defaults());
    EXPECT_EQ(first->filePath(), preferencesFile());
    testsupport::TemporaryDirectory other;
    ASSERT_TRUE(NSSandbox::setRoot(other.path()));
    auto second = defaults();
    EXPECT_NE(first, second);
    EXPECT_EQ(second->filePath(), other.file("Library/Preferences/com.example.cartuning.plist"));
    ASSERT_TRUE(NSSandbox::setRoot(dir.path()));
}

TEST_F(NSUserDefaultsTest, FileIsNamedByTheBundleIdentifier) {
    NSBundle::setInfoValue("CFBundleIdentifier", "com.example.other");
    EXPECT_EQ(reopened()->filePath(), dir.file("Library/Preferences/com.example.other.plist"));
    NSBundle::setInfoValue("CFBundleIdentifier", "../../escape");
    EXPECT_EQ(reopened()->filePath(), dir.file("Library/Preferences/.._.._escape.plist"));
    NSBundle::setInfoValue("CFBundleIdentifier", Value());
    EXPECT_EQ(reopened()->filePath(), dir.file("Library/Preferences/defaults.plist"));
    EXPECT_EQ(make<NSUserDefaults>(std::string("group.shared"))->filePath(),
              dir.file("Library/Preferences/group.shared.plist"));
}

TEST_F(NSUserDefaultsTest, TypedWritesAndReads) {
    auto d = defaults();
    d->setObject("NewFeatureVersionKey", "12");
    d->setInteger("umSerialNum", 41);
    d->setBool("firstLanch", true);
    d->setDouble("lastUploadSuccessTimestamp", 1'700'000'000.5);
    d->setFloat("ratio", 0.25f);
    d->setObject("umSignature", NSData::fromString("0123456789abcdef0123456789abcdef"));
    d->setObject("PullRefreshHeaderLastUpdatedTimeKey", NSDate::dateWithTimeIntervalSince1970(1000));
    d->setObject("list", Array{"a", "b"});
    d->setObject("SharedUDID", Dictionary{{"id", "abc"}, {"n", 2}});

    EXPECT_EQ(d->stringForKey("NewFeatureVersionKey"), "12");
    EXPECT_EQ(d->integerForKey("umSerialNum"), 41);
    EXPECT_TRUE(d->boolForKey("firstLanch"));
    EXPECT_DOUBLE_EQ(d->doubleForKey("lastUploadSuccessTimestamp"), 1'700'000'000.5);
    EXPECT_FLOAT_EQ(d->floatForKey("ratio"), 0.25f);
    EXPECT_EQ(d->dataForKey("umSignature")->length(), 32u);
    EXPECT_EQ(*d->objectForKey("PullRefreshHeaderLastUpdatedTimeKey").date(),
              NSDate::dateWithTimeIntervalSince1970(1000));
    EXPECT_EQ(d->arrayForKey("list")->count(), 2u);
    EXPECT_EQ(d->stringArrayForKey("list"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ((*d->dictionaryForKey("SharedUDID"))["id"], Value("abc"));
}

TEST_F(NSUserDefaultsTest, ReadsOfMissingOrOtherKindsAnswerNothing) {
    auto d = defaults();
    EXPECT_TRUE(d->objectForKey("missing").isNil());
    EXPECT_FALSE(d->stringForKey("missing"));
    EXPECT_EQ(d->integerForKey("missing"), 0);
    EXPECT_FALSE(d->boolForKey("missing"));
    EXPECT_EQ(d->doubleForKey("missing"), 0.0);
    d->setObject("text", "hello");
    d->setObject("list", Array{"a", 1});
    EXPECT_FALSE(d->dataForKey("text"));
    EXPECT_FALSE(d->arrayForKey("text"));
    EXPECT_FALSE(d->dictionaryForKey("list"));
    EXPECT_FALSE(d->stringForKey("list"));
    EXPECT_FALSE(d->stringArrayForKey("list"));  // not all strings
    EXPECT_EQ(d->integerForKey("list"), 0);
}

TEST_F(NSUserDefaultsTest, NumbersAndTextConvertLikeThePlatform) {
    auto d = defaults();
    d->setInteger("n", 7);
    EXPECT_EQ(d->stringForKey("n"), "7");
    d->setObject("s", "0123");
    EXPECT_EQ(d->integerForKey("s"), 123);
    d->setObject("s", "abc");
    EXPECT_EQ(d->integerForKey("s"), 0);
    d->setObject("s", "2.5");
    EXPECT_DOUBLE_EQ(d->doubleForKey("s"), 2.5);
    d->setInteger("two", 2);
    EXPECT_TRUE(d->boolForKey("two"));
    d->setDouble("half", 0.5);
    EXPECT_TRUE(d->boolForKey("half"));
    d->setInteger("zero", 0);
    EXPECT_FALSE(d->boolForKey("zero"));
}

TEST_F(NSUserDefaultsTest, BooleanTextIsReadByItsFirstLetterOrNumber) {
    auto d = defaults();
    for (const char* yes : {"YES", "yes", "Y", "true", "TRUE", "t", "1", "  1", "0010", "+2", "-3"}) {
        d->setObject("b", yes);
        EXPECT_TRUE(d->boolForKey("b")) << yes;
    }
    for (const char* no : {"NO", "no", "false", "0", "000", "", "  ", "abc", "-0", "+"}) {
        d->setObject("b", no);
        EXPECT_FALSE(d->boolForKey("b")) << no;
    }
}

TEST_F(NSUserDefaultsTest, NilRemoves) {
    auto d = defaults();
    d->setObject("aid", "A1");
    d->setObject("aid", Value());
    EXPECT_TRUE(d->objectForKey("aid").isNil());
    d->setObject("sub", "S1");
    d->removeObjectForKey("sub");
    EXPECT_FALSE(d->stringForKey("sub"));
}

TEST_F(NSUserDefaultsTest, ValuesAreCopiedInAndHandedOutImmutable) {
    auto d = defaults();
    Dictionary record = Dictionary::mutableDictionary();
    record.setObject("id", "first");
    d->setObject("record", record);
    record.setObject("id", "changed");
    EXPECT_EQ((*d->dictionaryForKey("record"))["id"], Value("first"));
    EXPECT_FALSE(d->dictionaryForKey("record")->isMutable());
}

TEST_F(NSUserDefaultsTest, NonPropertyListValuesAreRefused) {
    auto d = defaults();
    d->setObject("k", "kept");
    d->setObject("k", make<NSObject>());
    d->setObject("k", Value::null());
    d->setObject("k", Array{"fine", make<NSObject>()});
    d->setObject("k", Dictionary{{"deep", Array{Dictionary{{"x", Value::null()}}}}});
    EXPECT_EQ(d->stringForKey("k"), "kept");
    std::lock_guard<std::mutex> guard(logMutex);
    EXPECT_EQ(logLines.size(), 4u);
}

TEST_F(NSUserDefaultsTest, RegisteredDefaultsAreTheFallback) {
    auto d = defaults();
    d->registerDefaults(Dictionary{{"interval", 30}, {"channel", "App Store"}});
    EXPECT_EQ(d->integerForKey("interval"), 30);
    d->setInteger("interval", 5);
    EXPECT_EQ(d->integerForKey("interval"), 5);
    d->removeObjectForKey("interval");
    EXPECT_EQ(d->integerForKey("interval"), 30);
    d->registerDefaults(Dictionary{{"interval", 60}});
    EXPECT_EQ(d->integerForKey("interval"), 60);
    d->setObject("own", true);
    Dictionary all = d->dictionaryRepresentation();
    EXPECT_EQ(all["interval"], Value(60));
    EXPECT_EQ(all["channel"], Value("App Store"));
    EXPECT_EQ(all["own"], Value(true));
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSUserDefaultsTest, SynchronizeWithoutChangesWritesNothing) {
    EXPECT_TRUE(defaults()->synchronize());
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(preferencesFile()));
}

TEST_F(NSUserDefaultsTest, ValuesSurviveAReopen) {
#if !APP_TEST_PROPERTY_LISTS
    GTEST_SKIP() << "the property-list serializer is not part of this build";
#endif
    auto d = defaults();
    d->setObject("NewFeatureVersionKey", "12");
    d->setInteger("umSerialNum", 41);
    d->setBool("firstLanch", true);
    d->setDouble("ts", 1'700'000'000.5);
    d->setObject("sig", NSData::fromString("\x01\x02\x03"));
    d->setObject("when", NSDate::dateWithTimeIntervalSince1970(1000));
    d->setObject("SharedUDID", Dictionary{{"list", Array{"a", 1}}});
    d->registerDefaults(Dictionary{{"registered", "only in memory"}});
    ASSERT_TRUE(d->synchronize());
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(preferencesFile()));
#if APP_TEST_PROPERTY_LISTS
    // One XML property list holding a dictionary.
    NSPropertyListFormat format = NSPropertyListBinaryFormat_v1_0;
    Value onDisk = NSPropertyListSerialization::propertyListWithData(
        *NSData::dataWithContentsOfFile(preferencesFile()), NSPropertyListImmutable, &format, nullptr);
    EXPECT_EQ(format, NSPropertyListXMLFormat_v1_0);
    ASSERT_TRUE(onDisk.isDictionary());
    EXPECT_EQ(onDisk["umSerialNum"], Value(41));
    EXPECT_TRUE(onDisk["registered"].isNil());
#endif

    auto again = reopened();
    EXPECT_NE(again, d);
    EXPECT_EQ(again->stringForKey("NewFeatureVersionKey"), "12");
    EXPECT_EQ(again->integerForKey("umSerialNum"), 41);
    EXPECT_TRUE(again->boolForKey("firstLanch"));
    EXPECT_DOUBLE_EQ(again->doubleForKey("ts"), 1'700'000'000.5);
    EXPECT_EQ(again->dataForKey("sig")->toString(), "\x01\x02\x03");
    EXPECT_EQ(*again->objectForKey("when").date(), NSDate::dateWithTimeIntervalSince1970(1000));
    EXPECT_EQ((*again->dictionaryForKey("SharedUDID"))["list"], Value(Array{"a", 1}));
    EXPECT_TRUE(again->objectForKey("registered").isNil());
}

TEST_F(NSUserDefaultsTest, UnsavedChangesAreWrittenWhenTheObjectGoes) {
#if !APP_TEST_PROPERTY_LISTS
    GTEST_SKIP() << "the property-list serializer is not part of this build";
#endif
    {
        auto d = make<NSUserDefaults>(std::string("scratch"));
        d->setObject("k", "v");
    }
    EXPECT_EQ(make<NSUserDefaults>(std::string("scratch"))->stringForKey("k"), "v");
}

TEST_F(NSUserDefaultsTest, AFailedWriteIsReportedAndRetried) {
#if !APP_TEST_PROPERTY_LISTS
    GTEST_SKIP() << "the property-list serializer is not part of this build";
#endif
    auto fm = NSFileManager::defaultManager();
    auto d = defaults();
    d->setObject("k", "v");
    // The preferences folder replaced by a file: nothing can be written there.
    ASSERT_TRUE(fm->removeItemAtPath(dir.file("Library/Preferences")));
    ASSERT_TRUE(fm->createFileAtPath(dir.file("Library/Preferences"), NSData::fromString("x")));
    EXPECT_FALSE(d->synchronize());
    ASSERT_TRUE(fm->removeItemAtPath(dir.file("Library/Preferences")));
    EXPECT_TRUE(d->synchronize());  // still dirty, so written now
    EXPECT_EQ(reopened()->stringForKey("k"), "v");
}

TEST_F(NSUserDefaultsTest, DamagedFilesGiveEmptyDefaults) {
    auto fm = NSFileManager::defaultManager();
    const char* damaged[] = {
        "",
        "not a property list at all",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>",
        "bplist00\xff\xff\xff",
    };
    for (const char* text : damaged) {
        NSUserDefaults::resetStandardUserDefaults();  // writes the last round's value first
        ASSERT_TRUE(fm->createFileAtPath(preferencesFile(), NSData::fromString(text)));
        auto d = defaults();
        EXPECT_TRUE(d->dictionaryRepresentation().empty()) << text;
        d->setObject("k", "v");  // still usable
        EXPECT_EQ(d->stringForKey("k"), "v");
    }
    // A folder where the file should be.
    NSUserDefaults::resetStandardUserDefaults();
    ASSERT_TRUE(fm->removeItemAtPath(preferencesFile()));
    ASSERT_TRUE(fm->createDirectoryAtPath(preferencesFile(), false));
    EXPECT_TRUE(reopened()->dictionaryRepresentation().empty());
}

TEST_F(NSUserDefaultsTest, RandomlyMutatedFilesNeverCrash) {
    std::string valid;
#if APP_TEST_PROPERTY_LISTS
    {
        auto d = defaults();
        d->setObject("WEIBOSDKAID", "01AbCdEf");
        d->setInteger("umSerialNum", 12);
        d->setObject("umSignature", NSData::fromString("0123456789abcdef"));
        d->setObject("SharedUDID",
                     Dictionary{{"owner", "x"}, {"when", NSDate::dateWithTimeIntervalSince1970(5)}});
        d->setObject("list", Array{1.5, true, "s"});
        ASSERT_TRUE(d->synchronize());
        valid = NSData::dataWithContentsOfFile(preferencesFile())->toString();
    }
#else
    valid = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n<key>a</key>\n"
            "<string>b</string>\n<key>n</key>\n<integer>3</integer>\n</dict>\n</plist>\n";
#endif
    auto fm = NSFileManager::defaultManager();
    for (unsigned seed = 0; seed < 300; ++seed) {
        ASSERT_TRUE(
            fm->createFileAtPath(preferencesFile(), NSData::fromString(testsupport::mutate(valid, seed))));
        auto d = reopened();
        // Whatever survived is readable through every typed reader.
        for (const auto& [key, value] : d->dictionaryRepresentation()) {
            EXPECT_TRUE(detail::isPropertyListValue(value)) << key;
            d->stringForKey(key);
            d->integerForKey(key);
            d->boolForKey(key);
            d->dataForKey(key);
        }
    }
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSUserDefaultsTest, ConcurrentWritersReadersAndSynchronizers) {
    auto d = defaults();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            std::string mine = "key" + std::to_string(t);
            for (int i = 0; i < 300; ++i) {
                d->setInteger(mine, i);
                if (d->integerForKey(mine) != i) ++wrong;
                d->setObject("shared", Dictionary{{"writer", t}, {"i", i}});
                Value shared = d->objectForKey("shared");
                if (!shared.isDictionary() || shared["i"].isNil()) ++wrong;
                if (i % 50 == 0) d->synchronize();
                d->dictionaryRepresentation();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    ASSERT_TRUE(d->synchronize());
#if APP_TEST_PROPERTY_LISTS
    auto again = reopened();
    for (int t = 0; t < 6; ++t) EXPECT_EQ(again->integerForKey("key" + std::to_string(t)), 299);
#endif
}

TEST_F(NSUserDefaultsTest, StandardDefaultsAreSafeToFetchFromManyThreads) {
    std::vector<std::thread> threads;
    std::vector<Ref<NSUserDefaults>> seen(8);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back(
            [&, t] { seen[static_cast<std::size_t>(t)] = NSUserDefaults::standardUserDefaults(); });
    }
    for (auto& t : threads) t.join();
    for (const auto& d : seen) EXPECT_EQ(d, seen[0]);
}

TEST(NSUserDefaultsValues, PropertyListKinds) {
    EXPECT_TRUE(detail::isPropertyListValue(Value(1)));
    EXPECT_TRUE(detail::isPropertyListValue(Value("s")));
    EXPECT_TRUE(detail::isPropertyListValue(Value(NSData())));
    EXPECT_TRUE(detail::isPropertyListValue(Value(NSDate())));
    EXPECT_TRUE(detail::isPropertyListValue(Value(Array{Dictionary{{"a", Array{}}}})));
    EXPECT_FALSE(detail::isPropertyListValue(Value()));
    EXPECT_FALSE(detail::isPropertyListValue(Value::null()));
    EXPECT_FALSE(detail::isPropertyListValue(Value(make<NSObject>())));
    // A tree too deep to be settings is refused rather than recursed into without end.
    Value deep = Array{};
    for (int i = 0; i < 2000; ++i) deep = Array{deep};
    EXPECT_FALSE(detail::isPropertyListValue(deep));
}

}  // namespace
