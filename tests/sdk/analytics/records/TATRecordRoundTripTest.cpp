// Every record type written and read back: with every field set, with only the required
// fields, and with nothing set. The result has the same set fields and values, and writes the
// same bytes again.

#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "RecordTestSupport.h"

using namespace recordtest;

namespace {

template <class R>
void expectRoundTrip(const Ref<R>& record, const char* what) {
    SCOPED_TRACE(std::string(R::kClassName) + " " + what);
    NSData first = written(*record);
    auto back = readBack<R>(first);
    EXPECT_TRUE(back->isEqualToRecord(*record)) << record->description() << "\nread back as\n"
                                                << back->description();
    EXPECT_EQ(hex(written(*back)), hex(first));
    // Reading consumes exactly the record.
    auto buffer = make<TATMemoryBuffer>(concat({first, bytes({0x99})}));
    TATBinaryProtocol protocol(buffer);
    make<R>()->read(protocol);
    EXPECT_EQ(protocol.readByte(), 0x99);
}

// ----- full records: every field set with a value -----

Ref<TATResolution> fullResolution() {
    return make<TATResolution>(2208, 1242);
}
Ref<TATTraffic> fullTraffic() {
    return make<TATTraffic>(123456, std::numeric_limits<std::int32_t>::min());
}
Ref<TATPage> fullPage(int i = 0) {
    return make<TATPage>("QVNStudioViewController" + std::to_string(i), 12000 + i);
}
Ref<TATLocation> fullLocation() {
    return make<TATLocation>(31.230416, 121.473701, 1400000000123LL);
}
Ref<TATPropertyValue> fullPropertyValue() {
    return make<TATPropertyValue>("涡轮", -42);
}
Ref<TATError> fullError() {
    return make<TATError>(1400000000000LL, "crash at 0x1f\nline two", 3);
}
Ref<TATActivateMsg> fullActivateMsg() {
    return make<TATActivateMsg>(std::numeric_limits<std::int64_t>::min());
}

Ref<TATEvent> fullEvent(const std::string& name = "TuningCars") {
    TATMap<Ref<TATPropertyValue>> properties{{name, make<TATPropertyValue>("label", 0)},
                                             {"count", make<TATPropertyValue>(std::nullopt, 7)},
                                             {"both", fullPropertyValue()},
                                             {"empty", make<TATPropertyValue>()}};
    properties.objectForKey("count")->unsetString_value();
    return make<TATEvent>(name, properties, 3500, 2, 1400000000999LL);
}

Ref<TATSession> fullSession() {
    return make<TATSession>("0123456789ABCDEF0123456789ABCDEF", 1400000000000LL, 1400000060000LL, 60000,
                            TATList<TATPage>{fullPage(1), fullPage(2), fullPage(3)},
                            TATList<TATLocation>{fullLocation()}, fullTraffic());
}

Ref<TATInstantMsg> fullInstantMsg() {
    return make<TATInstantMsg>("0123456789ABCDEF0123456789ABCDEF", TATList<TATError>{fullError()},
                               TATList<TATEvent>{fullEvent(), fullEvent("Share")},
                               TATList<TATEvent>{fullEvent("level_1")});
}

Ref<TATAppInfo> fullAppInfo() {
    return make<TATAppInfo>("53a1b2c3d4e5f6a7b8c9d0e1", "2.3.1", 231, "com.example.tuning", 1, "3.4.2",
                            "App Store", "unity", "4.6", 9);
}

Ref<TATDeviceInfo> fullDeviceInfo() {
    return make<TATDeviceInfo>("OPEN-UDID-1", "d41d8cd98f00b204e9800998ecf8427e", "02:00:00:00:00:00",
                               "OPEN-UDID-1", "iPhone7,1", "ARM64", "iOS", "8.1", fullResolution(), true,
                               "board", "brand", 1388534400000LL, "maker", "maker-id", "Li's phone");
}

Ref<TATClientStats> fullClientStats() {
    return make<TATClientStats>(12, 3, 250);
}

Ref<TATMiscInfo> fullMiscInfo() {
    return make<TATMiscInfo>(8, "zh-Hans", "CN", 31.230416, -121.473701, "中国移动", 30, "改装车", 2, "LTE");
}

Ref<TATLatent> fullLatent() {
    return make<TATLatent>(600, 86400000LL);
}
Ref<TATControlPolicy> fullControlPolicy() {
    return make<TATControlPolicy>(fullLatent());
}
Ref<TATActiveUser> fullActiveUser() {
    return make<TATActiveUser>("weibo", "u_1234567");
}
Ref<TATImprintValue> fullImprintValue() {
    return make<TATImprintValue>("1", 1400000000000LL, "guid-1");
}

Ref<TATImprint> fullImprint() {
    auto withoutValue = make<TATImprintValue>();
    withoutValue->setTs(6);
    withoutValue->setGuid("g3");
    return make<TATImprint>(TATMap<Ref<TATImprintValue>>{{"codex", fullImprintValue()},
                                                         {"defcon", make<TATImprintValue>("2", 5, "g2")},
                                                         {"latent", withoutValue}},
                            7, "0cc175b9c0f1b6a831c399e269772661");
}

Ref<TATResponse> fullResponse() {
    return make<TATResponse>(1, "success", fullImprint());
}
Ref<TATIdSnapshot> fullIdSnapshot() {
    return make<TATIdSnapshot>("02:00:00:00:00:00", 1400000000000LL, 2);
}
Ref<TATIdJournal> fullIdJournal() {
    return make<TATIdJournal>("mc", "old", "new", 1400000000001LL);
}

Ref<TATIdTracking> fullIdTracking() {
    auto firstSeen = make<TATIdJournal>("oid", std::nullopt, "O-1", 9);
    firstSeen->unsetOld_id();
    return make<TATIdTracking>(TATMap<Ref<TATIdSnapshot>>{{"mc", fullIdSnapshot()},
                                                          {"idfv", make<TATIdSnapshot>("V-1", 3, 1)},
                                                          {"oid", make<TATIdSnapshot>("O-1", 4, 1)}},
                               TATList<TATIdJournal>{fullIdJournal(), firstSeen}, "checksum");
}

Ref<TATUALogEntry> fullLogEntry() {
    Dictionary groups = Dictionary::mutableDictionary();
    groups.setObject("RPT", Value(2));
    groups.setObject("UI", Value(-7));
    return make<TATUALogEntry>(fullClientStats(), fullAppInfo(), fullDeviceInfo(), fullMiscInfo(),
                               fullActivateMsg(), TATList<TATInstantMsg>{fullInstantMsg(), fullInstantMsg()},
                               TATList<TATSession>{fullSession()}, fullImprint(), fullIdTracking(),
                               fullActiveUser(), fullControlPolicy(), groups);
}

Ref<TAEnvelope> fullEnvelope() {
    std::vector<std::uint8_t> entity(70000);
    for (std::size_t i = 0; i < entity.size(); ++i) entity[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return make<TAEnvelope>("V1.0", "53a1b2c3d4e5f6a7b8c9d0e1", std::string(64, 'a'), 17, 1400000000, 123456,
                            NSData(std::move(entity)), std::string(64, 'b'), std::string(32, 'c'), 1);
}

TEST(TATRecordRoundTrip, EveryTypeWithEveryFieldSet) {
    expectRoundTrip(fullEnvelope(), "full");
    expectRoundTrip(fullLogEntry(), "full");
    expectRoundTrip(fullControlPolicy(), "full");
    expectRoundTrip(fullLatent(), "full");
    expectRoundTrip(fullActiveUser(), "full");
    expectRoundTrip(fullAppInfo(), "full");
    expectRoundTrip(fullDeviceInfo(), "full");
    expectRoundTrip(fullResolution(), "full");
    expectRoundTrip(fullTraffic(), "full");
    expectRoundTrip(fullClientStats(), "full");
    expectRoundTrip(fullMiscInfo(), "full");
    expectRoundTrip(fullSession(), "full");
    expectRoundTrip(fullPage(), "full");
    expectRoundTrip(fullLocation(), "full");
    expectRoundTrip(fullInstantMsg(), "full");
    expectRoundTrip(fullEvent(), "full");
    expectRoundTrip(fullPropertyValue(), "full");
    expectRoundTrip(fullError(), "full");
    expectRoundTrip(fullActivateMsg(), "full");
    expectRoundTrip(fullImprintValue(), "full");
    expectRoundTrip(fullImprint(), "full");
    expectRoundTrip(fullResponse(), "full");
    expectRoundTrip(fullIdSnapshot(), "full");
    expectRoundTrip(fullIdJournal(), "full");
    expectRoundTrip(fullIdTracking(), "full");
}

TEST(TATRecordRoundTrip, EveryTypeWithNothingSet) {
    expectRoundTrip(make<TAEnvelope>(), "empty");
    expectRoundTrip(make<TATUALogEntry>(), "empty");
    expectRoundTrip(make<TATControlPolicy>(), "empty");
    expectRoundTrip(make<TATLatent>(), "empty");
    expectRoundTrip(make<TATActiveUser>(), "empty");
    expectRoundTrip(make<TATAppInfo>(), "empty");
    expectRoundTrip(make<TATDeviceInfo>(), "empty");
    expectRoundTrip(make<TATResolution>(), "empty");
    expectRoundTrip(make<TATTraffic>(), "empty");
    // A fresh client stats record starts with both counters set to 0, so it reads an empty
    // struct back as those defaults.
    auto stats = make<TATClientStats>();
    stats->unsetSuccessful_requests();
    stats->unsetFailed_requests();
    EXPECT_BYTES(written(*stats), 0);
    auto statsBack = readBack<TATClientStats>(written(*stats));
    EXPECT_TRUE(statsBack->successful_requestsIsSet());
    EXPECT_TRUE(statsBack->failed_requestsIsSet());
    expectRoundTrip(make<TATClientStats>(), "fresh");
    expectRoundTrip(make<TATMiscInfo>(), "empty");
    expectRoundTrip(make<TATSession>(), "empty");
    expectRoundTrip(make<TATPage>(), "empty");
    expectRoundTrip(make<TATLocation>(), "empty");
    expectRoundTrip(make<TATInstantMsg>(), "empty");
    expectRoundTrip(make<TATEvent>(), "empty");
    expectRoundTrip(make<TATPropertyValue>(), "empty");
    expectRoundTrip(make<TATError>(), "empty");
    expectRoundTrip(make<TATActivateMsg>(), "empty");
    expectRoundTrip(make<TATImprintValue>(), "empty");
    expectRoundTrip(make<TATImprint>(), "empty");
    expectRoundTrip(make<TATResponse>(), "empty");
    expectRoundTrip(make<TATIdSnapshot>(), "empty");
    expectRoundTrip(make<TATIdJournal>(), "empty");
    expectRoundTrip(make<TATIdTracking>(), "empty");
}

// Clears every optional field of a full record, leaving the required ones.
TEST(TATRecordRoundTrip, EveryTypeWithOnlyTheRequiredFields) {
    auto envelope = fullEnvelope();
    envelope->unsetCodex();
    expectRoundTrip(envelope, "required");

    auto entry = fullLogEntry();
    entry->unsetActivate_msg();
    entry->unsetInstant_msgs();
    entry->unsetSessions();
    entry->unsetImprint();
    entry->unsetId_tracking();
    entry->unsetActive_user();
    entry->unsetControl_policy();
    entry->unsetGroup_info();
    expectRoundTrip(entry, "required");

    expectRoundTrip(make<TATControlPolicy>(), "required");
    expectRoundTrip(fullLatent(), "required");
    expectRoundTrip(fullActiveUser(), "required");

    auto app = fullAppInfo();
    app->unsetVersion();
    app->unsetVersion_index();
    app->unsetPackage_name();
    app->unsetWrapper_type();
    app->unsetWrapper_version();
    app->unsetVertical_type();
    expectRoundTrip(app, "required");

    expectRoundTrip(make<TATDeviceInfo>(), "required");
    expectRoundTrip(fullResolution(), "required");
    expectRoundTrip(fullTraffic(), "required");
    auto stats = fullClientStats();
    stats->unsetLast_request_spent_ms();
    expectRoundTrip(stats, "required");
    expectRoundTrip(make<TATMiscInfo>(), "required");

    auto session = fullSession();
    session->unsetPages();
    session->unsetLocations();
    session->unsetTraffic();
    expectRoundTrip(session, "required");
    expectRoundTrip(fullPage(), "required");
    expectRoundTrip(fullLocation(), "required");

    auto message = fullInstantMsg();
    message->unsetErrors();
    message->unsetEvents();
    message->unsetGame_events();
    expectRoundTrip(message, "required");

    auto event = fullEvent();
    event->unsetDuration();
    event->unsetAcc();
    expectRoundTrip(event, "required");
    expectRoundTrip(make<TATPropertyValue>(), "required");
    auto error = fullError();
    error->unsetSource();
    expectRoundTrip(error, "required");
    expectRoundTrip(fullActivateMsg(), "required");

    auto value = fullImprintValue();
    value->unsetValue();
    expectRoundTrip(value, "required");
    expectRoundTrip(fullImprint(), "required");
    auto response = fullResponse();
    response->unsetMsg();
    response->unsetImprint();
    expectRoundTrip(response, "required");
    expectRoundTrip(fullIdSnapshot(), "required");
    auto journal = fullIdJournal();
    journal->unsetOld_id();
    expectRoundTrip(journal, "required");
    auto tracking = fullIdTracking();
    tracking->unsetJournals();
    tracking->unsetChecksum();
    expectRoundTrip(tracking, "required");
}

TEST(TATRecordRoundTrip, EmptyListsAndMapsComeBackSetAndEmpty) {
    auto message = make<TATInstantMsg>("id", TATList<TATError>{}, TATList<TATEvent>{}, TATList<TATEvent>{});
    expectRoundTrip(message, "empty lists");
    auto back = readBack<TATInstantMsg>(written(*message));
    ASSERT_TRUE(back->errors().has_value());
    EXPECT_TRUE(back->errors()->empty());

    auto entry = make<TATUALogEntry>();
    entry->setGroup_info(Dictionary::mutableDictionary());
    entry->setSessions(TATList<TATSession>{});
    expectRoundTrip(entry, "empty map and list");
}

TEST(TATRecordRoundTrip, ObjectFieldsSetToNoneComeBackUnset) {
    auto session = make<TATSession>(std::nullopt, 1, 2, 3, std::nullopt, std::nullopt, nullptr);
    auto back = readBack<TATSession>(written(*session));
    EXPECT_FALSE(back->idIsSet());
    EXPECT_FALSE(back->pagesIsSet());
    EXPECT_FALSE(back->trafficIsSet());
    EXPECT_EQ(back->end_time(), 2);
}

TEST(TATRecordRoundTrip, TextWithAZeroCharacterComesBackCut) {
    auto page = make<TATPage>(std::string("home\0hidden", 11), 1);
    auto back = readBack<TATPage>(written(*page));
    EXPECT_EQ(back->page_name(), std::optional<std::string>("home"));
}

TEST(TATRecordRoundTrip, ExtremeScalarsSurvive) {
    auto misc = make<TATMiscInfo>();
    misc->setLatitude(std::numeric_limits<double>::infinity());
    misc->setLongitude(std::numeric_limits<double>::denorm_min());
    misc->setTime_zone(std::numeric_limits<std::int32_t>::max());
    expectRoundTrip(misc, "extremes");
    auto location = make<TATLocation>(std::numeric_limits<double>::quiet_NaN(), -0.0,
                                      std::numeric_limits<std::int64_t>::max());
    expectRoundTrip(location, "nan");
}

TEST(TATRecordRoundTrip, LongTextAndManyElements) {
    auto session = make<TATSession>();
    session->setId(std::string(100000, 's'));
    TATList<TATPage> pages;
    for (int i = 0; i < 3000; ++i) pages.push_back(fullPage(i));
    session->setPages(pages);
    expectRoundTrip(session, "large");

    auto imprint = make<TATImprint>();
    TATMap<Ref<TATImprintValue>> property;
    for (int i = 0; i < 5000; ++i)
        property.setObject("key" + std::to_string(i), make<TATImprintValue>("v", i, "g"));
    imprint->setProperty(property);
    expectRoundTrip(imprint, "large map");
}

// Records read together share their storage; each one kept keeps it, wherever it is released.
TEST(TATRecordRoundTrip, RecordsKeptFromAReadOutliveTheRest) {
    auto entry = make<TATUALogEntry>();
    TATList<TATSession> sessions;
    for (int i = 0; i < 400; ++i) {
        sessions.push_back(make<TATSession>("session-" + std::to_string(i), i, i + 1, 1,
                                            TATList<TATPage>{fullPage(i)}, std::nullopt, nullptr));
    }
    entry->setApp_info(fullAppInfo());
    entry->setSessions(sessions);
    NSData data = written(*entry);

    auto back = readBack<TATUALogEntry>(data);
    Ref<TATSession> session = (*back->sessions())[399];
    Ref<TATPage> page = (*(*back->sessions())[7]->pages())[0];
    back.reset();
    std::thread([&] {
        EXPECT_EQ(session->id(), "session-399");
        EXPECT_TRUE(session->pages()->front()->isEqualToRecord(*fullPage(399)));
        session.reset();
    }).join();
    EXPECT_TRUE(page->isEqualToRecord(*sessions[7]->pages()->front()));

    // A read that fails part way keeps what it stored before the failure.
    auto partial = make<TATUALogEntry>();
    auto buffer = make<TATMemoryBuffer>(data.subdataWithRange(0, data.length() / 2));
    TATBinaryProtocol protocol(buffer);
    EXPECT_THROW(partial->read(protocol), TAWireTransportException);
    buffer.reset();
    EXPECT_FALSE(partial->sessionsIsSet());
    ASSERT_TRUE(partial->app_info());
    EXPECT_TRUE(partial->app_info()->isEqualToRecord(*fullAppInfo()));
}

}  // namespace
