// The message centre, mail threads, the friend list, the user search and the paged inbox, against
// the stand-in server with two users writing to each other.

#include <gtest/gtest.h>

#include <set>

#include "account/AddFriendViewController.h"
#include "account/FriendListViewController.h"
#include "account/MailListlViewController.h"
#include "account/MessageAllListController.h"
#include "account/NewMessageViewController.h"
#include "account/QVNMailCell.h"
#include "account/QVNMessageCell.h"
#include "account/UserInfoViewController.h"
#include "app/QVNQuestionScreens.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;

namespace {

class MessageScreensTest : public ScreenTest {
  protected:
    Ref<NewMessageViewController> openCentre() {
        auto centre = push<NewMessageViewController>("NewMessageAllListController");
        // The three first pages travel side by side and may come back in any order: wait for all.
        EXPECT_TRUE(waitAdvancing([&] {
            return requestsTo("message/getmessage.do") >= 3 && !refreshing(centre->siXinTableView) &&
                   !refreshing(centre->rizUrTableView) && !refreshing(centre->siTongTableView);
        }));
        settle();
        return centre;
    }
    static bool refreshing(const Weak<UITableView>& table) {
        auto strong = table.lock();
        auto header = strong ? UIScrollView_PullRefresh::header(*strong) : nullptr;
        return header && header->isRefreshing();
    }
    static std::string titleOf(const Weak<UIButton>& button) {
        return button.lock()->titleForState(UIControlStateNormal).value_or("");
    }
    static Ref<UITableViewCell> cellAt(const Weak<UITableView>& table, long row) {
        auto strong = table.lock();
        strong->layoutIfNeeded();
        return strong->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
    }
};

}  // namespace

TEST_F(MessageScreensTest, TheCentreLoadsTheThreeCategoriesWithTheirUnreadCounts) {
    signIn();
    server.sendMail(3, 1, "小雨的问候");
    auto centre = openCentre();
    auto pages = server.requestsTo("message/getmessage.do");
    ASSERT_EQ(pages.size(), 3u);
    // One first page per category (they travel side by side, so they may arrive in any order).
    std::set<std::string> categories;
    for (const auto& page : pages) {
        categories.insert(page.queryParam("category").value_or(""));
        EXPECT_EQ(page.queryParam("message_id"), "0");
    }
    EXPECT_EQ(categories, (std::set<std::string>{"1", "2", "3"}));
    EXPECT_EQ(titleOf(centre->siXinTitle), "私信(2)");
    EXPECT_EQ(titleOf(centre->rizUrTitle), "问吧回复(1)");
    EXPECT_EQ(titleOf(centre->siTongTitle), "系统公告(1)");
    ASSERT_EQ(centre->siXinMessages().count(), 2u);
    auto row = std::dynamic_pointer_cast<QVNMessageCell>(cellAt(centre->siXinTableView, 0));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->reuseIdentifier(), std::string("messageImageCell"));
    EXPECT_EQ(row->userNameLabel.lock()->text(), "小雨");
    EXPECT_EQ(row->digestLabel.lock()->text(), "小雨的问候");
    EXPECT_EQ(row->dotImage()->superview().get(), row.get());
    auto notice = std::dynamic_pointer_cast<QVNMessageCell>(cellAt(centre->siTongTableView, 0));
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->reuseIdentifier(), std::string("messageCell"));
    EXPECT_EQ(notice->siTongDotImage()->superview().get(), notice.get());
    EXPECT_FALSE(notice->dotImage()->superview());  // a notice has no sender picture
}

TEST_F(MessageScreensTest, AMailRowOpensItsThreadAndComingBackRefreshesTheMailOnce) {
    signIn();
    auto centre = openCentre();
    centre->siXinTableView.lock()->selectRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0), false,
                                                        UITableViewScrollPositionNone);
    centre->tableViewDidSelectRowAtIndexPath(*centre->siXinTableView.lock(),
                                             NSIndexPath::indexPathForRow(0, 0));
    settle(0.6);
    auto thread = std::dynamic_pointer_cast<MailListlViewController>(navigation->topViewController());
    ASSERT_TRUE(thread);
    EXPECT_EQ(thread->friendUid()->integerValue(), 2);
    EXPECT_TRUE(thread->isFromMessafeVc());
    ASSERT_TRUE(waitAdvancing([&] { return server.mails()[0].read; }));  // marked read for that sender
    // Leaving marks the notices read, whatever was looked at.
    ASSERT_TRUE(waitAdvancing([&] { return !server.notices(1).empty() && server.notices(1).back().read; }));
    ASSERT_TRUE(waitAdvancing([&] { return thread->mails().count() == 1; }));

    std::size_t before = requestsTo("message/getmessage.do");
    thread->goBack(nullptr);
    EXPECT_EQ(posted["updateRead"], 1);
    settle(0.6);
    ASSERT_TRUE(waitAdvancing([&] {
        return requestsTo("message/getmessage.do") == before + 1 && !refreshing(centre->siXinTableView);
    }));
    EXPECT_EQ(server.requestsTo("message/getmessage.do").back().queryParam("category"), "1");
    EXPECT_EQ(titleOf(centre->siXinTitle), "私信(0)");
    EXPECT_EQ(centre->isFormMailistVcStr(), "NO");
    // Another visit elsewhere and back: no refresh this time.
    navigation->pushViewController(make<UIViewController>(), false);
    settle();
    navigation->popViewControllerAnimated(false);
    settle(0.3);
    EXPECT_EQ(requestsTo("message/getmessage.do"), before + 1);
}

TEST_F(MessageScreensTest, LoadMoreKeepsAskingUntilAnEmptyPage) {
    signIn();
    for (int i = 0; i < 15; ++i) server.addNotice(1, 3, "公告 " + std::to_string(i));
    auto centre = openCentre();
    ASSERT_EQ(centre->siTongMessages().count(), 10u);
    auto table = centre->siTongTableView.lock();
    auto footer = UIScrollView_PullRefresh::footer(*table);
    footer->beginRefreshing();
    ASSERT_TRUE(
        waitAdvancing([&] { return centre->siTongMessages().count() == 16u && !footer->isRefreshing(); }));
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);  // a page with rows lets the next come
    footer->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return footer->state() == PullRefreshState::NoMoreData; }));
    EXPECT_EQ(centre->siTongMessages().count(), 16u);
    auto last = server.requestsTo("message/getmessage.do").back();
    EXPECT_EQ(last.queryParam("message_id"),
              centre->siTongMessages().lastObject().objectAs<QVNMessage>()->message_id->stringValue());
    // A pull-down starts over and lets load-more ask again.
    UIScrollView_PullRefresh::header(*table)->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return centre->siTongMessages().count() == 10u; }));
    settle();
    EXPECT_NE(footer->state(), PullRefreshState::NoMoreData);
}

TEST_F(MessageScreensTest, ClearingEmptiesACategoryOrShowsTheSignInAlert) {
    signIn();
    auto centre = openCentre();
    centre->rizUrCleanMessage(nullptr);
    ASSERT_TRUE(waitAdvancing(
        [&] { return centre->rizUrMessages().empty() && !refreshing(centre->rizUrTableView); }));
    EXPECT_EQ(titleOf(centre->rizUrTitle), "问吧回复(0)");
    server.expireTokens();
    centre->siXinCleanMessage(nullptr);
    ASSERT_TRUE(waitAdvancing([&] { return alertTitle() == std::string("帐号失效请重新登录"); }));
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(server.mails().size(), 1u);
}

TEST_F(MessageScreensTest, SignedOutTheListsStopRefreshingAndAskNothing) {
    auto centre = push<NewMessageViewController>("NewMessageAllListController");
    ASSERT_TRUE(waitAdvancing(
        [&] { return !refreshing(centre->siXinTableView) && !refreshing(centre->siTongTableView); }));
    EXPECT_EQ(requestsTo("message/getmessage.do"), 0u);
}

TEST_F(MessageScreensTest, AThreadShowsBothSidesAndASentMailJoinsOnlyOnceAccepted) {
    auto me = signIn();
    server.sendMail(1, 2, "我先说");
    auto thread = std::dynamic_pointer_cast<MailListlViewController>(
        UIStoryboard::storyboardWithName("MyUser", nullptr)
            ->instantiateViewControllerWithIdentifier("MailListlViewController"));
    thread->setFriendUid(NSNumber::numberWithInt(2));
    navigation->pushViewController(thread, false);
    ASSERT_TRUE(waitAdvancing([&] { return thread->mails().count() == 2; }));
    settle();
    EXPECT_EQ(server.requestsTo("message/getchatlist.do")[0].queryParam("friend_uid"), "2");
    auto theirs = std::dynamic_pointer_cast<QVNMailCell>(cellAt(thread->tableView, 0));
    auto mine = std::dynamic_pointer_cast<QVNMailCell>(cellAt(thread->tableView, 1));
    ASSERT_TRUE(theirs && mine);
    EXPECT_EQ(theirs->reuseIdentifier(), std::string("MessageMeCell"));
    EXPECT_EQ(mine->reuseIdentifier(), std::string("MessageOtherCell"));
    EXPECT_EQ(mine->contentLabel.lock()->text(), "我先说");

    // A refused send: the text stays, nothing joins.
    server.expireTokens();
    UITextEntryDriver::typeText(thread->textView.lock(), "在吗");
    thread->sendMail(nullptr);
    ASSERT_TRUE(waitAdvancing([&] { return alertTitle() == std::string("帐号失效请重新登录"); }));
    EXPECT_EQ(thread->mails().count(), 2u);
    EXPECT_EQ(thread->textView.lock()->text(), "在吗");

    // Signed in again, the send goes through and the other user answers through the server.
    signIn();
    thread->sendMail(nullptr);
    ASSERT_TRUE(waitAdvancing([&] { return thread->mails().count() == 3; }));
    auto sent = thread->mails().lastObject().objectAs<QVNMail>();
    EXPECT_EQ(sent->message_content, "在吗");
    EXPECT_EQ(sent->sender_nickname, me->user_nickname);
    EXPECT_EQ(sent->message_time->size(), 19u);
    EXPECT_TRUE(thread->textView.lock()->text().empty());
    auto post = server.requestsTo("message/sendmail.do").back();
    EXPECT_EQ(post.formParam("receiver_uid"), "2");
    EXPECT_EQ(server.mails().back().receiver_uid, 2);

    server.sendMail(2, 1, "在的");
    UIScrollView_PullRefresh::header(*thread->tableView.lock())->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return thread->mails().count() == 4; }));
    EXPECT_EQ(thread->mails().lastObject().objectAs<QVNMail>()->message_content, "在的");
    // Opened from elsewhere than the centre: leaving posts nothing.
    thread->goBack(nullptr);
    EXPECT_EQ(posted["updateRead"], 0);
}

TEST_F(MessageScreensTest, TheKeyboardLiftsTheEntryBar) {
    signIn();
    auto thread = push<MailListlViewController>("MailListlViewController");
    UITextEntryDriver::focus(thread->textView.lock());
    EXPECT_EQ(thread->bottmViewBottomConstraint.lock()->constant(), UITextEntryDriver::keyboardHeight());
    thread->view()->endEditing(true);
    EXPECT_EQ(thread->bottmViewBottomConstraint.lock()->constant(), 0);
}

TEST_F(MessageScreensTest, TheFriendListOpensThreadsProfilesAndTheSearch) {
    signIn();
    auto list = push<FriendListViewController>("FriendListViewController");
    ASSERT_TRUE(waitAdvancing([&] { return list->friends().count() == 1 && !refreshing(list->tableView); }));
    settle();
    auto cell = std::dynamic_pointer_cast<QVNFriendCell>(cellAt(list->tableView, 0));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->userNameLabel.lock()->text(), "赛道老王");

    list->tableViewDidSelectRowAtIndexPath(*list->tableView.lock(), NSIndexPath::indexPathForRow(0, 0));
    settle(0.6);
    ASSERT_EQ(navigation->topViewController(), list->mailListVc());
    EXPECT_EQ(list->mailListVc()->friendUid()->integerValue(), 2);
    list->mailListVc()->goBack(nullptr);
    settle(0.6);
    EXPECT_EQ(posted["updateRead"], 0);

    cell->tapUserImageAction(nullptr);
    settle(0.6);
    auto profile = std::dynamic_pointer_cast<UserInfoViewController>(navigation->topViewController());
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->uid()->integerValue(), 2);
    navigation->popViewControllerAnimated(false);
    settle();

    list->goToAddFriendVC(nullptr);
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), list->addFriendVc());
}

TEST_F(MessageScreensTest, SearchingAddsAFriendOnlyWhenTheServerAgrees) {
    signIn();
    auto search = push<AddFriendViewController>("AddFriendViewcontroller");
    auto field = search->seachfiled.lock();
    UITextEntryDriver::typeText(field, "没有这个人");
    UITextEntryDriver::pressReturn(field);
    ASSERT_TRUE(waitAdvancing(
        [&] { return search->hud() && search->hud()->labelText() == std::string("没有数据"); }));
    EXPECT_TRUE(search->friendsArr().empty());

    field->setText(std::string());
    UITextEntryDriver::typeText(field, "小");
    UITextEntryDriver::pressReturn(field);
    ASSERT_TRUE(waitAdvancing([&] { return search->friendsArr().count() == 1; }));
    settle();
    auto row = std::dynamic_pointer_cast<QVNAddFriendCell>(cellAt(search->addFriendTableView, 0));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->userName.lock()->text(), "小雨");
    EXPECT_FALSE(row->friends()->isFriend);
    EXPECT_FALSE(row->addFriendBtn.lock()->isHidden());

    // Refused by a stale token: the sign-in alert, and the record stays a stranger.
    server.expireTokens();
    row->addFriend(nullptr);
    ASSERT_TRUE(waitAdvancing([&] { return alertTitle() == std::string("帐号失效请重新登录"); }));
    EXPECT_FALSE(row->friends()->isFriend);
    EXPECT_FALSE(server.areFriends(1, 3));
    EXPECT_FALSE(row->addFriendBtn.lock()->isHidden());
    signIn();

    // Any other failure: the network text, and still no flag.
    devserver::RouteControl broken;
    broken.status = 500;
    broken.times = 1;
    server.setRouteControl("friend/add.do", broken);
    row->addFriend(nullptr);
    ASSERT_TRUE(
        waitAdvancing([&] { return search->hud()->labelText() == std::string("网络连接出错，请重新尝试"); }));
    EXPECT_FALSE(row->friends()->isFriend);
    server.setFriends(1, 3, false);  // the bent reply came after the server had acted

    row->addFriend(nullptr);
    ASSERT_TRUE(waitAdvancing([&] { return search->hud()->labelText() == std::string("添加成功"); }));
    EXPECT_TRUE(server.areFriends(1, 3));
    EXPECT_TRUE(search->friendsArr()[0].objectAs<QVNFriend>()->isFriend);
    clock.advance(1.2);
    auto again = std::dynamic_pointer_cast<QVNAddFriendCell>(cellAt(search->addFriendTableView, 0));
    EXPECT_TRUE(again->addFriendBtn.lock()->isHidden());

    // A pull-down whose search fails still ends.
    server.setRouteControl("user/searchuser.do", broken);
    auto header = UIScrollView_PullRefresh::header(*search->addFriendTableView.lock());
    ASSERT_TRUE(header);
    header->beginRefreshing();
    ASSERT_TRUE(
        waitAdvancing([&] { return requestsTo("user/searchuser.do") == 3 && !header->isRefreshing(); }));
    EXPECT_EQ(search->friendsArr().count(), 1u);  // the failed search keeps the rows
}

TEST_F(MessageScreensTest, ThePagedInboxAddsItsPagesAsTheyAreReached) {
    signIn();
    auto container = push<MessageAllListController>("MessageAllListController");
    ASSERT_EQ(container->childViewControllers().size(), 3u);
    auto pager = container->scrollView.lock();
    EXPECT_TRUE(pager->isPagingEnabled());
    EXPECT_EQ(pager->contentSize().width, 3 * UIScreen::mainScreen()->bounds().size.width);
    auto first = std::dynamic_pointer_cast<MessageListViewController>(container->childViewControllers()[0]);
    auto third = std::dynamic_pointer_cast<MessageListViewController>(container->childViewControllers()[2]);
    EXPECT_EQ(first->view()->superview(), pager);
    EXPECT_FALSE(third->isViewLoaded() && third->view()->superview());
    ASSERT_TRUE(waitAdvancing(
        [&] { return first->messagesDataSource() && first->messagesDataSource()->items().count() == 1; }));
    EXPECT_EQ(first->cellIdentifier(), "messageImageCell");
    EXPECT_EQ(container->selectedButton(), container->mailButton.lock());

    container->showSystem(nullptr);
    settle(0.6);
    EXPECT_EQ(container->selectedButton(), container->systemButton.lock());
    EXPECT_EQ(third->view()->superview(), pager);
    EXPECT_EQ(third->cellIdentifier(), "messageCell");
    EXPECT_TRUE(container->systemButton.lock()
                    ->titleColorForState(UIControlStateNormal)
                    ->isEqual(*UIColor::blackColor()));
    EXPECT_TRUE(container->mailButton.lock()
                    ->titleColorForState(UIControlStateNormal)
                    ->isEqual(*UIColor::grayColor()));
    ASSERT_TRUE(waitAdvancing([&] { return third->messagesDataSource() != nullptr; }));

    // Past the last page the system tab stays selected.
    pager->setContentOffset(CGPointMake(pager->contentSize().width, 0));
    EXPECT_EQ(container->selectedButton(), container->systemButton.lock());

    // A mail row opens its thread from the row's message.
    first->tableViewDidSelectRowAtIndexPath(*first->tableView(), NSIndexPath::indexPathForRow(0, 0));
    settle(0.6);
    auto thread = std::dynamic_pointer_cast<MailListlViewController>(navigation->topViewController());
    ASSERT_TRUE(thread);
    EXPECT_FALSE(thread->friendUid());
    EXPECT_EQ(thread->correspondent()->integerValue(), 2);
}

namespace {

// The question detail as the message centre reaches it: by storyboard and hand-over interface.
class QuestionDetailStandIn : public UIViewController, public QVNQuestionScreens::QuestionDetailHandOver {
  public:
    std::string className() const override { return "QuestionDetailStandIn"; }
    void setQuestionId(const std::optional<NSNumber>& questionId) override { questionId_ = questionId; }
    void setIsFromMessafeVc(bool from) override { fromMessages_ = from; }
    std::optional<NSNumber> questionId_;
    bool fromMessages_ = false;
};

}  // namespace

TEST_F(MessageScreensTest, AReplyRowOpensItsQuestionAndComingBackRefreshesTheReplies) {
    UIStoryboard::registerScene(
        QVNQuestionScreens::kStoryboard, QVNQuestionScreens::kQuestionDetailIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<QuestionDetailStandIn>(); });
    signIn();
    auto centre = openCentre();
    ASSERT_EQ(centre->rizUrMessages().count(), 1u);
    centre->tableViewDidSelectRowAtIndexPath(*centre->rizUrTableView.lock(),
                                             NSIndexPath::indexPathForRow(0, 0));
    settle(0.6);
    auto question = std::dynamic_pointer_cast<QuestionDetailStandIn>(navigation->topViewController());
    ASSERT_TRUE(question);
    EXPECT_EQ(question->questionId_->integerValue(), 1);
    EXPECT_TRUE(question->fromMessages_);
    ASSERT_TRUE(waitAdvancing([&] {
        for (const auto& notice : server.notices(1))
            if (notice.category == 2 && !notice.read) return false;
        return true;
    }));
    std::size_t before = requestsTo("message/getmessage.do");
    NSNotificationCenter::defaultCenter()->postNotificationName(
        QVNQuestionScreens::kReadFromQuestionNotification, nullptr,
        Dictionary{{"isUpdateFromeQuestion", "YES"}});
    navigation->popViewControllerAnimated(false);
    ASSERT_TRUE(waitAdvancing([&] { return requestsTo("message/getmessage.do") == before + 1; }));
    EXPECT_EQ(server.requestsTo("message/getmessage.do").back().queryParam("category"), "2");
    EXPECT_EQ(centre->isFromeDetailQuestionStr(), "NO");
    UIStoryboard::unregisterStoryboard(QVNQuestionScreens::kStoryboard);
}
