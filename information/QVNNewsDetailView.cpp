#include "information/QVNNewsDetailView.h"

#include <mutex>

#include "app/TitledPageHeights.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "sdk/analytics/collection/Tally.h"
#include "uikit/UINib.h"
#include "uikit/UIScreen.h"

namespace {

constexpr CGFloat kTop = 8;
constexpr CGFloat kDateRow = 20;
constexpr CGFloat kTitleFontSize = 17;

CGFloat screenWidth() {
    return UIScreen::mainScreen()->bounds().size.width;
}

}  // namespace

void QVNNewsDetailView::registerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(kNibName, [](const Ref<NSObject>&, const Dictionary&) {
            const CGFloat W = screenWidth();
            auto view = make<QVNNewsDetailView>(CGRectMake(0, 0, W, kChromeHeight));
            view->setBackgroundColor(UIColor::whiteColor());
            auto title = make<UILabel>(CGRectMake(8, kTop, W - 16, 0));
            title->setFont(UIFont::systemFontOfSize(kTitleFontSize));
            title->setNumberOfLines(0);
            auto category = UIButton::buttonWithType(UIButtonTypeCustom);
            category->setTitle(std::string("资讯"), UIControlStateNormal);
            category->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
            category->setBackgroundColor(UIColor::colorWithRed(224 / 255.0, 64 / 255.0, 58 / 255.0, 1));
            category->titleLabel()->setFont(UIFont::systemFontOfSize(11));
            category->layer()->setCornerRadius(3);
            auto date = make<UILabel>(CGRectZero);
            date->setFont(UIFont::systemFontOfSize(12));
            date->setTextColor(UIColor::grayColor());
            auto web = make<UIWebView>(CGRectMake(0, kChromeHeight, W, 0));
            web->setBackgroundColor(UIColor::whiteColor());
            for (const Ref<UIView>& v : std::vector<Ref<UIView>>{title, category, date, web})
                view->addSubview(v);
            auto heights = TitledPageHeights::makeFor(*view, title, web);
            view->tiltleLabel = title;
            view->categoryButton = category;
            view->dateLabel = date;
            view->webView = web;
            view->titleHeightConstraint = heights.title;
            view->webViewHeightConstraint = heights.page;
            web->setDelegate(view);
            view->layoutSubviews();
            return std::vector<Ref<NSObject>>{view};
        });
    });
}

Ref<QVNNewsDetailView> QVNNewsDetailView::loadFromNib() {
    registerNib();
    Ref<UINib> nib = UINib::nibWithNibName(kNibName, nullptr);
    if (!nib) return nullptr;
    auto objects = nib->instantiateWithOwner(nullptr, Dictionary());
    return objects.empty() ? nullptr : std::dynamic_pointer_cast<QVNNewsDetailView>(objects.front());
}

void QVNNewsDetailView::layoutSubviews() {
    UIView::layoutSubviews();
    const CGFloat W = bounds().size.width;
    auto titleHeight = titleHeightConstraint.lock();
    auto webHeight = webViewHeightConstraint.lock();
    CGFloat th = titleHeight ? titleHeight->constant() : 0;
    if (auto title = tiltleLabel.lock()) title->setFrame(CGRectMake(8, kTop, W - 16, th));
    const CGFloat rowY = kTop + th + 4;
    if (auto category = categoryButton.lock()) category->setFrame(CGRectMake(8, rowY + 2, 36, kDateRow - 4));
    if (auto date = dateLabel.lock()) date->setFrame(CGRectMake(52, rowY, W - 60, kDateRow));
    if (auto web = webView.lock())
        web->setFrame(CGRectMake(0, th + kChromeHeight, W, webHeight ? webHeight->constant() : 0));
}

std::string QVNNewsDetailView::pageForContent(const std::string& content) {
    char style[96];
    std::snprintf(style, sizeof style, "</head><style>img{max-width:%dpx}</style>",
                  static_cast<int>(screenWidth() - 16));
    return std::string("<html>") + "<head>" + style + "<body>" + content + "</body>" + "</html>";
}

void QVNNewsDetailView::updateWithData(const Ref<QVNNews>& news) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string("TuningNewsChild"));
    if (!news) return;
    if (auto title = tiltleLabel.lock()) title->setText(news->news_title);
    if (auto date = dateLabel.lock()) date->setText(news->news_time);
    if (auto web = webView.lock())
        web->loadHTMLString(pageForContent(news->news_content.value_or("")), nullptr);
}

void QVNNewsDetailView::webViewDidFinishLoad(UIWebView&) {
    calculateContentHeight();
}

CGRect QVNNewsDetailView::calculateContentHeight() {
    auto title = tiltleLabel.lock();
    std::string text = title && title->text() ? *title->text() : std::string();
    auto attributed = make<NSMutableAttributedString>(text);
    attributed->addAttribute(NSFontAttributeName, Value(UIFont::systemFontOfSize(kTitleFontSize)),
                             NSMakeRange(0, NSString::length(text)));
    CGRect measured = NSStringDrawing::boundingRectWithSize(
        *attributed, CGSizeMake(screenWidth() - 16, 1e300), NSStringDrawingUsesLineFragmentOrigin);
    TitledPageHeights::fit(*this, measured, webView.lock(), titleHeightConstraint.lock(),
                           webViewHeightConstraint.lock(), kChromeHeight);
    if (auto d = delegate(); d && d->implementsDetailViewDidRefreshHeight())
        d->detailViewDidRefreshHeight(selfAs<QVNNewsDetailView>());
    return frame();
}

void QVNNewsDetailView::dismissButtonTapped(const Ref<NSObject>&) {
    if (auto d = delegate(); d && d->implementsDetailViewDismissButtonTapped())
        d->detailViewDismissButtonTapped(selfAs<QVNNewsDetailView>());
}
