#include <gtest/gtest.h>

#include "DevServerTestClient.h"

using namespace devservertest;
using devserver::kResultBadRequest;
using devserver::kVerificationCode;

namespace {

class AccountRoutesTest : public ServerTest {
  protected:
    const std::string code = std::to_string(kVerificationCode);
    // The result code a route answers, by GET or by a form POST.
    long codeOf(const std::string& path) { return get(api(path)).resultCode(); }
    long posted(const std::string& path, const std::string& form) {
        return postForm(api(path), form).resultCode();
    }

    // Form requests and the result code each must answer, in order.
    void expectCodes(const std::string& path, std::initializer_list<std::pair<std::string, long>> cases) {
        for (const auto& [form, expected] : cases)
            EXPECT_EQ(posted(path, form), expected) << path << "?" << form;
    }
};

TEST_F(AccountRoutesTest, LoginAnswersTheUserFieldsAtTopLevelWithAWorkingToken) {
    auto reply = get(api("user/login.do?username=13800000001&password=123456"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("Content-Type"), "application/json; charset=utf-8");
    Value json = reply.json();
    EXPECT_EQ(json["resultCode"].integerValue(), 0);
    EXPECT_EQ(json["user_id"].integerValue(), 1);
    EXPECT_EQ(json["user_nickname"].stringValue(), "改装达人");
    for (const char* key :
         {"user_id", "user_username", "user_nickname", "user_sign", "user_logo", "user_sex", "user_permit",
          "user_status", "user_time", "isFriend", "user_token", "user_email", "user_phone"})
        EXPECT_TRUE(json[key].isSomething()) << key;
    std::string token = json["user_token"].stringValue();
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(server.userForToken(token)->user_id, 1);
    // The avatar URL points back at this server and resolves to a picture.
    std::string logo = json["user_logo"].stringValue();
    EXPECT_EQ(logo.rfind(server.baseURL(), 0), 0u);
    EXPECT_EQ(get(logo).header("Content-Type"), "image/png");
    // Refusals: wrong password, unknown user, missing fields.
    EXPECT_NE(codeOf("user/login.do?username=13800000001&password=nope"), 0);
    EXPECT_NE(codeOf("user/login.do?username=19999999999&password=123456"), 0);
    EXPECT_EQ(codeOf("user/login.do?username=13800000001"), kResultBadRequest);
    EXPECT_EQ(codeOf("user/login.do"), kResultBadRequest);
    // Sample users have distinct nicknames.
    auto users = server.users();
    ASSERT_GE(users.size(), 3u);
    for (std::size_t i = 0; i < users.size(); ++i)
        for (std::size_t j = i + 1; j < users.size(); ++j)
            EXPECT_NE(users[i].user_nickname, users[j].user_nickname);
}

TEST_F(AccountRoutesTest, RegisterCreatesAnAccountThatCanSignIn) {
    auto reply = postForm(api("user/register.do"), "code=" + code + "&nickname=" + escape("新手") +
                                                       "&password=pw&username=13912345678");
    ASSERT_EQ(reply.resultCode(), 0) << reply.body;
    EXPECT_EQ(reply.json()["user_nickname"].stringValue(), "新手");
    EXPECT_EQ(reply.json()["user_phone"].stringValue(), "13912345678");
    EXPECT_EQ(codeOf("user/login.do?username=13912345678&password=pw"), 0);
}

TEST_F(AccountRoutesTest, RegisterCodesInOrderOfTheirChecks) {
    auto form = [&](const std::string& phone, const std::string& c, const std::string& nick) {
        return "code=" + c + "&nickname=" + escape(nick) + "&password=pw&username=" + phone;
    };
    expectCodes("user/register.do",
                {{form("1391234567", code, "a"), 11001},
                 {form("139123456789", code, "a"), 11001},
                 {form("1391234567x", code, "a"), 11001},
                 {form("13912345678", "135790", "a"), 12001},
                 {form("13800000001", code, "a"), 10005},
                 {form("13912345678", code, "赛道老王"), devserver::kResultNicknameTaken}});
    server.setVerificationServiceFailing(true);
    expectCodes("user/register.do", {{form("13912345678", code, "a"), 12002}});
    server.setVerificationServiceFailing(false);
    expectCodes("user/register.do",
                {{form("13912345678", code, "a"), 0}, {form("13912345678", code, "b"), 10005}});
}

TEST_F(AccountRoutesTest, ThirdPartyLoginsMakeOneAccountPerCredential) {
    auto first = postForm(api("user/loginbyweibo.do"), "access_token=abc");
    auto again = postForm(api("user/loginbyweibo.do"), "access_token=abc");
    auto other = postForm(api("user/loginbywechat.do"), "code=abc");
    ASSERT_EQ(first.resultCode(), 0);
    ASSERT_EQ(other.resultCode(), 0);
    EXPECT_EQ(first.json()["user_id"].integerValue(), again.json()["user_id"].integerValue());
    EXPECT_NE(first.json()["user_id"].integerValue(), other.json()["user_id"].integerValue());
    EXPECT_NE(first.json()["user_token"].stringValue(), again.json()["user_token"].stringValue());
    EXPECT_NE(posted("user/loginbyweibo.do", "access_token="), 0);
    EXPECT_NE(posted("user/loginbywechat.do", "code=invalid-1"), 0);
    EXPECT_NE(posted("user/loginbywechat.do", ""), 0);
}

TEST_F(AccountRoutesTest, VerifyCodeChecksThePhoneAndTheService) {
    EXPECT_EQ(codeOf("user/getverifycode.do?tel=13912345678"), 0);
    EXPECT_EQ(codeOf("user/getverifycode.do?tel=123"), 11001);
    EXPECT_EQ(codeOf("user/getverifycode.do"), 11001);
    server.setVerificationServiceFailing(true);
    EXPECT_EQ(codeOf("user/getverifycode.do?tel=13912345678"), 12002);
}

TEST_F(AccountRoutesTest, FindPasswordResetsThePasswordAndCodesItsRefusals) {
    expectCodes("user/findpassword.do", {{"code=" + code + "&password=x&tel=12", 11001},
                                         {"code=111111&password=x&tel=13800000002", 12001},
                                         {"code=" + code + "&password=x&tel=13999999999", 10003},
                                         {"code=" + code + "&tel=13800000002", kResultBadRequest},
                                         {"code=" + code + "&password=new&tel=13800000002", 0}});
    EXPECT_EQ(codeOf("user/login.do?username=13800000002&password=new"), 0);
    EXPECT_NE(codeOf("user/login.do?username=13800000002&password=abcdef"), 0);
    server.setVerificationServiceFailing(true);
    expectCodes("user/findpassword.do", {{"code=" + code + "&password=x&tel=13800000002", 12002}});
}

TEST_F(AccountRoutesTest, BindPhoneAnswersTheUserAndChecksEveryCase) {
    std::string t = token();
    auto ok = postForm(api("user/bindphone.do"), "code=" + code + "&phone=13711112222&user_token=" + t);
    ASSERT_EQ(ok.resultCode(), 0) << ok.body;
    EXPECT_EQ(ok.json()["user_phone"].stringValue(), "13711112222");
    EXPECT_EQ(ok.json()["user_token"].stringValue(), t);
    expectCodes("user/bindphone.do", {{"code=" + code + "&phone=13800000002&user_token=" + t, 10005},
                                      {"code=" + code + "&phone=1380&user_token=" + t, 11001},
                                      {"code=2&phone=13711112223&user_token=" + t, 12001},
                                      {"code=" + code + "&phone=13711112223&user_token=bogus", 10003}});
    server.setVerificationServiceFailing(true);
    expectCodes("user/bindphone.do", {{"code=" + code + "&phone=13711112223&user_token=" + t, 12002}});
}

TEST_F(AccountRoutesTest, UpdatePasswordChecksTheOldOne) {
    std::string t = token();
    EXPECT_NE(codeOf("user/updatepassword.do?new_password=b&old_password=wrong&user_token=" + t), 0);
    EXPECT_EQ(codeOf("user/updatepassword.do?new_password=b&old_password=123456&user_token=" + t), 0);
    EXPECT_EQ(codeOf("user/login.do?username=13800000001&password=b"), 0);
    EXPECT_EQ(codeOf("user/updatepassword.do?new_password=c&old_password=b&user_token=x"), 10003);
    EXPECT_EQ(codeOf("user/updatepassword.do?old_password=b&user_token=" + t), kResultBadRequest);
}

TEST_F(AccountRoutesTest, UpdateChangesTheProfileAndRefusesAnotherUsersNickname) {
    std::string t = token();
    auto ok = get(
        api("user/update.do?nickname=" + escape("新名字") + "&sex=0&sign=" + escape("你好") + "&token=" + t));
    ASSERT_EQ(ok.resultCode(), 0) << ok.body;
    auto user = server.user(1);
    EXPECT_EQ(user->user_nickname, "新名字");
    EXPECT_EQ(user->user_sign, "你好");
    EXPECT_EQ(user->user_sex, 0);
    EXPECT_EQ(codeOf("user/update.do?nickname=" + escape("赛道老王") + "&token=" + t),
              devserver::kResultNicknameTaken);
    EXPECT_EQ(codeOf("user/update.do?sex=maybe&token=" + t), kResultBadRequest);
    // Keeping one's own nickname is no clash.
    EXPECT_EQ(codeOf("user/update.do?nickname=" + escape("新名字") + "&token=" + t), 0);
    EXPECT_EQ(codeOf("user/update.do?nickname=x&token="), 10003);
}

TEST_F(AccountRoutesTest, UpdateAvatarTakesTheTokenFromThePath) {
    std::string t = token();
    auto reply =
        postFile(api("user/updateavatar.do?token=" + t), sampleJPEG(), "question_image", "image/png");
    ASSERT_EQ(reply.resultCode(), 0) << reply.body;
    std::string logo = reply.json()["user_logo"].stringValue();
    EXPECT_EQ(server.user(1)->user_logo, logo);
    auto picture = get(logo);
    EXPECT_EQ(picture.header("Content-Type"), "image/jpeg");  // the bytes, not the declared type
    EXPECT_EQ(picture.body, sampleJPEG());
    EXPECT_EQ(postFile(api("user/updateavatar.do?token=nope"), sampleJPEG()).resultCode(), 10003);
    EXPECT_NE(postFile(api("user/updateavatar.do?token=" + t), "plain text").resultCode(), 0);
    EXPECT_NE(postFile(api("user/updateavatar.do?token=" + t), sampleJPEG(), "f", "image/png", "other")
                  .resultCode(),
              0);
}

TEST_F(AccountRoutesTest, GetUserTellsFriendsAndHidesOthersTokens) {
    std::string t = token();
    auto user = [&](const std::string& id) {
        return get(api("user/getuser.do?token=" + t + "&user_id=" + id));
    };
    auto friendReply = user("2");
    ASSERT_EQ(friendReply.resultCode(), 0);
    EXPECT_EQ(friendReply.json()["isFriend"].integerValue(), 1);
    EXPECT_FALSE(friendReply.json()["user_token"].isSomething());
    EXPECT_EQ(user("3").json()["isFriend"].integerValue(), 0);
    server.setFriends(1, 3, true);
    EXPECT_EQ(user("3").json()["isFriend"].integerValue(), 1);
    EXPECT_EQ(user("1").json()["user_token"].stringValue(), t);
    EXPECT_EQ(user("999").resultCode(), devserver::kResultNotFound);
    EXPECT_EQ(user("abc").resultCode(), kResultBadRequest);
    EXPECT_EQ(codeOf("user/getuser.do?token=zzz&user_id=2"), 10003);
}

TEST_F(AccountRoutesTest, SearchUserFindsOthersByNickname) {
    std::string t = token();
    auto reply = get(api("user/searchuser.do?keyword=" + escape("老王") + "&user_token=" + t));
    ASSERT_EQ(reply.resultCode(), 0);
    Value rows = reply.json()["data"];
    ASSERT_EQ(rows.array()->count(), 1u);
    EXPECT_EQ(rows[0]["user_id"].integerValue(), 2);
    EXPECT_EQ(rows[0]["isFriend"].integerValue(), 1);
    EXPECT_TRUE(rows[0]["user_logo"].isString());
    // Oneself is never a result.
    auto all = get(api("user/searchuser.do?keyword=&user_token=" + t)).json()["data"];
    for (const auto& row : *all.array()) EXPECT_NE(row["user_id"].integerValue(), 1);
    EXPECT_EQ(codeOf("user/searchuser.do?keyword=a&user_token="), 10003);
}

TEST_F(AccountRoutesTest, ExpiredTokensAnswer10003Everywhere) {
    std::string t = token();
    ASSERT_EQ(codeOf("user/getuser.do?token=" + t + "&user_id=2"), 0);
    server.expireTokens();
    EXPECT_FALSE(server.userForToken(t));
    for (const std::string& path :
         {"user/getuser.do?token=" + t + "&user_id=2", "user/update.do?sign=x&token=" + t,
          "user/updatepassword.do?new_password=b&old_password=123456&user_token=" + t,
          "user/searchuser.do?keyword=a&user_token=" + t, "car/gettuninglist.do?user_token=" + t})
        EXPECT_EQ(codeOf(path), 10003) << path;
    // A new login works again; expiring one token leaves the others.
    std::string fresh = token(), other = server.loginToken("13800000002");
    server.expireToken(fresh);
    EXPECT_EQ(codeOf("user/getuser.do?token=" + fresh + "&user_id=2"), 10003);
    EXPECT_EQ(codeOf("user/getuser.do?token=" + other + "&user_id=1"), 0);
    EXPECT_EQ(server.loginToken("nobody"), "");
}

}  // namespace

// ---- verification codes issued per phone ---------------------------------------------------------

TEST_F(AccountRoutesTest, AnIssuedCodeIsReadableSignsUpOnceAndIsThenUsedUp) {
    EXPECT_FALSE(server.verificationCode("13912340000"));
    ASSERT_EQ(codeOf("user/getverifycode.do?tel=13912340000"), 0);
    auto issued = server.verificationCode("13912340000");
    ASSERT_TRUE(issued);
    EXPECT_EQ(issued->size(), 6u);
    EXPECT_NE((*issued)[0], '0');
    // The test control answers the same code over HTTP.
    auto control = get(server.baseURL() + "test/verifycode?tel=13912340000");
    EXPECT_EQ(control.json()["code"].stringValue(), *issued);
    EXPECT_EQ(get(server.baseURL() + "test/verifycode?tel=13900000000").resultCode(),
              devserver::kResultNotFound);

    // A code issued to another phone is no good here.
    ASSERT_EQ(codeOf("user/getverifycode.do?tel=13912340001"), 0);
    auto other = *server.verificationCode("13912340001");
    if (other != *issued) {
        EXPECT_EQ(
            posted("user/register.do", "code=" + other + "&nickname=x1&password=pw&username=13912340000"),
            12001);
    }
    EXPECT_EQ(posted("user/register.do", "code=" + *issued + "&nickname=x1&password=pw&username=13912340000"),
              0);
    EXPECT_FALSE(server.verificationCode("13912340000"));
    // A new user finds a welcome in the notices.
    auto user = server.userNamed("13912340000");
    ASSERT_TRUE(user);
    auto notices = server.notices(user->user_id);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].category, 3);
}

TEST_F(AccountRoutesTest, AnExpiredOrReplacedCodeIsRefused) {
    ASSERT_EQ(codeOf("user/getverifycode.do?tel=13912340002"), 0);
    auto first = *server.verificationCode("13912340002");
    ASSERT_EQ(codeOf("user/getverifycode.do?tel=13912340002"), 0);
    auto second = *server.verificationCode("13912340002");
    if (first != second) {
        EXPECT_EQ(
            posted("user/register.do", "code=" + first + "&nickname=y1&password=pw&username=13912340002"),
            12001);
    }
    server.expireVerificationCodes();
    EXPECT_FALSE(server.verificationCode("13912340002"));
    EXPECT_EQ(posted("user/register.do", "code=" + second + "&nickname=y1&password=pw&username=13912340002"),
              12001);
    // A lifetime of zero: a code is stale the moment it is issued.
    server.setVerificationCodeLifetime(std::chrono::milliseconds(0));
    ASSERT_EQ(codeOf("user/getverifycode.do?tel=13912340003"), 0);
    EXPECT_FALSE(server.verificationCode("13912340003"));
}

TEST_F(AccountRoutesTest, IssuedCodesResetAPasswordAndBindAPhone) {
    ASSERT_EQ(codeOf("user/getverifycode.do?tel=13800000003"), 0);
    auto reset = *server.verificationCode("13800000003");
    EXPECT_EQ(posted("user/findpassword.do", "code=" + reset + "&password=fresh&tel=13800000003"), 0);
    EXPECT_EQ(codeOf("user/login.do?username=13800000003&password=fresh"), 0);
    // Used up.
    EXPECT_EQ(posted("user/findpassword.do", "code=" + reset + "&password=again&tel=13800000003"), 12001);

    std::string t = token();
    ASSERT_EQ(codeOf("user/getverifycode.do?tel=13766665555"), 0);
    auto bind = *server.verificationCode("13766665555");
    EXPECT_EQ(posted("user/bindphone.do", "code=" + bind + "&phone=13766665555&user_token=" + t), 0);
    EXPECT_EQ(server.user(1)->user_phone, "13766665555");
}
