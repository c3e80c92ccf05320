// The forum's screens inside a navigation controller against the stand-in server: the list's
// refreshes, filters and sign-in gates; reused rows; the detail with its answers, likes and
// replies with photos (a failed upload keeps everything and resumes); publishing (escaped HTML, a
// failed upload sends nothing, the new question first in the list); the picker's selection rule
// and maximum; golden pictures of the list, a detail and the publishing screen.

#include <gtest/gtest.h>

#include <atomic>

#include "app/QVNAccountScreens.h"
#include "controls/PullRefreshFooter.h"
#include "controls/PullRefreshHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "forum/ForumResources.h"
#include "forum/ForumScenes.h"
#include "forum/ForumSupport.h"
#include "forum/PKAssetPickerController.h"
#include "forum/PublishQuestionViewController.h"
#include "forum/QuestionDetailController.h"
#include "forum/RizUrListViewController.h"
#include "forum/ShowBigViewController.h"
#include "foundation/NSNotificationCenter.h"
#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"
#include "system/SystemTesting.h"
#include "tests/app/AreaStandIns.h"
#include "tests/forum/ForumTestSupport.h"
#include "tests/forum/ForumWindowTest.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

using namespace forumtest;

namespace {

// Account screens that record what the forum hands them.
using standins::LoginStandIn;
using standins::ProfileStandIn;

using testsupport::solidImage;

class ForumScreenTest : public ForumWindowTest {
  protected:
    void show(const Ref<UIViewController>& root) {
        navigation = std::dynamic_pointer_cast<UINavigationController>(root);
        if (!navigation) {
            // As in the app, whose navigation controller hides its bar: the screens draw their own.
            navigation = make<UINavigationController>(root);
            navigation->setNavigationBarHidden(true, false);
        }
        window->setRootViewController(navigation);
        window->makeKeyAndVisible();
        testsupport::drainMainRunLoop();
    }
    bool settle() {
        return waitUntil([&] { return !navigation->isTransitioning(); }, 5);
    }
    Ref<RizUrListViewController> showList() {
        auto list = scene<RizUrListViewController>("RizUrListViewController");
        show(list);
        EXPECT_TRUE(waitUntil([&] { return list->questions().size() == 10; }));
        return list;
    }
    Ref<QuestionDetailController> showDetail(long questionId) {
        auto detail = scene<QuestionDetailController>("QuestionDetailController");
        detail->setQuestionId(NSNumber::numberWithLong(questionId));
        show(detail);
        // The page "loads"; its content is as high as a test says.
        EXPECT_TRUE(waitUntil([&] { return detail->detailQuestion() && !detail->comments().empty(); }));
        return detail;
    }
    // Replaces the upload route: answers stored pictures, except the n-th request (1-based), which
    // fails with a server error.
    void uploadsFailingAt(int n) {
        auto counter = std::make_shared<std::atomic<int>>(0);
        devserver::DevServer* s = &server;
        server.routes().add("", "upload/upload.do", [counter, n, s](const devserver::Request& request) {
            int index = ++*counter;
            if (index == n) return devserver::Reply::failure(500, "broken", 500);
            const devserver::MultipartPart* file = request.part("file");
            if (!file) return devserver::Reply::failure(10002, "no file");
            Dictionary fields = Dictionary::mutableDictionary();
            fields.setObject("url", s->storePicture(file->content));
            return devserver::Reply::success(fields);
        });
    }
    Ref<UIImage> render() {
        testsupport::drainMainRunLoop();
        return UIWindowRenderer::imageOfView(window, 1);
    }
};

// ---- the list -----------------------------------------------------------------------------------------

TEST_F(ForumScreenTest, TheListRefreshesOnFirstShowingAndAfterRefreshView) {
    auto list = showList();
    EXPECT_EQ(server.requestsTo("question/getquestionlist.do").size(), 1u);
    EXPECT_EQ(list->questions().front()->question_id->integerValue(), 24);
    EXPECT_EQ(list->questionFrames().size(), 10u);
    // Showing again without the notification starts nothing.
    list->viewWillDisappear(false);
    list->viewWillAppear(false);
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(server.requestsTo("question/getquestionlist.do").size(), 1u);
    NSNotificationCenter::defaultCenter()->postNotificationName("RefreshView");
    EXPECT_FALSE(list->oneView());
    list->viewWillDisappear(false);
    list->viewWillAppear(false);
    EXPECT_TRUE(waitUntil([&] { return server.requestsTo("question/getquestionlist.do").size() == 2; }));
}

TEST_F(ForumScreenTest, SignedOutTheComposeAndLikeButtonsOpenTheLogin) {
    auto list = showList();
    list->submitQuestion(nullptr);
    ASSERT_TRUE(settle());
    auto login = std::dynamic_pointer_cast<LoginStandIn>(navigation->topViewController());
    ASSERT_TRUE(login);
    EXPECT_TRUE(login->fromRizUr);
    navigation->popViewControllerAnimated(false);
    list->handleclickQuestionLikeBtnWithQuestion(list->questions().front());
    ASSERT_TRUE(settle());
    login = std::dynamic_pointer_cast<LoginStandIn>(navigation->topViewController());
    ASSERT_TRUE(login);
    EXPECT_FALSE(login->fromRizUr);
    EXPECT_TRUE(server.requestsTo("question/questionlike.do").empty());
}

TEST_F(ForumScreenTest, SignedInLikesComposeAndProfilesGoWhereTheyShould) {
    signIn(3);
    auto list = showList();
    Ref<QVNQuestion> first = list->questions().front();
    long before = first->like->integerValue();
    list->handleclickQuestionLikeBtnWithQuestion(first);
    EXPECT_EQ(first->like->integerValue(), before + 1);
    EXPECT_TRUE(waitUntil([&] { return forum->question(24)->likers.count(3) == 1; }));
    list->submitQuestion(nullptr);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(std::dynamic_pointer_cast<PublishQuestionViewController>(navigation->topViewController()));
    navigation->popViewControllerAnimated(false);
    // The asker of question 24 is user 1: another user's profile, by id.
    auto table = list->tableView.lock();
    auto cell = std::dynamic_pointer_cast<QVNRizUrCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    cell->tapUserImageAction(nullptr);
    ASSERT_TRUE(settle());
    auto profile = std::dynamic_pointer_cast<ProfileStandIn>(navigation->topViewController());
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->uid->integerValue(), 1);
    EXPECT_FALSE(profile->user);
}

TEST_F(ForumScreenTest, ABrandFromTheDropDownFiltersAndPagesByNumber) {
    auto list = showList();
    ASSERT_TRUE(waitUntil([&] { return list->carBrands().size() >= 3; }));
    list->buttonClick(nullptr);
    ASSERT_TRUE(list->brandTableView());
    EXPECT_EQ(list->brandTableView()->numberOfRowsInSection(0), static_cast<long>(list->carBrands().size()));
    list->tableViewDidSelectRowAtIndexPath(*list->brandTableView(), NSIndexPath::indexPathForRow(2, 0));
    ASSERT_TRUE(
        waitUntil([&] { return !server.requestsTo("search/search.do").empty() && list->page() == 1; }));
    EXPECT_EQ(server.requestsTo("search/search.do").back().queryParam("cars_brand"), "2");
    EXPECT_EQ(list->questions().size(), 10u);
    EXPECT_EQ(list->brandButton.lock()->titleForState(UIControlStateNormal),
              list->carBrands()[2]->brand_name);
    // The next page asks for page 1 and ends paging with the two rows left.
    auto table = list->tableView.lock();
    UIScrollView_PullRefresh::footer(*table)->beginRefreshing();
    ASSERT_TRUE(waitUntil([&] { return list->questions().size() == 12; }));
    EXPECT_EQ(server.requestsTo("search/search.do").back().queryParam("page"), "1");
    EXPECT_EQ(list->page(), 2);
}

TEST_F(ForumScreenTest, AKeywordSearchReplacesTheRowsAndAnEmptyOneFallsBack) {
    auto list = showList();
    auto field = list->seachfieldd.lock();
    field->setText(std::string("尾翼"));
    list->textFieldShouldReturn(*field);
    ASSERT_TRUE(waitUntil([&] { return list->questions().size() == 2; }));
    EXPECT_EQ(server.requestsTo("search/search.do").back().queryParam("cars_brand"), "0");
    EXPECT_EQ(list->questionFrames().size(), 2u);
    field->setText(std::string("没有这种问题"));
    list->textFieldShouldReturn(*field);
    ASSERT_TRUE(waitUntil([&] { return server.requestsTo("search/search.do").size() == 2; }));
    // A second later the plain list comes back.
    ASSERT_TRUE(waitUntil([&] { return list->questions().size() == 10; }, 5));
}

TEST_F(ForumScreenTest, AReusedRowNeverShowsThePreviousQuestionsPictures) {
    auto cell = make<QVNRizUrCell>(UITableViewCellStyleDefault, std::string("rizurCell"));
    auto three = make<QVNQuestion>();
    three->question_title = std::string("三张");
    three->question_pic = server.pictureURL("forum-0") + ";" + server.pictureURL("forum-1") + ";" +
                          server.pictureURL("forum-2");
    auto frame = make<QVNRizUrFrame>();
    frame->setQuestion(three);
    cell->setRizurFrame(frame);
    ASSERT_TRUE(waitUntil([&] { return cell->rightImageView->image() != nullptr; }));
    auto one = make<QVNQuestion>();
    one->question_title = std::string("一张");
    one->question_pic = server.pictureURL("forum-3");
    auto frame2 = make<QVNRizUrFrame>();
    frame2->setQuestion(one);
    cell->setRizurFrame(frame2);
    EXPECT_FALSE(cell->centerImageView->image());
    EXPECT_FALSE(cell->rightImageView->image());
    EXPECT_TRUE(cell->centerImageView->isHidden());
    EXPECT_EQ(cell->expectedAddresses()[1], "");
    // A slow download for a row that moved on never lands.
    auto none = make<QVNQuestion>();
    none->question_title = std::string("无图");
    auto frame3 = make<QVNRizUrFrame>();
    frame3->setQuestion(none);
    cell->setRizurFrame(frame3);
    testsupport::pumpMainRunLoop(0.5);
    EXPECT_FALSE(cell->leftImageView->image());
    // The cache is keyed by the whole address.
    EXPECT_NE(QVNRizUrCell::pathInCacheDirectory("http://a/x/1.png"),
              QVNRizUrCell::pathInCacheDirectory("http://b/y/1.png"));
    EXPECT_TRUE(QVNRizUrCell::hasCachedImage(server.pictureURL("forum-0")));
    EXPECT_FALSE(QVNRizUrCell::hasCachedImage(server.pictureURL("missing")));
}

// ---- the detail ------------------------------------------------------------------------------------------

TEST_F(ForumScreenTest, TheDetailLoadsTheQuestionAndPagesItsAnswers) {
    auto detail = showDetail(24);
    auto first = server.requestsTo("question/getquestioncomment.do");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].queryParam("comment_id"), "0");
    EXPECT_EQ(detail->comments().size(), 10u);
    EXPECT_EQ(detail->commentsFrame().size(), 10u);
    EXPECT_EQ(detail->detailView()->titleLabel.lock()->text(), detail->detailQuestion()->question_title);
    auto table = detail->tableView.lock();
    UIScrollView_PullRefresh::footer(*table)->beginRefreshing();
    ASSERT_TRUE(waitUntil([&] { return detail->comments().size() == 13; }));
    // Leaving tells the list.
    bool refreshed = false;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        std::string("RefreshView"), nullptr, nullptr, [&](const Ref<NSNotification>&) { refreshed = true; });
    detail->fanhuiAction(nullptr);
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    EXPECT_TRUE(refreshed);
}

TEST_F(ForumScreenTest, AReplyWithTwoPhotosUploadsThemOneByOneThenSendsTheirAddresses) {
    signIn(2);
    auto detail = showDetail(2);
    detail->sendImageArray(
        {solidImage(CGSizeMake(40, 30), 1, 0, 0), solidImage(CGSizeMake(30, 40), 0, 0, 1)});
    auto text = detail->replyTextView.lock();
    detail->textViewShouldBeginEditing(*text);
    text->setText(std::string("看图 <b>"));
    detail->replyBtnClick(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("question/addcomment.do").empty(); }));
    EXPECT_EQ(server.requestsTo("upload/upload.do").size(), 2u);
    auto sent = server.requestsTo("question/addcomment.do").back();
    EXPECT_EQ(sent.queryParam("re_content"), "看图 <b>");
    auto urls = ::detail::forum::splitPictures(sent.queryParam("pic_url"));
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_FALSE(sent.queryParam("comment_id"));
    ASSERT_TRUE(waitUntil([&] { return forum->answers(2).front().pictures.size() == 2; }));
    ASSERT_TRUE(waitUntil([&] { return detail->imageArray().empty() && !detail->imageUrl(); }));
}

TEST_F(ForumScreenTest, AFailedUploadSendsNothingKeepsEverythingAndResumes) {
    signIn(2);
    auto detail = showDetail(2);
    uploadsFailingAt(2);
    detail->sendImageArray({solidImage(CGSizeMake(20, 20), 1, 0, 0), solidImage(CGSizeMake(20, 20), 0, 1, 0),
                            solidImage(CGSizeMake(20, 20), 0, 0, 1)});
    auto text = detail->replyTextView.lock();
    detail->textViewShouldBeginEditing(*text);
    text->setText(std::string("三张"));
    detail->replyBtnClick(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !UIAlertTestDriver::shownAlerts().empty(); }));
    EXPECT_EQ(UIAlertTestDriver::shownAlerts().back().message,
              std::optional<std::string>("上传图片失败，请检查您的网络！"));
    EXPECT_TRUE(server.requestsTo("question/addcomment.do").empty());
    EXPECT_EQ(detail->count(), 1);
    EXPECT_EQ(text->text(), "三张");
    EXPECT_EQ(detail->imageArray().size(), 3u);
    // The next send goes on with the second and third picture.
    detail->textViewShouldBeginEditing(*text);
    detail->replyBtnClick(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("question/addcomment.do").empty(); }));
    EXPECT_EQ(server.requestsTo("upload/upload.do").size(), 4u);
    EXPECT_EQ(::detail::forum::splitPictures(
                  server.requestsTo("question/addcomment.do").back().queryParam("pic_url"))
                  .size(),
              3u);
}

TEST_F(ForumScreenTest, ReplyingToAnAnswerAndTheSignInGate) {
    auto detail = showDetail(24);
    detail->replyBtnClick(nullptr);
    ASSERT_EQ(UIAlertTestDriver::shownAlerts().size(), 1u);
    EXPECT_EQ(UIAlertTestDriver::shownAlerts()[0].message, std::optional<std::string>("你还没有登陆！"));
    UIAlertTestDriver::tapAlertButton("登陆");
    ASSERT_TRUE(settle());
    EXPECT_TRUE(std::dynamic_pointer_cast<LoginStandIn>(navigation->topViewController()));
    navigation->popViewControllerAnimated(false);
    signIn(3);
    auto table = detail->tableView.lock();
    // The question's page (with its pictures) may hold the first answer below the screen.
    table->scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0), UITableViewScrollPositionTop, false);
    table->layoutIfNeeded();
    auto cell = std::dynamic_pointer_cast<QVNRizUrDetailCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    cell->commentButtonClick(nullptr);
    auto target = detail->comment();
    ASSERT_TRUE(target);
    auto text = detail->replyTextView.lock();
    EXPECT_EQ(text->text(), "@" + *target->user_nickname + ":");
    // Just the name: nothing is sent.
    detail->textViewShouldBeginEditing(*text);
    QVNAPIClient::showProgressHUD();
    detail->upLoadContentForServer(std::nullopt);
    EXPECT_EQ(UIAlertTestDriver::shownAlerts().back().title,
              std::optional<std::string>("您还没输出任何内容或图片"));
    text->setText("@" + *target->user_nickname + ":好");
    detail->replyBtnClick(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("question/addcomment.do").empty(); }));
    auto sent = server.requestsTo("question/addcomment.do").back();
    EXPECT_EQ(sent.queryParam("comment_id"), std::to_string(target->comment_id->integerValue()));
    // After the reply the next one goes to the question again.
    ASSERT_TRUE(waitUntil([&] { return !detail->comment(); }));
}

// ---- publishing
// --------------------------------------------------------------------------------------------

class PublishTest : public ForumScreenTest {
  protected:
    Ref<PublishQuestionViewController> showPublish() {
        auto publish = scene<PublishQuestionViewController>("PublishQuestionViewController");
        show(publish);
        EXPECT_TRUE(waitUntil([&] { return publish->brandArray().size() >= 2; }));
        return publish;
    }
    void fill(const Ref<PublishQuestionViewController>& publish, const std::string& title,
              const std::string& body) {
        publish->questionTextFiled.lock()->setText(title);
        publish->textView.lock()->setText(body);
    }
    void chooseBrand(const Ref<PublishQuestionViewController>& publish, long row) {
        publish->brandButtonAction(nullptr);
        publish->tableViewDidSelectRowAtIndexPath(*publish->brandTableView(),
                                                  NSIndexPath::indexPathForRow(row, 0));
        ASSERT_TRUE(waitUntil([&] { return publish->brand_id().has_value(); }, 2));
    }
};

TEST_F(PublishTest, EmptyTextsAndThePlaceholderAreRefused) {
    signIn();
    auto publish = showPublish();
    publish->submit(nullptr);
    fill(publish, "标题", PublishQuestionViewController::kPlaceholder);
    publish->submit(nullptr);
    fill(publish, "标题\U0001F600", "正文");
    publish->submit(nullptr);
    auto alerts = UIAlertTestDriver::shownAlerts();
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0].message, std::optional<std::string>("问题或正文不能为空！"));
    EXPECT_EQ(alerts[1].message, std::optional<std::string>("问题或正文不能为空！"));
    EXPECT_EQ(alerts[2].message, std::optional<std::string>("亲，不能输入表情哦！"));
    fill(publish, "标题", "正文");
    publish->submit(nullptr);
    ASSERT_TRUE(waitUntil([&] { return UIAlertTestDriver::shownAlerts().size() == 4; }));
    EXPECT_EQ(UIAlertTestDriver::shownAlerts()[3].message, std::optional<std::string>("请选择品牌！"));
    EXPECT_TRUE(server.requestsTo("question/addquestion.do").empty());
}

TEST_F(PublishTest, AFailedUploadSendsNoQuestionAndKeepsPhotosAndTexts) {
    signIn();
    auto publish = showPublish();
    chooseBrand(publish, 1);
    uploadsFailingAt(2);
    publish->sendImageArray(
        {solidImage(CGSizeMake(20, 20), 1, 0, 0), solidImage(CGSizeMake(20, 20), 0, 1, 0)});
    fill(publish, "失败的问题", "正文");
    publish->submit(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !UIAlertTestDriver::shownAlerts().empty(); }));
    EXPECT_TRUE(server.requestsTo("question/addquestion.do").empty());
    EXPECT_EQ(publish->count(), 1);
    EXPECT_EQ(publish->imageArray().size(), 2u);
    EXPECT_EQ(publish->questionTextFiled.lock()->text(), "失败的问题");
    EXPECT_EQ(forum->questions().size(), 24u);
}

TEST_F(PublishTest, APublishedQuestionEscapesItsTextAndComesFirst) {
    signIn();
    auto publish = showPublish();
    chooseBrand(publish, 1);
    publish->sendImageArray({solidImage(CGSizeMake(20, 20), 1, 0, 0), solidImage(CGSizeMake(20, 20), 0, 1, 0),
                             solidImage(CGSizeMake(20, 20), 0, 0, 1)});
    fill(publish, "新问题", "<script>x</script> & \"引号\"");
    publish->submit(nullptr);
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("question/addquestion.do").empty(); }));
    auto sent = server.requestsTo("question/addquestion.do").back();
    std::string content = sent.formParam("question_content").value_or("");
    EXPECT_EQ(content.find("<script>"), std::string::npos);
    EXPECT_EQ(content.rfind("&lt;script&gt;x&lt;/script&gt; &amp; &quot;引号&quot;", 0), 0u);
    auto urls = ::detail::forum::splitPictures(sent.formParam("question_pic"));
    ASSERT_EQ(urls.size(), 3u);
    for (const auto& url : urls)
        EXPECT_NE(content.find("<p><img src=\"" + url + "\"></p>"), std::string::npos);
    EXPECT_EQ(sent.formParam("question_txt"), "<script>x</script> & \"引号\"");
    ASSERT_TRUE(waitUntil([&] { return !UIAlertTestDriver::shownAlerts().empty(); }));
    EXPECT_EQ(UIAlertTestDriver::shownAlerts().back().message, std::optional<std::string>("上传成功！"));
    EXPECT_EQ(forum->questions().front().question_title, "新问题");
    bool refreshed = false;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        std::string("RefreshView"), nullptr, nullptr, [&](const Ref<NSNotification>&) { refreshed = true; });
    UIAlertTestDriver::tapAlertButton("返回");
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    EXPECT_TRUE(refreshed);
}

TEST_F(PublishTest, SignedOutNothingIsUploaded) {
    signIn();
    auto publish = showPublish();
    chooseBrand(publish, 1);
    signOut();
    publish->sendImageArray({solidImage(CGSizeMake(20, 20), 1, 0, 0)});
    fill(publish, "标题", "正文");
    publish->submit(nullptr);
    ASSERT_EQ(UIAlertTestDriver::shownAlerts().size(), 1u);
    EXPECT_EQ(UIAlertTestDriver::shownAlerts()[0].message, std::optional<std::string>("你还没有登陆！"));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(server.requestsTo("upload/upload.do").empty());
}

// ---- the picker
// ----------------------------------------------------------------------------------------------

class RecordingPickerDelegate : public NSObject, public PKAssetPickerControllerDelegate {
  public:
    void assetPickerControllerDidFinishPickingAssets(const Ref<PKAssetPickerController>&,
                                                     const std::vector<Ref<ALAsset>>& assets) override {
        finished = assets;
        ++finishes;
    }
    void assetPickerControllerDidMaximum(const Ref<PKAssetPickerController>&) override { ++maximums; }
    std::vector<Ref<ALAsset>> finished;
    int finishes = 0;
    int maximums = 0;
};

TEST_F(ForumScreenTest, ThePickerEnforcesTheMaximumAndTheSelectionRule) {
    std::string album = system_testing::addPhotoGroup("改装", ALAssetsGroupAlbum);
    for (int i = 0; i < 5; ++i)
        system_testing::addPhoto(album, solidImage(CGSizeMake(60, 40), 0.2 * i, 0.5, 0.5));
    system_testing::addVideo(album, solidImage(CGSizeMake(60, 40), 0, 0, 0), 4.9);
    system_testing::addVideo(album, solidImage(CGSizeMake(60, 40), 0, 0, 0), 5.0);
    auto picker = make<PKAssetPickerController>();
    picker->maximumNumberOfSelection = 2;
    auto delegate = make<RecordingPickerDelegate>();
    picker->setDelegate(delegate);
    // The strip's rule: videos of at least five seconds.
    picker->selectionFilter = NSPredicate::predicateWithBlock([](const Value& object, const Dictionary&) {
        auto asset = object.objectAs<ALAsset>();
        if (!asset ||
            asset->valueForProperty(ALAssetPropertyType).optionalString() != std::string(ALAssetTypeVideo))
            return true;
        Value duration = asset->valueForProperty(ALAssetPropertyDuration);
        return duration.number() && duration.number()->doubleValue() >= 5.0;
    });
    show(picker);
    auto groups = std::dynamic_pointer_cast<PKAssetGroupViewController>(picker->topViewController());
    ASSERT_TRUE(groups);
    ASSERT_TRUE(waitUntil([&] { return !groups->groups.empty(); }));
    EXPECT_FALSE(groups->showsNoAssets());
    groups->tableViewDidSelectRowAtIndexPath(*groups->tableView(), NSIndexPath::indexPathForRow(0, 0));
    ASSERT_TRUE(settle());
    auto grid = std::dynamic_pointer_cast<PKAssetViewController>(picker->topViewController());
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->assets.size(), 7u);
    EXPECT_EQ(grid->columns(), 4);  // 375 / 80
    auto table = grid->tableView();
    auto row0 = std::dynamic_pointer_cast<PKAssetViewCell>(
        table->dataSource()->tableViewCellForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0)));
    auto row1 = std::dynamic_pointer_cast<PKAssetViewCell>(
        table->dataSource()->tableViewCellForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(1, 0)));
    ASSERT_TRUE(row0 && row1);
    auto views = row0->assetViews();
    ASSERT_EQ(views.size(), 4u);
    auto videos = row1->assetViews();
    ASSERT_EQ(videos.size(), 3u);
    // A short video cannot be chosen; a long one can.
    EXPECT_TRUE(videos[1]->tapAssetView->disabled());
    EXPECT_FALSE(videos[2]->tapAssetView->disabled());
    EXPECT_EQ(videos[1]->videoTitle->text(), std::optional<std::string>("0:05"));
    views[0]->tapAssetView->tap();
    views[1]->tapAssetView->tap();
    EXPECT_EQ(grid->indexPathsForSelectedItems.size(), 2u);
    EXPECT_EQ(grid->title(), std::optional<std::string>("相机胶卷"));
    views[2]->tapAssetView->tap();
    EXPECT_FALSE(views[2]->tapAssetView->selected());
    EXPECT_EQ(delegate->maximums, 1);
    // A chosen one can always be let go (the question is still asked).
    views[0]->tapAssetView->tap();
    EXPECT_EQ(grid->indexPathsForSelectedItems.size(), 1u);
    EXPECT_EQ(delegate->maximums, 2);
    grid->finishPickingAssets(nullptr);
    ASSERT_EQ(delegate->finishes, 1);
    ASSERT_EQ(delegate->finished.size(), 1u);
    EXPECT_TRUE(delegate->finished[0]->isEqual(*views[1]->asset));
}

TEST_F(ForumScreenTest, AnEmptyLibraryShowsTheNoticeOnlyAfterBothEnumerations) {
    auto picker = make<PKAssetPickerController>();
    picker->assetsFilter = ALAssetsFilter::allPhotos();
    show(picker);
    auto groups = std::dynamic_pointer_cast<PKAssetGroupViewController>(picker->topViewController());
    ASSERT_TRUE(waitUntil([&] { return groups->showsNoAssets(); }));
    system_testing::setPhotoLibraryAuthorizationStatus(ALAuthorizationStatusDenied);
    groups->setupGroup();
    ASSERT_TRUE(waitUntil([&] { return groups->showsNotAllowed(); }));
    system_testing::setPhotoLibraryAuthorizationStatus(ALAuthorizationStatusAuthorized);
}

TEST_F(ForumScreenTest, TheStripReportsItsPhotosAndHoldsFive) {
    auto strip = make<MessagePhotoView>(CGRectMake(0, 0, 375, 230));
    EXPECT_TRUE(strip->addButton());
    EXPECT_DOUBLE_EQ(strip->addButton()->frame().origin.x, 38);
    EXPECT_EQ(strip->lblNum->text(), std::optional<std::string>("已选0张，共可选5张"));
    EXPECT_DOUBLE_EQ(strip->photoScrollView->contentSize().width, 146);
    for (int i = 0; i < 5; ++i) strip->reloadDataWithImage(solidImage(CGSizeMake(20, 20), 0.1 * i, 0, 0));
    EXPECT_FALSE(strip->addButton());
    EXPECT_DOUBLE_EQ(strip->photoScrollView->contentSize().width, 578);
    strip->messagePhotoItemViewDidSelectDeleteButtonAtIndex(nullptr, 1);
    EXPECT_EQ(strip->itemArray().size(), 4u);
    EXPECT_EQ(strip->lblNum->text(), std::optional<std::string>("已选4张，共可选5张"));
}

// ---- pictures
// ------------------------------------------------------------------------------------------------

// Every picture the visible rows show has arrived (thumbnails, answer pictures, avatars).
bool picturesArrived(const Ref<UITableView>& table) {
    Ref<UIImage> placeholder = ::detail::forum::imageNamed("touxiangmorentu");
    for (const auto& cell : table->visibleCells()) {
        if (auto row = std::dynamic_pointer_cast<QVNRizUrCell>(cell)) {
            if (row->userNameBtn->imageForState(UIControlStateNormal) == placeholder) return false;
            for (const auto& view : {row->leftImageView, row->centerImageView, row->rightImageView})
                if (!view->isHidden() && !view->image()) return false;
        }
        if (auto row = std::dynamic_pointer_cast<QVNRizUrDetailCell>(cell)) {
            if (row->userNameBtn->imageForState(UIControlStateNormal) == placeholder) return false;
            for (const auto& view : row->imageArray)
                if (!view->isHidden() && !view->image()) return false;
        }
    }
    return true;
}

// The question's page draws its pictures (the ones its list row shows) on the page's white canvas,
// though the screen gives the web view a red background; the header fits the laid-out page.
TEST_F(ForumScreenTest, TheQuestionPageShowsItsPicturesOnAWhiteCanvas) {
    auto detail = showDetail(24);
    auto header = detail->detailView();
    auto web = header->webView.lock();
    ASSERT_TRUE(waitUntil([&] { return web->finishedLoadCount() > 0 && !web->isLoading(); }));
    ASSERT_TRUE(waitUntil([&] { return !navigation->isTransitioning(); }));
    EXPECT_NE(web->shownHTML().find("<img src=\""), std::string::npos);
    const CGFloat pageHeight = web->scrollView()->contentSize().height;
    EXPECT_GT(pageHeight, 300);  // three pictures
    EXPECT_DOUBLE_EQ(web->frame().size.height, pageHeight);
    auto image = render();
    const CGRect shown = CGRectIntersection(web->convertRectToView(web->bounds(), nullptr), window->bounds());
    ASSERT_FALSE(CGRectIsEmpty(shown));
    const NSData bgra = ::detail::pixelsAsPremultipliedBGRA(*image->CGImage());
    const std::size_t width = image->CGImage()->width();
    int red = 0, sun = 0;
    for (int y = int(shown.origin.y); y < int(CGRectGetMaxY(shown)); ++y)
        for (int x = int(shown.origin.x); x < int(CGRectGetMaxX(shown)); ++x) {
            const std::uint8_t* p = bgra.bytes() + (std::size_t(y) * width + std::size_t(x)) * 4;
            const int b = p[0], g = p[1], r = p[2];  // the window is opaque
            if (r > 230 && g < 30 && b < 30) ++red;
            // The sample photos' sun.
            if (std::abs(r - 250) < 8 && std::abs(g - 220) < 8 && std::abs(b - 90) < 8) ++sun;
        }
    EXPECT_EQ(red, 0);
    EXPECT_GT(sun, 200);
}

TEST_F(ForumScreenTest, GoldenList) {
    auto list = showList();
    ASSERT_TRUE(waitUntil([&] { return picturesArrived(list->tableView.lock()); }));
    testsupport::compareWithGolden(render(), testsupport::goldenDirectory("forum"), "forum_list.png", "forum",
                                   24, 0.02);
}

TEST_F(ForumScreenTest, GoldenDetailWithAnswersAndPictures) {
    auto detail = showDetail(24);
    ASSERT_TRUE(waitUntil([&] { return picturesArrived(detail->tableView.lock()); }));
    auto avatar = detail->detailView()->userImageView.lock();
    ASSERT_TRUE(waitUntil([&] { return avatar->image() != ::detail::forum::imageNamed("touxiangmorentu"); }));
    // The question's page with its pictures.
    auto web = detail->detailView()->webView.lock();
    ASSERT_TRUE(waitUntil([&] { return web->finishedLoadCount() > 0 && !web->isLoading(); }));
    testsupport::compareWithGolden(render(), testsupport::goldenDirectory("forum"), "forum_detail.png",
                                   "forum", 24, 0.02);
}

TEST_F(PublishTest, GoldenPublishingScreen) {
    signIn();
    auto publish = showPublish();
    fill(publish, "前杠选什么颜色", "白色车身，想配黑色前杠。");
    publish->messagePhotoView()->reloadDataWithImage(solidImage(CGSizeMake(80, 60), 0.9, 0.3, 0.2));
    publish->messagePhotoView()->reloadDataWithImage(solidImage(CGSizeMake(60, 80), 0.2, 0.4, 0.9));
    testsupport::compareWithGolden(render(), testsupport::goldenDirectory("forum"), "forum_publish.png",
                                   "forum", 24, 0.02);
}

}  // namespace

namespace {

// ---- the preview, the strip's camera and the detail's likes --------------------------------------------

TEST_F(ForumScreenTest, ThePreviewPagesItsPhotosAndLeavesBothWays) {
    std::string album = system_testing::addPhotoGroup("预览", ALAssetsGroupAlbum);
    for (int i = 0; i < 3; ++i)
        system_testing::addPhoto(album, solidImage(CGSizeMake(80, 60), 0.3 * i, 0.2, 0.6));
    auto library = PKAssetGroupViewController::defaultAssetsLibrary();
    std::vector<Ref<ALAsset>> assets;
    bool done = false;
    library->enumerateGroupsWithTypes(
        ALAssetsGroupAlbum,
        [&](const Ref<ALAssetsGroup>& group, bool*) {
            if (!group) {
                done = true;
                return;
            }
            group->enumerateAssetsUsingBlock([&](const Ref<ALAsset>& asset, std::size_t, bool*) {
                if (asset) assets.push_back(asset);
            });
        },
        [&](const Ref<NSError>&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    ASSERT_EQ(assets.size(), 3u);

    auto root = make<UIViewController>();
    show(root);
    auto preview = make<ShowBigViewController>();
    preview->setArrayOK(assets);
    auto modal = make<UINavigationController>(make<UIViewController>());
    root->presentViewController(modal, false);
    modal->pushViewController(preview, false);
    testsupport::drainMainRunLoop();
    preview->loadViewIfNeeded();
    EXPECT_EQ(preview->title(), std::optional<std::string>("查看选择图片"));
    const CGFloat W = preview->view()->bounds().size.width;
    ASSERT_TRUE(preview->scrollerview());
    EXPECT_EQ(preview->scrollerview()->subviews().size(), 3u);
    EXPECT_DOUBLE_EQ(preview->scrollerview()->contentSize().width, 3 * W);
    EXPECT_TRUE(preview->scrollerview()->isPagingEnabled());
    EXPECT_EQ(preview->rightbtn->titleForState(UIControlStateNormal), std::optional<std::string>("完成"));
    // Back: pops and leaves the bar red at 0.7.
    preview->dismiss();
    testsupport::pumpMainRunLoop(0.5);
    EXPECT_EQ(modal->topViewController(), modal->viewControllers().front());
    CGFloat r = 0, g = 0, b = 0, a = 0;
    ASSERT_TRUE(modal->navigationBar()->barTintColor());
    modal->navigationBar()->barTintColor()->getRed(&r, &g, &b, &a);
    EXPECT_DOUBLE_EQ(r, 1.0);
    EXPECT_NEAR(a, 0.7, 1e-6);
    // "完成" ends the modal presentation; the list is not touched.
    modal->pushViewController(preview, false);
    testsupport::drainMainRunLoop();
    preview->complete(nullptr);
    ASSERT_TRUE(waitUntil([&] { return root->presentedViewController() == nullptr; }, 5));
    EXPECT_EQ(preview->arrayOK().size(), 3u);
}

TEST_F(ForumScreenTest, TheStripsCameraAddsThePhotoAndWritesIt) {
    auto owner = make<UIViewController>();
    show(owner);
    auto strip = make<MessagePhotoView>(CGRectMake(0, 0, 375, 230));
    owner->view()->addSubview(strip);
    UIImagePickerTestDriver::reset();
    strip->takePhoto();  // no camera: nothing opens
    testsupport::drainMainRunLoop();
    EXPECT_FALSE(owner->presentedViewController());
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    strip->takePhoto();
    ASSERT_TRUE(waitUntil([&] { return UIImagePickerTestDriver::visiblePicker() != nullptr; }, 5));
    UIImagePickerTestDriver::pickImage(UIImagePickerTestDriver::visiblePicker(),
                                       solidImage(CGSizeMake(40, 30), 1, 0.5, 0));
    ASSERT_TRUE(waitUntil([&] { return strip->itemArray().size() == 1; }, 5));
    EXPECT_NE(strip->filePath().find("/Documents/image.png"), std::string::npos);
    EXPECT_TRUE(NSData::dataWithContentsOfFile(strip->filePath()));
    UIImagePickerTestDriver::reset();
    // The JPEG sizing keeps small pictures at full quality.
    NSData small = MessagePhotoView::imageData(solidImage(CGSizeMake(20, 20), 0, 0, 1));
    EXPECT_EQ(small.length(),
              UIImageJPEGRepresentation(solidImage(CGSizeMake(20, 20), 0, 0, 1), 1.0)->length());
}

TEST_F(ForumScreenTest, TheDetailsLikesAndTheMessageCentresNotification) {
    signIn(3);
    auto detail = showDetail(24);
    auto header = detail->detailView();
    ASSERT_TRUE(header->likeBlock);
    header->likeButtonAction(nullptr);
    auto like = header->likeButton.lock();
    ASSERT_TRUE(waitUntil(
        [&] { return like->titleForState(UIControlStateNormal) == std::optional<std::string>("(3)"); }));
    EXPECT_EQ(like->imageForState(UIControlStateNormal), ::detail::forum::imageNamed("dianzan_down"));
    Ref<QVNQuestionComment> answer = detail->comments().front();
    bool liked = answer->is_like();
    detail->handleClickCommentLikeBtnWithComment(answer);
    EXPECT_NE(answer->is_like(), liked);
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& a : forum->answers(24))
            if (a.comment_id == answer->comment_id->integerValue())
                return a.likers.count(3) == (liked ? 0u : 1u);
        return false;
    }));
    Dictionary received;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        std::string("updateReadRromeQuestionVc"), nullptr, nullptr,
        [&](const Ref<NSNotification>& n) { received = n->userInfo().value_or(Dictionary()); });
    detail->setIsFromMessafeVc(true);
    detail->fanhuiAction(nullptr);
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    EXPECT_EQ(received["isUpdateFromeQuestion"].optionalString(), std::optional<std::string>("YES"));
}

}  // namespace
