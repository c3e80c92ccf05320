// The inbox service against the stand-in server: pages by the last id, the unread text, marking
// read with and without the sender, clearing, and what happens signed out.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "app/QVNMessageCommunicator.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "tests/app/AppTestSupport.h"
#include "tools/devserver/DevServer.h"

namespace {

class MessageCommunicatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        ASSERT_TRUE(server.start()) << server.lastError();
        QVNConfiguration::useServer(server.baseURL());
        QVNAPIClient::sharedClient()->requestSerializer()->setValue(std::string("close"), "Connection");
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        server.stop();
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
    }

    void signIn(const std::string& phone, const std::string& password) {
        bool done = false;
        QVNUser::loginWithUserName(phone, password, [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
            EXPECT_FALSE(error);
            done = true;
        });
        ASSERT_TRUE(wait(done));
    }
    static bool wait(const bool& flag) {
        return testsupport::pumpMainRunLoopUntil([&] { return flag; }, 10);
    }

    std::optional<Array> page(long category, const Ref<QVNMessage>& after = nullptr, bool next = false) {
        bool done = false;
        std::optional<Array> answer;
        auto store = QVNMessageCommunicator::sharedStore();
        auto completion = [&](const std::optional<Array>& messages) {
            answer = messages;
            done = true;
        };
        if (next)
            store->fetchMoreMessagesForCategory(NSNumber::numberWithLong(category), after, completion);
        else
            store->fetchMessagesForCategory(NSNumber::numberWithLong(category), completion);
        EXPECT_TRUE(wait(done));
        return answer;
    }
    std::optional<std::string> unread() {
        bool done = false;
        std::optional<std::string> text;
        QVNMessageCommunicator::checkReadWithUerToken(
            QVNUserManager::shareObject()->currentUserToken(),
            [&](const std::optional<std::string>& t, const Ref<NSError>&) {
                text = t;
                done = true;
            });
        EXPECT_TRUE(wait(done));
        return text;
    }

    testsupport::TemporaryDirectory sandbox_;
    devserver::DevServer server;
};

Ref<QVNMessage> messageAt(const Array& messages, std::size_t index) {
    return messages[index].objectAs<QVNMessage>();
}

}  // namespace

TEST_F(MessageCommunicatorTest, TheStoreIsOneObjectWithEmptyLists) {
    auto store = QVNMessageCommunicator::sharedStore();
    EXPECT_EQ(store, QVNMessageCommunicator::sharedStore());
    EXPECT_TRUE(store->messages().empty());
    EXPECT_TRUE(store->privateMessages().isMutable());
}

TEST_F(MessageCommunicatorTest, PagesMapRowsAndContinueAfterTheLastIdHeld) {
    signIn("13800000001", "123456");
    for (int i = 0; i < 14; ++i) server.addNotice(1, 3, "公告 " + std::to_string(i));
    auto first = page(3);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->count(), 10u);
    auto newest = messageAt(*first, 0);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->message_content, "公告 13");
    EXPECT_EQ(newest->message_category->integerValue(), 3);
    EXPECT_EQ(newest->message_read->integerValue(), 0);
    EXPECT_FALSE(newest->sender_logo);

    auto second = page(3, messageAt(*first, 9), true);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->count(), 5u);  // four notices and the welcome
    auto requests = server.requestsTo("message/getmessage.do");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].queryParam("message_id"), "0");
    EXPECT_EQ(requests[1].queryParam("message_id"), messageAt(*first, 9)->message_id->stringValue());
    EXPECT_EQ(requests[1].queryParam("category"), "3");
    EXPECT_EQ(requests[1].queryParam("token"), QVNUserManager::shareObject()->currentUserToken());
    // After the last row: an empty page reads as the end.
    EXPECT_FALSE(page(3, messageAt(*second, second->count() - 1), true));

    auto mail = page(1);
    ASSERT_TRUE(mail);
    ASSERT_EQ(mail->count(), 1u);
    EXPECT_EQ(messageAt(*mail, 0)->sender_uid->integerValue(), 2);
    EXPECT_TRUE(messageAt(*mail, 0)->sender_logo);
}

TEST_F(MessageCommunicatorTest, UnreadTextFollowsTheServerAndMarkingRead) {
    signIn("13800000001", "123456");
    EXPECT_EQ(unread(), "1");
    auto token = QVNUserManager::shareObject()->currentUserToken();
    // One mark at a time: requests started together may reach the server in any order, and each
    // mark below is checked against the one made before it.
    auto mark = [&](int category, std::optional<NSNumber> sender) {
        bool done = false;
        QVNMessageCommunicator::updateReadWithUserToken(token, NSNumber::numberWithInt(category), sender,
                                                        [&](const Value&, const Ref<NSError>& error) {
                                                            EXPECT_FALSE(error);
                                                            done = true;
                                                        });
        return wait(done);
    };
    ASSERT_TRUE(mark(1, NSNumber::numberWithInt(2)));
    ASSERT_TRUE(mark(2, NSNumber::numberWithInt(2)));
    EXPECT_EQ(unread(), "1");  // the welcome notice is still unread
    ASSERT_TRUE(mark(3, std::nullopt));
    auto marks = server.requestsTo("message/updateread.do");
    ASSERT_EQ(marks.size(), 3u);
    for (std::size_t i = 0; i < marks.size(); ++i)
        EXPECT_EQ(marks[i].formParam("category"), std::to_string(i + 1));
    EXPECT_EQ(marks[0].formParam("sender_uid"), "2");
    EXPECT_FALSE(marks[1].formParam("sender_uid"));  // only mail names its sender
    EXPECT_FALSE(marks[2].formParam("sender_uid"));
    EXPECT_EQ(unread(), "0");
    server.sendMail(3, 1, "新消息");
    EXPECT_EQ(unread(), "1");
}

TEST_F(MessageCommunicatorTest, ClearingAnswersTheReplyOrTheServersError) {
    signIn("13800000001", "123456");
    bool done = false;
    QVNMessageCommunicator::cleanMessageForCagegory(NSNumber::numberWithInt(2),
                                                    [&](const Value& result, const Ref<NSError>& error) {
                                                        EXPECT_FALSE(error);
                                                        EXPECT_EQ(result["resultCode"].integerValue(), 0);
                                                        done = true;
                                                    });
    ASSERT_TRUE(wait(done));
    auto replies = page(2);
    ASSERT_TRUE(replies);
    EXPECT_TRUE(replies->empty());

    server.expireTokens();
    done = false;
    QVNMessageCommunicator::cleanMessageForCagegory(NSNumber::numberWithInt(2),
                                                    [&](const Value& result, const Ref<NSError>& error) {
                                                        ASSERT_TRUE(error);
                                                        EXPECT_EQ(error->code(), QVNResultCodeInvalidToken);
                                                        EXPECT_TRUE(result.isNil());
                                                        done = true;
                                                    });
    ASSERT_TRUE(wait(done));
    // A stale token: pages answer nil.
    EXPECT_FALSE(page(1));
}

TEST_F(MessageCommunicatorTest, SignedOutPagesSendNothingAndAnswerNil) {
    EXPECT_FALSE(page(1));
    EXPECT_FALSE(page(3, nullptr, true));
    EXPECT_TRUE(server.requestsTo("message/getmessage.do").empty());
    // The unread check without a token sends no parameters; the server refuses it.
    bool done = false;
    QVNMessageCommunicator::checkReadWithUerToken(
        std::nullopt, [&](const std::optional<std::string>& text, const Ref<NSError>& e) {
            EXPECT_FALSE(text);
            EXPECT_TRUE(e);
            done = true;
        });
    ASSERT_TRUE(wait(done));
    auto checks = server.requestsTo("message/checkread.do");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_TRUE(checks[0].form.empty());
}
