// The aid manager against the stand-in open API: a stored aid is used without a request; a fetch
// sends the encrypted fingerprint, which the stand-in decrypts with the test key; replies with an
// aid, an error or neither; bounded retries; and the RSA chunking of the fingerprint.

#include <gtest/gtest.h>

#include "foundation/NSNotificationCenter.h"
#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"
#include "sdk/weibo/services/WBMFPRSA.h"
#include "sdk/weibo/util/WBSDKUtil.h"
#include "security/SecKey.h"
#include "tests/sdk/weibo/services/WeiboServicesTestSupport.h"
#include "uikit/UIDevice.h"

namespace {

class AidManagerTest : public weiboservicestest::ServicesTest {
  protected:
    void SetUp() override {
        ServicesTest::SetUp();
        observer = make<NSObject>();
        auto center = NSNotificationCenter::defaultCenter();
        center->addObserver(
            observer, "aid",
            [this](const Ref<NSNotification>& n) { successes.push_back(n->object()->description()); },
            std::string(kWeiboSDKGetAidSucessNotification));
        center->addObserver(
            observer, "fail",
            [this](const Ref<NSNotification>& n) {
                failures.push_back(std::dynamic_pointer_cast<NSError>(n->object()));
            },
            std::string(kWeiboSDKGetAidFailNotification));
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(observer);
        ServicesTest::TearDown();
    }
    Ref<WeiboSDK3rdApp> registeredApp() {
        WeiboSDK::registerApp(std::string("123456"));
        return WeiboSDK3rdApp::currentApp();
    }
    // Waits for the manager to leave "fetching" and for its notification.
    void awaitAnswer(std::size_t notifications = 1) {
        pumpUntil([&] { return successes.size() + failures.size() >= notifications; });
        testsupport::drainMainRunLoop();
    }

    Ref<NSObject> observer;
    std::vector<std::string> successes;
    std::vector<Ref<NSError>> failures;
};

TEST_F(AidManagerTest, AStoredAidIsCopiedWithoutARequest) {
    NSUserDefaults::standardUserDefaults()->setObject("WEIBOSDKAID", "stored-aid");
    auto manager = WBAidManager::sharedInstance();
    EXPECT_EQ(manager->aidStatus(), WBAidManager::HasAid);
    auto app = registeredApp();
    manager->fetchAidIfNeededWithApp(app);
    EXPECT_EQ(app->aid(), "stored-aid");
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(peer_->aidRequests().empty());
    EXPECT_EQ(manager->advertisementIdentifier(), "stored-aid");
}

TEST_F(AidManagerTest, AFetchSendsOneRequestWithTheFingerprintAndStoresTheAid) {
    UIDevice::currentDevice()->setSystemVersion(std::string("8.1"));
    peer_->setAid("01AbCdEf", "sub-1");
    auto manager = WBAidManager::sharedInstance();
    auto app = registeredApp();
    manager->fetchAidIfNeededWithApp(app);
    EXPECT_EQ(manager->aidStatus(), WBAidManager::Fetching);
    EXPECT_FALSE(manager->advertisementIdentifier());  // still fetching: nothing more is sent
    awaitAnswer();
    UIDevice::currentDevice()->setSystemVersion(std::nullopt);
    ASSERT_EQ(peer_->aidRequests().size(), 1u);
    auto request = peer_->aidRequests()[0];
    EXPECT_EQ(request.problem, "");
    auto param = [&](const std::string& name) -> std::string {
        for (const auto& [k, v] : request.query)
            if (k == name) return v;
        return "<absent>";
    };
    EXPECT_EQ(param("appkey"), "123456");
    EXPECT_EQ(param("packagename"), "com.example.tuning");
    EXPECT_EQ(param("key_hash"), "7c3e91a05fd24b6e8a17c9d2e0b4f583");
    EXPECT_EQ(param("aid"), "<absent>");  // none known yet
    const Value& fp = request.fingerprint;
    ASSERT_TRUE(fp.isDictionary());
    EXPECT_EQ(fp["1"], Value("iPhone OS,8.1"));
    EXPECT_FALSE(fp.dictionary()->containsKey("8"));   // system 7 and later
    EXPECT_FALSE(fp.dictionary()->containsKey("11"));  // no advertising identifier here
    EXPECT_EQ(fp["12"], Value(UIDevice::currentDevice()->identifierForVendor()->UUIDString()));
    EXPECT_EQ(fp["14"], Value("iPhone"));
    EXPECT_TRUE(fp["16"].isString());
    EXPECT_EQ(fp["19"], Value("wifi"));
    EXPECT_EQ(successes, (std::vector<std::string>{"01AbCdEf"}));
    EXPECT_EQ(manager->aid(), "01AbCdEf");
    EXPECT_EQ(manager->sub(), "sub-1");
    EXPECT_EQ(manager->aidStatus(), WBAidManager::HasAid);
    EXPECT_EQ(app->aid(), "01AbCdEf");
    EXPECT_EQ(WeiboSDK::getWeiboAid(), std::nullopt);  // the bridge reads it once attached
    WeiboSDKServices::attach();
    EXPECT_EQ(WeiboSDK::getWeiboAid(), "01AbCdEf");
}

TEST_F(AidManagerTest, RegistrationStartsTheFetchWithoutRetry) {
    UIDevice::currentDevice()->setSystemVersion(std::string("6.1"));
    WeiboSDKServices::attach();
    peer_->setAidReply(devserver::Reply::jsonValue(Value(Dictionary{{"error", "busy"}})));
    WeiboSDK::registerApp(std::string("123456"));
    awaitAnswer();
    testsupport::pumpMainRunLoop(0.3);
    UIDevice::currentDevice()->setSystemVersion(std::nullopt);
    // The first request is the one without retry, so its failure is not retried.
    ASSERT_EQ(peer_->aidRequests().size(), 1u);
    EXPECT_TRUE(peer_->aidRequests()[0].fingerprint["8"].isString());  // below system 7
    EXPECT_EQ(WBAidManager::sharedInstance()->retryCount(), 0);
}

TEST_F(AidManagerTest, AnErrorReplyBecomesAnErrorAndTheStateGoesBack) {
    peer_->setAidReply(
        devserver::Reply::jsonValue(Value(Dictionary{{"error", "invalid_app"}, {"code", 21}})));
    auto manager = WBAidManager::sharedInstance();
    manager->setApp(registeredApp());
    manager->fetchAid(false);
    awaitAnswer();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0]->domain(), "invalid_app");
    EXPECT_EQ(failures[0]->code(), 10008);
    EXPECT_EQ(failures[0]->userInfo()["code"], Value(21));
    EXPECT_EQ(manager->aidStatus(), WBAidManager::NoAid);
    EXPECT_FALSE(manager->aid());
}

TEST_F(AidManagerTest, AReplyWithNeitherKeyChangesNothing) {
    for (auto reply : {devserver::Reply::bytes("not json", "text/plain"),
                       devserver::Reply::jsonValue(Value(Dictionary{{"other", 1}})),
                       devserver::Reply::jsonValue(Value(Array{Dictionary{{"aid", "x"}}}))}) {
        wbsdk_testing::resetAidManager();
        peer_->setAidReply(reply);
        auto manager = WBAidManager::sharedInstance();
        manager->fetchAid(true);
        std::size_t before = peer_->aidRequests().size();
        pumpUntil([&] { return peer_->aidRequests().size() > before; });
        testsupport::pumpMainRunLoop(0.2);
        EXPECT_EQ(manager->aidStatus(), WBAidManager::Fetching);
        EXPECT_TRUE(successes.empty());
        EXPECT_TRUE(failures.empty());
    }
}

TEST_F(AidManagerTest, FourFailuresInARowGiveThreeRetries) {
    peer_->setAidReply(devserver::Reply::jsonValue(Value(Dictionary{{"error", "down"}})));
    auto manager = WBAidManager::sharedInstance();
    manager->fetchAid(true);
    awaitAnswer(4);
    testsupport::pumpMainRunLoop(0.3);
    EXPECT_EQ(peer_->aidRequests().size(), 4u);
    EXPECT_EQ(failures.size(), 4u);
    EXPECT_EQ(manager->retryCount(), 0);  // back to 0 after the last refusal
}

TEST_F(AidManagerTest, TransportFailuresAreRetriedToo) {
    std::string root = WeiboSDK::openAPIRoot();
    WeiboSDK::setOpenAPIRoot(std::string("http://127.0.0.1:1"));
    auto manager = WBAidManager::sharedInstance();
    manager->fetchAid(true);
    awaitAnswer(4);
    testsupport::pumpMainRunLoop(0.3);
    EXPECT_EQ(failures.size(), 4u);
    EXPECT_EQ(failures[0]->domain(), NSURLErrorDomain);
    EXPECT_EQ(manager->aidStatus(), WBAidManager::NoAid);
    WeiboSDK::setOpenAPIRoot(root);
}

TEST_F(AidManagerTest, TwoThreadsStartOneFetch) {
    auto manager = WBAidManager::sharedInstance();
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { manager->fetchAid(false); });
    for (auto& t : threads) t.join();
    awaitAnswer();
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(peer_->aidRequests().size(), 1u);
}

TEST_F(AidManagerTest, WithoutACertificateNoFingerprintIsSent) {
    std::filesystem::remove(NSBundle::mainBundle()->bundlePath() + "/WeiboSDK.bundle/others/mfp.cer");
    auto manager = WBAidManager::sharedInstance();
    EXPECT_FALSE(manager->generateMFPString());
    manager->fetchAid(false);
    awaitAnswer();
    ASSERT_EQ(peer_->aidRequests().size(), 1u);
    EXPECT_EQ(peer_->aidRequests()[0].problem, "no mfp");
}

// ---- RSA ------------------------------------------------------------------------------------------

class MFPRSATest : public weiboservicestest::ServicesTest {
  protected:
    SecKeyRef privateKey() { return detail::keyFromPEM(weiboservicestest::fingerprintCertificate().keyPEM); }
};

TEST_F(MFPRSATest, ChunksOfKMinusTwelveBytes) {
    auto rsa = make<WBMFPRSA>();
    auto key = rsa->getPublicKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(SecKeyGetBlockSize(key), 128u);
    std::string hundred(100, 'x');
    auto cipher = rsa->encrypt(hundred, key, nullptr);
    ASSERT_TRUE(cipher);
    EXPECT_EQ(cipher->length(), 128u);
    auto text = rsa->encrypt(hundred);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 172u + 2 + 2);  // 64, CR LF, 64, CR LF, 44
    EXPECT_EQ(text->substr(64, 2), "\r\n");
    EXPECT_EQ(text->substr(130, 2), "\r\n");
    EXPECT_EQ(rsa->encrypt(std::string(116, 'y'), key, nullptr)->length(), 128u);
    auto two = rsa->encrypt(std::string(117, 'y'), key, nullptr);
    EXPECT_EQ(two->length(), 256u);
    auto back = rsa->decrypt(two->toString(), privateKey(), nullptr);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->toString(), std::string(117, 'y'));
}

TEST_F(MFPRSATest, FailuresAreReported) {
    auto rsa = make<WBMFPRSA>(sandbox_->file("missing.cer"));
    EXPECT_FALSE(rsa->getPublicKey());
    EXPECT_FALSE(rsa->encrypt("text"));
    Ref<NSError> error;
    EXPECT_FALSE(rsa->encrypt("text", nullptr, &error));
    EXPECT_EQ(error->domain(), "errorDomain");
    NSData::fromString("not a certificate").writeToFile(sandbox_->file("bad.cer"));
    EXPECT_FALSE(make<WBMFPRSA>(sandbox_->file("bad.cer"))->getPublicKey());
    // A ciphertext that does not decrypt.
    error = nullptr;
    EXPECT_FALSE(make<WBMFPRSA>()->decrypt(std::string(128, 'z'), privateKey(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "errorDomain");
}

}  // namespace
