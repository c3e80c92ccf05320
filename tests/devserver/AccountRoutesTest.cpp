#include <gtest/gtest.h>

#include "DevServerTestClient.h"

using namespace devservertest;
using devserver::kVerificationCode;

namespace {

class AccountRoutesTest : public ServerTest {
  protected:
    std::string code() const { return std::to_string(kVerificationCode); }
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
}

TEST_F(AccountRoutesTest, LoginRefusesAWrongPasswordAnUnknownUserAndMissingFields) {
    EXPECT_NE(get(api("user/login.do?username=13800000001&password=nope")).resultCode(), 0);
    EXPECT_NE(get(api("user/login.do?username=19999999999&password=123456")).resultCode(), 0);
    EXPECT_EQ(get(api("user/login.do?username=13800000001")).resultCode(), devserver::kResultBadRequest);
    EXPECT_EQ(get(api("user/login.do")).resultCode(), devserver::kResultBadRequest);
}

TEST_F(AccountRoutesTest, SampleUsersHaveDistinctNicknames) {
    auto users = server.users();
    ASSERT_GE(users.size(), 3u);
    for (std::size_t i = 0; i < users.size(); ++i)
        for (std::size_t j = i + 1; j < users.size(); ++j)
            EXPECT_NE(users[i].user_nickname, users[j].user_nickname);
}

TEST_F(AccountRoutesTest, RegisterCreatesAnAccountThatCanSignIn) {
    auto reply = postForm(api("user/register.do"), "code=" + code() + "&nickname=" + escape("新手") +
                                                       "&password=pw&username=13912345678");
    ASSERT_EQ(reply.resultCode(), 0) << reply.body;
    EXPECT_EQ(reply.json()["user_nickname"].stringValue(), "新手");
    EXPECT_EQ(reply.json()["user_phone"].stringValue(), "13912345678");
    EXPECT_EQ(get(api("user/login.do?username=13912345678&password=pw")).resultCode(), 0);
}

TEST_F(AccountRoutesTest, RegisterCodesInOrderOfTheirChecks) {
    auto form = [&](const std::string& phone, const std::string& c, const std::string& nick) {
        return "code=" + c + "&nickname=" + escape(nick) + "&password=pw&username=" + phone;
    };
    EXPECT_EQ(postForm(api("user/register.do"), form("1391234567", code(), "a")).resultCode(), 11001);
    EXPECT_EQ(postForm(api("user/register.do"), form("139123456789", code(), "a")).resultCode(), 11001);
    EXPECT_EQ(postForm(api("user/register.do"), form("1391234567x", code(), "a")).resultCode(), 11001);
    EXPECT_EQ(postForm(api("user/register.do"), form("13912345678", "135790", "a")).resultCode(), 12001);
    EXPECT_EQ(postForm(api("user/register.do"), form("13800000001", code(), "a")).resultCode(), 10005);
    EXPECT_EQ(postForm(api("user/register.do"), form("13912345678", code(), "赛道老王")).resultCode(),
              devserver::kResultNicknameTaken);
    server.setVerificationServiceFailing(true);
    EXPECT_EQ(postForm(api("user/register.do"), form("13912345678", code(), "a")).resultCode(), 12002);
    server.setVerificationServiceFailing(false);
    EXPECT_EQ(postForm(api("user/register.do"), form("13912345678", code(), "a")).resultCode(), 0);
    EXPECT_EQ(postForm(api("user/register.do"), form("13912345678", code(), "b")).resultCode(), 10005);
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
    EXPECT_NE(postForm(api("user/loginbyweibo.do"), "access_token=").resultCode(), 0);
    EXPECT_NE(postForm(api("user/loginbywechat.do"), "code=invalid-1").resultCode(), 0);
    EXPECT_NE(postForm(api("user/loginbywechat.do"), "").resultCode(), 0);
}

TEST_F(AccountRoutesTest, VerifyCodeChecksThePhoneAndTheService) {
    EXPECT_EQ(get(api("user/getverifycode.do?tel=13912345678")).resultCode(), 0);
    EXPECT_EQ(get(api("user/getverifycode.do?tel=123")).resultCode(), 11001);
    EXPECT_EQ(get(api("user/getverifycode.do")).resultCode(), 11001);
    server.setVerificationServiceFailing(true);
    EXPECT_EQ(get(api("user/getverifycode.do?tel=13912345678")).resultCode(), 12002);
}

TEST_F(AccountRoutesTest, FindPasswordResetsThePassword) {
    EXPECT_EQ(postForm(api("user/findpassword.do"), "code=" + code() + "&password=new&tel=13800000002")
                  .resultCode(),
              0);
    EXPECT_EQ(get(api("user/login.do?username=13800000002&password=new")).resultCode(), 0);
    EXPECT_NE(get(api("user/login.do?username=13800000002&password=abcdef")).resultCode(), 0);
}

TEST_F(AccountRoutesTest, FindPasswordErrors) {
    EXPECT_EQ(postForm(api("user/findpassword.do"), "code=" + code() + "&password=x&tel=12").resultCode(),
              11001);
    EXPECT_EQ(postForm(api("user/findpassword.do"), "code=111111&password=x&tel=13800000002").resultCode(),
              12001);
    EXPECT_EQ(
        postForm(api("user/findpassword.do"), "code=" + code() + "&password=x&tel=13999999999").resultCode(),
        10003);
    EXPECT_EQ(postForm(api("user/findpassword.do"), "code=" + code() + "&tel=13800000002").resultCode(),
              devserver::kResultBadRequest);
    server.setVerificationServiceFailing(true);
    EXPECT_EQ(
        postForm(api("user/findpassword.do"), "code=" + code() + "&password=x&tel=13800000002").resultCode(),
        12002);
}

TEST_F(AccountRoutesTest, BindPhoneAnswersTheUserAndChecksEveryCase) {
    std::string t = token();
    auto ok = postForm(api("user/bindphone.do"), "code=" + code() + "&phone=13711112222&user_token=" + t);
    ASSERT_EQ(ok.resultCode(), 0) << ok.body;
    EXPECT_EQ(ok.json()["user_phone"].stringValue(), "13711112222");
    EXPECT_EQ(ok.json()["user_token"].stringValue(), t);
    EXPECT_EQ(postForm(api("user/bindphone.do"), "code=" + code() + "&phone=13800000002&user_token=" + t)
                  .resultCode(),
              10005);
    EXPECT_EQ(
        postForm(api("user/bindphone.do"), "code=" + code() + "&phone=1380&user_token=" + t).resultCode(),
        11001);
    EXPECT_EQ(postForm(api("user/bindphone.do"), "code=2&phone=13711112223&user_token=" + t).resultCode(),
              12001);
    EXPECT_EQ(postForm(api("user/bindphone.do"), "code=" + code() + "&phone=13711112223&user_token=bogus")
                  .resultCode(),
              10003);
    server.setVerificationServiceFailing(true);
    EXPECT_EQ(postForm(api("user/bindphone.do"), "code=" + code() + "&phone=13711112223&user_token=" + t)
                  .resultCode(),
              12002);
}

TEST_F(AccountRoutesTest, UpdatePasswordChecksTheOldOne) {
    std::string t = token();
    EXPECT_NE(
        get(api("user/updatepassword.do?new_password=b&old_password=wrong&user_token=" + t)).resultCode(), 0);
    EXPECT_EQ(
        get(api("user/updatepassword.do?new_password=b&old_password=123456&user_token=" + t)).resultCode(),
        0);
    EXPECT_EQ(get(api("user/login.do?username=13800000001&password=b")).resultCode(), 0);
    EXPECT_EQ(get(api("user/updatepassword.do?new_password=c&old_password=b&user_token=x")).resultCode(),
              10003);
    EXPECT_EQ(get(api("user/updatepassword.do?old_password=b&user_token=" + t)).resultCode(),
              devserver::kResultBadRequest);
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
    EXPECT_EQ(get(api("user/update.do?nickname=" + escape("赛道老王") + "&token=" + t)).resultCode(),
              devserver::kResultNicknameTaken);
    EXPECT_EQ(get(api("user/update.do?sex=maybe&token=" + t)).resultCode(), devserver::kResultBadRequest);
    // Keeping one's own nickname is no clash.
    EXPECT_EQ(get(api("user/update.do?nickname=" + escape("新名字") + "&token=" + t)).resultCode(), 0);
    EXPECT_EQ(get(api("user/update.do?nickname=x&token=")).resultCode(), 10003);
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
    auto friendReply = get(api("user/getuser.do?token=" + t + "&user_id=2"));
    ASSERT_EQ(friendReply.resultCode(), 0);
    EXPECT_EQ(friendReply.json()["isFriend"].integerValue(), 1);
    EXPECT_FALSE(friendReply.json()["user_token"].isSomething());
    EXPECT_EQ(get(api("user/getuser.do?token=" + t + "&user_id=3")).json()["isFriend"].integerValue(), 0);
    server.setFriends(1, 3, true);
    EXPECT_EQ(get(api("user/getuser.do?token=" + t + "&user_id=3")).json()["isFriend"].integerValue(), 1);
    EXPECT_EQ(get(api("user/getuser.do?token=" + t + "&user_id=1")).json()["user_token"].stringValue(), t);
    EXPECT_EQ(get(api("user/getuser.do?token=" + t + "&user_id=999")).resultCode(),
              devserver::kResultNotFound);
    EXPECT_EQ(get(api("user/getuser.do?token=" + t + "&user_id=abc")).resultCode(),
              devserver::kResultBadRequest);
    EXPECT_EQ(get(api("user/getuser.do?token=zzz&user_id=2")).resultCode(), 10003);
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
    EXPECT_EQ(get(api("user/searchuser.do?keyword=a&user_token=")).resultCode(), 10003);
}

TEST_F(AccountRoutesTest, ExpiredTokensAnswer10003Everywhere) {
    std::string t = token();
    ASSERT_EQ(get(api("user/getuser.do?token=" + t + "&user_id=2")).resultCode(), 0);
    server.expireTokens();
    EXPECT_FALSE(server.userForToken(t));
    EXPECT_EQ(get(api("user/getuser.do?token=" + t + "&user_id=2")).resultCode(), 10003);
    EXPECT_EQ(get(api("user/update.do?sign=x&token=" + t)).resultCode(), 10003);
    EXPECT_EQ(
        get(api("user/updatepassword.do?new_password=b&old_password=123456&user_token=" + t)).resultCode(),
        10003);
    EXPECT_EQ(get(api("user/searchuser.do?keyword=a&user_token=" + t)).resultCode(), 10003);
    EXPECT_EQ(get(api("car/gettuninglist.do?user_token=" + t)).resultCode(), 10003);
    // A new login works again; expiring one token leaves the others.
    std::string fresh = token(), other = server.loginToken("13800000002");
    server.expireToken(fresh);
    EXPECT_EQ(get(api("user/getuser.do?token=" + fresh + "&user_id=2")).resultCode(), 10003);
    EXPECT_EQ(get(api("user/getuser.do?token=" + other + "&user_id=1")).resultCode(), 0);
    EXPECT_EQ(server.loginToken("nobody"), "");
}

}  // namespace
