#include "forum/QVNRizUrDetailView.h"

#include <mutex>

#include "app/TitledPageHeights.h"
#include "forum/ForumResources.h"
#include "foundation/NSBundle.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "sdk/analytics/collection/Tally.h"
#include "uikit/UINib.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"

using detail::forum::imageNamed;

namespace {

// Everything but the title and the page: avatar row above the title, margins around the page.
constexpr CGFloat kAboveTitle = 48;
constexpr CGFloat kTitleToPage = 6;

CGFloat screenWidth() {
    return UIScreen::mainScreen()->bounds().size.width;
}

}  // namespace

void QVNRizUrDetailView::registerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(kNibName, [](const Ref<NSObject>&, const Dictionary&) {
            const CGFloat W = screenWidth();
            auto view = make<QVNRizUrDetailView>(CGRectMake(0, 0, W, 62));
            view->setBackgroundColor(UIColor::whiteColor());
            auto avatar = make<UIImageView>(CGRectMake(8, 4, 40, 40));
            avatar->layer()->setCornerRadius(20);
            avatar->setClipsToBounds(true);
            avatar->setUserInteractionEnabled(true);
            auto name = make<UILabel>(CGRectMake(56, 4, 150, 21));
            name->setFont(UIFont::systemFontOfSize(15));
            auto time = make<UILabel>(CGRectMake(56, 26, 150, 15));
            time->setFont(UIFont::systemFontOfSize(11));
            time->setTextColor(UIColor::lightGrayColor());
            auto like = UIButton::buttonWithType(UIButtonTypeCustom);
            like->setFrame(CGRectMake(W - 78, 12, 70, 22));
            like->titleLabel()->setFont(UIFont::systemFontOfSize(14));
            like->setTitleColor(UIColor::colorWithRed(11 / 255.0, 46 / 255.0, 53 / 255.0, 1),
                                UIControlStateNormal);
            auto title = make<UILabel>(CGRectMake(8, kAboveTitle, W - 16, 0));
            title->setFont(UIFont::systemFontOfSize(17));
            title->setNumberOfLines(0);
            auto web = make<UIWebView>(CGRectMake(0, kAboveTitle, W, 0));
            for (const Ref<UIView>& v : std::vector<Ref<UIView>>{avatar, name, time, like, title, web})
                view->addSubview(v);
            auto heights = TitledPageHeights::makeFor(*view, title, web);
            view->userImageView = avatar;
            view->userNameLabel = name;
            view->timeLabel = time;
            view->likeButton = like;
            view->titleLabel = title;
            view->webView = web;
            view->titleHeightConstraint = heights.title;
            view->webViewHeightConstraint = heights.page;
            web->setDelegate(view);
            Weak<QVNRizUrDetailView> weak = view;
            like->addTarget(view, &QVNRizUrDetailView::likeButtonAction,
                            "likeButtonAction:", UIControlEventTouchUpInside);
            avatar->addGestureRecognizer(
                make<UITapGestureRecognizer>(view, [weak](const Ref<UIGestureRecognizer>& r) {
                    if (auto self = weak.lock()) self->tapUserImageViewAction(r);
                }));
            return std::vector<Ref<NSObject>>{view};
        });
    });
}

Ref<QVNRizUrDetailView> QVNRizUrDetailView::loadFromNib() {
    registerNib();
    Ref<UINib> nib = UINib::nibWithNibName(kNibName, nullptr);
    if (!nib) return nullptr;
    auto objects = nib->instantiateWithOwner(nullptr, Dictionary());
    return objects.empty() ? nullptr : std::dynamic_pointer_cast<QVNRizUrDetailView>(objects.front());
}

void QVNRizUrDetailView::layoutSubviews() {
    UIView::layoutSubviews();
    auto title = titleLabel.lock();
    auto web = webView.lock();
    auto titleHeight = titleHeightConstraint.lock();
    auto webHeight = webViewHeightConstraint.lock();
    const CGFloat W = bounds().size.width;
    CGFloat th = titleHeight ? titleHeight->constant() : 0;
    if (title) title->setFrame(CGRectMake(8, kAboveTitle, W - 16, th));
    if (web)
        web->setFrame(
            CGRectMake(0, kAboveTitle + th + kTitleToPage, W, webHeight ? webHeight->constant() : 0));
    if (auto like = likeButton.lock()) like->setFrame(CGRectMake(W - 78, 12, 70, 22));
}

std::string QVNRizUrDetailView::pageForContent(const std::string& content) {
    std::string css;
    if (Ref<NSURL> url = NSBundle::mainBundle()->URLForResource("XWDetails.css", ""))
        css = url->absoluteString();
    char width[64];
    std::snprintf(width, sizeof width, "%f", static_cast<double>(screenWidth() - 20));
    return "<html><head><link rel=\"stylesheet\" href=\"" + css + "\"></head><style>img{max-width:" + width +
           "px}</style><body>" + content + "</body></html>";
}

void QVNRizUrDetailView::updateWithData(const Ref<QVNDetailQuestion>& question) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string("RizUrChild"));
    if (!question) return;
    if (auto label = userNameLabel.lock()) label->setText(question->user_nickname);
    if (auto label = timeLabel.lock()) label->setText(question->addtime);
    if (auto label = titleLabel.lock()) label->setText(question->question_title);
    if (auto web = webView.lock()) {
        web->loadHTMLString(pageForContent(question->question_content.value_or("")), nullptr);
        web->setBackgroundColor(UIColor::redColor());
    }
    if (auto like = likeButton.lock()) {
        char title[32];
        std::snprintf(title, sizeof title, "(%d)", question->like ? question->like->intValue() : 0);
        like->setTitle(std::string(title), UIControlStateNormal);
        long state = question->is_like ? question->is_like->integerValue() : 0;
        if (state == 0) like->setImage(imageNamed("dianzan_up"), UIControlStateNormal);
        if (state == 1) like->setImage(imageNamed("dianzan_down"), UIControlStateNormal);
    }
    if (auto avatar = userImageView.lock())
        UIImageView_WebCache::wi_setImageWithURL(
            avatar, question->user_logo ? NSURL::URLWithString(*question->user_logo) : nullptr,
            imageNamed("touxiangmorentu"), WILoadRefreshCached);
}

void QVNRizUrDetailView::webViewDidFinishLoad(UIWebView&) {
    calculateContentHeight();
}

CGRect QVNRizUrDetailView::calculateContentHeight() {
    auto title = titleLabel.lock();
    std::string text = title && title->text() ? *title->text() : std::string();
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject(NSFontAttributeName, Value(UIFont::systemFontOfSize(17)));
    CGRect measured = NSStringDrawing::boundingRectWithSize(
        text, CGSizeMake(screenWidth() - 16, 1e300), NSStringDrawingUsesLineFragmentOrigin, attributes);
    TitledPageHeights::fit(*this, measured, webView.lock(), titleHeightConstraint.lock(),
                           webViewHeightConstraint.lock(), 62);
    if (auto d = delegate()) d->detailViewDidRefreshHeight(selfAs<QVNRizUrDetailView>());
    return frame();
}

void QVNRizUrDetailView::likeButtonAction(const Ref<NSObject>&) {
    if (likeBlock) likeBlock(selfAs<QVNRizUrDetailView>());
}

void QVNRizUrDetailView::tapUserImageViewAction(const Ref<NSObject>&) {
    if (tapUserImgBlock) tapUserImgBlock(selfAs<QVNRizUrDetailView>());
}
