#pragma once
// QVNNewsDetailView: the article at the top of the article screen (from the nib
// "QVNNewsDetailView"): the title, the category and the date, and the body as an HTML page in a web
// view whose pictures are kept within the screen. Once the page has loaded the view measures
// itself (title height + 38 + the page's content height) and tells its delegate, which installs it
// again as the table's header so that the table takes the new height.
//
// Main thread only.

#include <string>

#include "information/QVNNews.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UIWebView.h"

class QVNNewsDetailView;

// Every operation is optional.
class QVNNewsDetailViewDelegate {
  public:
    virtual ~QVNNewsDetailViewDelegate() = default;
    virtual void detailViewDismissButtonTapped(const Ref<QVNNewsDetailView>& view) {}
    virtual bool implementsDetailViewDismissButtonTapped() const { return false; }
    virtual void detailViewShareButtonTapped(const Ref<QVNNewsDetailView>& view) {}
    virtual bool implementsDetailViewShareButtonTapped() const { return false; }
    virtual void detailViewDidRefreshHeight(const Ref<QVNNewsDetailView>& view) {}
    virtual bool implementsDetailViewDidRefreshHeight() const { return false; }
};

class QVNNewsDetailView : public UIView, public UIWebViewDelegate {
  public:
    static constexpr char kNibName[] = "QVNNewsDetailView";
    // What the view holds besides the title and the page: the margins and the date row.
    static constexpr CGFloat kChromeHeight = 38;

    explicit QVNNewsDetailView(CGRect frame) : UIView(frame) {}
    std::string className() const override { return "QVNNewsDetailView"; }

    // The nib's first object.
    static Ref<QVNNewsDetailView> loadFromNib();
    static void registerNib();

    // Outlets.
    Weak<UILabel> tiltleLabel;
    Weak<UIButton> categoryButton;
    Weak<UILabel> dateLabel;
    Weak<UIWebView> webView;
    Weak<NSLayoutConstraint> titleHeightConstraint;
    Weak<NSLayoutConstraint> webViewHeightConstraint;

    Ref<QVNNewsDetailViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<QVNNewsDetailViewDelegate>& delegate) { delegate_ = delegate; }

    void updateWithData(const Ref<QVNNews>& news);
    // The page loaded for an article body: pictures limited to the screen's width less 16 points.
    static std::string pageForContent(const std::string& content);

    void webViewDidStartLoad(UIWebView& webView) override {}
    void webViewDidFinishLoad(UIWebView& webView) override;
    CGRect calculateContentHeight();

    void dismissButtonTapped(const Ref<NSObject>& sender);
    void shareButtonTapped(const Ref<NSObject>& sender) {}

    void layoutSubviews() override;

  private:
    Weak<QVNNewsDetailViewDelegate> delegate_;
};
