// Byte-exact forms of the records that peers rely on: the collector reads these bytes, and stored
// imprints and id tracking are read back from them.

#include <gtest/gtest.h>

#include <cstring>

#include "RecordTestSupport.h"

using namespace recordtest;

namespace {

// ----- envelope -----

TEST(TAEnvelopeBytes, VersionOnly) {
    auto envelope = make<TAEnvelope>();
    envelope->setVersion("V1.0");
    EXPECT_BYTES(written(*envelope), 0x0B, 0, 1, 0, 0, 0, 4, 0x56, 0x31, 0x2E, 0x30, 0);
}

TEST(TAEnvelopeBytes, CodexNeverSetIsOmitted) {
    auto envelope = make<TAEnvelope>("V1.0", "k", "s", 1, 2, 3, NSData(), "g", "c", 1);
    envelope->unsetCodex();
    NSData data = written(*envelope);
    auto back = readBack<TAEnvelope>(data);
    EXPECT_FALSE(back->codexIsSet());
    EXPECT_TRUE(back->checksumIsSet());
    // The last field before the stop is the checksum string "c".
    EXPECT_EQ(hex(data.subdataWithRange(data.length() - 9, 9)), "0B 00 09 00 00 00 01 63 00");
}

TEST(TAEnvelopeBytes, EmptyEntityIsHeaderAndZeroLength) {
    auto envelope = make<TAEnvelope>();
    envelope->setEntity(NSData());
    EXPECT_BYTES(written(*envelope), 0x0B, 0, 7, 0, 0, 0, 0, 0);
    auto back = readBack<TAEnvelope>(written(*envelope));
    ASSERT_TRUE(back->entity().has_value());
    EXPECT_EQ(back->entity()->length(), 0u);
}

TEST(TAEnvelopeBytes, EntityBytesAreWrittenUnchanged) {
    NSData entity = bytes({0x78, 0x9C, 0x00, 0xFF, 0xC0, 0x80, 0x00});
    auto envelope = make<TAEnvelope>();
    envelope->setEntity(entity);
    EXPECT_BYTES(written(*envelope), 0x0B, 0, 7, 0, 0, 0, 7, 0x78, 0x9C, 0x00, 0xFF, 0xC0, 0x80, 0x00, 0);
    EXPECT_EQ(readBack<TAEnvelope>(written(*envelope))->entity(), std::optional<NSData>(entity));
}

TEST(TAEnvelopeBytes, FullEnvelope) {
    auto envelope = make<TAEnvelope>("V1.0", "ak", "5e", 7, 1400000000, 300, bytes({1, 2}), "9f", "cc", 0);
    EXPECT_BYTES(written(*envelope),                              //
                 0x0B, 0, 1, 0, 0, 0, 4, 0x56, 0x31, 0x2E, 0x30,  // version
                 0x0B, 0, 2, 0, 0, 0, 2, 0x61, 0x6B,              // address
                 0x0B, 0, 3, 0, 0, 0, 2, 0x35, 0x65,              // signature
                 0x08, 0, 4, 0, 0, 0, 7,                          // serial_num
                 0x08, 0, 5, 0x53, 0x72, 0x4E, 0x00,              // ts_secs
                 0x08, 0, 6, 0, 0, 0x01, 0x2C,                    // length
                 0x0B, 0, 7, 0, 0, 0, 2, 1, 2,                    // entity
                 0x0B, 0, 8, 0, 0, 0, 2, 0x39, 0x66,              // guid
                 0x0B, 0, 9, 0, 0, 0, 2, 0x63, 0x63,              // checksum
                 0x08, 0, 10, 0, 0, 0, 0,                         // codex
                 0);
}

// ----- log entry and policy -----

TEST(TATUALogEntryBytes, ControlPolicySetToNoneWritesOnlyTheStop) {
    auto entry = make<TATUALogEntry>();
    entry->setControl_policy(nullptr);
    EXPECT_BYTES(written(*entry), 0);
    auto unset = make<TATUALogEntry>();
    unset->setControl_policy(make<TATControlPolicy>());
    unset->unsetControl_policy();
    EXPECT_EQ(written(*unset), written(*entry));
}

TEST(TATUALogEntryBytes, ControlPolicyWithLatent) {
    auto policy = make<TATControlPolicy>(make<TATLatent>(10, 0));
    EXPECT_BYTES(written(*policy), 0x0C, 0, 1, 0x08, 0, 1, 0, 0, 0, 0x0A, 0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0,
                 0, 0);
}

TEST(TATUALogEntryBytes, ActiveUser) {
    EXPECT_BYTES(written(*make<TATActiveUser>("qq", "u1")), 0x0B, 0, 1, 0, 0, 0, 2, 0x71, 0x71, 0x0B, 0, 2, 0,
                 0, 0, 2, 0x75, 0x31, 0);
}

TEST(TATUALogEntryBytes, HeaderPartsInIdOrder) {
    auto entry = make<TATUALogEntry>();
    // Set out of order: written by id.
    entry->setMisc_info(make<TATMiscInfo>());
    entry->setClient_stats(make<TATClientStats>());
    entry->setDevice_info(make<TATDeviceInfo>());
    entry->setApp_info(make<TATAppInfo>());
    entry->setActivate_msg(make<TATActivateMsg>(1));
    EXPECT_BYTES(written(*entry),                                                //
                 0x0C, 0, 1, 0x08, 0, 1, 0, 0, 0, 0, 0x08, 0, 2, 0, 0, 0, 0, 0,  // client_stats
                 0x0C, 0, 2, 0,                                                  // app_info
                 0x0C, 0, 3, 0,                                                  // device_info
                 0x0C, 0, 4, 0,                                                  // misc_info
                 0x0C, 0, 5, 0x0A, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0,              // activate_msg
                 0);
}

// ----- header records -----

TEST(TATHeaderBytes, FreshClientStats) {
    EXPECT_BYTES(written(*make<TATClientStats>()), 0x08, 0, 1, 0, 0, 0, 0, 0x08, 0, 2, 0, 0, 0, 0, 0);
}

TEST(TATHeaderBytes, Resolution) {
    EXPECT_BYTES(written(*make<TATResolution>(1136, 640)), 0x08, 0, 1, 0, 0, 0x04, 0x70, 0x08, 0, 2, 0, 0,
                 0x02, 0x80, 0);
}

TEST(TATHeaderBytes, DeviceInfoJailbrokenOnly) {
    auto device = make<TATDeviceInfo>();
    device->setIs_jailbroken(true);
    EXPECT_BYTES(written(*device), 0x02, 0, 0x0A, 1, 0);
}

TEST(TATHeaderBytes, DeviceInfoSkipsIdEleven) {
    auto device = make<TATDeviceInfo>();
    device->setOs_version("7");
    device->setResolution(make<TATResolution>(1, 2));
    device->setDevice_board("b");
    device->setDevice_manutime(-1);
    EXPECT_BYTES(written(*device),                                               //
                 0x0B, 0, 8, 0, 0, 0, 1, 0x37,                                   // os_version
                 0x0C, 0, 9, 0x08, 0, 1, 0, 0, 0, 1, 0x08, 0, 2, 0, 0, 0, 2, 0,  // resolution
                 0x0B, 0, 12, 0, 0, 0, 1, 0x62,                                  // device_board
                 0x0A, 0, 14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,    // device_manutime
                 0);
}

TEST(TATHeaderBytes, MiscInfoLatitudeIsADouble) {
    auto misc = make<TATMiscInfo>();
    misc->setLatitude(31.2304);
    NSData data = written(*misc);
    ASSERT_EQ(data.length(), 12u);
    EXPECT_EQ(hex(data.subdataWithRange(0, 3)), "04 00 04");
    std::uint64_t bits;
    double latitude = 31.2304;
    std::memcpy(&bits, &latitude, 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(data.bytes()[3 + i], static_cast<std::uint8_t>(bits >> (56 - 8 * i)));
    EXPECT_EQ(data.bytes()[11], 0);
}

TEST(TATHeaderBytes, AppInfoAsTheAssemblyFillsIt) {
    auto app = make<TATAppInfo>();
    app->setKey("K");
    app->setVersion("2.1");
    app->setPackage_name("p");
    app->setSdk_type(1);
    app->setSdk_version("3");
    app->setChannel("c");
    EXPECT_BYTES(written(*app),                             //
                 0x0B, 0, 1, 0, 0, 0, 1, 0x4B,              // key
                 0x0B, 0, 2, 0, 0, 0, 3, 0x32, 0x2E, 0x31,  // version
                 0x0B, 0, 4, 0, 0, 0, 1, 0x70,              // package_name
                 0x08, 0, 5, 0, 0, 0, 1,                    // sdk_type
                 0x0B, 0, 6, 0, 0, 0, 1, 0x33,              // sdk_version
                 0x0B, 0, 7, 0, 0, 0, 1, 0x63,              // channel
                 0);
}

TEST(TATHeaderBytes, Traffic) {
    EXPECT_BYTES(written(*make<TATTraffic>(-1, 256)), 0x08, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0x08, 0, 2, 0, 0, 1,
                 0, 0);
}

// ----- body records -----

TEST(TATBodyBytes, ActivateMsg) {
    EXPECT_BYTES(written(*make<TATActivateMsg>(1)), 0x0A, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0);
}

TEST(TATBodyBytes, Page) {
    EXPECT_BYTES(written(*make<TATPage>("a", 2)), 0x0B, 0, 1, 0, 0, 0, 1, 0x61, 0x0A, 0, 2, 0, 0, 0, 0, 0, 0,
                 0, 2, 0);
}

TEST(TATBodyBytes, EventWithEmptyProperties) {
    auto event = make<TATEvent>();
    event->setProperties(TATMap<Ref<TATPropertyValue>>{});
    EXPECT_BYTES(written(*event), 0x0D, 0, 2, 0x0B, 0x0C, 0, 0, 0, 0, 0);
}

TEST(TATBodyBytes, GameEventsUnderIdFour) {
    auto message = make<TATInstantMsg>();
    message->setGame_events(TATList<TATEvent>{make<TATEvent>()});
    NSData data = written(*message);
    EXPECT_BYTES(data, 0x0F, 0, 4, 0x0C, 0, 0, 0, 1, 0, 0);
    auto back = readBack<TATInstantMsg>(data);
    ASSERT_TRUE(back->game_events().has_value());
    ASSERT_EQ(back->game_events()->size(), 1u);
    EXPECT_NE(back->game_events()->front(), nullptr);
    EXPECT_FALSE(back->eventsIsSet());
}

TEST(TATBodyBytes, PropertyValueWithBothFields) {
    EXPECT_BYTES(written(*make<TATPropertyValue>("x", 3)), 0x0B, 0, 1, 0, 0, 0, 1, 0x78, 0x0A, 0, 2, 0, 0, 0,
                 0, 0, 0, 0, 3, 0);
}

TEST(TATBodyBytes, LocationAndError) {
    EXPECT_BYTES(written(*make<TATLocation>(1.0, -2.0, 3)), 0x04, 0, 1, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0x04, 0,
                 2, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0, 3, 0, 0, 0, 0, 0, 0, 0, 3, 0);
    auto error = make<TATError>();
    error->setTs(5);
    error->setContext("e");
    EXPECT_BYTES(written(*error), 0x0A, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0x0B, 0, 2, 0, 0, 0, 1, 0x65, 0);
}

TEST(TATBodyBytes, SessionWithPagesAndLocation) {
    auto session = make<TATSession>();
    session->setId("s");
    session->setPages(TATList<TATPage>{make<TATPage>("a", 2)});
    session->setLocations(TATList<TATLocation>{});
    EXPECT_BYTES(written(*session),                                                    //
                 0x0B, 0, 1, 0, 0, 0, 1, 0x73,                                         // id
                 0x0F, 0, 5, 0x0C, 0, 0, 0, 1,                                         // pages
                 0x0B, 0, 1, 0, 0, 0, 1, 0x61, 0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 2, 0,  //
                 0x0F, 0, 6, 0x0C, 0, 0, 0, 0,                                         // locations
                 0);
}

// ----- imprint, reply and id tracking -----

TEST(TATImprintBytes, ResponseCodeOnly) {
    auto response = make<TATResponse>();
    response->setResp_code(1);
    EXPECT_BYTES(written(*response), 0x08, 0, 1, 0, 0, 0, 1, 0);
    auto back = readBack<TATResponse>(bytes({0x08, 0, 1, 0, 0, 0, 1, 0}));
    EXPECT_TRUE(back->resp_codeIsSet());
    EXPECT_EQ(back->resp_code(), 1);
    EXPECT_FALSE(back->msgIsSet());
    EXPECT_FALSE(back->imprintIsSet());
}

TEST(TATImprintBytes, TruncatedReplyRaisesAtTheNextFieldHeader) {
    auto response = make<TATResponse>();
    auto buffer = make<TATMemoryBuffer>(bytes({0x08, 0, 1, 0, 0, 0, 1}));
    TATBinaryProtocol protocol(buffer);
    EXPECT_RAISES(response->read(protocol), TAWireTransportException, "Not enough bytes remain in buffer");
    EXPECT_EQ(response->resp_code(), 1);
}

TEST(TATImprintBytes, ReplyWithoutCodeReadsAsUnsetZero) {
    auto back = readBack<TATResponse>(bytes({0x0B, 0, 2, 0, 0, 0, 2, 0x6F, 0x6B, 0}));
    EXPECT_FALSE(back->resp_codeIsSet());
    EXPECT_EQ(back->resp_code(), 0);
    EXPECT_EQ(back->msg(), std::optional<std::string>("ok"));
}

TEST(TATImprintBytes, UnknownFieldFourIsIgnoredWhateverItHolds) {
    NSData prefix = bytes({0x08, 0, 1, 0, 0, 0, 1});
    for (NSData extra : {bytes({0x0B, 0, 4, 0, 0, 0, 2, 0x68, 0x69}),                             // string
                         bytes({0x0C, 0, 4, 0x0B, 0, 1, 0, 0, 0, 1, 0x61, 0x0C, 0, 2, 0, 0}),     // struct
                         bytes({0x0F, 0, 4, 0x0C, 0, 0, 0, 2, 0x08, 0, 1, 0, 0, 0, 5, 0, 0})}) {  // list
        auto back = readBack<TATResponse>(concat({prefix, extra, bytes({0})}));
        EXPECT_EQ(back->resp_code(), 1) << hex(extra);
        EXPECT_FALSE(back->msgIsSet());
        EXPECT_FALSE(back->imprintIsSet());
        EXPECT_BYTES(written(*back), 0x08, 0, 1, 0, 0, 0, 1, 0);
    }
}

TEST(TATImprintBytes, EmptyPropertyMap) {
    auto imprint = make<TATImprint>();
    imprint->setProperty(TATMap<Ref<TATImprintValue>>{});
    EXPECT_BYTES(written(*imprint), 0x0D, 0, 1, 0x0B, 0x0C, 0, 0, 0, 0, 0);
}

TEST(TATImprintBytes, ImprintWithOneProperty) {
    auto imprint =
        make<TATImprint>(TATMap<Ref<TATImprintValue>>{{"codex", make<TATImprintValue>("1", 2, "g")}}, 3, "c");
    EXPECT_BYTES(written(*imprint),                         //
                 0x0D, 0, 1, 0x0B, 0x0C, 0, 0, 0, 1,        // property
                 0, 0, 0, 5, 0x63, 0x6F, 0x64, 0x65, 0x78,  // "codex"
                 0x0B, 0, 1, 0, 0, 0, 1, 0x31,              //   value
                 0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 2,        //   ts
                 0x0B, 0, 3, 0, 0, 0, 1, 0x67, 0,           //   guid
                 0x08, 0, 2, 0, 0, 0, 3,                    // version
                 0x0B, 0, 3, 0, 0, 0, 1, 0x63,              // checksum
                 0);
}

TEST(TATImprintBytes, JournalWithoutOldId) {
    auto first = make<TATIdJournal>("mc", std::nullopt, "n", 4);
    auto unset = make<TATIdJournal>("mc", "old", "n", 4);
    unset->unsetOld_id();
    NSData expected = bytes({0x0B, 0,    1,    0, 0, 0, 2, 0x6D, 0x63, 0x0B, 0, 3, 0, 0, 0,
                             1,    0x6E, 0x0A, 0, 4, 0, 0, 0,    0,    0,    0, 0, 4, 0});
    EXPECT_EQ(hex(written(*first)), hex(expected));
    EXPECT_EQ(hex(written(*unset)), hex(expected));
}

TEST(TATImprintBytes, IdTracking) {
    auto tracking = make<TATIdTracking>();
    tracking->setSnapshots(TATMap<Ref<TATIdSnapshot>>{{"oid", make<TATIdSnapshot>("x", 1, 1)}});
    tracking->setJournals(TATList<TATIdJournal>{});
    tracking->setChecksum("checksum");
    EXPECT_BYTES(written(*tracking),                                                      //
                 0x0D, 0, 1, 0x0B, 0x0C, 0, 0, 0, 1, 0, 0, 0, 3, 0x6F, 0x69, 0x64,        // snapshots
                 0x0B, 0, 1, 0, 0, 0, 1, 0x78,                                            //   identity
                 0x0A, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1,                                      //   ts
                 0x08, 0, 3, 0, 0, 0, 1, 0,                                               //   version
                 0x0F, 0, 2, 0x0C, 0, 0, 0, 0,                                            // journals
                 0x0B, 0, 3, 0, 0, 0, 8, 0x63, 0x68, 0x65, 0x63, 0x6B, 0x73, 0x75, 0x6D,  // checksum
                 0);
}

}  // namespace
