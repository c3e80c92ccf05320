#include "information/NewsDetailViewController.h"

#include "app/KeyboardMove.h"
#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNAccountScreens.h"
#include "app/QVNTextRules.h"
#include "app/QVNUserManager.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "controls/UITableView+TLTemplateLayoutCell.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UISwipeGestureRecognizer.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITextInputMode.h"
#include "uikit/UIWindow.h"

namespace {

Ref<QVNUser> signedInUser() {
    return QVNUserManager::shareObject()->currentUser();
}

void showAlert(const std::string& title) {
    make<UIAlertView>(title, std::nullopt, nullptr, std::string("确定"))->show();
}

Ref<UIViewController> accountScreen(const std::string& identifier) {
    if (!UIStoryboard::hasStoryboardNamed(QVNAccountScreens::kStoryboard)) return nullptr;
    Ref<UIStoryboard> storyboard = UIStoryboard::storyboardWithName(QVNAccountScreens::kStoryboard, nullptr);
    return storyboard ? storyboard->instantiateViewControllerWithIdentifier(identifier) : nullptr;
}

}  // namespace

// ---- state ------------------------------------------------------------------------------------------

const Ref<QVNNewsCommunicator>& NewsDetailViewController::communicator() {
    if (!communicator_) communicator_ = make<QVNNewsCommunicator>();
    return communicator_;
}

const Ref<QVNNewsDetailView>& NewsDetailViewController::detailView() {
    if (!detailView_) {
        detailView_ = QVNNewsDetailView::loadFromNib();
        if (detailView_) {
            detailView_->setDelegate(selfAs<NewsDetailViewController>());
            if (Ref<UITableView> table = tableView.lock()) table->setTableHeaderView(detailView_);
        }
    }
    return detailView_;
}

const Ref<UIView>& NewsDetailViewController::backgroundMaskView() {
    if (!backgroundMaskView_) {
        backgroundMaskView_ = make<UIView>(view()->bounds());
        backgroundMaskView_->setBackgroundColor(UIColor::clearColor());
        backgroundMaskView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth |
                                                 UIViewAutoresizingFlexibleHeight);
        view()->insertSubviewAtIndex(backgroundMaskView_, 1);
        Weak<NewsDetailViewController> weak = selfAs<NewsDetailViewController>();
        auto tapped = [weak](const Ref<UIGestureRecognizer>&) {
            if (auto self = weak.lock()) self->backgroundMaskViewTapped();
        };
        backgroundMaskView_->addGestureRecognizer(make<UITapGestureRecognizer>(self(), tapped));
        backgroundMaskView_->addGestureRecognizer(make<UIPanGestureRecognizer>(self(), tapped));
    }
    return backgroundMaskView_;
}

const Ref<VHProgressHUD>& NewsDetailViewController::hud() {
    if (!hud_) {
        Ref<UINavigationController> navigation = navigationController();
        hud_ = VHProgressHUD::showHUDAddedTo(navigation ? navigation->view() : view(), false);
    }
    return hud_;
}

std::vector<Ref<QVNNewsComment>> NewsDetailViewController::comments() const {
    std::vector<Ref<QVNNewsComment>> shown;
    if (!commentsArrayDataSource_) return shown;
    for (const Value& item : commentsArrayDataSource_->items())
        if (auto comment = item.objectAs<QVNNewsComment>()) shown.push_back(comment);
    return shown;
}

long NewsDetailViewController::rowOf(const Ref<QVNNewsComment>& comment) const {
    if (!commentsArrayDataSource_ || !comment) return -1;
    const Array& items = commentsArrayDataSource_->items();
    for (std::size_t i = 0; i < items.count(); ++i)
        if (items[i].objectAs<QVNNewsComment>() == comment) return static_cast<long>(i);
    return -1;
}

void NewsDetailViewController::showHUDText(const std::string& text, double hideAfter) {
    const Ref<VHProgressHUD>& h = hud();
    h->setMode(VHProgressHUDModeText);
    h->setLabelText(text);
    h->show(true);
    h->hide(true, hideAfter);
}

// ---- the screen ---------------------------------------------------------------------------------------

void NewsDetailViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (Ref<UIButton> share = shareBtn.lock()) share->setHidden(true);
    if (Ref<UIButton> send = replyButton.lock()) send->setEnabled(false);
    if (Ref<UITextView> text = replyTextView.lock()) text->setDelegate(selfAs<NewsDetailViewController>());
    Weak<NewsDetailViewController> weak = selfAs<NewsDetailViewController>();
    if (Ref<UITableView> table = tableView.lock()) {
        table->setDelegate(selfAs<NewsDetailViewController>());
        table->registerClass(
            [](const std::string& identifier) -> Ref<UITableViewCell> {
                return QVNNewsCommentCell::makePrototype(identifier);
            },
            QVNNewsCommentCell::kIdentifier);
        // The list exists from the start, empty, so that a reply on an article nobody commented
        // on yet has a place to appear.
        commentsArrayDataSource_ =
            make<ArrayDataSource>(Array::mutableArray(), QVNNewsCommentCell::kIdentifier,
                                  [weak](const Ref<UIView>& cell, const Value& item) {
                                      auto self = weak.lock();
                                      auto row = std::dynamic_pointer_cast<QVNNewsCommentCell>(cell);
                                      if (self && row)
                                          self->configureCell(row, item.objectAs<QVNNewsComment>());
                                  });
        commentsArrayDataSource_->setTableView(table);
        table->setDataSource(commentsArrayDataSource_);
        UIScrollView_PullRefresh::setFooter(table,
                                            PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
                                                if (auto self = weak.lock()) self->loadMoreComments();
                                            }));
    }
    detailView();
    loadNewsDetail();
    loadComments();
    auto swipe = make<UISwipeGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>&) {
        auto self = weak.lock();
        if (!self) return;
        if (auto navigation = self->navigationController()) navigation->popViewControllerAnimated(true);
    });
    swipe->setDirection(UISwipeGestureRecognizerDirectionRight);
    view()->addGestureRecognizer(swipe);
}

void NewsDetailViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (Ref<UILabel> title = titleText.lock()) title->setText(titleTextPass_);
}

void NewsDetailViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    // Once per screen: observing again on every appearance would run the handler once per
    // appearance so far.
    if (observingKeyboard_) return;
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(selfAs<NewsDetailViewController>(),
                        &NewsDetailViewController::handleKeyboardNotification,
                        std::string(UIKeyboardWillShowNotification));
    center->addObserver(selfAs<NewsDetailViewController>(),
                        &NewsDetailViewController::handleKeyboardNotification,
                        std::string(UIKeyboardWillHideNotification));
    observingKeyboard_ = true;
}

void NewsDetailViewController::loadNewsDetail() {
    NS_ASSERT_MAIN_THREAD();
    Weak<NewsDetailViewController> weak = selfAs<NewsDetailViewController>();
    communicator()->getDetailForNewsId(
        news_ ? news_->news_id : std::nullopt, [weak](const std::optional<Dictionary>& reply) {
            auto self = weak.lock();
            if (!self) return;
            Ref<QVNNews> loaded;
            if (reply) loaded = NSObject_RMKeyValue::objectWithKeyValues<QVNNews>(Value(*reply));
            if (!loaded) {
                self->showHUDText("加载失败", 1.5);
                return;
            }
            self->news_ = loaded;
            if (auto header = self->detailView()) header->updateWithData(loaded);
        });
}

void NewsDetailViewController::loadComments() {
    NS_ASSERT_MAIN_THREAD();
    Weak<NewsDetailViewController> weak = selfAs<NewsDetailViewController>();
    communicator()->getNewsCommentsForNewsId(
        news_ ? news_->news_id : std::nullopt, std::nullopt,
        [weak](const std::optional<std::vector<Ref<QVNNewsComment>>>& comments) {
            auto self = weak.lock();
            if (!self || !comments || comments->empty() || !self->commentsArrayDataSource_) return;
            Array& items = self->commentsArrayDataSource_->items();
            items.removeAllObjects();
            for (const auto& comment : *comments) items.addObject(Value(comment));
            if (Ref<UITableView> table = self->tableView.lock()) table->reloadData();
        });
}

void NewsDetailViewController::loadMoreComments() {
    NS_ASSERT_MAIN_THREAD();
    Ref<UITableView> table = tableView.lock();
    // The user's own new comments come back only through the server's pages, in their place.
    if (commentsArrayDataSource_) {
        Array& items = commentsArrayDataSource_->items();
        for (const auto& own : currentUserComments_) {
            for (std::size_t i = items.count(); i-- > 0;)
                if (items[i].objectAs<QVNNewsComment>() == own) items.removeObjectAtIndex(i);
        }
    }
    std::vector<Ref<QVNNewsComment>> shown = comments();
    std::optional<NSNumber> last = shown.empty() ? std::nullopt : shown.back()->comment_id;
    Weak<NewsDetailViewController> weak = selfAs<NewsDetailViewController>();
    communicator()->getNewsCommentsForNewsId(
        news_ ? news_->news_id : std::nullopt, last,
        [weak](const std::optional<std::vector<Ref<QVNNewsComment>>>& comments) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView.lock();
            auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
            if (comments && !comments->empty() && self->commentsArrayDataSource_) {
                for (const auto& comment : *comments) self->commentsArrayDataSource_->addItem(Value(comment));
                if (table) table->reloadData();
                if (footer) footer->endRefreshing();
            } else {
                if (table) table->reloadData();
                if (footer) footer->endRefreshingWithNoMoreData();
            }
        });
    if (table) table->reloadData();
}

// ---- the header -------------------------------------------------------------------------------------------

void NewsDetailViewController::detailViewDismissButtonTapped(const Ref<QVNNewsDetailView>&) {
    Ref<UIApplication> application = UIApplication::sharedApplication();
    Ref<UIWindow> window = application ? application->keyWindow() : nullptr;
    auto navigation =
        window ? std::dynamic_pointer_cast<UINavigationController>(window->rootViewController()) : nullptr;
    if (navigation) navigation->popViewControllerAnimated(true);
}

void NewsDetailViewController::detailViewDidRefreshHeight(const Ref<QVNNewsDetailView>& header) {
    // Setting the header again makes the table take its new height.
    if (Ref<UITableView> table = tableView.lock()) table->setTableHeaderView(header);
}

// ---- the comments
// -------------------------------------------------------------------------------------------

void NewsDetailViewController::configureCell(const Ref<QVNNewsCommentCell>& cell,
                                             const Ref<QVNNewsComment>& comment) {
    cell->setComment(comment);
    Weak<NewsDetailViewController> weak = selfAs<NewsDetailViewController>();
    cell->replyCommentBlock = [weak](const Ref<QVNNewsComment>& tapped) {
        if (auto self = weak.lock()) self->handleClickCommentButtonWithComment(tapped);
    };
    cell->likeBlock = [weak](const Ref<QVNNewsComment>& tapped) {
        if (auto self = weak.lock()) self->handleClickLikeButtonWithComment(tapped);
    };
    cell->checkUserInfoBlock = [weak](const Ref<QVNNewsComment>& tapped) {
        if (auto self = weak.lock()) self->handleClickUserIconWithComment(tapped);
    };
}

std::optional<CGFloat>
NewsDetailViewController::tableViewHeightForRowAtIndexPath(UITableView& table,
                                                           const Ref<NSIndexPath>& indexPath) {
    Ref<QVNNewsComment> comment =
        commentsArrayDataSource_
            ? commentsArrayDataSource_->itemAtIndexPath(indexPath).objectAs<QVNNewsComment>()
            : nullptr;
    return UITableView_TLTemplateLayoutCell::tl_heightForCellWithIdentifier(
        table, std::string(QVNNewsCommentCell::kIdentifier), [comment](const Ref<UITableViewCell>& cell) {
            if (auto row = std::dynamic_pointer_cast<QVNNewsCommentCell>(cell)) row->setComment(comment);
        });
}

void NewsDetailViewController::handleClickCommentButtonWithComment(const Ref<QVNNewsComment>& tapped) {
    if (!tapped) return;
    comment_ = tapped;
    isReplyNew_ = false;
    if (Ref<UIButton> send = replyButton.lock()) send->setEnabled(false);
    if (Ref<UITextView> text = replyTextView.lock()) {
        text->setText("@" + tapped->user_nickname.value_or("") + ":");
        text->becomeFirstResponder();
    }
}

void NewsDetailViewController::handleClickLikeButtonWithComment(const Ref<QVNNewsComment>& tapped) {
    if (!tapped) return;
    if (!signedInUser()) {
        pushLogin();
        return;
    }
    // A like is about this comment only; it does not choose the comment a later text answers.
    tapped->addLikeCount();
    communicator()->likeCommentWithCommentId(tapped->comment_id);
    long row = rowOf(tapped);
    if (Ref<UITableView> table = tableView.lock(); table && row >= 0)
        table->reloadRowsAtIndexPaths({NSIndexPath::indexPathForRow(row, 0)}, UITableViewRowAnimationNone);
}

void NewsDetailViewController::handleClickUserIconWithComment(const Ref<QVNNewsComment>& tapped) {
    Ref<QVNUser> user = signedInUser();
    if (!user) {
        pushLogin();
        return;
    }
    Ref<UIViewController> profile = accountScreen(QVNAccountScreens::kUserInfoIdentifier);
    Ref<UINavigationController> navigation = navigationController();
    if (!profile || !navigation || !tapped) return;
    if (auto handOver = std::dynamic_pointer_cast<QVNAccountScreens::UserInfoHandOver>(profile)) {
        long own = user->user_id ? user->user_id->integerValue() : 0;
        long author = tapped->uid ? tapped->uid->integerValue() : 0;
        if (own != author)
            handOver->setUid(tapped->uid);
        else
            handOver->setUser(user);
    }
    navigation->pushViewController(profile, true);
}

void NewsDetailViewController::pushLogin() {
    Ref<UIViewController> login = accountScreen(QVNAccountScreens::kLoginIdentifier);
    Ref<UINavigationController> navigation = navigationController();
    if (login && navigation) navigation->pushViewController(login, true);
}

// ---- the reply bar
// -------------------------------------------------------------------------------------------

void NewsDetailViewController::textViewDidChange(UITextView& textView) {
    bool empty = textView.text().empty();
    if (Ref<UIButton> send = replyButton.lock()) send->setEnabled(!empty);
    // An emptied field starts over: the next text comments on the article.
    if (empty) comment_ = nullptr;
}

std::optional<bool> NewsDetailViewController::textViewShouldChangeTextInRange(UITextView&, NSRange,
                                                                              const std::string& text) {
    // The emoji keyboard types nothing here; its delete key still deletes.
    Ref<UITextInputMode> mode = UITextInputMode::currentInputMode();
    if (mode && mode->primaryLanguage() == std::optional<std::string>("emoji") && !text.empty()) return false;
    return true;
}

void NewsDetailViewController::textViewDidEndEditing(UITextView& textView) {
    replytext_ = textView.text();
}

void NewsDetailViewController::scrollViewWillBeginDragging(UIScrollView& scrollView) {
    if (&scrollView == static_cast<UIScrollView*>(replyTextView.lock().get())) return;
    view()->endEditing(true);
}

void NewsDetailViewController::reply(const Ref<NSObject>&) {
    Ref<UITextView> field = replyTextView.lock();
    std::string text = field ? field->text() : std::string();
    if (text.empty()) {
        showAlert("请输入内容");
        return;
    }
    if (QVNTextRules::stringContainsEmoji(text)) {
        showAlert("请去掉表情再提交内容");
        return;
    }
    if (!signedInUser()) {
        pushLogin();
        return;
    }
    // One reply at a time: a second tap while the first is under way would post the text twice.
    if (sending_) return;
    sending_ = true;
    if (Ref<UIButton> send = replyButton.lock()) send->setEnabled(false);
    Ref<QVNNewsComment> target = comment_;
    // The completion keeps the screen: a reply under way is shown even if the user looked away.
    Ref<NewsDetailViewController> self = selfAs<NewsDetailViewController>();
    communicator()->replyWithNewsId(
        news_ ? news_->news_id : std::nullopt, text, target ? target->comment_id : std::nullopt,
        [self, target](const Ref<QVNNewsComment>& posted, const Ref<NSError>& error) {
            self->sending_ = false;
            if (posted && !error) {
                if (target) target->addReplyCount();
                self->refreshTableViewWithComment(posted);
                return;
            }
            // The text stays for another try.
            Ref<UITextView> field = self->replyTextView.lock();
            if (Ref<UIButton> send = self->replyButton.lock())
                send->setEnabled(field && !field->text().empty());
            self->handleReplyError(error);
        });
}

void NewsDetailViewController::refreshTableViewWithComment(const Ref<QVNNewsComment>& posted) {
    Ref<VHProgressHUD> done = VHProgressHUD::showHUDAddedTo(view(), true);
    done->setMode(VHProgressHUDModeText);
    done->setLabelText(std::string("回复成功"));
    done->setRemoveFromSuperViewOnHide(true);
    currentUserComments_.push_back(posted);
    if (commentsArrayDataSource_) commentsArrayDataSource_->addItem(Value(posted));
    if (Ref<UITableView> table = tableView.lock()) table->reloadData();
    // The answer is sent: the next text comments on the article unless another comment is chosen.
    comment_ = nullptr;
    if (Ref<UITextView> field = replyTextView.lock()) {
        field->setText(std::string());
        field->resignFirstResponder();
    }
    if (Ref<UIButton> send = replyButton.lock()) send->setEnabled(false);
    done->hide(true, 1.5);
}

void NewsDetailViewController::handleReplyError(const Ref<NSError>& error) {
    if (error && error->domain() == QVNAPIErrorDomain && error->code() == QVNResultCodeInvalidToken) {
        showAlert("帐号失效请重新登录");
        QVNUserManager::shareObject()->logOut();
        return;
    }
    showHUDText("回复失败", 1.0);
}

void NewsDetailViewController::handleKeyboardNotification(const Ref<NSNotification>& notification) {
    KeyboardMove move = KeyboardMove::fromNotification(*notification);
    if (!move.showing && notification->name() != UIKeyboardWillHideNotification) return;
    // The mask catches a tap beside the keyboard; with the keyboard gone it would only swallow the
    // next tap on a comment.
    backgroundMaskView()->setHidden(!move.showing);
    CGFloat height = move.showing ? move.height() : 0;
    Weak<NewsDetailViewController> weak = selfAs<NewsDetailViewController>();
    move.animate([weak, height] {
        auto self = weak.lock();
        if (!self) return;
        if (auto bottom = self->inputbarBottomConstraint.lock()) bottom->setConstant(height);
        self->view()->layoutIfNeeded();
    });
}

void NewsDetailViewController::backgroundMaskViewTapped() {
    view()->endEditing(true);
    if (backgroundMaskView_) backgroundMaskView_->setHidden(true);
}
