// The pending-items cache file: what is written at a session end, what comes back at the next
// activation, and damaged, truncated and hostile files.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "foundation/NSPropertyListSerialization.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallySession.h"

namespace {

class TallyCacheFileTest : public tallytest::TallyTest {
  protected:
    Ref<TallyInternal> core() { return TallyInternal::sharedInstance(); }
    Dictionary readFile() {
        auto data = NSData::dataWithContentsOfFile(TallyUtility::cacheFilePath());
        if (!data) return Dictionary();
        Value root = NSPropertyListSerialization::propertyListWithData(*data, 0, nullptr, nullptr);
        return root.isDictionary() ? *root.dictionary() : Dictionary();
    }
    void writeFile(const Dictionary& body) {
        auto data = NSPropertyListSerialization::dataWithPropertyList(
            Value(Dictionary{{"body", body}}), NSPropertyListXMLFormat_v1_0, 0, nullptr);
        data->writeToFile(TallyUtility::cacheFilePath());
    }
    Ref<TANEvent> event(const std::string& id) {
        auto e = make<TANEvent>();
        e->event_id = id;
        return e;
    }
};

TEST_F(TallyCacheFileTest, ThePathFollowsTheBundleIdentifier) {
    EXPECT_TRUE(NSString::hasSuffix(TallyUtility::cacheFilePath(),
                                    "/Library/Caches/.com.example.tuning_tallyCache.plist"));
}

TEST_F(TallyCacheFileTest, OnlyNonEmptyContainersAreWritten) {
    core()->events().push_back(event("only"));
    core()->saveAndCleanCache();
    Dictionary file = readFile();
    ASSERT_TRUE(file["body"].isDictionary());
    EXPECT_EQ(file["body"].dictionary()->allKeys(), std::vector<std::string>{"event"});
    EXPECT_TRUE(core()->events().empty());
}

TEST_F(TallyCacheFileTest, EmptyContainersRemoveAnOldFile) {
    core()->events().push_back(event("x"));
    core()->archiveCacheToFile();
    ASSERT_TRUE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
    core()->removeCacheData();
    core()->archiveCacheToFile();
    EXPECT_FALSE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
}

TEST_F(TallyCacheFileTest, RecordsComeBackWithTheirFieldsAndSixtyFourBitCounts) {
    auto e = event("big");
    e->acc = 5000000000LL;
    e->du = 9000000000LL;
    e->label = "lab";
    e->session_id = "S";
    e->values = Dictionary{{"v", 1}};
    core()->events().push_back(e);
    auto kv = TANEkv::ekvWithId(std::string("kv"), std::string("pk"), Dictionary{{"a", "b"}}, false);
    kv->du = 77;
    core()->ekv().push_back(kv);
    auto end = make<TANTerminate>(12.5);
    end->pageViews.addObject(Array{Value("P"), Value(3)});
    end->latitude = 1;
    end->longitude = 2;
    end->gps_time = 3;
    core()->terminates().push_back(end);
    core()->saveAndCleanCache();
    core()->loadCache();
    EXPECT_FALSE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
    ASSERT_EQ(core()->events().size(), 1u);
    auto back = std::dynamic_pointer_cast<TANEvent>(core()->events()[0]);
    EXPECT_EQ(back->acc, 5000000000LL);
    EXPECT_EQ(back->du, 9000000000LL);
    EXPECT_EQ(back->label, std::optional<std::string>("lab"));
    EXPECT_EQ(back->session_id, std::optional<std::string>("S"));
    EXPECT_EQ(back->ts, e->ts);
    EXPECT_EQ(back->date, e->date);
    EXPECT_TRUE(back->isEqual(*e));
    auto kvBack = std::dynamic_pointer_cast<TANEkv>(core()->ekv().at(0));
    EXPECT_EQ(kvBack->du, 77);
    EXPECT_EQ(kvBack->key, std::optional<std::string>("pk"));
    EXPECT_EQ(*kvBack->values["a"].string(), "b");
    auto endBack = std::dynamic_pointer_cast<TANTerminate>(core()->terminates().at(0));
    EXPECT_EQ(endBack->duration, 12.5);
    EXPECT_EQ(endBack->pageViews.count(), 1u);
    EXPECT_TRUE(endBack->hasGPSInfo());
}

TEST_F(TallyCacheFileTest, CrashRecordsNeedTheSameAppVersion) {
    auto error = make<TANError>();
    error->context = "crash";
    core()->errors().push_back(error);
    core()->events().push_back(event("e"));
    core()->saveAndCleanCache();
    Dictionary saved = readFile();

    TallyConfig::setConfigure(Value("1.2"), "TAAppVersion");
    TallyApp::setAppVersion(std::string("1.3"));
    core()->loadCache();
    EXPECT_TRUE(core()->errors().empty());
    EXPECT_EQ(core()->events().size(), 1u);

    core()->removeCacheData();
    writeFile(*saved["body"].dictionary());
    TallyApp::setAppVersion(std::string("1.2"));
    core()->loadCache();
    EXPECT_EQ(core()->errors().size(), 1u);

    core()->removeCacheData();
    writeFile(*saved["body"].dictionary());
    TallyConfig::removeConfigureWithKey("TAAppVersion");
    core()->loadCache();
    EXPECT_TRUE(core()->errors().empty());
}

TEST_F(TallyCacheFileTest, ShortEntriesAndMissingBodyLoadNothing) {
    writeFile(Dictionary{{"event", NSData::fromString("0123456789")}});
    core()->loadCache();
    EXPECT_TRUE(core()->events().empty());
    EXPECT_FALSE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
    NSData::fromString("not a property list").writeToFile(TallyUtility::cacheFilePath());
    core()->loadCache();
    EXPECT_FALSE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
    EXPECT_FALSE(core()->hasJob());
}

TEST_F(TallyCacheFileTest, AForeignRecordUnderAKeyIsRefused) {
    // Session ends stored where events belong are not taken as events.
    auto end = make<TANTerminate>(1.0);
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(Value(Array{Value(end)}));
    writeFile(Dictionary{{"event", *archive}, {"terminate", NSData::fromString(std::string(40, 'x'))}});
    core()->loadCache();
    EXPECT_TRUE(core()->events().empty());
    EXPECT_TRUE(core()->terminates().empty());
}

TEST_F(TallyCacheFileTest, DamagedFilesNeverCrash) {
    for (int i = 0; i < 3; ++i) core()->events().push_back(event(NSString::stringWithFormat("e%d", i)));
    core()->terminates().push_back(make<TANTerminate>(3.0));
    auto error = make<TANError>();
    error->context = "c";
    core()->errors().push_back(error);
    TallyConfig::setConfigure(Value(TallyApp::appVersionString()), "TAAppVersion");
    core()->archiveCacheToFile();
    std::string valid = NSData::dataWithContentsOfFile(TallyUtility::cacheFilePath())->toString();
    core()->removeCacheData();
    int loadedSomething = 0;
    for (unsigned seed = 0; seed < 400; ++seed) {
        NSData::fromString(testsupport::mutate(valid, seed)).writeToFile(TallyUtility::cacheFilePath());
        core()->loadCache();
        EXPECT_FALSE(TallyUtility::isExistAtPath(TallyUtility::cacheFilePath()));
        loadedSomething += core()->hasJob();
        for (auto& item : core()->events()) EXPECT_TRUE(std::dynamic_pointer_cast<TANEvent>(item));
        core()->removeCacheData();
    }
    // Truncations at every length.
    for (std::size_t n = 0; n < valid.size(); n += 97) {
        NSData::fromString(valid.substr(0, n)).writeToFile(TallyUtility::cacheFilePath());
        core()->loadCache();
        core()->removeCacheData();
    }
    EXPECT_GT(loadedSomething, 0);
}

TEST_F(TallyCacheFileTest, DamagedArchivesInsideAValidFileNeverCrash) {
    for (int i = 0; i < 3; ++i) core()->events().push_back(event(NSString::stringWithFormat("e%d", i)));
    Dictionary body = core()->archiveObjects();
    std::string archive = body["event"].data()->toString();
    core()->removeCacheData();
    for (unsigned seed = 0; seed < 400; ++seed) {
        writeFile(Dictionary{{"event", NSData::fromString(testsupport::mutate(archive, seed))}});
        core()->loadCache();
        core()->removeCacheData();
    }
}

}  // namespace
