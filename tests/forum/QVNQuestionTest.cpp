// The question records against the stand-in server: which request each list call sends (plain
// list, search, paging, the token), the like toggle with its sign-out and its take-back, the
// brand list and the two calls nothing in the app uses.

#include <gtest/gtest.h>

#include "forum/QVNQuestion.h"
#include "tests/forum/ForumTestSupport.h"

using namespace forumtest;

namespace {

struct ListResult {
    std::optional<QVNQuestion::List> list;
    Ref<NSError> error;
};

class QVNQuestionTest : public ForumServerTest {
  protected:
    ListResult first(const std::optional<std::string>& keyword, long page, long brand) {
        std::optional<ListResult> result;
        QVNQuestion::getQuestionsWithKeyword(
            keyword, page, brand,
            [&](const std::optional<QVNQuestion::List>& list, const Ref<NSError>& error) {
                result = ListResult{list, error};
            });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(ListResult{});
    }
    ListResult next(const Ref<QVNQuestion>& last, const std::optional<std::string>& keyword, long page,
                    long brand) {
        std::optional<ListResult> result;
        int calls = 0;
        QVNQuestion::getMoreQuestionsWithQuestion(
            last,
            [&](const std::optional<QVNQuestion::List>& list, const Ref<NSError>& error) {
                ++calls;
                result = ListResult{list, error};
            },
            keyword, page, brand);
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        testsupport::drainMainRunLoop();
        EXPECT_EQ(calls, 1);
        return result.value_or(ListResult{});
    }
    devserver::RecordedRequest lastRequestTo(const std::string& path) {
        auto requests = server.requestsTo(path);
        EXPECT_FALSE(requests.empty()) << path;
        return requests.empty() ? devserver::RecordedRequest{} : requests.back();
    }
};

TEST_F(QVNQuestionTest, FirstPageWithoutBrandOrKeywordIsThePlainList) {
    for (const std::optional<std::string>& keyword :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        server.clearRequests();
        ListResult result = first(keyword, 0, 0);
        ASSERT_TRUE(result.list);
        EXPECT_FALSE(result.error);
        ASSERT_EQ(result.list->size(), 10u);
        EXPECT_EQ(result.list->front()->question_id->integerValue(), 24);  // newest first
        auto request = lastRequestTo("question/getquestionlist.do");
        EXPECT_EQ(request.queryParam("question_id"), "0");
        EXPECT_EQ(request.queryParam("brand_id"), "0");
        EXPECT_FALSE(request.queryParam("user_token"));
        EXPECT_TRUE(server.requestsTo("search/search.do").empty());
    }
}

TEST_F(QVNQuestionTest, AKeywordOrABrandMakesTheFirstPageASearch) {
    struct Case {
        std::optional<std::string> keyword;
        long brand;
        std::string sentKeyword, sentBrand;
    };
    for (const Case& c :
         {Case{"a", 0, "a", "0"}, Case{std::nullopt, 7, "", "7"}, Case{"轮毂", 1, "轮毂", "1"}}) {
        server.clearRequests();
        ListResult result = first(c.keyword, 0, c.brand);
        EXPECT_FALSE(result.error);
        auto request = lastRequestTo("search/search.do");
        EXPECT_EQ(request.queryParam("type"), "4");
        EXPECT_EQ(request.queryParam("keyword"), c.sentKeyword);
        EXPECT_EQ(request.queryParam("page"), "0");
        EXPECT_EQ(request.queryParam("cars_brand"), c.sentBrand);
        EXPECT_TRUE(server.requestsTo("question/getquestionlist.do").empty());
    }
}

TEST_F(QVNQuestionTest, TheTokenGoesWithListsOnlyWhenSignedIn) {
    first(std::nullopt, 0, 0);
    first(std::string("x"), 0, 0);
    EXPECT_FALSE(lastRequestTo("question/getquestionlist.do").queryParam("user_token"));
    EXPECT_FALSE(lastRequestTo("search/search.do").queryParam("user_token"));
    std::string token = signIn();
    first(std::nullopt, 0, 0);
    first(std::string("x"), 0, 0);
    EXPECT_EQ(lastRequestTo("question/getquestionlist.do").queryParam("user_token"), token);
    EXPECT_EQ(lastRequestTo("search/search.do").queryParam("user_token"), token);
}

TEST_F(QVNQuestionTest, PlainNextPageGoesOnAfterTheLastQuestionAndEndsEmpty) {
    ListResult page1 = first(std::nullopt, 0, 0);
    ASSERT_TRUE(page1.list);
    ListResult page2 = next(page1.list->back(), std::nullopt, 0, 0);
    ASSERT_TRUE(page2.list);
    EXPECT_EQ(lastRequestTo("question/getquestionlist.do").queryParam("question_id"), "15");
    EXPECT_EQ(page2.list->front()->question_id->integerValue(), 14);
    ListResult page3 = next(page2.list->back(), std::nullopt, 0, 0);
    ASSERT_TRUE(page3.list);
    EXPECT_EQ(page3.list->size(), 4u);
    ListResult page4 = next(page3.list->back(), std::nullopt, 0, 0);
    EXPECT_FALSE(page4.list);  // an empty page: no list, no error
    EXPECT_FALSE(page4.error);
}

TEST_F(QVNQuestionTest, SearchNextPageAtPageZeroEndsPagingEvenWithRows) {
    ListResult result = next(nullptr, std::nullopt, 0, 1);
    EXPECT_FALSE(result.list);
    EXPECT_FALSE(result.error);
    auto request = lastRequestTo("search/search.do");
    EXPECT_EQ(request.queryParam("cars_brand"), "1");
    EXPECT_EQ(request.queryParam("page"), "0");
    ListResult page1 = next(nullptr, std::nullopt, 1, 2);
    ASSERT_TRUE(page1.list);
    EXPECT_EQ(page1.list->size(), 2u);  // brand 2 has twelve questions
}

TEST_F(QVNQuestionTest, AKeywordsNextPageStaysWithTheSearch) {
    ListResult result = next(nullptr, std::string("改"), 1, 0);
    EXPECT_FALSE(result.error);
    EXPECT_TRUE(server.requestsTo("question/getquestionlist.do").empty());
    auto request = lastRequestTo("search/search.do");
    EXPECT_EQ(request.queryParam("keyword"), "改");
    EXPECT_EQ(request.queryParam("page"), "1");
}

TEST_F(QVNQuestionTest, ErrorsAndRepliesWithoutDataGiveNoList) {
    devserver::RouteControl control;
    control.status = 500;
    server.setRouteControl("question/getquestionlist.do", control);
    ListResult failed = first(std::nullopt, 0, 0);
    EXPECT_FALSE(failed.list);
    EXPECT_TRUE(failed.error);
    server.clearRouteControls();
    server.routes().get("search/search.do",
                        [](const devserver::Request&) { return devserver::Reply::success(); });
    ListResult noData = first(std::string("k"), 0, 0);
    EXPECT_FALSE(noData.list);
    EXPECT_FALSE(noData.error);
    server.routes().get("search/search.do", [](const devserver::Request&) {
        return devserver::Reply::failure(10003, "expired");
    });
    ListResult expired = first(std::string("k"), 0, 0);
    ASSERT_TRUE(expired.error);
    EXPECT_EQ(expired.error->code(), 10003);
}

TEST_F(QVNQuestionTest, TheRecordMapsEveryFieldAndIsLikeIsReadOnly) {
    signIn(2);  // user 2 likes every third sample question
    ListResult result = first(std::nullopt, 0, 0);
    ASSERT_TRUE(result.list);
    Ref<QVNQuestion> q24 = result.list->front();
    EXPECT_EQ(q24->question_title, std::optional<std::string>("这套前杠和侧裙配什么颜色的轮毂"));
    EXPECT_EQ(q24->reply->integerValue(), 13);
    EXPECT_EQ(q24->uid->integerValue(), 1);
    EXPECT_EQ(q24->user_nickname, std::optional<std::string>("改装达人"));
    ASSERT_TRUE(q24->question_pic);
    EXPECT_EQ(std::count(q24->question_pic->begin(), q24->question_pic->end(), ';'), 2);
    EXPECT_TRUE(q24->is_like());
    EXPECT_EQ(q24->like->integerValue(), 2);
    EXPECT_FALSE(result.list->at(1)->is_like());
}

TEST_F(QVNQuestionTest, LikeToggleChangesAtOnceAndTheServerFollows) {
    signIn(3);
    ListResult result = first(std::nullopt, 0, 0);
    ASSERT_TRUE(result.list);
    Ref<QVNQuestion> question = result.list->at(1);  // 23: no likes
    question->like = NSNumber::numberWithInt(3);
    question->likeQuestion();
    EXPECT_TRUE(question->is_like());
    EXPECT_EQ(question->like->integerValue(), 4);
    ASSERT_TRUE(waitUntil([&] { return forum->question(23)->likers.count(3) == 1; }));
    auto request = lastRequestTo("question/questionlike.do");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.formParam("question_id"), "23");
    question->likeQuestion();
    EXPECT_FALSE(question->is_like());
    EXPECT_EQ(question->like->integerValue(), 3);
    ASSERT_TRUE(waitUntil([&] { return forum->question(23)->likers.empty(); }));
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
}

TEST_F(QVNQuestionTest, AnExpiredTokenSignsOutOnceAndTakesTheLikeBack) {
    signIn();
    ListResult result = first(std::nullopt, 0, 0);
    ASSERT_TRUE(result.list);
    Ref<QVNQuestion> question = result.list->at(1);
    server.expireTokens();
    bool undone = false;
    question->likeQuestion([&] { undone = true; });
    EXPECT_TRUE(question->is_like());
    ASSERT_TRUE(waitUntil([&] { return undone; }));
    EXPECT_FALSE(question->is_like());
    EXPECT_EQ(question->like->integerValue(), 0);
    auto alerts = UIAlertTestDriver::shownAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, std::optional<std::string>("帐号失效请重新登录"));
    EXPECT_EQ(alerts[0].buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(QVNQuestionTest, ATransportFailureTakesTheLikeBackSilently) {
    signIn();
    ListResult result = first(std::nullopt, 0, 0);
    ASSERT_TRUE(result.list);
    Ref<QVNQuestion> question = result.list->at(1);
    devserver::RouteControl control;
    control.dropConnection = true;
    server.setRouteControl("question/questionlike.do", control);
    bool undone = false;
    question->likeQuestion([&] { undone = true; });
    ASSERT_TRUE(waitUntil([&] { return undone; }));
    EXPECT_FALSE(question->is_like());
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(QVNQuestionTest, TheDetailLikeNeedsATokenAndHandsBackTheReply) {
    bool called = false;
    QVNQuestion::likeWithQuestion(NSNumber::numberWithInt(24),
                                  [&](const Value&, const Ref<NSError>&) { called = true; });
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_FALSE(called);
    EXPECT_TRUE(server.requestsTo("question/questionlike.do").empty());
    signIn(3);
    Value reply;
    QVNQuestion::likeWithQuestion(NSNumber::numberWithInt(24),
                                  [&](const Value& r, const Ref<NSError>& error) {
                                      EXPECT_FALSE(error);
                                      reply = r;
                                      called = true;
                                  });
    ASSERT_TRUE(waitUntil([&] { return called; }));
    EXPECT_EQ(reply["like"].number()->integerValue(), 3);
    EXPECT_EQ(reply["is_like"].number()->integerValue(), 1);
    EXPECT_EQ(lastRequestTo("question/questionlike.do").method, "GET");
}

TEST_F(QVNQuestionTest, BrandsAreReducedToNameLogoAndId) {
    std::optional<std::vector<Ref<QVNMyCarBrand>>> brands;
    QVNMyCarBrand::getCarBrandsCompletion(
        [&](const std::optional<std::vector<Ref<QVNMyCarBrand>>>& b, const Ref<NSError>& error) {
            EXPECT_FALSE(error);
            brands = b;
        });
    ASSERT_TRUE(waitUntil([&] { return brands.has_value(); }));
    ASSERT_GE(brands->size(), 2u);
    EXPECT_EQ(brands->at(0)->brand_id->integerValue(), 1);
    EXPECT_TRUE(brands->at(0)->brand_name);
    EXPECT_TRUE(brands->at(0)->brand_logo);

    server.routes().get("car/getcarlist.do", [](const devserver::Request&) {
        return devserver::Reply::jsonValue(Dictionary{
            {"resultCode", 0},
            {"data", Array{Dictionary{{"brand_name", "甲"}, {"brand_id", 5}, {"cars", Array{1, 2}}},
                           Dictionary{{"brand_name", "无编号"}}}}});
    });
    brands.reset();
    QVNMyCarBrand::getCarBrandsCompletion(
        [&](const std::optional<std::vector<Ref<QVNMyCarBrand>>>& b, const Ref<NSError>&) { brands = b; });
    ASSERT_TRUE(waitUntil([&] { return brands.has_value(); }));
    ASSERT_EQ(brands->size(), 1u);
    EXPECT_EQ(brands->at(0)->brand_name, std::optional<std::string>("甲"));
    EXPECT_FALSE(brands->at(0)->brand_logo);

    server.routes().get("car/getcarlist.do",
                        [](const devserver::Request&) { return devserver::Reply::success(); });
    brands.reset();
    QVNMyCarBrand::getCarBrandsCompletion(
        [&](const std::optional<std::vector<Ref<QVNMyCarBrand>>>& b, const Ref<NSError>&) { brands = b; });
    ASSERT_TRUE(waitUntil([&] { return brands.has_value(); }));
    EXPECT_TRUE(brands->empty());
}

TEST_F(QVNQuestionTest, ReplyRizUrSendsTheContentAndCommentIdAndNeedsASignIn) {
    auto question = make<QVNQuestion>();
    question->question_id = NSNumber::numberWithInt(24);
    question->question_title = std::string("标题");
    bool called = false;
    QVNQuestion::replyRizUr(question, NSNumber::numberWithInt(3), "内容",
                            [&](const Value&, const Ref<NSError>&) { called = true; });
    auto alerts = UIAlertTestDriver::shownAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, std::optional<std::string>("请先登录后再评论"));
    EXPECT_EQ(alerts[0].buttonTitles, std::vector<std::string>{"我知道了"});
    signIn();
    Ref<NSError> error;
    QVNQuestion::replyRizUr(question, std::nullopt, "内容", [&](const Value&, const Ref<NSError>& e) {
        error = e;
        called = true;
    });
    ASSERT_TRUE(waitUntil([&] { return called; }));
    EXPECT_FALSE(error);
    auto request = lastRequestTo("question/addcomment.do");
    EXPECT_EQ(request.queryParam("re_content"), "内容");
    EXPECT_FALSE(request.queryParam("comment_id"));
    EXPECT_EQ(forum->answers(24).front().re_content, "内容");
}

TEST_F(QVNQuestionTest, FetchCommentsMapsRowsAndReplacesTheErrorCode) {
    server.routes().get("news/getcomment.do", [](const devserver::Request& request) {
        if (request.queryParam("news_id") == "1") return devserver::Reply::failure(10003, "过期");
        return devserver::Reply::success(
            Dictionary{{"reply", Array{Dictionary{{"id", "9"}, {"content", "好"}, {"like", 2}}}}});
    });
    auto question = make<QVNQuestion>();
    question->question_id = NSNumber::numberWithInt(2);
    std::optional<std::vector<Ref<QVNComment>>> comments;
    QVNQuestion::fetchComments(
        question, [&](const std::optional<std::vector<Ref<QVNComment>>>& list, const Ref<NSError>&) {
            comments = list.value_or(std::vector<Ref<QVNComment>>{});
        });
    ASSERT_TRUE(waitUntil([&] { return comments.has_value(); }));
    ASSERT_EQ(comments->size(), 1u);
    EXPECT_EQ(comments->at(0)->identifier, std::optional<std::string>("9"));
    EXPECT_EQ(comments->at(0)->like->integerValue(), 2);
    question->question_id = NSNumber::numberWithInt(1);
    Ref<NSError> error;
    QVNQuestion::fetchComments(question, [&](const std::optional<std::vector<Ref<QVNComment>>>&,
                                             const Ref<NSError>& e) { error = e; });
    ASSERT_TRUE(waitUntil([&] { return error != nullptr; }));
    EXPECT_EQ(error->code(), 10000);
    EXPECT_EQ(error->userInfo()["msg"].optionalString(), std::optional<std::string>("过期"));
}

}  // namespace
