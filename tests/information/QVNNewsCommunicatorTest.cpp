// The news calls against the stand-in server: what each request sends, how replies map into
// records, and how failures fold into nil.

#include <gtest/gtest.h>

#include "app/NSObject+RMKeyValue.h"
#include "information/QVNNewsCommunicator.h"
#include "tests/information/InformationTestSupport.h"

using namespace infotest;

namespace {

using NewsResult = std::optional<QVNNewsCommunicator::NewsList>;
using CommentsResult = std::optional<std::vector<Ref<QVNNewsComment>>>;

class QVNNewsCommunicatorTest : public InformationServerTest {
  protected:
    NewsResult list(long category, const std::optional<NSNumber>& cursor) {
        return await<NewsResult>(
            [&](auto done) { communicator->getNewsForCategory(category, cursor, done); });
    }
    NewsResult filtered(const std::optional<NSNumber>& cursor, const std::optional<NSNumber>& brand,
                        const std::optional<NSNumber>& car, const std::optional<std::string>& keyword) {
        return await<NewsResult>(
            [&](auto done) { communicator->getModifyNewsByNewsId(cursor, brand, car, keyword, done); });
    }
    CommentsResult comments(long newsId, const std::optional<NSNumber>& cursor) {
        return await<CommentsResult>([&](auto done) {
            communicator->getNewsCommentsForNewsId(NSNumber::numberWithLong(newsId), cursor, done);
        });
    }
    long newestCarNews() {
        for (const auto& item : information->news())
            if (item.news_category == 1) return item.news_id;
        return 0;
    }

    Ref<QVNNewsCommunicator> communicator = make<QVNNewsCommunicator>();
};

TEST_F(QVNNewsCommunicatorTest, ListPagesByTheLastNewsIdAndEndsWithNil) {
    NewsResult first = list(1, std::nullopt);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 10u);
    auto request = lastRequestTo("news/getnewslist.do");
    EXPECT_EQ(request.queryParam("news_id"), "0");
    EXPECT_EQ(request.queryParam("news_category"), "1");
    for (const auto& news : *first) EXPECT_EQ(news->news_category->integerValue(), 1);
    EXPECT_EQ(first->front()->news_id->integerValue(), newestCarNews());
    EXPECT_TRUE(first->front()->news_content && !first->front()->news_time->empty());

    NewsResult second = list(1, first->back()->news_id);
    ASSERT_TRUE(second);
    EXPECT_LT(second->front()->news_id->integerValue(), first->back()->news_id->integerValue());
    // Past the end: an empty "data" is nil, not an empty list.
    NewsResult end = list(1, NSNumber::numberWithInt(1));
    EXPECT_FALSE(end);
}

TEST_F(QVNNewsCommunicatorTest, FilteredListSendsOnlyWhatIsGiven) {
    struct Case {
        std::optional<NSNumber> brand, car;
        std::optional<std::string> keyword;
        std::vector<std::string> present, absent;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::string("轮毂"), {"keyword"}, {"brand_id", "car_id"}},
        {NSNumber::numberWithInt(2), std::nullopt, std::nullopt, {"brand_id"}, {"car_id", "keyword"}},
        {NSNumber::numberWithInt(1),
         NSNumber::numberWithInt(3),
         std::nullopt,
         {"brand_id", "car_id"},
         {"keyword"}},
        {std::nullopt, std::nullopt, std::string(), {}, {"brand_id", "car_id", "keyword"}},
    };
    for (const Case& c : cases) {
        server.clearRequests();
        NewsResult result = filtered(std::nullopt, c.brand, c.car, c.keyword);
        auto request = lastRequestTo("news/getnewslist.do");
        EXPECT_EQ(request.queryParam("news_category"), "1");
        EXPECT_EQ(request.queryParam("news_id"), "0");
        for (const auto& name : c.present) EXPECT_TRUE(request.queryParam(name)) << name;
        for (const auto& name : c.absent) EXPECT_FALSE(request.queryParam(name)) << name;
        ASSERT_TRUE(result);
        for (const auto& news : *result) {
            if (c.brand) EXPECT_EQ(news->car_brand->integerValue(), c.brand->integerValue());
            if (c.car) EXPECT_EQ(news->car_id->integerValue(), c.car->integerValue());
            if (c.keyword && !c.keyword->empty())
                EXPECT_TRUE(news->news_title->find(*c.keyword) != std::string::npos ||
                            news->news_content->find(*c.keyword) != std::string::npos);
        }
    }
}

TEST_F(QVNNewsCommunicatorTest, FailuresFoldIntoNil) {
    for (auto body :
         {devserver::RouteControl::Body::NotJSON, devserver::RouteControl::Body::ResultCodeAsString}) {
        devserver::RouteControl control;
        control.body = body;
        server.setRouteControl("news/getnewslist.do", control);
        server.setRouteControl("ad/get.do", control);
        server.setRouteControl("news/getcomment.do", control);
        server.setRouteControl("news/getnewsbyid.do", control);
        EXPECT_FALSE(list(1, std::nullopt));
        EXPECT_FALSE(await<std::optional<std::vector<Ref<QVNAdvertisement>>>>(
            [&](auto done) { communicator->getAdvertisementsWithCompletion(done); }));
        EXPECT_FALSE(comments(newestCarNews(), std::nullopt));
        EXPECT_FALSE(await<std::optional<Dictionary>>(
            [&](auto done) { communicator->getDetailForNewsId(NSNumber::numberWithLong(1), done); }));
        server.clearRouteControls();
    }
}

TEST_F(QVNNewsCommunicatorTest, AdvertisementsMapAndAnEmptyCarouselIsAnEmptyList) {
    auto ads = await<std::optional<std::vector<Ref<QVNAdvertisement>>>>(
        [&](auto done) { communicator->getAdvertisementsWithCompletion(done); });
    ASSERT_TRUE(ads);
    ASSERT_EQ(ads->size(), 3u);
    EXPECT_EQ(ads->front()->ad_link->rfind(server.baseURL(), 0), 0u);
    information->setAdvertisements({});
    ads = await<std::optional<std::vector<Ref<QVNAdvertisement>>>>(
        [&](auto done) { communicator->getAdvertisementsWithCompletion(done); });
    ASSERT_TRUE(ads);
    EXPECT_TRUE(ads->empty());
}

TEST_F(QVNNewsCommunicatorTest, DetailHandsBackTheArticleKeysAtTheTopLevel) {
    long id = newestCarNews();
    auto detail = await<std::optional<Dictionary>>(
        [&](auto done) { communicator->getDetailForNewsId(NSNumber::numberWithLong(id), done); });
    ASSERT_TRUE(detail);
    EXPECT_EQ(Value(*detail)["news_id"].number()->integerValue(), id);
    EXPECT_TRUE(Value(*detail)["news_content"].string());
    EXPECT_EQ(lastRequestTo("news/getnewsbyid.do").queryParam("news_id"), std::to_string(id));
}

TEST_F(QVNNewsCommunicatorTest, CommentsPageByCommentIdAndCarryTheTokenWhenSignedIn) {
    long id = newestCarNews();
    CommentsResult first = comments(id, std::nullopt);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 10u);
    auto request = lastRequestTo("news/getcomment.do");
    EXPECT_EQ(request.queryParam("comment_id"), "0");
    EXPECT_FALSE(request.queryParam("user_token"));
    // "id" arrives as comment_id.
    EXPECT_TRUE(first->front()->comment_id);
    EXPECT_EQ(first->front()->comment_id->integerValue(), information->comments(id).front().comment_id);

    std::string token = signIn(2);
    CommentsResult rest = comments(id, first->back()->comment_id);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->size(), 2u);
    request = lastRequestTo("news/getcomment.do");
    EXPECT_EQ(request.queryParam("user_token"), token);
    EXPECT_EQ(request.queryParam("comment_id"), std::to_string(first->back()->comment_id->integerValue()));
    // A news item without comments: an empty list, not nil.
    CommentsResult none = comments(1, std::nullopt);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST_F(QVNNewsCommunicatorTest, ReplySendsTheTokenAndCommentIdAndMapsTheNewComment) {
    std::string token = signIn(1);
    long id = newestCarNews();
    auto [comment, error] = await<std::pair<Ref<QVNNewsComment>, Ref<NSError>>>([&](auto done) {
        communicator->replyWithNewsId(NSNumber::numberWithLong(id), "好文", std::nullopt,
                                      [done](const Ref<QVNNewsComment>& c, const Ref<NSError>& e) {
                                          done({c, e});
                                      });
    });
    ASSERT_FALSE(error);
    ASSERT_TRUE(comment);
    EXPECT_EQ(comment->content, "好文");
    EXPECT_EQ(comment->comment_id->integerValue(), information->comments(id).front().comment_id);
    auto request = lastRequestTo("news/reply.do");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.formParam("comment_id"), "0");
    EXPECT_EQ(request.formParam("token"), token);
    EXPECT_EQ(request.formParam("news_id"), std::to_string(id));

    // To a comment: that comment counts one more reply.
    long target = information->comments(id).back().comment_id;
    await<int>([&](auto done) {
        communicator->replyWithNewsId(NSNumber::numberWithLong(id), "同意", NSNumber::numberWithLong(target),
                                      [done](const Ref<QVNNewsComment>&, const Ref<NSError>&) { done(1); });
    });
    EXPECT_EQ(information->comments(id).back().replies, 1);

    server.expireTokens();
    auto [none, refused] = await<std::pair<Ref<QVNNewsComment>, Ref<NSError>>>([&](auto done) {
        communicator->replyWithNewsId(NSNumber::numberWithLong(id), "x", std::nullopt,
                                      [done](const Ref<QVNNewsComment>& c, const Ref<NSError>& e) {
                                          done({c, e});
                                      });
    });
    EXPECT_FALSE(none);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), 10003);
}

TEST_F(QVNNewsCommunicatorTest, LikeIsAPostWithTheTokenAndTogglesOnTheServer) {
    std::string token = signIn(1);
    long id = newestCarNews();
    long comment = information->comments(id).front().comment_id;
    communicator->likeCommentWithCommentId(NSNumber::numberWithLong(comment));
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("news/like.do").empty(); }));
    auto request = lastRequestTo("news/like.do");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.formParam("token"), token);
    EXPECT_EQ(request.formParam("comment_id"), std::to_string(comment));
    ASSERT_TRUE(waitUntil([&] { return information->comments(id).front().likers.count(1) == 1; }));
}

TEST(QVNNewsCommentTest, LikeCountFlipsAndTwiceRestores) {
    Dictionary row{{"id", 17}, {"like", 4}, {"reply", 2}, {"is_like", 0}, {"content", "x"}};
    auto comment = NSObject_RMKeyValue::objectWithKeyValues<QVNNewsComment>(Value(row));
    ASSERT_TRUE(comment);
    EXPECT_EQ(comment->comment_id->integerValue(), 17);
    EXPECT_FALSE(comment->is_like());
    comment->addLikeCount();
    EXPECT_TRUE(comment->is_like());
    EXPECT_EQ(comment->like->integerValue(), 5);
    comment->addLikeCount();
    EXPECT_FALSE(comment->is_like());
    EXPECT_EQ(comment->like->integerValue(), 4);
    comment->addReplyCount();
    EXPECT_EQ(comment->reply->integerValue(), 3);
    auto bare = make<QVNNewsComment>();
    bare->addReplyCount();
    EXPECT_EQ(bare->reply->integerValue(), 1);
}

TEST(QVNNewsCommunicatorParamsTest, ReplyWithoutCommentIdSendsZero) {
    Dictionary params =
        QVNNewsCommunicator::createReplyParamsWithNewsId(NSNumber::numberWithInt(3), "c", std::nullopt);
    EXPECT_EQ(Value(params)["comment_id"].number()->integerValue(), 0);
    Dictionary comments =
        QVNNewsCommunicator::commentParamsWithNewsId(NSNumber::numberWithInt(3), std::nullopt);
    EXPECT_EQ(Value(comments)["comment_id"].number()->integerValue(), 0);
}

}  // namespace

namespace {

class InformationSearchRouteTest : public InformationServerTest {};

// The news search shares its path with the question search: both must stay answered.
TEST_F(InformationSearchRouteTest, NewsSearchPagesFromZeroAndTheQuestionSearchStillAnswers) {
    auto search = [&](Dictionary params) {
        return await<Value>([&](auto done) {
            QVNAPIClient::getWithURL(
                "search/search.do", Value(params),
                [done](const Value& reply, const Ref<NSError>&) { done(reply); },
                [done](const Ref<NSError>&) { done(Value()); });
        });
    };
    Value first = search(Dictionary{{"type", 1}, {"keyword", "续"}, {"page", "0"}});
    ASSERT_TRUE(first["data"].array());
    EXPECT_EQ(first["data"].array()->count(), 10u);
    EXPECT_EQ(*first["errmsg"].string(), "success");
    Value second = search(Dictionary{{"type", 1}, {"keyword", "续"}, {"page", "1"}});
    EXPECT_EQ(second["data"].array()->count(), 2u);
    Value questions = search(Dictionary{{"type", 4}, {"keyword", ""}, {"page", "0"}, {"cars_brand", "0"}});
    ASSERT_TRUE(questions["data"].array());
    EXPECT_EQ(questions["data"].array()->count(), 10u);
    EXPECT_TRUE((*questions["data"].array())[0]["question_id"].number());
}

}  // namespace
