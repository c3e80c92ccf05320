// The news list's data source and its cell, and the older comment record's mapping and like call
// against the stand-in server.

#include <gtest/gtest.h>

#include "app/QVNComment.h"
#include "information/QVNNewsCell.h"
#include "information/QVNNewsDataProvider.h"
#include "net/HKHTTPRequestOperation.h"
#include "tests/information/InformationTestSupport.h"

using namespace infotest;

namespace {

Ref<QVNNews> article(long id, const std::string& title, std::optional<std::string> time = std::nullopt,
                     std::optional<long> comments = std::nullopt) {
    auto news = make<QVNNews>();
    news->news_id = NSNumber::numberWithLong(id);
    news->news_title = title;
    news->news_time = std::move(time);
    if (comments) news->news_comment = NSNumber::numberWithLong(*comments);
    return news;
}

Ref<NSIndexPath> row(long index) {
    return NSIndexPath::indexPathForRow(index, 0);
}

TEST(QVNNewsDataProviderTest, BecomesTheTablesSourceAndServesOneRowPerArticle) {
    auto table = make<UITableView>(CGRectMake(0, 0, 320, 480), UITableViewStylePlain);
    std::vector<Ref<QVNNews>> configured;
    auto provider =
        make<QVNNewsDataProvider>(table, [&](const Ref<QVNNewsCell>& cell, const Ref<QVNNews>& news) {
            cell->setNews(news);
            configured.push_back(news);
        });
    EXPECT_EQ(table->dataSource().get(), static_cast<UITableViewDataSource*>(provider.get()));
    EXPECT_EQ(provider->tableView(), table);
    EXPECT_EQ(provider->tableViewNumberOfRowsInSection(*table, 0), 0);

    provider->addNews({article(3, "三"), article(2, "二")});
    provider->addNews({article(1, "一")});
    EXPECT_EQ(provider->tableViewNumberOfRowsInSection(*table, 0), 3);
    EXPECT_EQ(*provider->newsForIndexPath(row(2))->news_title, "一");
    EXPECT_FALSE(provider->newsForIndexPath(row(3)));
    EXPECT_FALSE(provider->newsForIndexPath(row(-1)));
    EXPECT_FALSE(provider->newsForIndexPath(nullptr));

    auto cell =
        std::dynamic_pointer_cast<QVNNewsCell>(provider->tableViewCellForRowAtIndexPath(*table, row(1)));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), std::optional<std::string>("NewsCell"));
    ASSERT_EQ(configured.size(), 1u);
    EXPECT_EQ(configured[0], provider->newsForIndexPath(row(1)));
    EXPECT_EQ(cell->news(), configured[0]);

    provider->removeAllNews();
    EXPECT_EQ(provider->tableViewNumberOfRowsInSection(*table, 0), 0);
}

TEST(QVNNewsDataProviderTest, HoldsItsTableWeakly) {
    auto table = make<UITableView>(CGRectMake(0, 0, 320, 480), UITableViewStylePlain);
    auto provider = make<QVNNewsDataProvider>(table, nullptr);
    table = nullptr;
    EXPECT_FALSE(provider->tableView());
    auto other = make<UITableView>(CGRectMake(0, 0, 320, 480), UITableViewStylePlain);
    provider->setTableView(other);
    EXPECT_EQ(provider->tableView(), other);
    // No configure block: the cell comes back unfilled.
    provider->addNews({article(1, "一")});
    other->registerClass<QVNNewsCell>(QVNNewsCell::kIdentifier);
    auto cell =
        std::dynamic_pointer_cast<QVNNewsCell>(provider->tableViewCellForRowAtIndexPath(*other, row(0)));
    ASSERT_TRUE(cell);
    EXPECT_FALSE(cell->news());
}

struct DateCase {
    std::optional<std::string> time;
    std::string shown;
};

TEST(QVNNewsCellTest, ShowsTheDatePartOfTheTimeAndTheCommentCount) {
    const DateCase cases[] = {
        {"2015-06-01 10:00:00", "2015-06-01"},
        {"2015-06-01", "2015-06-01"},
        {"6月1日", "6月1日"},  // shorter than ten: whole
        {"", ""},
        {std::nullopt, ""},
        // Ten characters the platform way, not ten bytes.
        {"二〇一五年六月一日星期一", "二〇一五年六月一日星"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time.value_or("(nil)"));
        auto cell = make<QVNNewsCell>(UITableViewCellStyleDefault, std::string("NewsCell"));
        cell->setNews(article(1, "标题", c.time, 7));
        EXPECT_EQ(cell->dateLabel.lock()->text().value_or(""), c.shown);
        EXPECT_EQ(cell->titleLabel.lock()->text(), std::optional<std::string>("标题"));
        EXPECT_EQ(cell->commentCountLabel.lock()->text(), std::optional<std::string>("7评论"));
    }
    auto cell = make<QVNNewsCell>(UITableViewCellStyleDefault, std::string("NewsCell"));
    cell->setNews(article(1, "标题"));
    EXPECT_EQ(cell->commentCountLabel.lock()->text(), std::optional<std::string>("0评论"));
    EXPECT_EQ(QVNNewsCell::rowHeight(), 94.0);
}

TEST(QVNNewsCellTest, AThumbnailAddressThatDoesNotParseKeepsThePlaceholder) {
    auto cell = make<QVNNewsCell>(UITableViewCellStyleDefault, std::string("NewsCell"));
    auto news = article(1, "标题");
    news->news_pic = std::string("http://exa mple\x01/a.png");
    cell->setNews(news);
    EXPECT_EQ(cell->news(), news);
    // A nil article leaves the cell as it was.
    cell->setNews(nullptr);
    EXPECT_EQ(cell->titleLabel.lock()->text(), std::optional<std::string>("标题"));
}

TEST(QVNInformationSearchBarTest, LaysNothingOut) {
    auto bar = make<QVNInformationSearchBar>(CGRectMake(0, 0, 320, 44));
    auto inside = make<UIView>(CGRectMake(3, 4, 5, 6));
    bar->addSubview(inside);
    bar->setFrame(CGRectMake(0, 0, 200, 30));
    bar->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(inside->frame(), CGRectMake(3, 4, 5, 6)));
}

// ---- the older comment record ---------------------------------------------------------------

TEST(QVNCommentTest, InitWithAttributesCopiesTheTenKeys) {
    Dictionary attributes{{"id", 17},
                          {"content", "好文"},
                          {"uid", "5"},
                          {"user_nickname", "阿飞"},
                          {"user_logo", "http://127.0.0.1/logo.png"},
                          {"user_sign", "改装达人"},
                          {"replytime", "2015-06-01 10:00:00"},
                          {"news_status", 1},
                          {"reply", 2},
                          {"like", 3},
                          {"other", "ignored"}};
    auto comment = make<QVNComment>(Value(attributes));
    EXPECT_EQ(comment->identifier, std::optional<std::string>("17"));
    EXPECT_EQ(comment->content, std::optional<std::string>("好文"));
    EXPECT_EQ(comment->uid, std::optional<std::string>("5"));
    EXPECT_EQ(comment->user_nickname, std::optional<std::string>("阿飞"));
    EXPECT_EQ(comment->user_logo, std::optional<std::string>("http://127.0.0.1/logo.png"));
    EXPECT_EQ(comment->user_sign, std::optional<std::string>("改装达人"));
    EXPECT_EQ(comment->replytime, std::optional<std::string>("2015-06-01 10:00:00"));
    EXPECT_EQ(comment->news_status->integerValue(), 1);
    EXPECT_EQ(comment->reply->integerValue(), 2);
    EXPECT_EQ(comment->like->integerValue(), 3);

    // Missing keys and keys of the wrong kind stay nil.
    auto sparse = make<QVNComment>(Value(Dictionary{{"like", "many"}, {"content", Value(Array{1})}}));
    EXPECT_FALSE(sparse->identifier);
    EXPECT_FALSE(sparse->like);
    EXPECT_FALSE(sparse->content);
    auto none = make<QVNComment>(Value());
    EXPECT_FALSE(none->identifier);
}

class QVNCommentLikeTest : public InformationServerTest {
  protected:
    Ref<NSError> like(const Ref<QVNComment>& comment, bool flag = true) {
        std::optional<Ref<NSError>> result;
        auto operation = comment->likeComment(flag, [&](const Ref<NSError>& error) { result = error; });
        EXPECT_TRUE(operation);
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(nullptr);
    }
    Ref<QVNComment> firstComment() {
        for (const auto& item : information->news()) {
            auto list = information->comments(item.news_id);
            if (!list.empty()) return make<QVNComment>(Value(Dictionary{{"id", list.front().comment_id}}));
        }
        return nullptr;
    }
};

TEST_F(QVNCommentLikeTest, LikeIsAGetWithTheTokenAndTheIdAndTheFlagIsNotSent) {
    const std::string token = signIn();
    auto comment = firstComment();
    ASSERT_TRUE(comment);
    EXPECT_FALSE(like(comment, false));
    auto request = lastRequestTo("news/like.do");
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.queryParam("token"), token);
    EXPECT_EQ(request.queryParam("comment_id"), comment->identifier);
    ASSERT_EQ(request.query.size(), 2u);
}

TEST_F(QVNCommentLikeTest, AnErrorReplyIsCode10000WithTheServersTextAndATransportFailureItsOwn) {
    auto comment = firstComment();
    ASSERT_TRUE(comment);
    // Signed out: the server refuses.
    Ref<NSError> refused = like(comment);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->domain(), "QVNAPI");
    EXPECT_EQ(refused->code(), 10000);
    EXPECT_TRUE(refused->userInfo()["msg"].string());

    signIn();
    devserver::RouteControl control;
    control.body = devserver::RouteControl::Body::ResultCodeAsString;
    server.setRouteControl("news/like.do", control);
    Ref<NSError> textCode = like(comment);
    ASSERT_TRUE(textCode);
    EXPECT_EQ(textCode->code(), 10000);

    control = devserver::RouteControl{};
    control.dropConnection = true;
    server.setRouteControl("news/like.do", control);
    Ref<NSError> dropped = like(comment);
    ASSERT_TRUE(dropped);
    EXPECT_NE(dropped->domain(), "QVNAPI");
}

}  // namespace
