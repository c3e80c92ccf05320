// Envelope building and envelope files: serial numbers, the signature, encryption choices, file
// names, no overwrites, the exchange file, and the clean-up before an upload.

#include <gtest/gtest.h>

#include <dirent.h>

#include "TallyTestSupport.h"
#include "foundation/NSFileManager.h"
#include "sdk/analytics/collection/Tally.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "sdk/analytics/collection/TallySession.h"
#include "security/SecurityTesting.h"
#include "tests/support/TestCollector.h"

namespace {

using testsupport::TestCollector;

class TallyEnvelopeTest : public tallytest::TallyTest {
  protected:
    void SetUp() override {
        TallyTest::SetUp();
        TallyApp::sharedInstance()->setAppid(std::string("0123456789abcdef01234567"));
        TallySession::sharedInstance()->setSessionStatus(1);
    }
    Ref<TallyEnvelope> envelope() { return TallyEnvelope::sharedInstance(); }
    std::optional<NSData> seal() {
        return envelope()->makeEnvelopeData(TallyRecords::sharedInstance()->entityData());
    }
    void addEvent(const std::string& id) {
        auto event = make<TANEvent>();
        event->event_id = id;
        TallyInternal::sharedInstance()->events().push_back(event);
    }
};

TEST_F(TallyEnvelopeTest, SerialNumbersAdvanceAlsoWithoutAnEntity) {
    addEvent("a");
    ASSERT_TRUE(seal());
    EXPECT_EQ(envelope()->serialNum(), 1);
    EXPECT_EQ(TallyConfig::configureWithKey("umSerialNum").intValue(), 2);
    TallyApp::sharedInstance()->setAppid(std::nullopt);  // no key: no report
    EXPECT_FALSE(seal());
    EXPECT_EQ(TallyConfig::configureWithKey("umSerialNum").intValue(), 3);
}

TEST_F(TallyEnvelopeTest, TheSignatureIsTheFirstGuidAndNeverChanges) {
    addEvent("a");
    ASSERT_TRUE(seal());
    Value stored = TallyConfig::configureWithKey("umSignature");
    ASSERT_TRUE(stored.isData());
    EXPECT_EQ(stored.data()->length(), 32u);
    std::string signature = *envelope()->enveloper()->signature();
    EXPECT_EQ(signature.size(), 64u);
    clock().jump(10);
    addEvent("b");
    ASSERT_TRUE(seal());
    EXPECT_EQ(*envelope()->enveloper()->signature(), signature);
    EXPECT_EQ(*TallyConfig::configureWithKey("umSignature").data(), *stored.data());
    EXPECT_TRUE(envelope()->verifyTimestamp());
    EXPECT_TRUE(envelope()->verifyChecksum());
}

TEST_F(TallyEnvelopeTest, GuidsOfOneSecondDifferOnlyThroughTheEntity) {
    auto e = envelope();
    e->setTimestamp(1700000000);
    auto first = e->toDataWithEntity(NSData::fromString("entity one"));
    auto guid1 = e->guid();
    auto second = e->toDataWithEntity(NSData::fromString("entity two"));
    auto guid2 = e->guid();
    ASSERT_TRUE(first && second);
    EXPECT_NE(guid1, guid2);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(guid1[2 * k + 1], guid2[2 * k + 1]) << k;  // identity bytes
    EXPECT_EQ(guid1[0], guid2[0]);
    EXPECT_EQ(guid1[31], guid2[31]);
}

TEST_F(TallyEnvelopeTest, TheChecksumCoversTheIdentifyingFields) {
    auto e = envelope();
    e->setTimestamp(1700000001);
    e->setLength(77);
    ASSERT_TRUE(e->toDataWithEntity(NSData::fromString("x")));
    std::string text = *e->enveloper()->signature() + std::to_string(e->serialNum()) + "1700000001" + "77" +
                       *e->enveloper()->guid();
    EXPECT_EQ(e->checksum(), NSString::lowercaseString(TANUtil::md5(text)));
    EXPECT_EQ(e->checksum().size(), 32u);
}

TEST_F(TallyEnvelopeTest, TheImprintsCodexOverridesTheSwitch) {
    auto e = envelope();
    Tally::setEncryptEnabled(true);
    TallyConfig::setConfigure(Value(*detail::tallyWriteRecord(*TestCollector::makeImprint({{"codex", "0"}}))),
                              "umImprint");
    ASSERT_TRUE(e->toDataWithEntity(NSData::fromString("plain")));
    EXPECT_EQ(e->enveloper()->codex(), 0);
    EXPECT_EQ(e->enveloper()->entity()->toString(), "plain");
    Tally::setEncryptEnabled(false);
    TallyConfig::setConfigure(Value(*detail::tallyWriteRecord(*TestCollector::makeImprint({{"codex", "1"}}))),
                              "umImprint");
    auto bytes = e->toDataWithEntity(NSData::fromString("secret"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(e->enveloper()->codex(), 1);
    auto decrypted = TallyUtility::AES128DecryptData(*e->enveloper()->entity(), e->signature()->bytes() + 1);
    EXPECT_EQ(decrypted->toString(), "secret");
}

TEST_F(TallyEnvelopeTest, AesRoundTripAndBadInput) {
    std::uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    auto encrypted = TallyUtility::AES128EncryptData(NSData::fromString("0123456789abcdef"), key);
    ASSERT_TRUE(encrypted);
    EXPECT_EQ(encrypted->length(), 32u);
    EXPECT_EQ(TallyUtility::AES128DecryptData(*encrypted, key)->toString(), "0123456789abcdef");
    EXPECT_FALSE(TallyUtility::AES128DecryptData(NSData::fromString("short"), key));
    for (unsigned seed = 0; seed < 200; ++seed) {
        auto damaged = testsupport::mutate(encrypted->toString(), seed);
        auto out = TallyUtility::AES128DecryptData(NSData::fromString(damaged), key);
        if (out) {
            EXPECT_LE(out->length(), damaged.size());
        }
    }
}

TEST_F(TallyEnvelopeTest, EnvelopesOfOneMillisecondBothSurvive) {
    addEvent("a");
    TallyInternal::sharedInstance()->generateEnvelopeFile();
    addEvent("b");
    TallyInternal::sharedInstance()->generateEnvelopeFile();  // the clock did not move
    auto files = TallyUtility::envelopeFiles();
    ASSERT_EQ(files.size(), 2u);
    long long ms = static_cast<long long>(clock().now() * 1000);
    EXPECT_TRUE(NSString::hasSuffix(files[0], std::to_string(ms) + "_envelope.log"));
    EXPECT_TRUE(NSString::hasSuffix(files[1], std::to_string(ms + 1) + "_envelope.log"));
    auto first = TestCollector::decode(NSData::dataWithContentsOfFile(files[0])->toString());
    auto second = TestCollector::decode(NSData::dataWithContentsOfFile(files[1])->toString());
    ASSERT_TRUE(first.report && second.report);
    EXPECT_EQ(*(*(*first.report->instant_msgs())[0]->events())[0]->name(), "a");
    EXPECT_EQ(*(*(*second.report->instant_msgs())[0]->events())[0]->name(), "b");
}

TEST_F(TallyEnvelopeTest, AnEnvelopeThatCannotBeStoredKeepsTheItems) {
    auto core = TallyInternal::sharedInstance();
    addEvent("a");
    // A file where the folder should be: no envelope can be written.
    const std::string folder = TallyUtility::tallyDirectory();
    ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(folder));
    ASSERT_TRUE(NSData::fromString("in the way").writeToFile(folder));
    core->generateEnvelopeFile();
    EXPECT_EQ(core->events().size(), 1u);
    EXPECT_EQ(TallyConfig::configureWithKey("umPeriodEvtCount").intValue(), 0);
    EXPECT_EQ(TallyConfig::configureWithKey("umSerialNum").intValue(), 2);  // the attempt still counts
    // With the folder back, the kept item leaves in the next envelope and only then is cleared.
    ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(folder));
    core->generateEnvelopeFile();
    EXPECT_TRUE(core->events().empty());
    auto files = TallyUtility::envelopeFiles();
    ASSERT_EQ(files.size(), 1u);
    auto sent = TestCollector::decode(NSData::dataWithContentsOfFile(files[0])->toString());
    ASSERT_TRUE(sent.report);
    EXPECT_EQ(*(*(*sent.report->instant_msgs())[0]->events())[0]->name(), "a");
}

TEST_F(TallyEnvelopeTest, AnEnvelopeWhoseEncryptionFailsKeepsTheItems) {
    auto core = TallyInternal::sharedInstance();
    Tally::setEncryptEnabled(true);
    addEvent("a");
    security_testing::injectCryptorStatus(kCCParamError);
    core->generateEnvelopeFile();
    security_testing::clearInjectedCryptorStatus();
    // Neither an envelope without its entity nor a plain one where encryption was asked for.
    EXPECT_TRUE(TallyUtility::envelopeFiles().empty());
    EXPECT_EQ(core->events().size(), 1u);
    EXPECT_EQ(TallyConfig::configureWithKey("umPeriodEvtCount").intValue(), 0);
    EXPECT_EQ(TallyConfig::configureWithKey("umSerialNum").intValue(), 2);  // the attempt still counts
    // Once the cipher works, the kept item leaves encrypted in the next envelope.
    core->generateEnvelopeFile();
    EXPECT_TRUE(core->events().empty());
    auto files = TallyUtility::envelopeFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(envelope()->enveloper()->codex(), 1);
    auto sent = TestCollector::decode(NSData::dataWithContentsOfFile(files[0])->toString());
    ASSERT_TRUE(sent.report);
    EXPECT_EQ(*(*(*sent.report->instant_msgs())[0]->events())[0]->name(), "a");
    Tally::setEncryptEnabled(false);
}

TEST_F(TallyEnvelopeTest, SavingNeverOverwritesAndLeavesNoHalfFile) {
    std::string path = TallyUtility::generateEnvelopeFileNameWithTS("42");
    EXPECT_TRUE(TallyUtility::saveData(NSData::fromString("first"), path));
    EXPECT_FALSE(TallyUtility::saveData(NSData::fromString("second"), path));
    EXPECT_FALSE(TallyUtility::saveData(std::nullopt, TallyUtility::generateEnvelopeFileNameWithTS("43")));
    EXPECT_EQ(NSData::dataWithContentsOfFile(path)->toString(), "first");
    // Nothing but the file itself is left in the folder.
    auto names = NSFileManager::defaultManager()->contentsOfDirectoryAtPath(TallyUtility::tallyDirectory());
    EXPECT_EQ(*names, std::vector<std::string>{"42_envelope.log"});
}

TEST_F(TallyEnvelopeTest, OnlyEnvelopeNamesAreListed) {
    TallyUtility::saveData(NSData::fromString("x"), TallyUtility::exchangeIdentityPath());
    TallyUtility::saveData(NSData::fromString("x"), TallyUtility::tallyDirectory() + "/note.txt");
    TallyUtility::saveData(NSData::fromString("x"), TallyUtility::tallyDirectory() + "/.hidden_envelope.log");
    TallyUtility::saveData(NSData::fromString("x"), TallyUtility::generateEnvelopeFileNameWithTS("7"));
    auto files = TallyUtility::envelopeFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(NSString::hasSuffix(files[0], "/7_envelope.log"));
}

TEST_F(TallyEnvelopeTest, TheExchangeFileIsRewrittenOnlyWhenItChanges) {
    addEvent("a");
    ASSERT_TRUE(seal());
    std::string path = TallyUtility::exchangeIdentityPath();
    auto text = NSData::dataWithContentsOfFile(path);
    ASSERT_TRUE(text);
    Value json = TANUtil::JSONValue(text->toString());
    ASSERT_TRUE(json.isDictionary());
    EXPECT_EQ(*json["appkey"].string(), "0123456789abcdef01234567");
    EXPECT_EQ(*json["signature"].string(), *envelope()->enveloper()->signature());
    std::string expected = TANUtil::md5(TANUtil::bytesToHexString(envelope()->signature()->bytes() + 2, 16));
    EXPECT_EQ(*json["checksum"].string(), expected);
    EXPECT_FALSE(json.dictionary()->containsKey("umid"));
    EXPECT_EQ(text->toString().find("{\"appkey\""), 0u);
}

TEST_F(TallyEnvelopeTest, AReportOverTheSizeLimitDropsTheItems) {
    auto records = TallyRecords::sharedInstance();
    auto event = make<TANEvent>();
    event->event_id = "big";
    event->label = std::string(TallyRecords::kMaxReportBytes, 'x');
    TallyInternal::sharedInstance()->events().push_back(event);
    EXPECT_FALSE(records->toData());
    EXPECT_TRUE(TallyInternal::sharedInstance()->events().empty());
}

TEST_F(TallyEnvelopeTest, ACompressedReportOverTheLimitDropsTheItems) {
    // Random text compresses poorly: about 300 KiB of it stays above 205 KiB.
    std::string noise;
    std::uint32_t x = 12345;
    for (int i = 0; i < 300 * 1024; ++i) {
        x = x * 1664525u + 1013904223u;
        noise.push_back(static_cast<char>('!' + (x >> 24) % 90));
    }
    auto event = make<TANEvent>();
    event->event_id = "noise";
    event->label = noise;
    TallyInternal::sharedInstance()->events().push_back(event);
    EXPECT_TRUE(TallyRecords::sharedInstance()->toData());
    TallyInternal::sharedInstance()->events().push_back(event);
    EXPECT_FALSE(TallyRecords::sharedInstance()->entityData());
    EXPECT_TRUE(TallyInternal::sharedInstance()->events().empty());
}

// ---------------------------------------------------------------------------------------------
// The clean-up before an upload reads file ages, which the file system gives in real time: these
// tests start the manual clock at the real time and move it forward.

class TallyEnvelopeAgeTest : public TallyEnvelopeTest {
  protected:
    double startTime() const override { return static_cast<double>(::time(nullptr)); }
};

TEST_F(TallyEnvelopeAgeTest, FilesOlderThanFourteenDaysAreDropped) {
    std::string fresh = TallyUtility::generateEnvelopeFileNameWithTS("1");
    TallyUtility::saveData(NSData::fromString(std::string(100, 'x')), fresh);
    std::vector<std::string> paths{fresh};
    clock().jump(1209600 - 5);
    TallyInternal::validateEnvelopeFiles(paths);
    EXPECT_EQ(paths.size(), 1u);
    clock().jump(10);
    TallyInternal::validateEnvelopeFiles(paths);
    EXPECT_TRUE(paths.empty());
    EXPECT_FALSE(TallyUtility::isExistAtPath(fresh));
}

TEST_F(TallyEnvelopeAgeTest, TooSmallTooLargeAndMissingFilesAreDropped) {
    std::string tiny = TallyUtility::generateEnvelopeFileNameWithTS("1");
    std::string ten = TallyUtility::generateEnvelopeFileNameWithTS("2");
    std::string eleven = TallyUtility::generateEnvelopeFileNameWithTS("3");
    std::string huge = TallyUtility::generateEnvelopeFileNameWithTS("4");
    std::string justUnder = TallyUtility::generateEnvelopeFileNameWithTS("5");
    TallyUtility::saveData(NSData::fromString("x"), tiny);
    TallyUtility::saveData(NSData::fromString(std::string(10, 'x')), ten);
    TallyUtility::saveData(NSData::fromString(std::string(11, 'x')), eleven);
    TallyUtility::saveData(NSData::fromString(std::string(262144, 'x')), huge);
    TallyUtility::saveData(NSData::fromString(std::string(262143, 'x')), justUnder);
    std::vector<std::string> paths{tiny, ten,       eleven,
                                   huge, justUnder, TallyUtility::generateEnvelopeFileNameWithTS("9")};
    TallyInternal::validateEnvelopeFiles(paths);
    EXPECT_EQ(paths, (std::vector<std::string>{eleven, justUnder}));
    EXPECT_FALSE(TallyUtility::isExistAtPath(huge));
    EXPECT_FALSE(TallyUtility::isExistAtPath(ten));
}

}  // namespace
