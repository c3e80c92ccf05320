// The inbox, mail, friend and feedback routes: state kept across calls and shared between users.

#include <gtest/gtest.h>

#include "DevServerTestClient.h"

using namespace devservertest;

namespace {

class InboxRoutesTest : public ServerTest {
  protected:
    std::string tokenOf(const std::string& phone) { return server.loginToken(phone); }
    Value getJSON(const std::string& path) { return get(api(path)).json(); }
    Value postJSON(const std::string& path, const std::string& form) {
        return postForm(api(path), form).json();
    }
    Array rows(const Value& reply) { return reply["data"].array() ? *reply["data"].array() : Array(); }
    Array inbox(const std::string& token, int category, long cursor = 0) {
        return rows(getJSON("message/getmessage.do?category=" + std::to_string(category) +
                            "&message_id=" + std::to_string(cursor) + "&token=" + token));
    }
    long unread(const std::string& token) {
        return postJSON("message/checkread.do", "token=" + token)["unread"].integerValue();
    }
};

TEST_F(InboxRoutesTest, AMailSentByOneUserIsAnUnreadRowInTheOthersInbox) {
    std::string alice = tokenOf("13800000001"), rain = tokenOf("13800000003");
    EXPECT_EQ(unread(rain), 1);  // the welcome notice
    EXPECT_EQ(postJSON("message/updateread.do", "category=3&token=" + rain)["resultCode"].integerValue(), 0);
    EXPECT_EQ(unread(rain), 0);

    auto sent =
        postJSON("message/sendmail.do", "content=" + escape("你好，小雨") + "&receiver_uid=3&token=" + alice);
    ASSERT_EQ(sent["resultCode"].integerValue(), 0) << sent.description();
    EXPECT_EQ(unread(rain), 1);
    Array mail = inbox(rain, 1);
    ASSERT_EQ(mail.count(), 1u);
    EXPECT_EQ(mail[0]["sender_uid"].integerValue(), 1);
    EXPECT_EQ(mail[0]["sender_nickname"].stringValue(), "改装达人");
    EXPECT_EQ(mail[0]["message_content"].stringValue(), "你好，小雨");
    EXPECT_EQ(mail[0]["message_read"].integerValue(), 0);
    EXPECT_EQ(mail[0]["message_category"].integerValue(), 1);
    EXPECT_TRUE(mail[0]["sender_logo"].isString());

    // The thread, oldest first, from both sides.
    postJSON("message/sendmail.do", "content=" + escape("你好") + "&receiver_uid=1&token=" + rain);
    Array thread = rows(getJSON("message/getchatlist.do?friend_uid=1&token=" + rain));
    ASSERT_EQ(thread.count(), 2u);
    EXPECT_EQ(thread[0]["sender_nickname"].stringValue(), "改装达人");
    EXPECT_EQ(thread[1]["sender_nickname"].stringValue(), "小雨");
    EXPECT_EQ(thread[1]["message_category"].stringValue(), "1");
    EXPECT_EQ(thread[1]["message_time"].stringValue().size(), 19u);

    // Reading the correspondent's mail clears the row's unread mark.
    postJSON("message/updateread.do", "category=1&sender_uid=1&token=" + rain);
    EXPECT_EQ(inbox(rain, 1)[0]["message_read"].integerValue(), 1);
    EXPECT_EQ(unread(rain), 0);
}

TEST_F(InboxRoutesTest, MailRowsAreOnePerCorrespondentAndPagedByTheLastId) {
    std::string rain = tokenOf("13800000003");
    for (int i = 0; i < 12; ++i) server.addNotice(3, 3, "公告 " + std::to_string(i));
    server.sendMail(1, 3, "一");
    server.sendMail(1, 3, "二");
    server.sendMail(2, 3, "三");
    Array mail = inbox(rain, 1);
    ASSERT_EQ(mail.count(), 2u);
    EXPECT_EQ(mail[0]["message_content"].stringValue(), "三");
    EXPECT_EQ(mail[1]["message_content"].stringValue(), "二");

    Array first = inbox(rain, 3);
    ASSERT_EQ(first.count(), 10u);
    long last = first[9]["message_id"].integerValue();
    Array second = inbox(rain, 3, last);
    ASSERT_EQ(second.count(), 3u);  // two notices and the welcome
    EXPECT_LT(second[0]["message_id"].integerValue(), last);
    EXPECT_TRUE(inbox(rain, 3, second[2]["message_id"].integerValue()).empty());
}

TEST_F(InboxRoutesTest, ClearingACategoryEmptiesItsRowsButKeepsTheThreads) {
    std::string alice = tokenOf("13800000001");
    ASSERT_FALSE(inbox(alice, 1).empty());
    ASSERT_FALSE(inbox(alice, 2).empty());
    EXPECT_EQ(getJSON("message/delete.do?category=1&token=" + alice)["resultCode"].integerValue(), 0);
    EXPECT_EQ(getJSON("message/delete.do?category=2&token=" + alice)["resultCode"].integerValue(), 0);
    EXPECT_TRUE(inbox(alice, 1).empty());
    EXPECT_TRUE(inbox(alice, 2).empty());
    EXPECT_FALSE(inbox(alice, 3).empty());
    EXPECT_EQ(rows(getJSON("message/getchatlist.do?friend_uid=2&token=" + alice)).count(), 1u);
}

TEST_F(InboxRoutesTest, FriendsAreAddedBothWaysListedAndDeleted) {
    std::string rain = tokenOf("13800000003");
    EXPECT_TRUE(rows(postJSON("friend/getfriendlist.do", "token=" + rain)).empty());
    EXPECT_EQ(getJSON("friend/add.do?friend_uid=1&token=" + rain)["resultCode"].integerValue(), 0);
    EXPECT_TRUE(server.areFriends(3, 1));
    EXPECT_TRUE(server.areFriends(1, 3));
    Array list = rows(postJSON("friend/getfriendlist.do", "token=" + rain));
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(list[0]["user_nickname"].stringValue(), "改装达人");
    EXPECT_EQ(list[0]["isFriend"].integerValue(), 1);
    // The user search sees the new friendship.
    Array found = rows(getJSON("user/searchuser.do?keyword=" + escape("改装") + "&user_token=" + rain));
    ASSERT_EQ(found.count(), 1u);
    EXPECT_EQ(found[0]["isFriend"].integerValue(), 1);

    EXPECT_EQ(getJSON("friend/delete.do?friend_uid=1&token=" + rain)["resultCode"].integerValue(), 0);
    EXPECT_FALSE(server.areFriends(1, 3));
    EXPECT_NE(getJSON("friend/delete.do?friend_uid=1&token=" + rain)["resultCode"].integerValue(), 0);
    EXPECT_NE(getJSON("friend/add.do?friend_uid=3&token=" + rain)["resultCode"].integerValue(), 0);
    EXPECT_NE(getJSON("friend/add.do?friend_uid=99&token=" + rain)["resultCode"].integerValue(), 0);
}

TEST_F(InboxRoutesTest, FeedbackIsKeptWithItsSender) {
    std::string rain = tokenOf("13800000003");
    EXPECT_EQ(getJSON("feedback/add.do?content=" + escape("很好用") + "&token=" + rain)["resultCode"]
                  .integerValue(),
              0);
    auto kept = server.feedback();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].uid, 3);
    EXPECT_EQ(kept[0].content, "很好用");
    EXPECT_EQ(getJSON("feedback/add.do")["resultCode"].integerValue(), 10003);
}

TEST_F(InboxRoutesTest, EveryRouteRefusesAMissingOrStaleTokenAndBadNumbers) {
    const char* paths[] = {"message/getmessage.do?category=1",
                           "message/delete.do?category=1",
                           "message/checkread.do",
                           "message/updateread.do?category=2",
                           "message/getchatlist.do?friend_uid=1",
                           "message/sendmail.do?receiver_uid=1&content=a",
                           "friend/getfriendlist.do",
                           "friend/add.do?friend_uid=2",
                           "friend/delete.do?friend_uid=2",
                           "feedback/add.do?content=a"};
    for (const char* path : paths) {
        EXPECT_EQ(getJSON(path)["resultCode"].integerValue(), 10003) << path;
        std::string stale =
            std::string(path) + (std::string(path).find('?') == std::string::npos ? "?" : "&");
        EXPECT_EQ(getJSON(stale + "token=stale")["resultCode"].integerValue(), 10003) << path;
    }
    std::string alice = tokenOf("13800000001");
    for (std::string path :
         {"message/getmessage.do?category=4", "message/getmessage.do?category=1&message_id=-1",
          "message/updateread.do?category=1", "message/getchatlist.do?friend_uid=x",
          "message/sendmail.do?receiver_uid=2&content=", "message/sendmail.do?receiver_uid=77&content=a"}) {
        EXPECT_NE(getJSON(path + "&token=" + alice)["resultCode"].integerValue(), 0) << path;
    }
    // Nothing was stored by the refusals.
    EXPECT_EQ(server.mails().size(), 1u);
}

}  // namespace
