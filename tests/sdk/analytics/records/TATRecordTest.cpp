// The shape every record shares: flags, setters and unsetters, writing only what is set, reading
// what is known and skipping the rest, validation, text form and keyed archiving.

#include "sdk/analytics/records/TATRecord.h"

#include <gtest/gtest.h>

#include "RecordTestSupport.h"

using namespace recordtest;

namespace {

const char kTransport[] = "Not enough bytes remain in buffer";

TEST(TATRecordFlags, FreshRecordIsUnsetAndWritesOnlyTheStop) {
    auto page = make<TATPage>();
    EXPECT_FALSE(page->page_nameIsSet());
    EXPECT_FALSE(page->durationIsSet());
    EXPECT_FALSE(page->page_name().has_value());
    EXPECT_EQ(page->duration(), 0);
    EXPECT_BYTES(written(*page), 0x00);
}

TEST(TATRecordFlags, SettingNoneSetsTheFlagButWritesNothing) {
    auto page = make<TATPage>();
    page->setPage_name(std::nullopt);
    EXPECT_TRUE(page->page_nameIsSet());
    EXPECT_BYTES(written(*page), 0x00);
    // The name passes validation; the unset duration does not.
    EXPECT_RAISES(page->validate(), TAWireProtocolException, "Required field 'duration' is not set.");
}

TEST(TATRecordFlags, ValidateAcceptsARequiredObjectSetToNone) {
    auto page = make<TATPage>();
    page->setPage_name(std::nullopt);
    page->setDuration(3);
    EXPECT_NO_THROW(page->validate());
}

TEST(TATRecordFlags, UnsettingAScalarKeepsItsValue) {
    auto page = make<TATPage>("p", 5);
    page->unsetDuration();
    EXPECT_EQ(page->duration(), 5);
    EXPECT_FALSE(page->durationIsSet());
    EXPECT_BYTES(written(*page), 0x0B, 0, 1, 0, 0, 0, 1, 0x70, 0);
}

TEST(TATRecordFlags, UnsettingAnObjectReleasesIt) {
    auto session = make<TATSession>();
    auto traffic = make<TATTraffic>(1, 2);
    session->setTraffic(traffic);
    session->unsetTraffic();
    EXPECT_EQ(session->traffic(), nullptr);
    EXPECT_EQ(traffic.use_count(), 1);
}

TEST(TATRecordFlags, FullInitialiserSetsEveryFlagEvenForNone) {
    auto session = make<TATSession>(std::nullopt, 1, 2, 3, std::nullopt, std::nullopt, nullptr);
    EXPECT_TRUE(session->idIsSet());
    EXPECT_TRUE(session->pagesIsSet());
    EXPECT_TRUE(session->locationsIsSet());
    EXPECT_TRUE(session->trafficIsSet());
    EXPECT_NO_THROW(session->validate());
    // Only the scalars carry values.
    EXPECT_BYTES(written(*session), 0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0x0A, 0, 3, 0, 0, 0, 0, 0, 0, 0, 2,
                 0x0A, 0, 4, 0, 0, 0, 0, 0, 0, 0, 3, 0);
}

TEST(TATRecordFlags, ListsCanBeChangedInPlace) {
    auto message = make<TATInstantMsg>();
    message->setEvents(TATList<TATEvent>{});
    message->events()->push_back(make<TATEvent>());
    message->events()->back()->setName("e");
    EXPECT_EQ(message->events()->size(), 1u);
    EXPECT_BYTES(written(*message), 0x0F, 0, 3, 0x0C, 0, 0, 0, 1, 0x0B, 0, 1, 0, 0, 0, 1, 0x65, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// Reading

TEST(TATRecordRead, FieldWithTheWrongTypeIsSkipped) {
    // Page field 1 arrives as an i32, then field 2 as expected.
    auto page = readBack<TATPage>(bytes({0x08, 0, 1, 0, 0, 0, 9, 0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 4, 0}));
    EXPECT_FALSE(page->page_nameIsSet());
    EXPECT_TRUE(page->durationIsSet());
    EXPECT_EQ(page->duration(), 4);
}

TEST(TATRecordRead, WrongTypeKeepsTheFormerValueAndFlag) {
    auto page = make<TATPage>("kept", 1);
    auto buffer = make<TATMemoryBuffer>(bytes({0x0F, 0, 1, 0x08, 0, 0, 0, 1, 0, 0, 0, 7, 0}));
    TATBinaryProtocol protocol(buffer);
    page->read(protocol);
    EXPECT_EQ(page->page_name(), std::optional<std::string>("kept"));
    EXPECT_TRUE(page->page_nameIsSet());
}

TEST(TATRecordRead, UnknownIdsAreSkippedWithNestedStructures) {
    NSData data = bytes({0x0C, 0, 9,                                            // unknown struct field 9
                         0x0F, 0, 1,    0x0B, 0,    0, 0, 1, 0, 0, 0, 1, 0x61,  //   1: list<string> ["a"]
                         0x0C, 0, 2,    0x08, 0,    1, 0, 0, 0, 1, 0,           //   2: struct { 1: i32 }
                         0,                                                     // end of field 9
                         0x0D, 0, 0x7F, 0x0B, 0x0A, 0, 0, 0, 0,        // unknown empty map with id 127
                         0x0A, 0, 2,    0,    0,    0, 0, 0, 0, 0, 6,  // duration 6
                         0});
    auto page = readBack<TATPage>(data);
    EXPECT_FALSE(page->page_nameIsSet());
    EXPECT_EQ(page->duration(), 6);
}

TEST(TATRecordRead, ReadDoesNotClearFieldsThatDoNotArrive) {
    auto page = make<TATPage>("before", 1);
    auto buffer = make<TATMemoryBuffer>(bytes({0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 8, 0}));
    TATBinaryProtocol protocol(buffer);
    page->read(protocol);
    EXPECT_EQ(page->page_name(), std::optional<std::string>("before"));
    EXPECT_EQ(page->duration(), 8);
}

TEST(TATRecordRead, InvalidUTF8TextReadsAsNoneButSet) {
    auto page = readBack<TATPage>(bytes({0x0B, 0, 1, 0, 0, 0, 1, 0xFF, 0}));
    EXPECT_TRUE(page->page_nameIsSet());
    EXPECT_FALSE(page->page_name().has_value());
}

TEST(TATRecordRead, FailurePartWayKeepsTheFieldsAlreadyStored) {
    auto response = make<TATResponse>();
    auto buffer = make<TATMemoryBuffer>(bytes({0x08, 0, 1, 0, 0, 0, 1}));
    TATBinaryProtocol protocol(buffer);
    EXPECT_RAISES(response->read(protocol), TAWireTransportException, kTransport);
    EXPECT_TRUE(response->resp_codeIsSet());
    EXPECT_EQ(response->resp_code(), 1);
}

TEST(TATRecordRead, FailingNestedValueLeavesItsFieldAsItWas) {
    auto session = make<TATSession>();
    auto pages = TATList<TATPage>{make<TATPage>("old", 1)};
    session->setPages(pages);
    // A list of two pages whose second is cut short.
    NSData data = bytes({0x0F, 0, 5, 0x0C, 0, 0, 0, 2, 0, 0x0B, 0, 1, 0, 0});
    auto buffer = make<TATMemoryBuffer>(data);
    TATBinaryProtocol protocol(buffer);
    EXPECT_THROW(session->read(protocol), TAWireTransportException);
    ASSERT_TRUE(session->pages().has_value());
    ASSERT_EQ(session->pages()->size(), 1u);
    EXPECT_EQ(session->pages()->front()->page_name(), std::optional<std::string>("old"));
}

TEST(TATRecordRead, ListElementTypeOnTheWireIsNotLookedAt) {
    // The sessions list claims element type i32; the elements are still read as sessions.
    NSData data = bytes({0x0F, 0, 7, 0x08, 0, 0, 0, 1, 0x0B, 0, 1, 0, 0, 0, 1, 0x73, 0, 0});
    auto entry = readBack<TATUALogEntry>(data);
    ASSERT_TRUE(entry->sessions().has_value());
    ASSERT_EQ(entry->sessions()->size(), 1u);
    EXPECT_EQ(entry->sessions()->front()->id(), std::optional<std::string>("s"));
}

TEST(TATRecordRead, NegativeListCountGivesAnEmptySetList) {
    auto message = readBack<TATInstantMsg>(bytes({0x0F, 0, 2, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0}));
    EXPECT_TRUE(message->errorsIsSet());
    ASSERT_TRUE(message->errors().has_value());
    EXPECT_TRUE(message->errors()->empty());
}

TEST(TATRecordRead, LaterEqualMapKeyReplacesTheEarlier) {
    NSData data = bytes({0x0D, 0, 2, 0x0B, 0x0C, 0,    0, 0, 2,                    //
                         0,    0, 0, 1,    0x6B, 0x0B, 0, 1, 0, 0, 0, 1, 0x31, 0,  // "k": {"1"}
                         0,    0, 0, 1,    0x6B, 0x0B, 0, 1, 0, 0, 0, 1, 0x32, 0,  // "k": {"2"}
                         0});
    auto event = readBack<TATEvent>(data);
    ASSERT_TRUE(event->properties().has_value());
    EXPECT_EQ(event->properties()->count(), 1u);
    EXPECT_EQ(event->properties()->objectForKey("k")->string_value(), std::optional<std::string>("2"));
}

TEST(TATRecordRead, MapKeyThatIsNotUTF8FailsTheRead) {
    NSData data = bytes({0x0D, 0, 1, 0x0B, 0x0C, 0, 0, 0, 1, 0, 0, 0, 1, 0xFE, 0, 0x08, 0, 2, 0, 0, 0, 1, 0});
    auto imprint = make<TATImprint>();
    auto buffer = make<TATMemoryBuffer>(data);
    TATBinaryProtocol protocol(buffer);
    EXPECT_THROW(imprint->read(protocol), TAWireProtocolException);
    EXPECT_FALSE(imprint->propertyIsSet());
}

TEST(TATRecordRead, NumberMapReadsNumbersAndReplacesEqualKeys) {
    NSData data = bytes({0x0D, 0, 12, 0x0B, 0x08, 0,    0,    0,    3,     //
                         0,    0, 0,  1,    0x61, 0,    0,    0,    1,     // a: 1
                         0,    0, 0,  1,    0x62, 0xFF, 0xFF, 0xFF, 0xFF,  // b: -1
                         0,    0, 0,  1,    0x61, 0,    0,    0,    3,     // a: 3
                         0});
    auto entry = readBack<TATUALogEntry>(data);
    ASSERT_TRUE(entry->group_info().has_value());
    const Dictionary& groups = *entry->group_info();
    EXPECT_EQ(groups.count(), 2u);
    EXPECT_EQ(groups.allKeys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(groups["a"].intValue(), 3);
    EXPECT_EQ(groups["b"].intValue(), -1);
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(TATRecordWrite, NullListElementsAndMapValuesAreLeftOut) {
    auto message = make<TATInstantMsg>();
    message->setErrors(TATList<TATError>{nullptr, make<TATError>(1, "x", 0), nullptr});
    auto back = readBack<TATInstantMsg>(written(*message));
    ASSERT_EQ(back->errors()->size(), 1u);
    EXPECT_EQ(back->errors()->front()->context(), std::optional<std::string>("x"));

    auto imprint = make<TATImprint>();
    imprint->setProperty(TATMap<Ref<TATImprintValue>>{{"gone", nullptr}, {"kept", make<TATImprintValue>()}});
    auto imprintBack = readBack<TATImprint>(written(*imprint));
    EXPECT_EQ(imprintBack->property()->allKeys(), std::vector<std::string>{"kept"});
}

TEST(TATRecordWrite, MapsAreWrittenInInsertionOrder) {
    TATMap<Ref<TATPropertyValue>> properties;
    properties.setObject("z", make<TATPropertyValue>());
    properties.setObject("a", make<TATPropertyValue>());
    properties.setObject("z", make<TATPropertyValue>("again", 0));
    auto event = make<TATEvent>();
    event->setProperties(properties);
    EXPECT_BYTES(written(*event), 0x0D, 0, 2, 0x0B, 0x0C, 0, 0, 0, 2,                     //
                 0, 0, 0, 1, 0x7A, 0x0B, 0, 1, 0, 0, 0, 5, 0x61, 0x67, 0x61, 0x69, 0x6E,  //
                 0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                   //
                 0, 0, 0, 1, 0x61, 0,                                                     //
                 0);
}

TEST(TATRecordWrite, NumberMapSendsTheLowBits) {
    auto entry = make<TATUALogEntry>();
    Dictionary groups = Dictionary::mutableDictionary();
    groups.setObject("RPT", Value(static_cast<long long>(0x100000002LL)));
    entry->setGroup_info(groups);
    EXPECT_BYTES(written(*entry), 0x0D, 0, 12, 0x0B, 0x08, 0, 0, 0, 1, 0, 0, 0, 3, 0x52, 0x50, 0x54, 0, 0, 0,
                 2, 0);
    auto back = readBack<TATUALogEntry>(written(*entry));
    EXPECT_EQ((*back->group_info())["RPT"].longLongValue(), 2);
}

// ---------------------------------------------------------------------------------------------
// Validation

TEST(TATRecordValidate, FirstUnsetRequiredFieldIsNamed) {
    EXPECT_RAISES(make<TATLocation>()->validate(), TAWireProtocolException,
                  "Required field 'lat' is not set.");
    auto location = make<TATLocation>();
    location->setLat(1);
    location->setLng(2);
    EXPECT_RAISES(location->validate(), TAWireProtocolException, "Required field 'ts' is not set.");
    location->setTs(3);
    EXPECT_NO_THROW(location->validate());
}

TEST(TATRecordValidate, EachRecordChecksItsRequiredFieldsInOrder) {
    auto check = [](const auto& record, const char* first) {
        try {
            record->validate();
            ADD_FAILURE() << "no exception, expected " << first;
        } catch (const TAWireProtocolException& e) {
            EXPECT_EQ(e.name(), "WireProtocolException");
            EXPECT_EQ(e.reason(), std::string("Required field '") + first + "' is not set.");
        }
    };
    check(make<TAEnvelope>(), "version");
    check(make<TATUALogEntry>(), "client_stats");
    check(make<TATLatent>(), "latency");
    check(make<TATActiveUser>(), "provider");
    check(make<TATAppInfo>(), "key");
    check(make<TATResolution>(), "height");
    check(make<TATTraffic>(), "upload_traffic");
    check(make<TATSession>(), "id");
    check(make<TATPage>(), "page_name");
    check(make<TATInstantMsg>(), "id");
    check(make<TATEvent>(), "name");
    check(make<TATError>(), "ts");
    check(make<TATActivateMsg>(), "ts");
    check(make<TATImprintValue>(), "ts");
    check(make<TATImprint>(), "property");
    check(make<TATResponse>(), "resp_code");
    check(make<TATIdSnapshot>(), "identity");
    check(make<TATIdJournal>(), "domain");
    check(make<TATIdTracking>(), "snapshots");

    auto envelope = make<TAEnvelope>("V1.0", "k", "s", 1, 2, 3, NSData(), "g", std::nullopt, 0);
    envelope->unsetChecksum();
    check(envelope, "checksum");
    auto journal = make<TATIdJournal>("mc", std::nullopt, "n", 1);
    journal->unsetOld_id();
    EXPECT_NO_THROW(journal->validate());
    journal->unsetTs();
    check(journal, "ts");
}

TEST(TATRecordValidate, RecordsWithoutRequiredFieldsAlwaysPass) {
    EXPECT_NO_THROW(make<TATDeviceInfo>()->validate());
    EXPECT_NO_THROW(make<TATMiscInfo>()->validate());
    EXPECT_NO_THROW(make<TATControlPolicy>()->validate());
    EXPECT_NO_THROW(make<TATPropertyValue>()->validate());
    EXPECT_NO_THROW(make<TATClientStats>()->validate());
    auto envelope = make<TAEnvelope>("V1.0", "k", "s", 1, 2, 3, NSData(), "g", "c", 0);
    envelope->unsetCodex();
    EXPECT_NO_THROW(envelope->validate());
}

TEST(TATRecordValidate, WriteDoesNotValidate) {
    EXPECT_NO_THROW(written(*make<TATLocation>()));
}

// ---------------------------------------------------------------------------------------------
// Text form

TEST(TATRecordDescription, ScalarsAndText) {
    EXPECT_EQ(make<TATLocation>(1.5, 2, 7)->description(), "Location(lat:1.500000,lng:2.000000,ts:7)");
    EXPECT_EQ(make<TATActivateMsg>()->description(), "ActivateMsg(ts:0)");
    EXPECT_EQ(make<TATPage>()->description(), "Page(page_name:\"(null)\",duration:0)");
    EXPECT_EQ(make<TATPage>("main", -3)->description(), "Page(page_name:\"main\",duration:-3)");
    auto device = make<TATDeviceInfo>();
    device->setIs_jailbroken(true);
    EXPECT_NE(device->description().find(",is_jailbroken:1,"), std::string::npos);
    EXPECT_EQ(device->description().rfind("DeviceInfo(device_id:\"(null)\",", 0), 0u);
}

TEST(TATRecordDescription, NestedRecordsListsMapsAndBytes) {
    auto policy = make<TATControlPolicy>(make<TATLatent>(10, 0));
    EXPECT_EQ(policy->description(), "ControlPolicy(latent:Latent(latency:10,interval:0))");
    EXPECT_EQ(make<TATControlPolicy>()->description(), "ControlPolicy(latent:(null))");

    auto session =
        make<TATSession>("s", 1, 2, 1, TATList<TATPage>{make<TATPage>("p", 1)}, std::nullopt, nullptr);
    std::string text = session->description();
    EXPECT_NE(text.find("pages:("), std::string::npos) << text;
    EXPECT_NE(text.find("Page(page_name:"), std::string::npos) << text;
    EXPECT_NE(text.find("locations:(null)"), std::string::npos) << text;

    auto envelope = make<TAEnvelope>();
    envelope->setEntity(bytes({0x12, 0x34}));
    EXPECT_NE(envelope->description().find("entity:\"<1234>\""), std::string::npos)
        << envelope->description();
    EXPECT_EQ(envelope->description().rfind("TAEnvelope(version:\"(null)\"", 0), 0u);

    auto entry = make<TATUALogEntry>();
    Dictionary groups = Dictionary::mutableDictionary();
    groups.setObject("RPT", Value(2));
    entry->setGroup_info(groups);
    EXPECT_NE(entry->description().find("RPT"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Keyed archiving

TEST(TATRecordCoding, ArchiveKeepsSetFieldsOnly) {
    auto session = make<TATSession>();
    session->setId("s1");
    session->setDuration(9);
    session->setPages(TATList<TATPage>{make<TATPage>("a", 1), make<TATPage>("b", 2)});
    session->setTraffic(nullptr);
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(Value(session));
    ASSERT_TRUE(archive.has_value());
    auto back = NSKeyedUnarchiver::unarchiveObjectWithData(*archive).objectAs<TATSession>();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->isEqualToRecord(*session)) << back->description();
    EXPECT_FALSE(back->start_timeIsSet());
    EXPECT_TRUE(back->trafficIsSet());
    EXPECT_EQ(back->traffic(), nullptr);
}

TEST(TATRecordCoding, EveryKindOfFieldSurvivesArchiving) {
    auto entry = make<TATUALogEntry>();
    entry->setClient_stats(make<TATClientStats>());
    auto device = make<TATDeviceInfo>();
    device->setIs_jailbroken(true);
    device->setResolution(make<TATResolution>(1136, 640));
    entry->setDevice_info(device);
    auto misc = make<TATMiscInfo>();
    misc->setLatitude(31.25);
    entry->setMisc_info(misc);
    auto imprint = make<TATImprint>(
        TATMap<Ref<TATImprintValue>>{{"codex", make<TATImprintValue>("1", 5, "g")}}, 3, "sum");
    entry->setImprint(imprint);
    Dictionary groups = Dictionary::mutableDictionary();
    groups.setObject("RPT", Value(1));
    entry->setGroup_info(groups);
    auto envelope = make<TAEnvelope>();
    envelope->setEntity(bytes({0, 1, 2}));

    auto entryBack =
        NSKeyedUnarchiver::unarchiveObjectWithData(*NSKeyedArchiver::archivedDataWithRootObject(entry))
            .objectAs<TATUALogEntry>();
    ASSERT_NE(entryBack, nullptr);
    EXPECT_TRUE(entryBack->isEqualToRecord(*entry)) << entryBack->description();
    auto envelopeBack =
        NSKeyedUnarchiver::unarchiveObjectWithData(*NSKeyedArchiver::archivedDataWithRootObject(envelope))
            .objectAs<TAEnvelope>();
    ASSERT_NE(envelopeBack, nullptr);
    EXPECT_EQ(envelopeBack->entity(), std::optional<NSData>(bytes({0, 1, 2})));
}

TEST(TATRecordCoding, ClientStatsFromAnArchiveHasOnlyWhatWasArchived) {
    auto stats = make<TATClientStats>();
    stats->unsetFailed_requests();
    auto back =
        NSKeyedUnarchiver::unarchiveObjectWithData(*NSKeyedArchiver::archivedDataWithRootObject(stats))
            .objectAs<TATClientStats>();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->successful_requestsIsSet());
    EXPECT_FALSE(back->failed_requestsIsSet());
}

// ---------------------------------------------------------------------------------------------
// The map type

TEST(TATMapTest, KeepsInsertionOrderAndReplacesInPlace) {
    TATMap<int> map;
    for (int i = 0; i < 40; ++i) map.setObject("k" + std::to_string(i), i);
    map.setObject("k3", 300);
    EXPECT_EQ(map.count(), 40u);
    EXPECT_EQ(map.objectForKey("k3"), 300);
    EXPECT_EQ(map.allKeys()[3], "k3");
    EXPECT_EQ(map.objectForKey("missing"), 0);
    map.removeObjectForKey("k0");
    EXPECT_FALSE(map.containsKey("k0"));
    EXPECT_EQ(map.objectForKey("k39"), 39);
    EXPECT_EQ(map.allKeys().front(), "k1");
    map.setObject("new", 7);
    EXPECT_EQ(map.allKeys().back(), "new");
    EXPECT_EQ(map.objectForKey("new"), 7);
    map.removeAllObjects();
    EXPECT_TRUE(map.empty());
}

}  // namespace
