#pragma once
// NewsDetailViewController: one article. The article (title, date and HTML body) is the table's
// header, its comments are the rows, paged by a load-more footer, and a reply bar at the bottom
// follows the keyboard. From a comment the user likes it, answers it or opens its author's
// profile; liking, sending and profiles need a signed-in user (the login screen is pushed
// otherwise). Opened by the news list and the search through InformationScreens::NewsDetailHandOver
// (storyboard "MyInformation", identifier "NewsDetail").
//
// The comment a reply answers is kept apart from likes: a like never changes where the next text
// goes. It is cleared when the field is emptied and after a reply was sent. The comment list
// exists from the start, so a reply on an article without comments shows at once. Text with
// emoji is refused at sending ("请去掉表情再提交内容"), and typing is refused while the emoji
// keyboard is the input mode (deleting stays possible). While a reply is under way the send
// button is off and a second send does nothing.
//
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "app/ArrayDataSource.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSNotificationCenter.h"
#include "information/InformationScreens.h"
#include "information/QVNNewsCommentCell.h"
#include "information/QVNNewsCommunicator.h"
#include "information/QVNNewsDetailView.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UITableView.h"
#include "uikit/UITextView.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWebView.h"

class NewsDetailViewController : public UIViewController,
                                 public UIWebViewDelegate,
                                 public QVNNewsDetailViewDelegate,
                                 public UITextViewDelegate,
                                 public UITableViewDelegate,
                                 public InformationScreens::NewsDetailHandOver {
  public:
    std::string className() const override { return "NewsDetailViewController"; }
    // The scene's layout (the storyboard resource): builds the view and connects the outlets and
    // actions of the screen it is given.
    static Ref<UIView> loadSceneView(UIViewController& owner);

    // ---- hand-over ------------------------------------------------------------------------------
    const Ref<QVNNews>& news() const { return news_; }
    void setNews(const Ref<QVNNews>& news) override { news_ = news; }
    const std::string& titleTextPass() const { return titleTextPass_; }
    void setTitleTextPass(const std::string& title) override { titleTextPass_ = title; }

    // ---- outlets --------------------------------------------------------------------------------
    Weak<UILabel> titleText;
    Weak<UITableView> tableView;
    Weak<UITextView> replyTextView;
    Weak<UIButton> replyButton;
    Weak<UIButton> shareBtn;
    Weak<NSLayoutConstraint> inputbarBottomConstraint;
    Weak<NSLayoutConstraint> bottomViewHeightContrant;

    // ---- state ----------------------------------------------------------------------------------
    const Ref<QVNNewsCommunicator>& communicator();
    const Ref<QVNNewsDetailView>& detailView();
    const Ref<UIView>& backgroundMaskView();
    const Ref<ArrayDataSource>& commentsArrayDataSource() const { return commentsArrayDataSource_; }
    // The comments shown, in order.
    std::vector<Ref<QVNNewsComment>> comments() const;
    // The comment the next reply answers; nullptr: a comment on the article.
    const Ref<QVNNewsComment>& comment() const { return comment_; }
    const std::optional<std::string>& replytext() const { return replytext_; }
    const Ref<VHProgressHUD>& hud();
    const std::vector<Ref<QVNNewsComment>>& currentUserComments() const { return currentUserComments_; }
    bool isReplyNew() const { return isReplyNew_; }

    // ---- the screen -----------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }
    bool shouldAutorotate() const override { return false; }

    void loadNewsDetail();
    void loadComments();
    void loadMoreComments();

    // ---- the header -----------------------------------------------------------------------------
    void detailViewDismissButtonTapped(const Ref<QVNNewsDetailView>& view) override;
    bool implementsDetailViewDismissButtonTapped() const override { return true; }
    void detailViewShareButtonTapped(const Ref<QVNNewsDetailView>& view) override {}
    bool implementsDetailViewShareButtonTapped() const override { return true; }
    void detailViewDidRefreshHeight(const Ref<QVNNewsDetailView>& view) override;
    bool implementsDetailViewDidRefreshHeight() const override { return true; }

    // ---- the comments ---------------------------------------------------------------------------
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) override;
    void handleClickCommentButtonWithComment(const Ref<QVNNewsComment>& comment);
    void handleClickLikeButtonWithComment(const Ref<QVNNewsComment>& comment);
    void handleClickUserIconWithComment(const Ref<QVNNewsComment>& comment);

    // ---- the reply bar --------------------------------------------------------------------------
    void textViewDidChange(UITextView& textView) override;
    std::optional<bool> textViewShouldChangeTextInRange(UITextView& textView, NSRange range,
                                                        const std::string& text) override;
    void textViewDidEndEditing(UITextView& textView) override;
    void scrollViewWillBeginDragging(UIScrollView& scrollView) override;
    void reply(const Ref<NSObject>& sender);
    void refreshTableViewWithComment(const Ref<QVNNewsComment>& comment);
    void handleReplyError(const Ref<NSError>& error);
    virtual void handleKeyboardNotification(const Ref<NSNotification>& notification);
    void backgroundMaskViewTapped();

  private:
    void configureCell(const Ref<QVNNewsCommentCell>& cell, const Ref<QVNNewsComment>& comment);
    void pushLogin();
    long rowOf(const Ref<QVNNewsComment>& comment) const;
    void showHUDText(const std::string& text, double hideAfter);

    Ref<QVNNews> news_;
    std::string titleTextPass_;
    Ref<QVNNewsCommunicator> communicator_;
    Ref<QVNNewsDetailView> detailView_;
    Ref<UIView> backgroundMaskView_;
    Ref<ArrayDataSource> commentsArrayDataSource_;
    Ref<QVNNewsComment> comment_;
    std::optional<std::string> replytext_;
    Ref<VHProgressHUD> hud_;
    std::vector<Ref<QVNNewsComment>> currentUserComments_;
    bool isReplyNew_ = true;
    bool observingKeyboard_ = false;
    bool sending_ = false;
};
