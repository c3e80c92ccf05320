// Report assembly: the root record's parts, back-off levels, the imprint and its checksum, the
// collector's reply, experiments and id tracking; hostile stored bytes and replies.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "sdk/analytics/collection/TallySession.h"
#include "tests/support/TestCollector.h"
#include "uikit/UIDevice.h"

namespace {

using testsupport::TestCollector;

class TallyRecordsTest : public tallytest::TallyTest {
  protected:
    void SetUp() override {
        TallyTest::SetUp();
        TallyApp::sharedInstance()->setAppid(std::string("0123456789abcdef01234567"));
    }
    Ref<TallyRecords> records() { return TallyRecords::sharedInstance(); }
    Ref<TallyInternal> core() { return TallyInternal::sharedInstance(); }
    Ref<TATUALogEntry> report() {
        auto bytes = records()->toData();
        if (!bytes) return nullptr;
        return records()->fromData(*bytes);
    }
    void storeImprint(const std::vector<std::pair<std::string, std::optional<std::string>>>& values) {
        TallyConfig::setConfigure(Value(*detail::tallyWriteRecord(*TestCollector::makeImprint(values))),
                                  "umImprint");
    }
    Ref<TANEvent> event(const std::string& id, const std::string& session) {
        auto e = make<TANEvent>();
        e->event_id = id;
        e->session_id = session;
        e->acc = 2;
        return e;
    }
    void fillContainers() {
        core()->events().push_back(event("a", "S1"));
        core()->events().push_back(event("b", "S2"));
        core()->events().push_back(event("c", "S1"));
        auto error = make<TANError>();
        error->session_id = "S1";
        error->context = "boom";
        core()->errors().push_back(error);
        // Made directly: a number survives only in records read back from elsewhere.
        auto kv = make<TANEkv>();
        kv->id = "kv";
        kv->values = Dictionary{{"s", "x"}, {"n", 5}}.mutableCopy();
        kv->session_id = "S1";
        core()->ekv().push_back(kv);
        auto game = TANEkv::ekvWithId(std::string("level"), std::nullopt, Dictionary{{"status", "0"}}, true);
        game->session_id = "S1";
        core()->ekv().push_back(game);
        auto end = make<TANTerminate>(30.0);
        end->session_id = "S1";
        end->pageViews.addObject(Array{Value("Garage"), Value(4)});
        core()->terminates().push_back(end);
    }
};

TEST_F(TallyRecordsTest, HeaderParts) {
    auto r = report();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->app_info()->key(), std::optional<std::string>("0123456789abcdef01234567"));
    EXPECT_EQ(r->app_info()->sdk_type(), 1);
    EXPECT_EQ(r->app_info()->sdk_version(), std::optional<std::string>("3.6.7"));
    EXPECT_EQ(r->app_info()->channel(), std::optional<std::string>("App Store"));
    EXPECT_EQ(r->app_info()->package_name(), std::optional<std::string>("com.example.tuning"));
    EXPECT_EQ(r->device_info()->os(), std::optional<std::string>("iOS"));
    EXPECT_EQ(r->device_info()->mac_address(), std::optional<std::string>("02:00:00:00:00:00"));
    EXPECT_EQ(r->device_info()->resolution()->height(), 1334);
    EXPECT_EQ(r->misc_info()->display_name(), std::optional<std::string>("Tuning Demo"));
    EXPECT_TRUE(r->client_stats()->successful_requestsIsSet());
    EXPECT_TRUE(r->activate_msg());
    EXPECT_FALSE(r->control_policy());
    EXPECT_FALSE(r->active_user());
}

TEST_F(TallyRecordsTest, MessagesAreGroupedBySession) {
    fillContainers();
    auto r = report();
    ASSERT_TRUE(r && r->instant_msgs());
    const auto& messages = *r->instant_msgs();
    // S1 (events a, c, then the key-value event joins the error's message), S2, the error.
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->id(), std::optional<std::string>("S1"));
    ASSERT_EQ(messages[0]->events()->size(), 2u);
    auto a = (*messages[0]->events())[0];
    EXPECT_EQ(a->name(), std::optional<std::string>("a"));
    EXPECT_EQ(a->acc(), 2);
    EXPECT_EQ(a->properties()->objectForKey("a")->string_value(), std::optional<std::string>(""));
    EXPECT_EQ(messages[1]->id(), std::optional<std::string>("S2"));
    ASSERT_TRUE(messages[2]->errors());
    EXPECT_EQ((*messages[2]->errors())[0]->context(), std::optional<std::string>("boom"));
    // The game event never reaches the report; the plain one does, numbers as long values.
    ASSERT_TRUE(messages[2]->events());
    ASSERT_EQ(messages[2]->events()->size(), 1u);
    auto kv = (*messages[2]->events())[0];
    ASSERT_TRUE(kv->properties()->objectForKey("n") && kv->properties()->objectForKey("s"));
    EXPECT_EQ(kv->properties()->objectForKey("n")->long_value(), 5);
    EXPECT_EQ(kv->properties()->objectForKey("s")->string_value(), std::optional<std::string>("x"));
    ASSERT_EQ(r->sessions()->size(), 1u);
    auto session = (*r->sessions())[0];
    EXPECT_EQ(session->duration(), 30000);
    EXPECT_EQ(session->end_time() - session->start_time(), 30000);
    EXPECT_EQ((*session->pages())[0]->duration(), 4000);
}

TEST_F(TallyRecordsTest, BackOffLevelsReduceTheReport) {
    fillContainers();
    TallyJob::sharedInstance()->setDefcon(1);
    auto r1 = report();
    EXPECT_TRUE(!r1->instant_msgs() || r1->instant_msgs()->empty());
    EXPECT_EQ(r1->sessions()->size(), 1u);
    EXPECT_TRUE(core()->events().empty());
    fillContainers();
    TallyJob::sharedInstance()->setDefcon(2);
    auto r2 = report();
    ASSERT_EQ(r2->sessions()->size(), 1u);
    EXPECT_EQ((*r2->sessions())[0]->duration(), 60000);  // the placeholder
    core()->removeCacheData();
    fillContainers();
    TallyJob::sharedInstance()->setDefcon(3);
    auto r3 = report();
    EXPECT_TRUE(!r3->sessions() || r3->sessions()->empty());
    EXPECT_FALSE(r3->control_policy());
}

TEST_F(TallyRecordsTest, ActiveUserAndExperimentGroups) {
    TallyConfig::setConfigure(Value("p1"), "TAProfilePUID");
    TallyConfig::setConfigure(Value("WX"), "TAProfileProvider");
    TallyConfig::setConfigure(Value(Dictionary{{"RPT", 2}}), "umExperimentGroupInfo");
    auto r = report();
    ASSERT_TRUE(r->active_user());
    EXPECT_EQ(r->active_user()->puid(), std::optional<std::string>("p1"));
    EXPECT_EQ(r->active_user()->provider(), std::optional<std::string>("WX"));
    ASSERT_TRUE(r->group_info());
    EXPECT_EQ((*r->group_info())["RPT"].intValue(), 2);
    storeImprint({{"integrated_test", "1"}});
    EXPECT_FALSE(report()->group_info());
}

TEST_F(TallyRecordsTest, TheActivationTravelsOnlyUntilStored) {
    EXPECT_TRUE(report()->activate_msg());
    records()->setActivateMsgFlag();
    EXPECT_FALSE(TallyConfig::configureWithKey("umActivateMsg").isNil());
    EXPECT_FALSE(report()->activate_msg());
    detail::TallyResetForTesting();
    TallyApp::sharedInstance()->setAppid(std::string("0123456789abcdef01234567"));
    EXPECT_FALSE(report()->activate_msg());
}

TEST_F(TallyRecordsTest, ImprintChecksums) {
    auto imprint = TestCollector::makeImprint({{"b", "2"}, {"A", "1"}, {"unset", std::nullopt}}, 4);
    EXPECT_TRUE(TallyRecords::validateImprintChecksum(imprint));
    EXPECT_EQ(TallyRecords::generateImprintChecksum(imprint), *imprint->checksum());
    imprint->property()->objectForKey("b")->setValue(std::string("3"));
    EXPECT_FALSE(TallyRecords::validateImprintChecksum(imprint));
    EXPECT_FALSE(TallyRecords::validateImprintChecksum(nullptr));
    EXPECT_FALSE(TallyRecords::validateImprintChecksum(make<TATImprint>()));
}

TEST_F(TallyRecordsTest, ImprintUpdatesMergeAndSetTheBackOffLevel) {
    storeImprint({{"keep", "k"}, {"drop", "d"}});
    records()->updateImprint(
        TestCollector::makeImprint({{"defcon", "7"}, {"drop", std::nullopt}, {"new", "n"}}, 9));
    EXPECT_EQ(*TallyConfig::configureWithKey("umDefcon").string(), "0");
    EXPECT_EQ(TallyConfig::imprintPropertyValueWithKey("keep"), std::optional<std::string>("k"));
    EXPECT_FALSE(TallyConfig::imprintPropertyValueWithKey("drop"));
    EXPECT_EQ(TallyConfig::imprintPropertyValueWithKey("new"), std::optional<std::string>("n"));
    records()->updateImprint(TestCollector::makeImprint({{"defcon", "-1"}}));
    EXPECT_EQ(*TallyConfig::configureWithKey("umDefcon").string(), "0");
    records()->updateImprint(TestCollector::makeImprint({{"defcon", "2"}}));
    EXPECT_EQ(*TallyConfig::configureWithKey("umDefcon").string(), "2");
    EXPECT_EQ(TallyJob::sharedInstance()->defcon(), 2);
    records()->updateImprint(TestCollector::makeImprint({{"defcon", std::nullopt}}));
    EXPECT_TRUE(TallyConfig::configureWithKey("umDefcon").isNil());
    EXPECT_EQ(TallyJob::sharedInstance()->defcon(), 0);
    // The stored imprint still checks out after the merge.
    auto stored = make<TATImprint>();
    detail::tallyReadRecord(*stored, *TallyConfig::configureWithKey("umImprint").data());
    EXPECT_TRUE(TallyRecords::validateImprintChecksum(stored));
}

TEST_F(TallyRecordsTest, RepliesAndTheirImprints) {
    auto reply = make<TATResponse>();
    reply->setResp_code(1);
    reply->setImprint(TestCollector::makeImprint({{"report_interval", "600"}}));
    EXPECT_TRUE(records()->verifyResponseData(*detail::tallyWriteRecord(*reply)));
    EXPECT_EQ(TallyApp::sharedInstance()->logSendInterval(), 600);
    reply->setResp_code(0);
    EXPECT_FALSE(records()->verifyResponseData(*detail::tallyWriteRecord(*reply)));
    EXPECT_FALSE(records()->verifyResponseData(NSData()));
    EXPECT_FALSE(records()->verifyResponseData(NSData::fromString("garbage")));
}

TEST_F(TallyRecordsTest, MutatedRepliesAndStoredBytesNeverCrash) {
    auto reply = make<TATResponse>();
    reply->setResp_code(1);
    reply->setMsg(std::string("ok"));
    reply->setImprint(TestCollector::makeImprint({{"report_interval", "600"}, {"codex", "1"}}));
    std::string valid = detail::tallyWriteRecord(*reply)->toString();
    for (unsigned seed = 0; seed < 500; ++seed) {
        std::string damaged = testsupport::mutate(valid, seed);
        records()->verifyResponseData(NSData::fromString(damaged));
        TallyConfig::setConfigure(Value(NSData::fromString(damaged)), "umImprint");
        TallyConfig::imprintPropertyValueWithKey("codex");
        TallyConfig::setConfigure(Value(NSData::fromString(damaged)), "umIDTracking");
        TallyRecords::resetForTesting();
        EXPECT_TRUE(records()->toData());
    }
}

TEST_F(TallyRecordsTest, ExperimentsBySignature) {
    std::vector<std::uint8_t> signature(32, 0x11);
    TallyEnvelope::sharedInstance()->setSignatureWithData(NSData(signature.data(), signature.size()));
    float p = records()->calcProbWithSigIndex(6);
    EXPECT_NEAR(p, static_cast<float>(0x11111) / 1048576.0f, 1e-6);
    records()->configureExperimentWithString("SIG7|0.5,0.5|SIG13|1.0|RPT|6,1");
    // p is about 0.067: the first group, whose value is 6.
    EXPECT_EQ(TallyConfig::configureWithKey("umExperimentRPT").intValue(), 6);
    EXPECT_EQ(TallyConfig::configureWithKey("umExperimentGroupInfo")["RPT"].intValue(), 1);
    records()->configureExperimentWithString("FIXED|3|SIG13|1.0|RPT|6,1");
    EXPECT_TRUE(TallyConfig::configureWithKey("umExperimentRPT").isNil());
    EXPECT_FALSE(TallyConfig::configureWithKey("umExperimentGroupInfo").dictionary()->containsKey("RPT"));
    records()->configureExperimentWithString("FIXED|2|SIG13|1.0|RPT|6,8");
    EXPECT_EQ(TallyConfig::configureWithKey("umExperimentRPT").intValue(), 8);
    records()->configureExperimentWithString("FIXED|2|SIG13|1.0|RPT|6,-1");
    EXPECT_TRUE(TallyConfig::configureWithKey("umExperimentRPT").isNil());
}

TEST_F(TallyRecordsTest, BadExperimentTexts) {
    TallyApp::setLogEnabled(true);
    records()->configureExperimentWithString("");
    records()->configureExperimentWithString("SIG7|0.5||1.0|RPT");
    records()->configureExperimentWithString("SIG7||SIG13|1.0|RPT|6");
    EXPECT_EQ(log_.count("ERROR: experiment params invalid."), 2);
    records()->configureExperimentWithString("ODD|1|SIG13|1.0|RPT|6");
    EXPECT_TRUE(log_.contains("ERROR: unknow experiment group key"));
    records()->configureExperimentWithString("FIXED|1|SIG13|1.0|XYZ|6");
    EXPECT_TRUE(log_.contains("ERROR: unknow experiment test key"));
    for (unsigned seed = 0; seed < 300; ++seed) {
        records()->configureExperimentWithString(testsupport::mutate("SIG7|0.5,0.5|SIG13|1.0|RPT|6,1", seed));
    }
}

TEST_F(TallyRecordsTest, ClientTestInTheImprintConfiguresTheExperiment) {
    records()->updateImprint(TestCollector::makeImprint({{"client_test", "FIXED|1|SIG13|1.0|RPT|6"}}));
    EXPECT_EQ(TallyConfig::configureWithKey("umExperimentRPT").intValue(), 6);
    records()->updateImprint(TestCollector::makeImprint({{"client_test", std::nullopt}}));
    EXPECT_TRUE(TallyConfig::configureWithKey("umExperimentRPT").isNil());
    EXPECT_TRUE(TallyConfig::configureWithKey("umExperimentGroupInfo").isNil());
}

TEST_F(TallyRecordsTest, IdTrackingJournalsChanges) {
    auto first = records()->idTracking();
    ASSERT_TRUE(first->snapshots());
    EXPECT_TRUE(first->snapshots()->containsKey("mc"));
    EXPECT_TRUE(first->snapshots()->containsKey("idfv"));
    EXPECT_EQ(first->checksum(), std::optional<std::string>("checksum"));
    // A new vendor id in the next process is journalled once, its version counted.
    UIDevice::currentDevice()->setIdentifierForVendor(make<NSUUID>());
    TallyRecords::resetForTesting();
    auto second = records()->idTracking();
    ASSERT_EQ(second->journals()->size(), 1u);
    auto journal = (*second->journals())[0];
    EXPECT_EQ(journal->domain(), std::optional<std::string>("idfv"));
    EXPECT_TRUE(journal->old_id());
    EXPECT_EQ(second->snapshots()->objectForKey("idfv")->version(), 2);
    EXPECT_EQ(TallyConfig::configureWithKey("umidfvVersionNum").intValue(), 2);
    records()->saveIdTracking();
    TallyRecords::resetForTesting();
    EXPECT_TRUE(records()->idTracking()->journals()->empty());
}

TEST_F(TallyRecordsTest, AllZeroVendorIdAndCountsPastNineteen) {
    TallyConfig::removeConfigureWithKey("umIDTracking");
    UIDevice::currentDevice()->setIdentifierForVendor(
        NSUUID::initWithUUIDString("00000000-0000-0000-0000-000000000000"));
    TallyRecords::resetForTesting();
    EXPECT_FALSE(records()->idTracking()->snapshots()->containsKey("idfv"));
    UIDevice::currentDevice()->setIdentifierForVendor(make<NSUUID>());
    TallyConfig::setConfigure(Value(20), "umidfvVersionNum");
    TallyRecords::resetForTesting();
    EXPECT_FALSE(records()->idTracking()->snapshots()->containsKey("idfv"));
}

TEST_F(TallyRecordsTest, NoReportWithoutAnAppKey) {
    TallyApp::sharedInstance()->setAppid(std::nullopt);
    TallyRecords::resetForTesting();
    core()->events().push_back(event("kept", "S"));
    EXPECT_FALSE(records()->toData());
    EXPECT_EQ(core()->events().size(), 1u);
}

}  // namespace
