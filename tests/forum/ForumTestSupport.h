#pragma once
// Shared pieces of the forum tests: a sandbox per test, the stand-in server with the catalogue
// (for the brand list) and the forum routes on loopback, signing a sample user in by token, and
// waits that pump the main run loop.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "foundation/NSSandbox.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageDownloader.h"
#include "network/NSURLCache.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/CatalogueRoutes.h"
#include "tools/devserver/DevServer.h"
#include "tools/devserver/ForumRoutes.h"
#include "uikit/UIAlertTestDriver.h"

namespace forumtest {

inline bool waitUntil(const std::function<bool()>& condition, double seconds = 20) {
    return testsupport::pumpMainRunLoopUntil(condition, seconds);
}

class ForumServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        devserver::addCatalogueRoutes(server);
        forum = devserver::addForumRoutes(server, withSamples());
        addRoutes();
        ASSERT_TRUE(server.start()) << server.lastError();
        std::string second = server.secondRoot();
        QVNConfiguration::useServer(server.baseURL(),
                                    second.substr(0, second.size() - std::string("trasselin/").size()));
        QVNAPIClient::sharedClient()->requestSerializer()->setValue(std::string("close"), "Connection");
        WIWebImageDownloader::sharedDownloader()->setValue(std::string("close"), "Connection");
        Ref<WIImageCache> images = WIImageCache::sharedImageCache();
        images->setDiskCachePath(sandbox_.path() + "/Library/Caches/images");
        images->clearMemory();
        UIAlertTestDriver::reset();
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        server.stop();
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
        UIAlertTestDriver::reset();
    }
    virtual bool withSamples() const { return true; }
    // Routes of a neighbouring area, installed after the forum's and before the server starts.
    virtual void addRoutes() {}

    // Signs the sample user (1, 2 or 3) in with a fresh token; answers the token.
    std::string signIn(int which = 1) {
        devserver::SampleUser sample = server.users().at(which - 1);
        auto user = make<QVNUser>();
        user->user_id = NSNumber::numberWithLong(sample.user_id);
        user->user_nickname = sample.user_nickname;
        user->user_token = server.loginToken(sample.user_username);
        QVNUserManager::shareObject()->saveUser(user);
        return *user->user_token;
    }
    void signOut() { QVNUserManager::shareObject()->logOut(); }

    std::string sandboxPath() const { return sandbox_.path(); }

    testsupport::TemporaryDirectory sandbox_;
    devserver::DevServer server;
    std::shared_ptr<devserver::ForumRoutes> forum;
};

}  // namespace forumtest
