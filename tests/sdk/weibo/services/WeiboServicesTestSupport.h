#pragma once
// Shared by the tests of the Weibo SDK's services: a fresh sandbox and resources folder, the test
// key pair's certificate as the SDK bundle's "mfp.cer", the stand-in open API on loopback with its
// two peers, the manual clock, and waits for the services' queues.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "sdk/weibo/services/WBAidManager.h"
#include "sdk/weibo/services/WBSDKDBManager.h"
#include "sdk/weibo/services/WBSDKStatisticsRecordManager.h"
#include "sdk/weibo/services/WeiboSDKServices.h"
#include "sdk/weibo/util/UIDevice+WBSDKHelpers.h"
#include "sdk/weibo/util/WBSDKSharedUDID.h"
#include "system/SystemTesting.h"
#include "system/UIPasteboard.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/WeiboOpenAPIRoutes.h"

namespace weiboservicestest {

using LogCapture = testsupport::LogCapture;

// The test key pair of the device fingerprint, made once per process.
inline const testsupport::TestCertificate& fingerprintCertificate() {
    static const testsupport::TestCertificate certificate = [] {
        testsupport::CertificateOptions options;
        options.commonName = "mfp";
        options.keyKind = testsupport::TestKeyKind::RSA1024;
        options.serverAuth = false;
        return testsupport::makeTestCertificate(options);
    }();
    return certificate;
}

class ServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox_ = std::make_unique<testsupport::TemporaryDirectory>();
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_->file("app")));
        NSUserDefaults::resetStandardUserDefaults();
        UIPasteboard::setSharedDirectory(sandbox_->file("device-pasteboards"));
        std::string resources = sandbox_->file("resources");
        std::filesystem::create_directories(resources + "/WeiboSDK.bundle/others");
        NSData::fromString(fingerprintCertificate().der)
            .writeToFile(resources + "/WeiboSDK.bundle/others/mfp.cer");
        NSBundle::setMainBundlePath(resources);
        NSBundle::setInfoValue("CFBundleIdentifier", "com.example.tuning");
        NSBundle::setInfoValue("CFBundleShortVersionString", "2.3");
        system_testing::setReachabilityFlags(kSCNetworkReachabilityFlagsReachable);

        devserver::DevServer::Options options;
        options.coreRoutes = false;
        server_ = std::make_unique<devserver::DevServer>(options);
        peer_ = devserver::addWeiboOpenAPIRoutes(*server_);
        peer_->setPrivateKeyPEM(fingerprintCertificate().keyPEM);
        ASSERT_TRUE(server_->start()) << server_->lastError();
        std::string root = server_->baseURL();
        root.pop_back();
        WeiboSDK::setOpenAPIRoot(root);
        clock_ = std::make_unique<testsupport::ManualClock>(1'700'000'000.5);
    }

    void TearDown() override {
        if (auto manager = WBSDKStatisticsRecordManager::instance()) manager->waitUntilIdle();
        testsupport::drainMainRunLoop();
        WeiboSDKServices::detach();
        wbsdk_testing::resetStatisticsManager();
        wbsdk_testing::resetStatisticsStores();
        wbsdk_testing::resetAidManager();
        wbsdk_testing::resetOpenUniqueIdentifier();
        wbsdk_testing::resetSharedUDIDCache();
        weibo_testing::resetSDK();
        server_->stop();
        clock_.reset();
        system_testing::resetReachability();
        system_testing::resetPasteboards();
        foundation_testing::resetBundles();
        NSUserDefaults::resetStandardUserDefaults();
    }

    // Every block queued so far on the manager's and the store's queues has run.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            WBSDKStatisticsRecordManager::instance()->waitUntilIdle();
            WBSDKDBManager::sharedManager()->waitUntilIdle();
        }
    }

    // The rows in the table now (the buffer flushed first).
    std::vector<Ref<WBSDKStatisticsRecord>> rows() {
        auto store = WBSDKDBObjectStore::sharedStore(WBSDKStatisticsRecord::objectClass());
        auto done = std::make_shared<std::promise<std::vector<Ref<WBSDKStatisticsRecord>>>>();
        auto future = done->get_future();
        store->objectsFromTime(-1e12, 1e12, [done](const std::vector<WBSDKDBObject>& objects) {
            std::vector<Ref<WBSDKStatisticsRecord>> records;
            for (const auto& o : objects)
                records.push_back(std::dynamic_pointer_cast<WBSDKStatisticsRecord>(o));
            done->set_value(records);
        });
        return future.get();
    }

    bool pumpUntil(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil(condition, seconds);
    }

    std::unique_ptr<testsupport::TemporaryDirectory> sandbox_;
    std::unique_ptr<devserver::DevServer> server_;
    std::shared_ptr<devserver::WeiboOpenAPIPeer> peer_;
    std::unique_ptr<testsupport::ManualClock> clock_;
};

}  // namespace weiboservicestest
