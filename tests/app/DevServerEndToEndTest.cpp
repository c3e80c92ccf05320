// The account calls, the picture upload and the sign-out on 10003 end to end against the stand-in
// app server, started in-process on loopback; plus the server's bent replies.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/QVNAPIClient.h"
#include "app/QVNBaseURL.h"
#include "app/QVNConfiguration.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "tests/app/AppTestSupport.h"
#include "tools/devserver/DevServer.h"
#include "uikit/UIAlertTestDriver.h"

using apptest::APIOutcome;
using namespace std::chrono_literals;

namespace {

class DevServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        ASSERT_TRUE(server.start()) << server.lastError();
        QVNConfiguration::useServer(server.baseURL());
        QVNConfiguration::set(QVNSetting::SecondRoot, server.secondRoot());
        // The stand-in's stop() waits for idle keep-alive connections to time out; closed
        // connections keep each test quick.
        QVNAPIClient::sharedClient()->requestSerializer()->setValue(std::string("close"), "Connection");
        UIAlertTestDriver::reset();
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        server.stop();
        // The shared client outlives the test: a shortened time-out must not reach the next one.
        QVNAPIClient::sharedClient()->requestSerializer()->setTimeoutInterval(QVNAPIClient::kTimeoutInterval);
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
        UIAlertTestDriver::reset();
    }

    static Ref<QVNUserManager> store() { return QVNUserManager::shareObject(); }

    // Signs the first sample user in through the app; its sample record.
    devserver::SampleUser signIn() {
        devserver::SampleUser sample = server.users().at(0);
        bool done = false;
        QVNUser::loginWithUserName(sample.user_username, sample.password,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
                                       EXPECT_FALSE(error);
                                       done = true;
                                   });
        EXPECT_TRUE(wait(done));
        return sample;
    }

    static bool wait(const bool& flag) {
        return testsupport::pumpMainRunLoopUntil([&] { return flag; }, 10);
    }

    testsupport::TemporaryDirectory sandbox_;
    devserver::DevServer server;
};

}  // namespace

TEST_F(DevServerTest, RootsPointAtTheStandIn) {
    EXPECT_EQ(QVNAPIClient::sharedClient()->baseURL()->absoluteString(), server.apiRoot());
    EXPECT_EQ(QVNBaseURL::sharedURL(), server.secondRoot());
    EXPECT_EQ(QVNConfiguration::modelPrefix(), server.modelPrefix());
}

TEST_F(DevServerTest, PasswordLoginArchivesTheUserAndReadsItBack) {
    devserver::SampleUser sample = signIn();
    ASSERT_TRUE(store()->hasCurrentUser());
    auto user = store()->currentUser();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->user_id, NSNumber::numberWithLong(sample.user_id));
    EXPECT_EQ(user->user_nickname, sample.user_nickname);
    EXPECT_EQ(user->user_sign, sample.user_sign);
    EXPECT_EQ(user->user_logo, sample.user_logo);
    EXPECT_EQ(user->user_sex, NSNumber::numberWithInt(sample.user_sex));
    ASSERT_TRUE(user->user_token);
    auto owner = server.userForToken(*user->user_token);
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->user_id, sample.user_id);
    // A second read is a new object with the same fields.
    auto again = store()->currentUser();
    EXPECT_NE(again, user);
    EXPECT_EQ(again->user_token, user->user_token);
}

TEST_F(DevServerTest, AWrongPasswordIsRefusedAs10001) {
    auto sample = server.users().at(0);
    bool done = false;
    QVNUser::loginWithUserName(sample.user_username, "wrong",
                               [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
                                   EXPECT_FALSE(user);
                                   ASSERT_TRUE(error);
                                   EXPECT_EQ(error->code(), 10001);
                                   done = true;
                               });
    ASSERT_TRUE(wait(done));
    EXPECT_FALSE(store()->hasCurrentUser());
}

TEST_F(DevServerTest, ProfileUpdateReachesTheServer) {
    auto sample = signIn();
    auto user = store()->currentUser();
    user->user_nickname = "新昵称";
    user->user_sign = "新签名";
    bool done = false;
    QVNUser::updateUserInfo(user, [&](const Ref<NSError>& error) {
        EXPECT_FALSE(error);
        done = true;
    });
    ASSERT_TRUE(wait(done));
    EXPECT_EQ(server.user(sample.user_id)->user_nickname, "新昵称");
    EXPECT_EQ(store()->currentUser()->user_sign, "新签名");
}

TEST_F(DevServerTest, AvatarUploadStoresTheNewPictureURL) {
    signIn();
    auto user = store()->currentUser();
    bool done = false;
    QVNUser::updateUserAvatar(user, apptest::solidImage(40, 40), [&](const Ref<NSError>& error) {
        EXPECT_FALSE(error) << (error ? error->description() : "");
        done = true;
    });
    ASSERT_TRUE(wait(done));
    ASSERT_TRUE(user->user_logo);
    EXPECT_EQ(store()->currentUser()->user_logo, user->user_logo);
    auto requests = server.requestsTo("user/updateavatar.do");
    ASSERT_EQ(requests.size(), 1u);
    const devserver::MultipartPart* part = requests[0].part("file");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->filename, "question_image");
    EXPECT_EQ(part->contentType, "image/png");
    EXPECT_EQ(devserver::sniffImageType(part->content), "image/jpeg");
}

TEST_F(DevServerTest, PictureUploadSendsPNGAndAnswersAStandInURL) {
    std::optional<std::string> url;
    bool done = false;
    QVNAPIClient::uploadPicture(apptest::solidImage(), [&](const std::optional<std::string>& u) {
        url = u;
        done = true;
    });
    ASSERT_TRUE(wait(done));
    ASSERT_TRUE(url);
    EXPECT_EQ(url->rfind("http://127.0.0.1:", 0), 0u);
    auto request = server.requestsTo("upload/upload.do").at(0);
    auto part = request.part("file");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->filename, "uploadImage");
    EXPECT_EQ(devserver::sniffImageType(part->content), "image/png");
}

TEST_F(DevServerTest, ExpiredTokensSignTheUserOutOnProfileFetch) {
    auto sample = signIn();
    server.expireTokens();
    bool done = false;
    QVNUser::getUserWithUserId(Value(sample.user_id),
                               [&](const Ref<QVNUser>& user, const Ref<NSError>& error) {
                                   EXPECT_FALSE(user);
                                   ASSERT_TRUE(error);
                                   EXPECT_EQ(error->code(), 10003);
                                   EXPECT_TRUE(store()->hasCurrentUser());  // the completion runs first
                                   done = true;
                               });
    ASSERT_TRUE(wait(done));
    EXPECT_FALSE(store()->hasCurrentUser());
    EXPECT_FALSE(store()->currentUserToken());
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title, "帐号失效请重新登录");
}

TEST_F(DevServerTest, RegisterThenBindAndChangePassword) {
    bool registered = false;
    Ref<QVNUser> fresh;
    QVNUser::registerWithUserPhone("13911112222", "新车主", "pw1", devserver::kVerificationCode,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
                                       EXPECT_FALSE(error);
                                       fresh = user;
                                       registered = true;
                                   });
    ASSERT_TRUE(wait(registered));
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(store()->hasCurrentUser());

    bool wrongCode = false;
    QVNUser::registerWithUserPhone("13911113333", "别名", "pw", 1,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
                                       ASSERT_TRUE(error);
                                       EXPECT_EQ(error->code(), 12001);
                                       wrongCode = true;
                                   });
    ASSERT_TRUE(wait(wrongCode));

    bool loggedIn = false;
    QVNUser::loginWithUserName("13911112222", "pw1", [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
        EXPECT_FALSE(error);
        loggedIn = true;
    });
    ASSERT_TRUE(wait(loggedIn));
    bool changed = false;
    QVNUser::changePasswordWithOldPassword("pw1", "pw2", [&](const Ref<NSError>& error) {
        EXPECT_FALSE(error);
        changed = true;
    });
    ASSERT_TRUE(wait(changed));
    EXPECT_EQ(server.userNamed("13911112222")->password, "pw2");

    bool bound = false;
    QVNUser::verifyPhoneWithCode(store()->currentUserToken(), "13922223333", devserver::kVerificationCode,
                                 [&](const Ref<NSError>& error) {
                                     EXPECT_FALSE(error) << (error ? error->description() : "");
                                     bound = true;
                                 });
    ASSERT_TRUE(wait(bound));
    EXPECT_EQ(store()->currentUser()->user_phone, "13922223333");
}

TEST_F(DevServerTest, FindPasswordWithTheSampleCode) {
    auto sample = server.users().at(1);
    bool done = false;
    QVNUser::findPasswordWithIdentifyCode(
        devserver::kVerificationCode, sample.user_phone.empty() ? sample.user_username : sample.user_phone,
        "reset", [&](const Ref<NSError>& error) {
            EXPECT_FALSE(error);
            done = true;
        });
    ASSERT_TRUE(wait(done));
    EXPECT_EQ(server.user(sample.user_id)->password, "reset");
}

// ---- bent replies from the stand-in ---------------------------------------------------------------

TEST_F(DevServerTest, ACodeAsTextIsAnErrorOfThatCode) {
    devserver::RouteControl control;
    control.body = devserver::RouteControl::Body::ResultCodeAsString;
    server.setRouteControl("user/login.do", control);
    APIOutcome outcome;
    auto sample = server.users().at(0);
    QVNAPIClient::getWithURL("user/login.do",
                             Dictionary{{"username", sample.user_username}, {"password", sample.password}},
                             outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 0);  // "0" is not the number 0
}

TEST_F(DevServerTest, BentBodiesFailCleanly) {
    using Body = devserver::RouteControl::Body;
    for (Body body : {Body::Empty, Body::NotJSON, Body::TopLevelArray}) {
        devserver::RouteControl control;
        control.body = body;
        server.setRouteControl("user/getverifycode.do", control);
        APIOutcome outcome;
        QVNAPIClient::getWithURL("user/getverifycode.do", Dictionary{{"tel", "13800000001"}},
                                 outcome.success(), outcome.failure());
        ASSERT_TRUE(outcome.wait());
        EXPECT_EQ(outcome.successes, 0) << static_cast<int>(body);
        EXPECT_EQ(outcome.failures, 1) << static_cast<int>(body);
    }
}

TEST_F(DevServerTest, APostWithoutACodeIsErrorZero) {
    devserver::RouteControl control;
    control.body = devserver::RouteControl::Body::NoResultCode;
    server.setRouteControl("user/findpassword.do", control);
    APIOutcome outcome;
    QVNAPIClient::postWithURL("user/findpassword.do", Dictionary{{"tel", "13800000001"}}, outcome.success(),
                              outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 0);
}

TEST_F(DevServerTest, ADroppedConnectionIsTheServerErrorForLogin) {
    devserver::RouteControl control;
    control.dropConnection = true;
    server.setRouteControl("user/login.do", control);
    bool done = false;
    QVNUser::loginWithUserName("13800000001", "123456", [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 10000);
        done = true;
    });
    ASSERT_TRUE(wait(done));
    EXPECT_FALSE(store()->hasCurrentUser());
}

TEST_F(DevServerTest, ADelayedReplyTimesOut) {
    QVNAPIClient::sharedClient()->requestSerializer()->setTimeoutInterval(0.3);
    devserver::RouteControl control;
    control.delay = 2000ms;
    server.setRouteControl("user/getverifycode.do", control);
    APIOutcome outcome;
    QVNAPIClient::getWithURL("user/getverifycode.do", Dictionary{{"tel", "13800000001"}}, outcome.success(),
                             outcome.failure());
    ASSERT_TRUE(outcome.wait(5));
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failureError->code(), NSURLErrorTimedOut);
}
