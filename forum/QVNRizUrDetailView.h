#pragma once
// QVNRizUrDetailView: the question at the top of the detail screen (from the nib
// "QVNRizUrDetailView"): asker's avatar, name and time, the title, the body as an HTML page in a
// web view, and the like button. Once the page has loaded it measures itself (title height + 62
// + the page's content height) and tells its delegate. Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "forum/QVNDetailQuestion.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UIWebView.h"

class QVNRizUrDetailView;

class QVNRizUrDetailViewDelegate {
  public:
    virtual ~QVNRizUrDetailViewDelegate() = default;
    virtual void detailViewDidRefreshHeight(const Ref<QVNRizUrDetailView>& view) = 0;
};

class QVNRizUrDetailView : public UIView, public UIWebViewDelegate {
  public:
    using ViewBlock = std::function<void(const Ref<QVNRizUrDetailView>& view)>;
    static constexpr char kNibName[] = "QVNRizUrDetailView";

    explicit QVNRizUrDetailView(CGRect frame) : UIView(frame) {}
    std::string className() const override { return "QVNRizUrDetailView"; }

    // The nib's first object.
    static Ref<QVNRizUrDetailView> loadFromNib();
    static void registerNib();

    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UILabel> timeLabel;
    Weak<UILabel> titleLabel;
    Weak<NSLayoutConstraint> titleHeightConstraint;
    Weak<NSLayoutConstraint> webViewHeightConstraint;
    std::optional<std::string> content;
    Weak<UIButton> likeButton;
    ViewBlock likeBlock;
    ViewBlock tapUserImgBlock;
    Weak<UIWebView> webView;

    Ref<QVNRizUrDetailViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<QVNRizUrDetailViewDelegate>& delegate) { delegate_ = delegate; }

    void updateWithData(const Ref<QVNDetailQuestion>& question);
    void webViewDidStartLoad(UIWebView& webView) override {}
    void webViewDidFinishLoad(UIWebView& webView) override;
    CGRect calculateContentHeight();
    void likeButtonAction(const Ref<NSObject>& sender);
    void tapUserImageViewAction(const Ref<NSObject>& sender);
    void layoutSubviews() override;

    // The page text the view loads for a question body (the stylesheet and the picture width).
    static std::string pageForContent(const std::string& content);

  private:
    Weak<QVNRizUrDetailViewDelegate> delegate_;
};
