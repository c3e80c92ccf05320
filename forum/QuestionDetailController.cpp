#include "forum/QuestionDetailController.h"

#include "app/KeyboardMove.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "controls/GHProgressHUD.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "forum/ForumResources.h"
#include "forum/ForumSupport.h"
#include "forum/QVNQuestion.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "graphics/UIColor.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UIViewAnimation.h"

using namespace detail::forum;

namespace {

constexpr char kPlaceholder[] = "回复楼主";
constexpr UIViewAnimationOptions kPanelOptions = UIViewAnimationOptionLayoutSubviews |
                                                 UIViewAnimationOptionAllowUserInteraction |
                                                 UIViewAnimationOptionBeginFromCurrentState;

std::string textOf(const Ref<UITextView>& view) {
    return view ? view->text() : std::string();
}

}  // namespace

const Ref<VHProgressHUD>& QuestionDetailController::hub() {
    if (!hub_) {
        hub_ = make<VHProgressHUD>(view());
        view()->addSubview(hub_);
    }
    return hub_;
}

const Ref<QVNRizUrDetailView>& QuestionDetailController::detailView() {
    if (!detailView_) {
        detailView_ = QVNRizUrDetailView::loadFromNib();
        detailView_->setDelegate(selfAs<QuestionDetailController>());
        if (Ref<UITableView> table = tableView.lock()) table->setTableHeaderView(detailView_);
        Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
        detailView_->addGestureRecognizer(
            make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>&) {
                if (auto self = weak.lock()) self->tapColseKeyBoard();
            }));
        if (Ref<UIWebView> web = detailView_->webView.lock()) {
            auto tap = make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>&) {
                if (auto self = weak.lock()) self->webTap();
            });
            tap->setDelegate(selfAs<QuestionDetailController>());
            web->addGestureRecognizer(tap);
        }
    }
    return detailView_;
}

// ---- the screen ---------------------------------------------------------------------------------------

void QuestionDetailController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (Ref<UITextView> text = replyTextView.lock()) {
        text->setDelegate(selfAs<QuestionDetailController>());
        text->setText(std::string(kPlaceholder));
        text->setTextColor(UIColor::grayColor());
    }
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    if (Ref<UITableView> table = tableView.lock()) {
        UIScrollView_PullRefresh::setHeader(table, PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
                                                if (auto self = weak.lock()) self->loadFirstPage();
                                            }));
        UIScrollView_PullRefresh::setFooter(table,
                                            PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
                                                if (auto self = weak.lock()) self->loadNextPage();
                                            }));
        UIScrollView_PullRefresh::header(*table)->beginRefreshing();
    }
    tapLikeButton();
    tapUserImageaction();
    if (Ref<UITableView> table = tableView.lock()) table->setTableFooterView(make<UIView>());
    addTheMessagePhotoView();
}

void QuestionDetailController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    setUpHeaderView();
    if (Ref<UIButton> mask = maskButton.lock()) mask->setHidden(true);
    if (!observingKeyboard_) {
        auto center = NSNotificationCenter::defaultCenter();
        center->addObserver(selfAs<QuestionDetailController>(),
                            &QuestionDetailController::handleKeyboardNotification,
                            std::string(UIKeyboardWillShowNotification));
        center->addObserver(selfAs<QuestionDetailController>(),
                            &QuestionDetailController::handleKeyboardNotification,
                            std::string(UIKeyboardWillHideNotification));
        observingKeyboard_ = true;
    }
}

UIInterfaceOrientationMask QuestionDetailController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait;
}

UIInterfaceOrientation QuestionDetailController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationPortrait;
}

// ---- the header ---------------------------------------------------------------------------------------

void QuestionDetailController::setUpHeaderView() {
    hub()->show(true);
    if (detailQuestion_) {
        detailView()->updateWithData(detailQuestion_);
        return;
    }
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    QVNDetailQuestion::getDetailQuestionWithQuestion(
        questionId_, [weak](const Ref<QVNDetailQuestion>& question, const Ref<NSError>&) {
            auto self = weak.lock();
            if (!self) return;
            if (question) {
                self->detailQuestion_ = question;
                self->detailView()->updateWithData(question);
            } else {
                self->showError();
                self->hub()->hide(true);
            }
        });
}

void QuestionDetailController::detailViewDidRefreshHeight(const Ref<QVNRizUrDetailView>& view) {
    hub()->hide(true);
    // Setting the header again makes the table take its new height.
    if (Ref<UITableView> table = tableView.lock()) table->setTableHeaderView(view);
}

void QuestionDetailController::tapLikeButton() {
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    detailView()->likeBlock = [weak](const Ref<QVNRizUrDetailView>& header) {
        auto self = weak.lock();
        if (!self) return;
        if (!currentUser()) {
            pushLogin(self->navigationController(), false);
            return;
        }
        Weak<QVNRizUrDetailView> weakHeader = header;
        QVNQuestion::likeWithQuestion(self->questionId_, [weak, weakHeader](const Value& reply,
                                                                            const Ref<NSError>& error) {
            auto self = weak.lock();
            auto header = weakHeader.lock();
            if (error) {
                if (isInvalidToken(error)) showInvalidTokenAlert(true);
                return;
            }
            if (!self || !header) return;
            std::optional<NSNumber> count;
            if (const NSNumber* like = reply["like"].number())
                count = *like;
            else if (self->detailQuestion_)
                count = self->detailQuestion_->like;
            Ref<UIButton> button = header->likeButton.lock();
            if (!button) return;
            char title[32];
            std::snprintf(title, sizeof title, "(%lld)", count ? count->longLongValue() : 0LL);
            button->setTitle(std::string(title), UIControlStateNormal);
            const NSNumber* liked = reply["is_like"].number();
            button->setImage(imageNamed(liked && liked->integerValue() != 0 ? "dianzan_down" : "dianzan_up"),
                             UIControlStateNormal);
        });
    };
}

void QuestionDetailController::tapUserImageaction() {
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    detailView()->tapUserImgBlock = [weak](const Ref<QVNRizUrDetailView>&) {
        auto self = weak.lock();
        if (!self) return;
        if (!currentUser()) {
            pushLogin(self->navigationController(), false);
            return;
        }
        pushProfile(self->navigationController(),
                    self->detailQuestion_ ? self->detailQuestion_->uid : std::nullopt);
    };
}

void QuestionDetailController::webTap() {
    hidePhotoViewAndKeyBoard();
}

void QuestionDetailController::tapColseKeyBoard() {
    hidePhotoViewAndKeyBoard();
}

// ---- answers --------------------------------------------------------------------------------------------

void QuestionDetailController::loadFirstPage() {
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    QVNQuestionComment::getCommentsWithQuestion(
        questionId_, [weak](const std::optional<QVNQuestionComment::List>& list, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView.lock();
            auto endHeader = [table] {
                if (table)
                    if (auto header = UIScrollView_PullRefresh::header(*table)) header->endRefreshing();
            };
            if (error || !list) {
                if (isInvalidToken(error)) showInvalidTokenAlert(true);
                endHeader();
                return;
            }
            QVNQuestionComment::List answers = *list;
            QVNRizUrDetailFrame::framesForComments(
                answers, [weak, answers, endHeader](std::vector<Ref<QVNRizUrDetailFrame>> frames) {
                    auto self = weak.lock();
                    if (self) {
                        self->comments_ = answers;
                        self->commentsFrame_ = std::move(frames);
                        if (Ref<UITableView> table = self->tableView.lock()) {
                            table->reloadData();
                            if (auto footer = UIScrollView_PullRefresh::footer(*table))
                                footer->resetNoMoreData();
                        }
                    }
                    endHeader();
                });
        });
}

void QuestionDetailController::loadNextPage() {
    Ref<UITableView> table = tableView.lock();
    auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
    if (comments_.empty()) {
        // No answer to page after: nothing would end the footer otherwise.
        if (footer) footer->endRefreshingWithNoMoreData();
        return;
    }
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    QVNQuestionComment::getMoreCommentsWithQuestion(
        questionId_, comments_.back(),
        [weak](const std::optional<QVNQuestionComment::List>& list, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView.lock();
            auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
            if (error || !list || list->empty()) {
                if (footer) footer->endRefreshingWithNoMoreData();
                return;
            }
            QVNQuestionComment::List answers = *list;
            QVNRizUrDetailFrame::framesForComments(
                answers, [weak, answers](std::vector<Ref<QVNRizUrDetailFrame>> frames) {
                    auto self = weak.lock();
                    if (!self) return;
                    self->comments_.insert(self->comments_.end(), answers.begin(), answers.end());
                    self->commentsFrame_.insert(self->commentsFrame_.end(), frames.begin(), frames.end());
                    if (Ref<UITableView> table = self->tableView.lock()) {
                        table->reloadData();
                        if (auto footer = UIScrollView_PullRefresh::footer(*table)) footer->endRefreshing();
                    }
                });
        });
}

long QuestionDetailController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(std::min(comments_.size(), commentsFrame_.size()));
}

Ref<UITableViewCell>
QuestionDetailController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                         const Ref<NSIndexPath>& indexPath) {
    auto cell = std::dynamic_pointer_cast<QVNRizUrDetailCell>(table.cellForRowAtIndexPath(indexPath));
    if (!cell)
        cell = std::dynamic_pointer_cast<QVNRizUrDetailCell>(
            table.dequeueReusableCellWithIdentifier(kCellIdentifier));
    if (!cell) {
        cell = make<QVNRizUrDetailCell>(UITableViewCellStyleDefault, std::string(kCellIdentifier));
        cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
    }
    configureCommentCell(cell, indexPath);
    return cell;
}

std::optional<CGFloat>
QuestionDetailController::tableViewHeightForRowAtIndexPath(UITableView&, const Ref<NSIndexPath>& indexPath) {
    long row = indexPath->row();
    if (row < 0 || row >= static_cast<long>(commentsFrame_.size())) return 0;
    return commentsFrame_[row]->cellHeight;
}

Ref<QVNQuestionComment> QuestionDetailController::commentForCell(const Ref<UITableViewCell>& cell) const {
    Ref<UITableView> table = tableView.lock();
    Ref<NSIndexPath> path = table ? table->indexPathForCell(cell) : nullptr;
    if (!path || path->row() >= static_cast<long>(comments_.size())) return nullptr;
    return comments_[path->row()];
}

long QuestionDetailController::rowOf(const Ref<QVNQuestionComment>& comment) const {
    for (std::size_t i = 0; i < comments_.size(); ++i)
        if (comments_[i] == comment) return static_cast<long>(i);
    return -1;
}

void QuestionDetailController::configureCommentCell(const Ref<QVNRizUrDetailCell>& cell,
                                                    const Ref<NSIndexPath>& indexPath) {
    long row = indexPath->row();
    if (row < 0 || row >= static_cast<long>(commentsFrame_.size())) return;
    cell->setCommentFrame(commentsFrame_[row]);
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    cell->likeBlock = [weak](const Ref<QVNRizUrDetailCell>& cell) {
        auto self = weak.lock();
        if (!self) return;
        if (auto answer = self->commentForCell(cell)) self->handleClickCommentLikeBtnWithComment(answer);
    };
    cell->commentBlock = [weak](const Ref<QVNRizUrDetailCell>& cell) {
        auto self = weak.lock();
        if (!self) return;
        if (!currentUser()) {
            pushLogin(self->navigationController(), true);
            return;
        }
        auto answer = self->commentForCell(cell);
        Ref<UITextView> text = self->replyTextView.lock();
        if (!answer || !text) return;
        self->comment_ = answer;
        text->setText("@" + answer->user_nickname.value_or("") + ":");
        text->setTextColor(UIColor::blackColor());
        text->becomeFirstResponder();
    };
    cell->tapUserImageblock = [weak](const Ref<QVNRizUrDetailCell>& cell) {
        auto self = weak.lock();
        if (!self) return;
        if (!currentUser()) {
            pushLogin(self->navigationController(), false);
            return;
        }
        if (auto answer = self->commentForCell(cell)) pushProfile(self->navigationController(), answer->uid);
    };
}

void QuestionDetailController::handleClickCommentLikeBtnWithComment(const Ref<QVNQuestionComment>& answer) {
    if (!currentUser()) {
        pushLogin(navigationController(), true);
        return;
    }
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    Weak<QVNQuestionComment> weakAnswer = answer;
    auto reloadRow = [weak, weakAnswer] {
        auto self = weak.lock();
        auto answer = weakAnswer.lock();
        Ref<UITableView> table = self ? self->tableView.lock() : nullptr;
        long row = self && answer ? self->rowOf(answer) : -1;
        if (table && row >= 0)
            table->reloadRowsAtIndexPaths({NSIndexPath::indexPathForRow(row, 0)},
                                          UITableViewRowAnimationNone);
    };
    answer->likeComment(reloadRow);
    reloadRow();
}

// ---- the reply bar
// ------------------------------------------------------------------------------------------

std::optional<bool> QuestionDetailController::textViewShouldBeginEditing(UITextView&) {
    canReply_ = true;
    return true;
}

void QuestionDetailController::textViewDidBeginEditing(UITextView& textView) {
    if (Ref<UIButton> mask = maskButton.lock()) mask->setHidden(false);
    if (!comment_ && textView.text() == kPlaceholder) textView.setText(std::string());
    textView.setTextColor(UIColor::blackColor());
}

std::optional<bool> QuestionDetailController::textViewShouldChangeTextInRange(UITextView&, NSRange,
                                                                              const std::string& text) {
    // Only what is being put in is tested: deleting, and a keyboard that merely offers emoji, pass.
    if (stringContainsEmoji(text)) {
        showEmojiAlert();
        return false;
    }
    return true;
}

void QuestionDetailController::textViewDidChange(UITextView& textView) {
    bool empty = textView.text().empty();
    if (Ref<UIButton> send = replyBtn.lock()) send->setUserInteractionEnabled(!empty);
    if (empty) comment_ = nullptr;
}

bool QuestionDetailController::stringContainsEmoji(const std::string& text) {
    return detail::forum::stringContainsEmoji(text);
}

void QuestionDetailController::showEmojiAlert() {
    if (!EmojiAlertV_)
        EmojiAlertV_ = make<UIAlertView>(std::nullopt, std::string("亲，不能输入表情哦！"),
                                         selfAs<QuestionDetailController>(), std::nullopt,
                                         std::vector<std::string>{"确定"});
    EmojiAlertV_->show();
}

void QuestionDetailController::replyBtnClick(const Ref<NSObject>&) {
    Ref<QVNUser> user = currentUser();
    if (!user || !user->user_token || user->user_token->empty()) {
        auto alert =
            make<UIAlertView>(std::nullopt, std::string("你还没有登陆！"), selfAs<QuestionDetailController>(),
                              std::string("取消"), std::vector<std::string>{"登陆"});
        alert->setTag(1);
        alert->show();
        return;
    }
    Ref<UITextView> text = replyTextView.lock();
    std::string typed = textOf(text);
    if (canReply_ && !typed.empty()) {
        if (stringContainsEmoji(typed)) {
            showEmojiAlert();
            return;
        }
        QVNAPIClient::showProgressHUD();
        if (imageArray_.empty())
            upLoadContentForServer(std::nullopt);
        else
            upLoadUserImageArray(imageArray_);
    } else if (!imageArray_.empty()) {
        QVNAPIClient::showProgressHUD();
        upLoadUserImageArray(imageArray_);
        if (text) text->resignFirstResponder();
    } else {
        showAlert(std::string("您还没输出任何内容或图片"), std::nullopt, "确定");
    }
}

void QuestionDetailController::failUpload(bool) {
    GHProgressHUD::dismiss();
    showAlert(std::nullopt, std::string("上传图片失败，请检查您的网络！"), "知道了");
}

void QuestionDetailController::upLoadUserImageArray(const std::vector<Ref<UIImage>>& images) {
    const long long n = static_cast<long long>(images.size());
    if (count_ >= n) {
        upLoadContentForServer(imageUrl_);
        return;
    }
    // The completions keep the screen: a send under way finishes even after the screen was left.
    Ref<QuestionDetailController> self = selfAs<QuestionDetailController>();
    QVNAPIClient::postWithURLImage(
        "upload/upload.do", images[count_],
        [self, images, n](const Value& reply, const Ref<NSError>&) {
            std::optional<std::string> url = reply["url"].optionalString();
            if (!url) {
                // The server refused the picture: say so rather than stopping without a word.
                self->failUpload(false);
                return;
            }
            std::string joined = self->imageUrl_.value_or("") + *url;
            if (self->count_ != n - 1) joined += ";";
            self->imageUrl_ = joined;
            ++self->count_;
            if (self->count_ >= n)
                self->upLoadContentForServer(self->imageUrl_);
            else
                self->upLoadUserImageArray(images);
        },
        [self](const Ref<NSError>&) { self->failUpload(true); });
}

void QuestionDetailController::upLoadContentForServer(const std::optional<std::string>& urls) {
    Ref<UITextView> text = replyTextView.lock();
    std::string typed = textOf(text);
    Dictionary params = Dictionary::mutableDictionary();
    addUserToken(params);
    if (questionId_) params.setObject("question_id", *questionId_);
    if (urls) params.setObject("pic_url", *urls);
    Ref<QVNQuestionComment> target = comment_;
    if (target) {
        if (typed == "@" + target->user_nickname.value_or("") + ":" && !urls) {
            showAlert(std::string("您还没输出任何内容或图片"), std::nullopt, "确定");
            GHProgressHUD::dismiss();
            return;
        }
        params.setObject("re_content", typed);
        if (target->comment_id) params.setObject("comment_id", *target->comment_id);
    } else if (typed == kPlaceholder) {
        if (text) text->setText(std::string());
        params.setObject("re_content", std::string());
    } else {
        params.setObject("re_content", typed);
    }
    Ref<QuestionDetailController> self = selfAs<QuestionDetailController>();
    QVNAPIClient::getWithURL(
        "question/addcomment.do", Value(params),
        [self, target](const Value&, const Ref<NSError>& error) {
            if (!error) {
                std::string done = target ? "回复" + target->user_nickname.value_or("") + "成功"
                                          : std::string("回复楼主成功");
                self->hub()->setLabelText(done);
                self->hub()->show(true);
                self->hub()->hide(true, 1.5);
                self->imageArray_.clear();
                self->imageUrl_.reset();
                self->count_ = 0;
                // The next reply goes to the question again unless another answer is chosen.
                self->comment_ = nullptr;
                if (Ref<UITextView> text = self->replyTextView.lock()) text->setText(std::string());
                self->hidePhotoViewAndKeyBoard();
                if (self->messagePhotoView_) {
                    self->messagePhotoView_->demoArray().clear();
                    self->messagePhotoView_->initlizerScrollView({});
                    self->messagePhotoView_->removeFromSuperview();
                }
                self->messagePhotoView_ = nullptr;
                self->addTheMessagePhotoView();
                if (Ref<UITableView> table = self->tableView.lock())
                    if (auto header = UIScrollView_PullRefresh::header(*table)) header->beginRefreshing();
            } else if (isInvalidToken(error)) {
                showInvalidTokenAlert(true);
            }
            GHProgressHUD::dismiss();
        },
        [self](const Ref<NSError>&) {
            self->showError();
            GHProgressHUD::dismiss();
        });
    canReply_ = false;
}

void QuestionDetailController::maskButtonClick(const Ref<NSObject>&) {
    view()->endEditing(true);
    if (Ref<UIButton> mask = maskButton.lock()) mask->setHidden(true);
}

void QuestionDetailController::setPhotoPanelY(CGFloat y) {
    if (!messagePhotoView_) return;
    CGRect frame = messagePhotoView_->frame();
    frame.origin.y = y;
    messagePhotoView_->setFrame(frame);
}

void QuestionDetailController::handleKeyboardNotification(const Ref<NSNotification>& notification) {
    KeyboardMove move = KeyboardMove::fromNotification(*notification);
    CGFloat height = move.showing ? move.height() : 0;
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    move.animate([weak, height] {
        auto self = weak.lock();
        if (!self) return;
        if (auto bottom = self->inputbarBottomConstraint.lock()) bottom->setConstant(height);
        if (auto barHeight = self->bottomViewHeightConstront.lock()) barHeight->setConstant(kReplyBarHeight);
        self->setPhotoPanelY(self->view()->bounds().size.height);
        self->view()->layoutIfNeeded();
    });
}

void QuestionDetailController::hidePhotoViewAndKeyBoard() {
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    UIView::animateWithDuration(
        0.25, 0, kPanelOptions,
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            if (auto bottom = self->inputbarBottomConstraint.lock()) bottom->setConstant(0);
            self->setPhotoPanelY(self->view()->bounds().size.height);
            self->view()->layoutIfNeeded();
        },
        nullptr);
    view()->endEditing(true);
}

void QuestionDetailController::touchesBegan(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    hidePhotoViewAndKeyBoard();
}

void QuestionDetailController::scrollViewWillBeginDragging(UIScrollView& scrollView) {
    if (&scrollView == replyTextView.lock().get()) return;
    hidePhotoViewAndKeyBoard();
}

// ---- photos
// ---------------------------------------------------------------------------------------------------

void QuestionDetailController::addTheMessagePhotoView() {
    const CGRect bounds = view()->bounds();
    messagePhotoView_ =
        make<MessagePhotoView>(CGRectMake(0, bounds.size.height, bounds.size.width, kPhotoPanelHeight));
    messagePhotoView_->pushBtn->setHidden(true);
    messagePhotoView_->setBackgroundColor(UIColor::whiteColor());
    view()->addSubview(messagePhotoView_);
    messagePhotoView_->setDelegate(selfAs<QuestionDetailController>());
}

void QuestionDetailController::addphoto(const Ref<NSObject>&) {
    // The strip keeps its photos while the panel is closed and opened again: what it shows is
    // what a send uploads.
    if (!messagePhotoView_) addTheMessagePhotoView();
    if (Ref<UITextView> text = replyTextView.lock()) text->resignFirstResponder();
    Weak<QuestionDetailController> weak = selfAs<QuestionDetailController>();
    UIView::animateWithDuration(
        0.25, 0, kPanelOptions,
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            if (auto bottom = self->inputbarBottomConstraint.lock()) bottom->setConstant(kPhotoPanelHeight);
            self->setPhotoPanelY(self->view()->bounds().size.height - kPhotoPanelHeight);
            self->view()->layoutIfNeeded();
        },
        nullptr);
}

void QuestionDetailController::addPicker(const Ref<UIViewController>& picker) {
    if (picker) presentViewController(picker, true);
}

void QuestionDetailController::sendImageArray(const std::vector<Ref<UIImage>>& images) {
    imageArray_ = images;
    // A new set of photos is uploaded from scratch: nothing gathered for an older set goes with it.
    count_ = 0;
    imageUrl_.reset();
}

// ---- other
// ----------------------------------------------------------------------------------------------------

void QuestionDetailController::showError() {
    showTextHUD(view(), "网络连接出错，请重新尝试", 1.0);
}

void QuestionDetailController::alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView,
                                                             long buttonIndex) {
    if (alertView && alertView->tag() == 1 && buttonIndex == 1) pushLogin(navigationController(), false);
}

void QuestionDetailController::fanhuiAction(const Ref<NSObject>&) {
    auto center = NSNotificationCenter::defaultCenter();
    center->postNotificationName("RefreshView");
    if (isFromMessafeVc_)
        center->postNotificationName("updateReadRromeQuestionVc", nullptr,
                                     Dictionary{{"isUpdateFromeQuestion", "YES"}});
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}
