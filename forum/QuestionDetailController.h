#pragma once
// QuestionDetailController: one question with its answers. The question is the table's header
// (fetched once per screen), the answers are rows paged by the header and footer controls, and a
// reply bar at the bottom answers the question or replies to one answer, with up to five photos
// from the strip. Photos go up one by one under the global HUD, then the reply is sent with their
// addresses joined by ";". A send that fails part-way keeps the text, the photos and the
// addresses gathered so far, and the next send goes on from the photo that failed.
//
// Opened from the storyboard "MyRizUr" after setQuestionId (and, from the message centre,
// setIsFromMessafeVc). Leaving posts "RefreshView" (and "updateReadRromeQuestionVc").
//
// Main thread only; the answer layouts fetch their pictures' sizes on a global queue first.

#include <optional>
#include <string>
#include <vector>

#include "app/QVNQuestionScreens.h"
#include "controls/VHProgressHUD.h"
#include "forum/MessagePhotoView.h"
#include "forum/QVNDetailQuestion.h"
#include "forum/QVNRizUrDetailCell.h"
#include "forum/QVNRizUrDetailFrame.h"
#include "forum/QVNRizUrDetailView.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UITableView.h"
#include "uikit/UITextView.h"
#include "uikit/UIViewController.h"

class QuestionDetailController : public UIViewController,
                                 public UITableViewDataSource,
                                 public UITableViewDelegate,
                                 public UIAlertViewDelegate,
                                 public UITextViewDelegate,
                                 public QVNRizUrDetailViewDelegate,
                                 public MessagePhotoViewDelegate,
                                 public UIGestureRecognizerDelegate,
                                 public QVNQuestionScreens::QuestionDetailHandOver {
  public:
    static constexpr char kIdentifier[] = "QuestionDetailController";
    static constexpr char kCellIdentifier[] = "detailCell";
    static constexpr CGFloat kPhotoPanelHeight = 258;
    static constexpr CGFloat kReplyBarHeight = 55;

    std::string className() const override { return "QuestionDetailController"; }

    const std::optional<NSNumber>& questionId() const { return questionId_; }
    void setQuestionId(const std::optional<NSNumber>& questionId) override { questionId_ = questionId; }
    bool isFromMessafeVc() const { return isFromMessafeVc_; }
    void setIsFromMessafeVc(bool fromMessages) override { isFromMessafeVc_ = fromMessages; }
    const Ref<QVNDetailQuestion>& detailQuestion() const { return detailQuestion_; }
    void setDetailQuestion(const Ref<QVNDetailQuestion>& question) { detailQuestion_ = question; }
    const std::vector<Ref<UIImage>>& imageArray() const { return imageArray_; }

    // Outlets.
    Weak<UITableView> tableView;
    Weak<UIButton> maskButton;
    Weak<NSLayoutConstraint> inputbarBottomConstraint;
    Weak<UIView> bottomView;
    Weak<UITextView> replyTextView;
    Weak<NSLayoutConstraint> bottomViewHeightConstront;
    Weak<UIButton> replyBtn;
    Weak<UIButton> takePhotoPicture;

    const std::vector<Ref<QVNQuestionComment>>& comments() const { return comments_; }
    const std::vector<Ref<QVNRizUrDetailFrame>>& commentsFrame() const { return commentsFrame_; }
    const Ref<QVNQuestionComment>& comment() const { return comment_; }
    bool canReply() const { return canReply_; }
    const Ref<VHProgressHUD>& hub();
    const Ref<QVNRizUrDetailView>& detailView();
    const Ref<MessagePhotoView>& messagePhotoView() const { return messagePhotoView_; }
    const std::optional<std::string>& imageUrl() const { return imageUrl_; }
    long long count() const { return count_; }

    // ---- the screen -------------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

    // ---- the table ------------------------------------------------------------------------------------
    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) override;
    void configureCommentCell(const Ref<QVNRizUrDetailCell>& cell, const Ref<NSIndexPath>& indexPath);

    // ---- the header -----------------------------------------------------------------------------------
    void setUpHeaderView();
    void detailViewDidRefreshHeight(const Ref<QVNRizUrDetailView>& view) override;
    void tapLikeButton();
    void tapUserImageaction();
    void webTap();
    void tapColseKeyBoard();
    std::optional<bool>
    gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer& recognizer,
                                                                        UIGestureRecognizer& other) override {
        return true;
    }

    // ---- answers and the reply bar ---------------------------------------------------------------------
    void handleClickCommentLikeBtnWithComment(const Ref<QVNQuestionComment>& comment);
    std::optional<bool> textViewShouldBeginEditing(UITextView& textView) override;
    void textViewDidBeginEditing(UITextView& textView) override;
    std::optional<bool> textViewShouldChangeTextInRange(UITextView& textView, NSRange range,
                                                        const std::string& text) override;
    void textViewDidChange(UITextView& textView) override;
    static bool stringContainsEmoji(const std::string& text);
    void replyBtnClick(const Ref<NSObject>& sender);
    void upLoadUserImageArray(const std::vector<Ref<UIImage>>& images);
    void upLoadContentForServer(const std::optional<std::string>& urls);
    void maskButtonClick(const Ref<NSObject>& sender);
    void handleKeyboardNotification(const Ref<NSNotification>& notification);
    void hidePhotoViewAndKeyBoard();
    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void scrollViewWillBeginDragging(UIScrollView& scrollView) override;

    // ---- photos -----------------------------------------------------------------------------------------
    void addTheMessagePhotoView();
    void addphoto(const Ref<NSObject>& sender);
    void addPicker(const Ref<UIViewController>& picker) override;
    void sendImageArray(const std::vector<Ref<UIImage>>& images) override;

    // ---- other --------------------------------------------------------------------------------------------
    void showError();
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, long buttonIndex) override;
    void fanhuiAction(const Ref<NSObject>& sender);

  private:
    void loadFirstPage();
    void loadNextPage();
    void showEmojiAlert();
    void setPhotoPanelY(CGFloat y);
    void failUpload(bool transport);
    Ref<QVNQuestionComment> commentForCell(const Ref<UITableViewCell>& cell) const;
    long rowOf(const Ref<QVNQuestionComment>& comment) const;

    std::optional<NSNumber> questionId_;
    bool isFromMessafeVc_ = false;
    Ref<QVNDetailQuestion> detailQuestion_;
    std::vector<Ref<UIImage>> imageArray_;
    std::vector<Ref<QVNQuestionComment>> comments_;
    std::vector<Ref<QVNRizUrDetailFrame>> commentsFrame_;
    Ref<QVNQuestionComment> comment_;
    bool canReply_ = false;
    Ref<VHProgressHUD> hub_;
    Ref<QVNRizUrDetailView> detailView_;
    Ref<UIAlertView> EmojiAlertV_;
    Ref<MessagePhotoView> messagePhotoView_;
    std::optional<std::string> imageUrl_;
    long long count_ = 0;
    bool observingKeyboard_ = false;
};
