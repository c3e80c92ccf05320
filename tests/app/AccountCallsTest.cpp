// The account calls of QVNUser against a scripted loopback server: what each sends, what it
// stores, and what its completion receives, in which order.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/QVNAPIClient.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "tests/app/AppTestSupport.h"
#include "uikit/UIAlertTestDriver.h"

using apptest::formFields;
using apptest::json;
using testsupport::ScriptedReply;

namespace {

class AccountCallsTest : public apptest::ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        UIAlertTestDriver::reset();
    }
    void TearDown() override {
        UIAlertTestDriver::reset();
        ServerTest::TearDown();
    }

    static Ref<QVNUserManager> store() { return QVNUserManager::shareObject(); }

    void signIn(const std::string& token = "tok-1") {
        auto user = make<QVNUser>();
        user->user_id = NSNumber::numberWithInt(5);
        user->user_nickname = "老王";
        user->user_token = token;
        store()->saveUser(user);
    }

    static bool waitFor(const bool& flag) {
        return testsupport::pumpMainRunLoopUntil([&] { return flag; }, 10);
    }

    testsupport::RecordedRequest onlyRequest() {
        auto requests = server.requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? testsupport::RecordedRequest() : requests.front();
    }

    static std::string msg(const Ref<NSError>& error) {
        return error ? error->userInfo().objectForKey(QVNAPIErrorMessageKey).stringValue() : "<none>";
    }
};

}  // namespace

// ---- logins ---------------------------------------------------------------------------------------

TEST_F(AccountCallsTest, PasswordLoginStoresTheUserBeforeTheCompletion) {
    server.setReply(apiPath("user/login.do"), json(R"({"resultCode":0,"user_id":7,"user_token":"t"})"));
    bool done = false;
    bool storedAtCompletion = false;
    Ref<QVNUser> received;
    QVNUser::loginWithUserName("13800000000", "pa ss",
                               [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
                                   EXPECT_FALSE(error);
                                   received = user;
                                   storedAtCompletion = store()->hasCurrentUser();
                                   done = true;
                               });
    ASSERT_TRUE(waitFor(done));
    EXPECT_TRUE(storedAtCompletion);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->user_id, NSNumber::numberWithInt(7));
    EXPECT_EQ(received->user_token, "t");
    EXPECT_FALSE(received->user_nickname);
    EXPECT_FALSE(received->user_phone);
    auto stored = store()->currentUser();
    ASSERT_TRUE(stored);
    EXPECT_NE(stored, received);
    EXPECT_EQ(stored->user_id, received->user_id);
    EXPECT_EQ(store()->currentUserToken(), "t");

    auto request = onlyRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(formFields(request.query),
              (std::map<std::string, std::string>{{"password", "pa ss"}, {"username", "13800000000"}}));
}

TEST_F(AccountCallsTest, EveryRefusedLoginIs10001WhateverTheServerSaid) {
    server.setReply(apiPath("user/login.do"), json(R"({"resultCode":12345,"errmsg":"账号冻结"})"));
    bool done = false;
    Ref<NSError> received;
    QVNUser::loginWithUserName("u", "p", [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
        EXPECT_FALSE(user);
        received = error;
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    ASSERT_TRUE(received);
    EXPECT_EQ(received->code(), 10001);
    EXPECT_EQ(received->domain(), "用户名或密码错误");
    EXPECT_EQ(msg(received), "用户名或密码错误");
    EXPECT_FALSE(store()->hasCurrentUser());
}

TEST_F(AccountCallsTest, ALoginThatCannotReachTheServerIsTheServerError) {
    server.setReply(apiPath("user/login.do"), json("[]"));  // not an object: a transport-style failure
    bool done = false;
    Ref<NSError> received;
    QVNUser::loginWithUserName("u", "p", [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
        received = error;
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    ASSERT_TRUE(received);
    EXPECT_EQ(received->code(), 10000);
    EXPECT_EQ(received->domain(), "服务器出错");
    EXPECT_EQ(msg(received), "服务器出错");
}

TEST_F(AccountCallsTest, LoginWithoutACompletionStillStores) {
    server.setReply(apiPath("user/login.do"), json(R"({"resultCode":0,"user_id":8,"user_token":"z"})"));
    QVNUser::loginWithUserName("u", "p", nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return store()->hasCurrentUser(); }, 10));
    EXPECT_EQ(store()->currentUserToken(), "z");
}

TEST_F(AccountCallsTest, SocialLoginsByTag) {
    server.setReply(apiPath("user/loginbyweibo.do"),
                    json(R"({"resultCode":0,"user_id":1,"user_token":"wb"})"));
    server.setReply(apiPath("user/loginbywechat.do"), json(R"({"resultCode":3})"));
    bool weibo = false, wechat = false;
    QVNUser::loginWithToken("access", "10001", [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
        EXPECT_FALSE(error);
        EXPECT_TRUE(user);
        weibo = true;
    });
    ASSERT_TRUE(waitFor(weibo));
    EXPECT_EQ(store()->currentUserToken(), "wb");
    QVNUser::loginWithToken("the-code", "10002", [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
        EXPECT_EQ(error->code(), 10001);
        EXPECT_FALSE(user);
        wechat = true;
    });
    ASSERT_TRUE(waitFor(wechat));
    EXPECT_EQ(store()->currentUserToken(), "wb");  // a refused login leaves the stored user

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(formFields(requests[0].body), (std::map<std::string, std::string>{{"access_token", "access"}}));
    EXPECT_EQ(requests[1].path, apiPath("user/loginbywechat.do"));
    EXPECT_EQ(formFields(requests[1].body), (std::map<std::string, std::string>{{"code", "the-code"}}));
}

TEST_F(AccountCallsTest, AnUnknownTagSendsNothing) {
    bool called = false;
    QVNUser::loginWithToken("x", "10003", [&](const Ref<NSError>&, const Ref<QVNUser>&) { called = true; });
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_FALSE(called);
    EXPECT_EQ(server.requestCount(), 0u);
}

// ---- sign-up, password reset and change, phone binding ----------------------------------------------

TEST_F(AccountCallsTest, RegisterHandsOutTheUserWithoutStoringIt) {
    server.setReply(apiPath("user/register.do"),
                    json(R"({"resultCode":0,"user_id":9,"user_nickname":"车迷"})"));
    bool done = false;
    QVNUser::registerWithUserPhone("13800000000", "车迷", "pw", 4321,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
                                       EXPECT_FALSE(error);
                                       ASSERT_TRUE(user);
                                       EXPECT_EQ(user->user_nickname, "车迷");
                                       done = true;
                                   });
    ASSERT_TRUE(waitFor(done));
    EXPECT_FALSE(store()->hasCurrentUser());
    auto request = onlyRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(formFields(request.body),
              (std::map<std::string, std::string>{
                  {"code", "4321"}, {"nickname", "车迷"}, {"password", "pw"}, {"username", "13800000000"}}));
}

TEST_F(AccountCallsTest, RegisterPassesTheServersCodeOn) {
    server.setReply(apiPath("user/register.do"), json(R"({"resultCode":10005,"errmsg":"已注册"})"));
    bool done = false;
    QVNUser::registerWithUserPhone("1", "n", "p", 1,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>& user) {
                                       EXPECT_FALSE(user);
                                       ASSERT_TRUE(error);
                                       EXPECT_EQ(error->domain(), "QVNAPI");
                                       EXPECT_EQ(error->code(), 10005);
                                       EXPECT_EQ(msg(error), "已注册");
                                       done = true;
                                   });
    ASSERT_TRUE(waitFor(done));
}

TEST_F(AccountCallsTest, FindAndChangePassword) {
    signIn("tok-9");
    server.setReply(apiPath("user/findpassword.do"), json(R"({"resultCode":12001,"errmsg":"验证码错误"})"));
    server.setReply(apiPath("user/updatepassword.do"), json(R"({"resultCode":0})"));
    bool found = false, changed = false;
    QVNUser::findPasswordWithIdentifyCode(2468, "13800000000", "new", [&](const Ref<NSError>& error) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 12001);
        found = true;
    });
    ASSERT_TRUE(waitFor(found));
    QVNUser::changePasswordWithOldPassword("old", "new", [&](const Ref<NSError>& error) {
        EXPECT_FALSE(error);
        changed = true;
    });
    ASSERT_TRUE(waitFor(changed));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(
        formFields(requests[0].body),
        (std::map<std::string, std::string>{{"code", "2468"}, {"password", "new"}, {"tel", "13800000000"}}));
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(formFields(requests[1].query),
              (std::map<std::string, std::string>{
                  {"new_password", "new"}, {"old_password", "old"}, {"user_token", "tok-9"}}));
}

TEST_F(AccountCallsTest, TransportFailuresOfPasswordCallsAreTheServerError) {
    server.setReply(apiPath("user/findpassword.do"), json("{}", 502));
    bool done = false;
    QVNUser::findPasswordWithIdentifyCode(1, "2", "3", [&](const Ref<NSError>& error) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 10000);
        EXPECT_EQ(msg(error), "服务器出错");
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
}

TEST_F(AccountCallsTest, ChangePasswordSignedOutLeavesTheTokenOut) {
    server.setReply(apiPath("user/updatepassword.do"), json(R"({"resultCode":10003})"));
    bool done = false;
    QVNUser::changePasswordWithOldPassword("o", "n", [&](const Ref<NSError>& error) {
        EXPECT_EQ(error->code(), 10003);
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(formFields(onlyRequest().query).count("user_token"), 0u);
}

TEST_F(AccountCallsTest, BindPhoneStoresTheReplysUser) {
    server.setReply(apiPath("user/bindphone.do"),
                    json(R"({"resultCode":0,"user_id":5,"user_token":"tok-2","user_phone":"13900000000"})"));
    bool done = false;
    QVNUser::verifyPhoneWithCode(std::string("tok-1"), "13900000000", 123456UL,
                                 [&](const Ref<NSError>& error) {
                                     EXPECT_FALSE(error);
                                     EXPECT_EQ(store()->currentUser()->user_phone, "13900000000");
                                     done = true;
                                 });
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(formFields(onlyRequest().body),
              (std::map<std::string, std::string>{
                  {"code", "123456"}, {"phone", "13900000000"}, {"user_token", "tok-1"}}));
}

// ---- profile and avatar ---------------------------------------------------------------------------

TEST_F(AccountCallsTest, UpdateProfileCompletesBeforeItStores) {
    signIn();
    auto edited = store()->currentUser();
    edited->user_nickname = "新名字";
    edited->user_sign = "签名";
    edited->user_sex = NSNumber::numberWithInt(0);
    server.setReply(apiPath("user/update.do"), json(R"({"resultCode":0})"));
    bool done = false;
    std::optional<std::string> nicknameAtCompletion;
    QVNUser::updateUserInfo(edited, [&](const Ref<NSError>& error) {
        EXPECT_FALSE(error);
        nicknameAtCompletion = store()->currentUser()->user_nickname;
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(nicknameAtCompletion, "老王");
    EXPECT_EQ(store()->currentUser()->user_nickname, "新名字");
    EXPECT_EQ(formFields(onlyRequest().query),
              (std::map<std::string, std::string>{
                  {"nickname", "新名字"}, {"sex", "0"}, {"sign", "签名"}, {"token", "tok-1"}}));
}

TEST_F(AccountCallsTest, AFailedProfileUpdateStoresNothing) {
    signIn();
    auto edited = store()->currentUser();
    edited->user_nickname = "x";
    server.setReply(apiPath("user/update.do"), json(R"({"resultCode":10003,"errmsg":"e"})"));
    bool done = false;
    QVNUser::updateUserInfo(edited, [&](const Ref<NSError>& error) {
        EXPECT_EQ(error->code(), 10003);
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(store()->currentUser()->user_nickname, "老王");

    server.setReply(apiPath("user/update.do"), json("{}", 404));
    done = false;
    QVNUser::updateUserInfo(edited, [&](const Ref<NSError>& error) {
        // The HTTP layer's error, unchanged.
        EXPECT_EQ(error->domain(), HKURLResponseSerializationErrorDomain);
        EXPECT_EQ(error->code(), NSURLErrorBadServerResponse);
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
}

TEST_F(AccountCallsTest, AvatarTakesTheStoresTokenAndStoresTheGivenUser) {
    signIn("a b&c");
    auto given = make<QVNUser>();
    given->user_id = NSNumber::numberWithInt(5);
    given->user_nickname = "给定";
    given->user_token = "other";
    server.setReply(apiPath("user/updateavatar.do"),
                    json(R"({"resultCode":0,"user_logo":"http://p/a.png"})"));
    bool done = false;
    QVNUser::updateUserAvatar(given, apptest::solidImage(), [&](const Ref<NSError>& error) {
        EXPECT_FALSE(error);
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(given->user_logo, "http://p/a.png");
    auto stored = store()->currentUser();
    EXPECT_EQ(stored->user_logo, "http://p/a.png");
    EXPECT_EQ(stored->user_nickname, "给定");
    auto request = onlyRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.query, "token=a%20b%26c");
    EXPECT_EQ(formFields(request.query).at("token"), "a b&c");
    EXPECT_NE(request.body.find("filename=\"question_image\""), std::string::npos);
}

TEST_F(AccountCallsTest, AFailedAvatarIs10000) {
    signIn();
    server.setReply(apiPath("user/updateavatar.do"), json(R"({"resultCode":10003,"errmsg":"m"})"));
    bool done = false;
    auto given = store()->currentUser();
    QVNUser::updateUserAvatar(given, apptest::solidImage(), [&](const Ref<NSError>& error) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 10000);
        EXPECT_EQ(msg(error), "m");
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_FALSE(given->user_logo);
}

// ---- fetching a user, and the sign-out on 10003 -----------------------------------------------------

TEST_F(AccountCallsTest, GetUserDoesNotStore) {
    signIn("tok-3");
    server.setReply(apiPath("user/getuser.do"),
                    json(R"({"resultCode":0,"user_id":12,"user_nickname":"别人","isFriend":1})"));
    bool done = false;
    QVNUser::getUserWithUserId(Value(12), [&](const Ref<QVNUser>& user, const Ref<NSError>& error) {
        EXPECT_FALSE(error);
        ASSERT_TRUE(user);
        EXPECT_EQ(user->isFriend, NSNumber::numberWithInt(1));
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(store()->currentUser()->user_nickname, "老王");
    EXPECT_EQ(formFields(onlyRequest().query),
              (std::map<std::string, std::string>{{"token", "tok-3"}, {"user_id", "12"}}));
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
}

TEST_F(AccountCallsTest, InvalidTokenCompletesThenSignsOutThenAlerts) {
    signIn();
    server.setReply(apiPath("user/getuser.do"), json(R"({"resultCode":10003,"errmsg":"token"})"));
    bool done = false;
    bool signedInAtCompletion = false;
    bool alertAtCompletion = true;
    QVNUser::getUserWithUserId(Value("12"), [&](const Ref<QVNUser>& user, const Ref<NSError>& error) {
        EXPECT_FALSE(user);
        EXPECT_EQ(error->code(), 10003);
        signedInAtCompletion = store()->hasCurrentUser();
        alertAtCompletion = !UIAlertTestDriver::visibleAlerts().empty();
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_TRUE(signedInAtCompletion);
    EXPECT_FALSE(alertAtCompletion);
    EXPECT_FALSE(store()->hasCurrentUser());
    EXPECT_TRUE(std::filesystem::exists(QVNUserManager::currentUserFilePath()));
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title, "帐号失效请重新登录");
    EXPECT_FALSE(alert->message);
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton("确定"));
    EXPECT_FALSE(store()->hasCurrentUser());
}

TEST_F(AccountCallsTest, OtherFetchFailuresKeepTheUser) {
    signIn();
    server.setReply(apiPath("user/getuser.do"), json(R"({"resultCode":10004})"));
    bool done = false;
    QVNUser::getUserWithUserId(Value(1), [&](const Ref<QVNUser>&, const Ref<NSError>& error) {
        EXPECT_EQ(error->code(), 10004);
        done = true;
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_TRUE(store()->hasCurrentUser());
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    QVNUser::getUserWithUserId(Value(1), nullptr);  // no completion: nothing to call
    ASSERT_TRUE(server.waitForRequests(2, 10));
    testsupport::pumpMainRunLoop(0.1);
}
