// The article screen inside a navigation controller against the stand-in server: the header (its
// page and its height), paged comments, likes, replies and answers to a comment, the sign-in gates
// and the profile, the reply bar and the keyboard, the refusals (empty text, emoji, the emoji
// keyboard), the failures (expired token, refused reply, missing article) with their HUDs on the
// manual clock, and a golden picture of an article with comments.

#include <gtest/gtest.h>

#include "app/QVNAccountScreens.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "graphics/NSValue+Geometry.h"
#include "information/ArticleArtwork.h"
#include "information/InformationScenes.h"
#include "information/NewsDetailViewController.h"
#include "tests/app/AreaStandIns.h"
#include "tests/information/InformationTestSupport.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UISwipeGestureRecognizer.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UITextInputMode.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

using namespace infotest;

namespace {

using standins::LoginStandIn;
using standins::ProfileStandIn;

// Counts how often the keyboard handler runs.
class CountingNewsDetail : public NewsDetailViewController {
  public:
    void handleKeyboardNotification(const Ref<NSNotification>& notification) override {
        ++handled;
        NewsDetailViewController::handleKeyboardNotification(notification);
    }
    int handled = 0;
};

class RecordingHeaderDelegate : public NSObject, public QVNNewsDetailViewDelegate {
  public:
    void detailViewDidRefreshHeight(const Ref<QVNNewsDetailView>&) override { ++refreshed; }
    bool implementsDetailViewDidRefreshHeight() const override { return true; }
    int refreshed = 0;
};

class NewsDetailTest : public InformationServerTest, protected testsupport::NavigationWindow {
  protected:
    void SetUp() override {
        InformationServerTest::SetUp();
        InformationScenes::registerAll();
        standins::registerAccountStandIns();
        UITextEntryDriver::reset();
        openWindow();
        settle();
    }
    void TearDown() override {
        UITestDriver::reset();
        UITextEntryDriver::reset();
        UITextInputMode::resetCurrentInputMode();
        closeWindow();
        InformationServerTest::TearDown();
    }

    // Lets chained main-queue work and short animations finish.
    void settle() { testsupport::settleInSteps(clock); }

    // The newest car article (more comments than a page holds), and one nobody commented on.
    long busyArticle() const {
        for (const auto& n : information->news())
            if (n.news_category == 1) return n.news_id;
        return 0;
    }
    long quietArticle() const {
        for (const auto& n : information->news())
            if (information->comments(n.news_id).empty()) return n.news_id;
        return 0;
    }

    template <class T = NewsDetailViewController>
    Ref<T> makeDetail(long newsId) {
        Ref<T> detail;
        if constexpr (std::is_same_v<T, NewsDetailViewController>) {
            detail =
                std::dynamic_pointer_cast<T>(UIStoryboard::storyboardWithName("MyInformation", nullptr)
                                                 ->instantiateViewControllerWithIdentifier("NewsDetail"));
        } else {
            detail = make<T>();
            detail->setViewLoader(NewsDetailViewController::loadSceneView);
        }
        EXPECT_TRUE(detail);
        if (!detail) return nullptr;
        auto news = make<QVNNews>();
        news->news_id = NSNumber::numberWithLong(newsId);
        auto handOver = std::dynamic_pointer_cast<InformationScreens::NewsDetailHandOver>(detail);
        EXPECT_TRUE(handOver);
        handOver->setNews(news);
        handOver->setTitleTextPass("汽车资讯");
        return detail;
    }
    // Pushes the article and waits for its page and, when it has any, its first comments.
    template <class T = NewsDetailViewController>
    Ref<T> showDetail(long newsId, std::size_t expectedComments) {
        Ref<T> detail = makeDetail<T>(newsId);
        if (!detail) return nullptr;
        navigation->pushViewController(detail, false);
        settle();
        EXPECT_TRUE(waitUntil([&] {
            auto web = detail->detailView()->webView.lock();
            return web && web->finishedLoadCount() > 0 && detail->comments().size() == expectedComments;
        }));
        settle();
        return detail;
    }

    static Ref<QVNNewsCommentCell> cellAt(const Ref<NewsDetailViewController>& detail, long row) {
        Ref<UITableView> table = detail->tableView.lock();
        auto source = detail->commentsArrayDataSource();
        return std::dynamic_pointer_cast<QVNNewsCommentCell>(
            source->tableViewCellForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(row, 0)));
    }
    // Replaces the reply field's text as a user would: select all, then type.
    static void typeReply(const Ref<NewsDetailViewController>& detail, const std::string& text) {
        auto field = detail->replyTextView.lock();
        ASSERT_TRUE(field);
        UITextEntryDriver::focus(field);
        UITextEntryDriver::deleteBackward(field, NSString::length(field->text()) + 1);
        UITextEntryDriver::insertText(field, text);
    }
    // Sends and waits for the server to have the reply and the screen to have handled it.
    void sendReply(const Ref<NewsDetailViewController>& detail) {
        std::size_t before = server.requestsTo("news/reply.do").size();
        std::size_t shown = detail->currentUserComments().size();
        detail->reply(nullptr);
        ASSERT_TRUE(waitUntil([&] { return server.requestsTo("news/reply.do").size() == before + 1; }));
        ASSERT_TRUE(waitUntil([&] { return detail->currentUserComments().size() == shown + 1; }));
    }
    std::optional<std::string> hudText(const Ref<UIView>& host) {
        for (auto it = host->subviews().rbegin(); it != host->subviews().rend(); ++it) {
            auto hud = std::dynamic_pointer_cast<VHProgressHUD>(*it);
            if (hud && !hud->isHidden() && hud->alpha() > 0) return hud->labelText();
        }
        return std::nullopt;
    }
    Ref<UIViewController> top() { return navigation->topViewController(); }
    Ref<UIImage> render() {
        testsupport::drainMainRunLoop();
        return UIWindowRenderer::imageOfView(window, 1);
    }

    testsupport::ManualClock clock;
};

// ---- the article and its comments --------------------------------------------------------------------

TEST_F(NewsDetailTest, ShowsTheArticleWithItsPageAndTheFirstPageOfComments) {
    const long id = busyArticle();
    auto detail = showDetail(id, 10);
    ASSERT_TRUE(detail);
    auto header = detail->detailView();
    EXPECT_EQ(detail->tableView.lock()->tableHeaderView(), header);
    std::string title;
    for (const auto& n : information->news())
        if (n.news_id == id) title = n.news_title;
    EXPECT_EQ(header->tiltleLabel.lock()->text(), std::optional(title));
    EXPECT_EQ(detail->news()->news_id->integerValue(), id);
    EXPECT_EQ(header->dateLabel.lock()->text(), detail->news()->news_time);
    auto web = header->webView.lock();
    EXPECT_NE(web->shownHTML().find(*detail->news()->news_content), std::string::npos);
    EXPECT_EQ(web->shownHTML().rfind("<html><head></head><style>img{max-width:359px}</style><body>", 0), 0u);
    // Title (one line of 17 points: 20.4, rounded up) + 38 + the laid-out page (two paragraphs).
    const CGFloat pageHeight = web->scrollView()->contentSize().height;
    EXPECT_GT(pageHeight, 40);
    EXPECT_DOUBLE_EQ(header->frame().size.height, 21 + 38 + pageHeight);
    EXPECT_DOUBLE_EQ(header->webViewHeightConstraint.lock()->constant(), pageHeight);
    EXPECT_DOUBLE_EQ(web->frame().size.height, pageHeight);

    EXPECT_EQ(detail->titleText.lock()->text(), std::optional<std::string>("汽车资讯"));
    EXPECT_TRUE(detail->shareBtn.lock()->isHidden());
    EXPECT_FALSE(detail->replyButton.lock()->isEnabled());
    EXPECT_EQ(detail->tableView.lock()->numberOfRowsInSection(0), 10);
    EXPECT_TRUE(server.requestsTo("news/getcomment.do").front().param("comment_id") == std::string("0"));

    // Newest first; the cell shows its comment.
    auto expected = information->comments(id);
    auto cell = cellAt(detail, 0);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->comment()->comment_id->integerValue(), expected[0].comment_id);
    EXPECT_EQ(cell->contentLabel.lock()->text(), std::optional(expected[0].content));
    EXPECT_EQ(cell->dateLabel.lock()->text(), std::optional(expected[0].replytime.substr(0, 10)));
    EXPECT_EQ(cell->likeButton.lock()->titleForState(UIControlStateNormal),
              std::optional("(" + std::to_string(expected[0].likers.size()) + ")"));
    EXPECT_EQ(cell->replyButton.lock()->titleForState(UIControlStateNormal),
              std::optional<std::string>("(0)"));
}

TEST_F(NewsDetailTest, RowHeightsFollowEachCommentsText) {
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    Ref<UITableView> table = detail->tableView.lock();
    auto comments = detail->comments();
    CGFloat shortRow = *detail->tableViewHeightForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0));
    comments[0]->content = std::string(200, 'x');
    CGFloat longRow = *detail->tableViewHeightForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0));
    EXPECT_GT(shortRow, 0);
    // Measured again on every question, so a changed text changes the height at once.
    EXPECT_GT(longRow, shortRow + 40);
}

TEST(NewsDetailViewLayout, OnANarrowScreenPicturesAndTheTitleFitItsWidth) {
    UIScreen::mainScreen()->setBoundsSize(CGSizeMake(320, 568));
    struct Case {
        std::string title;
        CGFloat titleHeight;  // lines of 20.4 points, rounded up
    };
    // At 17 points a line of 304 points holds 17 wide characters.
    for (const Case& c :
         {Case{"五个字标题", 21}, Case{std::string("一二三四五六七八九十一二三四五六七八"), 41},
          Case{std::string(""), 0}}) {
        auto view = QVNNewsDetailView::loadFromNib();
        ASSERT_TRUE(view);
        auto delegate = make<RecordingHeaderDelegate>();
        view->setDelegate(delegate);
        auto news = make<QVNNews>();
        news->news_title = c.title;
        news->news_content = std::string("<p><img src=\"x.png\"></p>");
        view->updateWithData(news);
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return delegate->refreshed == 1; })) << c.title;
        EXPECT_NE(view->webView.lock()->shownHTML().find("img{max-width:304px}"), std::string::npos);
        EXPECT_DOUBLE_EQ(view->titleHeightConstraint.lock()->constant(), c.titleHeight) << c.title;
        // The page is laid out at the narrow width (its picture has no base to load from).
        auto web = view->webView.lock();
        EXPECT_DOUBLE_EQ(web->scrollView()->contentSize().width, 320);
        const CGFloat pageHeight = web->scrollView()->contentSize().height;
        EXPECT_GE(pageHeight, 1);
        EXPECT_DOUBLE_EQ(view->frame().size.height, c.titleHeight + 38 + pageHeight) << c.title;
    }
    UIScreen::mainScreen()->resetToConfiguration();
}

TEST_F(NewsDetailTest, LoadMoreAsksAfterTheLastCommentAndEndsWithNoMoreData) {
    const long id = busyArticle();
    auto detail = showDetail(id, 10);
    ASSERT_TRUE(detail);
    auto lastShown = detail->comments().back()->comment_id->stringValue();
    detail->loadMoreComments();
    ASSERT_TRUE(waitUntil([&] { return detail->comments().size() == 12; }));
    EXPECT_EQ(lastRequestTo("news/getcomment.do").param("comment_id"), std::optional(lastShown));
    auto footer = UIScrollView_PullRefresh::footer(*detail->tableView.lock());
    EXPECT_NE(footer->state(), PullRefreshState::NoMoreData);
    detail->loadMoreComments();
    ASSERT_TRUE(waitUntil([&] { return footer->state() == PullRefreshState::NoMoreData; }));
    EXPECT_EQ(detail->comments().size(), 12u);
    EXPECT_EQ(detail->tableView.lock()->numberOfRowsInSection(0), 12);
}

TEST_F(NewsDetailTest, SignedInTheCommentsCarryTheUsersLikes) {
    std::string token = signIn(2);
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    EXPECT_EQ(server.requestsTo("news/getcomment.do").front().param("user_token"), std::optional(token));
    // Every fourth sample comment is liked by users 2 and 3.
    int liked = 0;
    for (const auto& comment : detail->comments()) liked += comment->is_like() ? 1 : 0;
    EXPECT_GT(liked, 0);
}

// ---- replies
// ------------------------------------------------------------------------------------------------

TEST_F(NewsDetailTest, AReplyToACommentRaisesItsCounterAndIsAppended) {
    signIn(1);
    const long id = busyArticle();
    auto detail = showDetail(id, 10);
    ASSERT_TRUE(detail);
    Ref<QVNNewsComment> answered = detail->comments()[2];
    long replies = answered->reply->integerValue();
    cellAt(detail, 2)->replyComment(nullptr);
    auto field = detail->replyTextView.lock();
    EXPECT_EQ(field->text(), "@" + *answered->user_nickname + ":");
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_FALSE(detail->replyButton.lock()->isEnabled());
    EXPECT_FALSE(detail->isReplyNew());
    UITextEntryDriver::typeText(field, "同意");
    EXPECT_TRUE(detail->replyButton.lock()->isEnabled());
    sendReply(detail);
    auto request = lastRequestTo("news/reply.do");
    EXPECT_EQ(request.param("comment_id"), std::optional(answered->comment_id->stringValue()));
    EXPECT_EQ(request.param("content"), std::optional("@" + *answered->user_nickname + ":同意"));
    EXPECT_EQ(request.param("news_id"), std::optional(std::to_string(id)));
    EXPECT_EQ(answered->reply->integerValue(), replies + 1);
    EXPECT_EQ(detail->comments().size(), 11u);
    EXPECT_EQ(detail->comments().back(), detail->currentUserComments().back());
    EXPECT_EQ(hudText(detail->view()), std::optional<std::string>("回复成功"));
    // Sent: the field is empty, the keyboard gone, and the next text comments on the article.
    EXPECT_TRUE(field->text().empty());
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_FALSE(detail->comment());
    clock.advance(2.0);
    EXPECT_EQ(hudText(detail->view()), std::nullopt);
}

TEST_F(NewsDetailTest, AnsweringThenClearingTheFieldSendsOnTheArticle) {
    signIn(1);
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    detail->handleClickCommentButtonWithComment(detail->comments()[0]);
    ASSERT_TRUE(detail->comment());
    auto field = detail->replyTextView.lock();
    UITextEntryDriver::deleteBackward(field, NSString::length(field->text()));
    EXPECT_TRUE(field->text().empty());
    EXPECT_FALSE(detail->comment());
    EXPECT_FALSE(detail->replyButton.lock()->isEnabled());
    UITextEntryDriver::typeText(field, "写得好");
    sendReply(detail);
    EXPECT_EQ(lastRequestTo("news/reply.do").param("comment_id"), std::optional<std::string>("0"));
    EXPECT_EQ(lastRequestTo("news/reply.do").param("content"), std::optional<std::string>("写得好"));
}

TEST_F(NewsDetailTest, ALikeDoesNotChooseTheCommentALaterTextAnswers) {
    signIn(1);
    const long id = busyArticle();
    auto detail = showDetail(id, 10);
    ASSERT_TRUE(detail);
    Ref<QVNNewsComment> liked = detail->comments()[1];
    long likes = liked->like->integerValue();
    bool was = liked->is_like();
    cellAt(detail, 1)->like(nullptr);
    EXPECT_EQ(liked->is_like(), !was);
    EXPECT_EQ(liked->like->integerValue(), was ? likes - 1 : likes + 1);
    EXPECT_FALSE(detail->comment());
    ASSERT_TRUE(waitUntil([&] { return server.requestsTo("news/like.do").size() == 1; }));
    EXPECT_EQ(lastRequestTo("news/like.do").param("comment_id"),
              std::optional(liked->comment_id->stringValue()));
    typeReply(detail, "路过");
    sendReply(detail);
    EXPECT_EQ(lastRequestTo("news/reply.do").param("comment_id"), std::optional<std::string>("0"));
    // A second like takes the first back, here and on the server.
    detail->handleClickLikeButtonWithComment(liked);
    EXPECT_EQ(liked->is_like(), was);
    EXPECT_EQ(liked->like->integerValue(), likes);
    ASSERT_TRUE(waitUntil([&] { return server.requestsTo("news/like.do").size() == 2; }));
}

TEST_F(NewsDetailTest, AReplyOnAnArticleWithoutCommentsAppears) {
    signIn(1);
    const long id = quietArticle();
    ASSERT_NE(id, 0);
    auto detail = showDetail(id, 0);
    ASSERT_TRUE(detail);
    ASSERT_TRUE(detail->commentsArrayDataSource());
    EXPECT_EQ(detail->tableView.lock()->numberOfRowsInSection(0), 0);
    typeReply(detail, "第一个评论");
    sendReply(detail);
    EXPECT_EQ(detail->tableView.lock()->numberOfRowsInSection(0), 1);
    EXPECT_EQ(cellAt(detail, 0)->contentLabel.lock()->text(), std::optional<std::string>("第一个评论"));
    ASSERT_EQ(information->comments(id).size(), 1u);
}

TEST_F(NewsDetailTest, OwnNewCommentsLeaveTheListBeforeLoadMoreAndComeBackFromTheServer) {
    signIn(1);
    const long id = busyArticle();
    auto detail = showDetail(id, 10);
    ASSERT_TRUE(detail);
    auto lastOfPage = detail->comments().back()->comment_id->stringValue();
    typeReply(detail, "新评论");
    sendReply(detail);
    Ref<QVNNewsComment> mine = detail->currentUserComments().back();
    ASSERT_EQ(detail->comments().back(), mine);
    detail->loadMoreComments();
    // The page is asked after the last comment the server gave, not after the user's own.
    EXPECT_EQ(detail->comments().size(), 10u);
    ASSERT_TRUE(waitUntil([&] { return detail->comments().size() == 12; }));
    EXPECT_EQ(lastRequestTo("news/getcomment.do").param("comment_id"), std::optional(lastOfPage));
    for (const auto& shown : detail->comments()) EXPECT_NE(shown, mine);
}

TEST_F(NewsDetailTest, ASecondSendWhileTheFirstIsUnderWayPostsNothing) {
    signIn(1);
    const long id = busyArticle();
    auto detail = showDetail(id, 10);
    ASSERT_TRUE(detail);
    devserver::RouteControl slow;
    slow.delay = std::chrono::milliseconds(200);
    slow.times = 1;
    server.setRouteControl("news/reply.do", slow);
    typeReply(detail, "只发一次");
    detail->reply(nullptr);
    EXPECT_FALSE(detail->replyButton.lock()->isEnabled());
    detail->reply(nullptr);
    ASSERT_TRUE(waitUntil([&] { return detail->currentUserComments().size() == 1; }));
    testsupport::pumpMainRunLoop(0.3);
    EXPECT_EQ(server.requestsTo("news/reply.do").size(), 1u);
    EXPECT_EQ(information->comments(id).size(), 13u);
}

TEST_F(NewsDetailTest, RefusalsBeforeSending) {
    signIn(1);
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    detail->reply(nullptr);
    ASSERT_EQ(UIAlertTestDriver::shownAlerts().size(), 1u);
    EXPECT_EQ(UIAlertTestDriver::shownAlerts()[0].title, std::optional<std::string>("请输入内容"));
    EXPECT_EQ(UIAlertTestDriver::shownAlerts()[0].buttonTitles, std::vector<std::string>{"确定"});
    UIAlertTestDriver::tapAlertButton("确定");

    // The screen's use of the emoji rule: what it refuses is never sent, the rest is.
    struct Case {
        std::string text;
        bool refused;
    };
    std::size_t sent = 0;
    for (const Case& c :
         {Case{"plain letters", false}, Case{"\u00A9", true}, Case{"1\u20E3", true}, Case{"\U0001F600", true},
          Case{"\U0001F780", false}, Case{"\u2B50", true}, Case{"\u2B51", false}}) {
        UIAlertTestDriver::reset();
        typeReply(detail, c.text);
        if (c.refused) {
            detail->reply(nullptr);
            ASSERT_EQ(UIAlertTestDriver::shownAlerts().size(), 1u) << c.text;
            EXPECT_EQ(UIAlertTestDriver::shownAlerts()[0].title,
                      std::optional<std::string>("请去掉表情再提交内容"));
            UIAlertTestDriver::tapAlertButton("确定");
            // The text stays for the user to mend.
            EXPECT_EQ(detail->replyTextView.lock()->text(), c.text);
        } else {
            sendReply(detail);
            ++sent;
            EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty()) << c.text;
        }
        EXPECT_EQ(server.requestsTo("news/reply.do").size(), sent) << c.text;
    }
}

TEST_F(NewsDetailTest, TheEmojiKeyboardTypesNothingButDeletes) {
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    auto field = detail->replyTextView.lock();
    UITextEntryDriver::typeText(field, "ab");
    UITextInputMode::setCurrentPrimaryLanguage(std::string("emoji"));
    EXPECT_EQ(UITextEntryDriver::typeText(field, "c"), 0u);
    EXPECT_EQ(field->text(), "ab");
    EXPECT_TRUE(UITextEntryDriver::deleteBackward(field));
    EXPECT_EQ(field->text(), "a");
    UITextInputMode::setCurrentInputModeAbsent();
    EXPECT_EQ(UITextEntryDriver::typeText(field, "d"), 1u);
    EXPECT_EQ(field->text(), "ad");
}

// ---- sign-in gates and profiles ---------------------------------------------------------------------------

TEST_F(NewsDetailTest, SignedOutLikeReplyAndAuthorOpenTheLogin) {
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    Ref<QVNNewsComment> first = detail->comments()[0];
    long likes = first->like->integerValue();
    cellAt(detail, 0)->like(nullptr);
    settle();
    EXPECT_TRUE(std::dynamic_pointer_cast<LoginStandIn>(top()));
    EXPECT_EQ(first->like->integerValue(), likes);
    navigation->popViewControllerAnimated(false);
    cellAt(detail, 0)->checkUserInfo(nullptr);
    settle();
    EXPECT_TRUE(std::dynamic_pointer_cast<LoginStandIn>(top()));
    navigation->popViewControllerAnimated(false);
    typeReply(detail, "你好");
    detail->reply(nullptr);
    settle();
    EXPECT_TRUE(std::dynamic_pointer_cast<LoginStandIn>(top()));
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_TRUE(server.requestsTo("news/like.do").empty());
    EXPECT_TRUE(server.requestsTo("news/reply.do").empty());
}

TEST_F(NewsDetailTest, TheAuthorsProfileOpensByIdOrAsTheUsersOwn) {
    signIn(1);
    const long id = busyArticle();
    auto detail = showDetail(id, 10);
    ASSERT_TRUE(detail);
    Ref<QVNNewsComment> own, other;
    for (const auto& comment : detail->comments()) {
        if (comment->uid->integerValue() == 1 && !own) own = comment;
        if (comment->uid->integerValue() != 1 && !other) other = comment;
    }
    ASSERT_TRUE(own && other);
    detail->handleClickUserIconWithComment(other);
    settle();
    auto profile = std::dynamic_pointer_cast<ProfileStandIn>(top());
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->uid->integerValue(), other->uid->integerValue());
    EXPECT_FALSE(profile->user);
    navigation->popViewControllerAnimated(false);
    detail->handleClickUserIconWithComment(own);
    settle();
    profile = std::dynamic_pointer_cast<ProfileStandIn>(top());
    ASSERT_TRUE(profile);
    ASSERT_TRUE(profile->user);
    EXPECT_EQ(profile->user->user_id->integerValue(), 1);
    EXPECT_FALSE(profile->uid);
}

// ---- failures ---------------------------------------------------------------------------------------------

TEST_F(NewsDetailTest, AnExpiredTokenSignsOutAndKeepsTheText) {
    signIn(1);
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    auto user = QVNUserManager::shareObject()->currentUser();
    user->user_token = std::string("expired-token");
    QVNUserManager::shareObject()->saveUser(user);
    typeReply(detail, "还能发吗");
    detail->reply(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !UIAlertTestDriver::shownAlerts().empty(); }));
    EXPECT_EQ(UIAlertTestDriver::shownAlerts()[0].title, std::optional<std::string>("帐号失效请重新登录"));
    EXPECT_EQ(UIAlertTestDriver::shownAlerts()[0].buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(detail->replyTextView.lock()->text(), "还能发吗");
    EXPECT_EQ(detail->comments().size(), 10u);
}

TEST_F(NewsDetailTest, ARefusedReplyShowsItsHUDForASecond) {
    signIn(1);
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    devserver::RouteControl control;
    control.status = 500;
    control.times = 1;
    server.setRouteControl("news/reply.do", control);
    typeReply(detail, "发不出去");
    detail->reply(nullptr);
    ASSERT_TRUE(waitUntil([&] { return hudText(navigation->view()).has_value(); }));
    EXPECT_EQ(hudText(navigation->view()), std::optional<std::string>("回复失败"));
    EXPECT_EQ(detail->replyTextView.lock()->text(), "发不出去");
    EXPECT_TRUE(detail->replyButton.lock()->isEnabled());
    EXPECT_TRUE(detail->currentUserComments().empty());
    clock.advance(0.9);
    EXPECT_EQ(hudText(navigation->view()), std::optional<std::string>("回复失败"));
    clock.advance(0.5);
    EXPECT_EQ(hudText(navigation->view()), std::nullopt);
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(NewsDetailTest, AMissingArticleShowsItsHUDWhileTheCommentsStillLoad) {
    auto detail = makeDetail(busyArticle());
    detail->news()->news_id = NSNumber::numberWithLong(9999);
    navigation->pushViewController(detail, false);
    ASSERT_TRUE(waitUntil([&] { return hudText(navigation->view()).has_value(); }));
    EXPECT_EQ(hudText(navigation->view()), std::optional<std::string>("加载失败"));
    clock.advance(1.4);
    EXPECT_EQ(hudText(navigation->view()), std::optional<std::string>("加载失败"));
    clock.advance(0.5);
    EXPECT_EQ(hudText(navigation->view()), std::nullopt);
    EXPECT_FALSE(detail->detailView()->tiltleLabel.lock()->text().has_value());
}

// ---- the reply bar and the keyboard ----------------------------------------------------------------------

TEST_F(NewsDetailTest, TheReplyBarFollowsTheKeyboardAndTheMaskEndsEditing) {
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    auto field = detail->replyTextView.lock();
    ASSERT_TRUE(UITextEntryDriver::focus(field));
    settle();
    EXPECT_DOUBLE_EQ(detail->inputbarBottomConstraint.lock()->constant(),
                     UITextEntryDriver::keyboardHeight());
    auto mask = detail->backgroundMaskView();
    EXPECT_EQ(detail->view()->subviews()[1], mask);
    EXPECT_FALSE(mask->isHidden());
    UITextEntryDriver::typeText(field, "半句");
    UITestDriver::tap(mask);
    settle();
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_TRUE(mask->isHidden());
    EXPECT_DOUBLE_EQ(detail->inputbarBottomConstraint.lock()->constant(), 0);
    EXPECT_EQ(detail->replytext(), std::optional<std::string>("半句"));
}

TEST_F(NewsDetailTest, KeyboardObserversAreRegisteredOnceWhateverTheAppearances) {
    auto detail = showDetail<CountingNewsDetail>(busyArticle(), 10);
    ASSERT_TRUE(detail);
    for (int i = 0; i < 2; ++i) {
        navigation->pushViewController(make<UIViewController>(), false);
        settle();
        navigation->popViewControllerAnimated(false);
        settle();
    }
    ASSERT_EQ(top(), detail);
    Dictionary info{
        {UIKeyboardAnimationDurationUserInfoKey, 0.25},
        {UIKeyboardAnimationCurveUserInfoKey, 7},
        {UIKeyboardFrameEndUserInfoKey, NSValue_Geometry::valueWithCGRect(CGRectMake(0, 451, 375, 216))}};
    NSNotificationCenter::defaultCenter()->postNotificationName(UIKeyboardWillShowNotification, nullptr,
                                                                info);
    EXPECT_EQ(detail->handled, 1);
    EXPECT_DOUBLE_EQ(detail->inputbarBottomConstraint.lock()->constant(), 216);
    EXPECT_FALSE(detail->backgroundMaskView()->isHidden());
    NSNotificationCenter::defaultCenter()->postNotificationName(UIKeyboardWillHideNotification, nullptr,
                                                                info);
    EXPECT_EQ(detail->handled, 2);
    EXPECT_DOUBLE_EQ(detail->inputbarBottomConstraint.lock()->constant(), 0);
    // With the keyboard gone the mask would only swallow the next tap on a comment.
    EXPECT_TRUE(detail->backgroundMaskView()->isHidden());
}

TEST_F(NewsDetailTest, BackAndARightSwipeLeaveTheArticle) {
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    detail->detailView()->dismissButtonTapped(nullptr);
    settle();
    EXPECT_NE(top(), detail);
    navigation->pushViewController(detail, false);
    settle();
    ASSERT_EQ(top(), detail);
    Ref<UIGestureRecognizer> swipe;
    for (const auto& recognizer : detail->view()->gestureRecognizers())
        if (auto candidate = std::dynamic_pointer_cast<UISwipeGestureRecognizer>(recognizer))
            if (candidate->direction() == UISwipeGestureRecognizerDirectionRight) swipe = candidate;
    ASSERT_TRUE(swipe);
    UITestDriver::setGestureRecognizerState(swipe, UIGestureRecognizerStateEnded);
    settle();
    EXPECT_NE(top(), detail);
}

// ---- golden ---------------------------------------------------------------------------------------------

TEST_F(NewsDetailTest, GoldenArticleWithComments) {
    signIn(2);
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    Ref<UIImage> placeholder = detail::article::imageNamed("touxiangmorentu");
    ASSERT_TRUE(waitUntil([&] {
        for (long row = 0; row < 5; ++row) {
            auto cell = std::dynamic_pointer_cast<QVNNewsCommentCell>(
                detail->tableView.lock()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)));
            if (!cell || cell->userImageView.lock()->image() == placeholder) return false;
        }
        return true;
    }));
    settle();
    testsupport::compareWithGolden(render(), testsupport::goldenDirectory("information"), "news_detail.png",
                                   "information", 24, 0.02);
}

// The reply bar's send button: its white title reads on its fill as the article shows it, and
// still once the user has typed a comment.
TEST_F(NewsDetailTest, TheSendButtonsWhiteTitleReadsOnItsFill) {
    auto detail = showDetail(busyArticle(), 10);
    ASSERT_TRUE(detail);
    auto send = testsupport::buttonTitled(detail->view(), "发送");
    ASSERT_TRUE(send);
    EXPECT_TRUE(testsupport::readsWhite(send));
    UITextEntryDriver::typeText(detail->replyTextView.lock(), "好车");
    settle();
    EXPECT_TRUE(testsupport::readsWhite(send));
}

}  // namespace
