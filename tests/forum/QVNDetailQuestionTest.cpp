// The detail records against the stand-in server: the question fetch, answer paging with the
// token on every page, the answer like toggle with its sign-out and take-back, and the plain like
// request on the second root.

#include <gtest/gtest.h>

#include "forum/QVNDetailQuestion.h"
#include "tests/forum/ForumTestSupport.h"

using namespace forumtest;

namespace {

struct PageResult {
    std::optional<QVNQuestionComment::List> list;
    Ref<NSError> error;
};

class QVNDetailQuestionTest : public ForumServerTest {
  protected:
    PageResult firstPage(long questionId) {
        std::optional<PageResult> result;
        QVNQuestionComment::getCommentsWithQuestion(
            NSNumber::numberWithLong(questionId),
            [&](const std::optional<QVNQuestionComment::List>& list, const Ref<NSError>& error) {
                result = PageResult{list, error};
            });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(PageResult{});
    }
    PageResult nextPage(long questionId, const Ref<QVNQuestionComment>& last) {
        std::optional<PageResult> result;
        QVNQuestionComment::getMoreCommentsWithQuestion(
            NSNumber::numberWithLong(questionId), last,
            [&](const std::optional<QVNQuestionComment::List>& list, const Ref<NSError>& error) {
                result = PageResult{list, error};
            });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(PageResult{});
    }
};

TEST_F(QVNDetailQuestionTest, TheQuestionFetchSendsTheTokenOnlyWhenSignedIn) {
    Ref<QVNDetailQuestion> question;
    bool done = false;
    QVNDetailQuestion::getDetailQuestionWithQuestion(
        NSNumber::numberWithInt(24), [&](const Ref<QVNDetailQuestion>& q, const Ref<NSError>& error) {
            EXPECT_FALSE(error);
            question = q;
            done = true;
        });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    ASSERT_TRUE(question);
    EXPECT_EQ(question->question_id->integerValue(), 24);
    EXPECT_EQ(question->is_like->integerValue(), 0);
    EXPECT_TRUE(question->question_content);
    EXPECT_TRUE(question->user_sign);
    auto request = server.requestsTo("question/getquestion.do").back();
    EXPECT_EQ(request.query.size(), 1u);
    std::string token = signIn(2);
    done = false;
    QVNDetailQuestion::getDetailQuestionWithQuestion(
        NSNumber::numberWithInt(24), [&](const Ref<QVNDetailQuestion>& q, const Ref<NSError>&) {
            question = q;
            done = true;
        });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(server.requestsTo("question/getquestion.do").back().queryParam("user_token"), token);
    EXPECT_EQ(question->is_like->integerValue(), 1);
}

TEST_F(QVNDetailQuestionTest, AMissingQuestionOrAReplyWithoutItFails) {
    Ref<NSError> error;
    bool done = false;
    QVNDetailQuestion::getDetailQuestionWithQuestion(
        NSNumber::numberWithInt(999), [&](const Ref<QVNDetailQuestion>& q, const Ref<NSError>& e) {
            EXPECT_FALSE(q);
            error = e;
            done = true;
        });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_TRUE(error);
    server.routes().get("question/getquestion.do",
                        [](const devserver::Request&) { return devserver::Reply::success(); });
    done = false;
    QVNDetailQuestion::getDetailQuestionWithQuestion(
        NSNumber::numberWithInt(1), [&](const Ref<QVNDetailQuestion>& q, const Ref<NSError>& e) {
            EXPECT_FALSE(q);
            EXPECT_FALSE(e);
            done = true;
        });
    ASSERT_TRUE(waitUntil([&] { return done; }));
}

TEST_F(QVNDetailQuestionTest, AnswersPageAfterTheLastHeldWithTheTokenOnEveryPage) {
    std::string token = signIn(3);
    PageResult page1 = firstPage(24);
    ASSERT_TRUE(page1.list);
    ASSERT_EQ(page1.list->size(), 10u);
    auto first = server.requestsTo("question/getquestioncomment.do").back();
    EXPECT_EQ(first.queryParam("comment_id"), "0");
    EXPECT_EQ(first.queryParam("user_token"), token);
    // Newest first: ids go down.
    EXPECT_GT(page1.list->front()->comment_id->integerValue(),
              page1.list->back()->comment_id->integerValue());
    PageResult page2 = nextPage(24, page1.list->back());
    ASSERT_TRUE(page2.list);
    EXPECT_EQ(page2.list->size(), 3u);
    auto second = server.requestsTo("question/getquestioncomment.do").back();
    EXPECT_EQ(second.queryParam("comment_id"),
              std::to_string(page1.list->back()->comment_id->integerValue()));
    EXPECT_EQ(second.queryParam("user_token"), token);
    // The sample answers that user 3 liked show as liked on the second page too.
    bool anyLiked = false;
    for (const auto& answer : *page2.list) anyLiked |= answer->is_like();
    EXPECT_TRUE(anyLiked);
    PageResult page3 = nextPage(24, page2.list->back());
    ASSERT_TRUE(page3.list);
    EXPECT_TRUE(page3.list->empty());
}

TEST_F(QVNDetailQuestionTest, NoAnswerHeldSendsNothing) {
    bool called = false;
    QVNQuestionComment::getMoreCommentsWithQuestion(NSNumber::numberWithInt(24), nullptr,
                                                    [&](const auto&, const Ref<NSError>&) { called = true; });
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_FALSE(called);
    EXPECT_TRUE(server.requestsTo("question/getquestioncomment.do").empty());
}

TEST_F(QVNDetailQuestionTest, APageWithoutReplyGivesNoList) {
    server.routes().get("question/getquestioncomment.do",
                        [](const devserver::Request&) { return devserver::Reply::success(); });
    PageResult page = firstPage(24);
    EXPECT_FALSE(page.list);
    EXPECT_FALSE(page.error);
}

TEST_F(QVNDetailQuestionTest, AnswerLikeTogglesLocallyAndOnTheServer) {
    signIn(2);
    PageResult page = firstPage(24);
    ASSERT_TRUE(page.list);
    Ref<QVNQuestionComment> answer;
    for (const auto& a : *page.list)
        if (!a->is_like()) answer = a;
    ASSERT_TRUE(answer);
    long id = answer->comment_id->integerValue();
    answer->like = NSNumber::numberWithInt(3);
    answer->likeComment();
    EXPECT_TRUE(answer->is_like());
    EXPECT_EQ(answer->like->integerValue(), 4);
    auto liked = [&] {
        for (const auto& a : forum->answers(24))
            if (a.comment_id == id) return a.likers.count(2) == 1;
        return false;
    };
    ASSERT_TRUE(waitUntil(liked));
    answer->likeComment();
    EXPECT_FALSE(answer->is_like());
    EXPECT_EQ(answer->like->integerValue(), 3);
    ASSERT_TRUE(waitUntil([&] { return !liked(); }));
}

TEST_F(QVNDetailQuestionTest, AnswerLikeWithAnExpiredTokenSignsOutAndTakesBack) {
    signIn();
    PageResult page = firstPage(24);
    ASSERT_TRUE(page.list);
    Ref<QVNQuestionComment> answer = page.list->front();
    bool before = answer->is_like();
    server.expireTokens();
    bool undone = false;
    answer->likeComment([&] { undone = true; });
    ASSERT_TRUE(waitUntil([&] { return undone; }));
    EXPECT_EQ(answer->is_like(), before);
    ASSERT_EQ(UIAlertTestDriver::shownAlerts().size(), 1u);
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(QVNDetailQuestionTest, ThePlainLikeGoesToTheSecondRootWithoutACodeCheck) {
    auto answer = make<QVNQuestionComment>();
    answer->comment_id = NSNumber::numberWithInt(1);
    Value reply;
    bool done = false;
    QVNQuestionComment::likeWithComment(answer, [&](const Value& r, const Ref<NSError>& error) {
        EXPECT_FALSE(error);
        reply = r;
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    // Signed out the server refuses, and the refusal still arrives as a reply.
    EXPECT_EQ(reply["resultCode"].number()->integerValue(), 10003);
    auto request = server.requestsTo("question/commentlike.do").back();
    EXPECT_EQ(request.listener, devserver::Listener::Second);
    EXPECT_FALSE(request.queryParam("user_token"));
    EXPECT_EQ(request.queryParam("comment_id"), "1");
}

}  // namespace
