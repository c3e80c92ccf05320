#include "information/InformationRootViewController.h"

#include <algorithm>
#include <cmath>

#include "app/QVNTAAnalyticsHelper.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIFont.h"
#include "information/InformationScreens.h"
#include "information/NewsListViewController.h"
#include "sdk/analytics/collection/Tally.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

constexpr CGFloat kTitleBarHeight = 40;
constexpr CGFloat kRedLineHeight = 2;
constexpr char kAnalyticsEvent[] = "TuningNewsParent";
constexpr char kPageName[] = "InformationRootViewController";

Ref<UIButton> titleButton(CGRect frame, const std::string& title) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(frame);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor_Extensions::QVNBlackColor(), UIControlStateNormal);
    button->titleLabel()->setFont(UIFont::systemFontOfSize(15));
    return button;
}

Ref<UIView> redLine(CGRect frame) {
    auto line = make<UIView>(frame);
    line->setBackgroundColor(UIColor_Extensions::QVNRedColor());
    return line;
}

}  // namespace

Ref<NewsListViewController> InformationRootViewController::newsList(std::size_t index) const {
    const auto& children = childViewControllers();
    return index < children.size() ? std::dynamic_pointer_cast<NewsListViewController>(children[index])
                                   : nullptr;
}

// The scene's view: the two title buttons with their underlines over the pager.
void InformationRootViewController::loadView() {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    const CGFloat W = screen.size.width;
    auto root = make<UIView>(screen);
    root->setBackgroundColor(UIColor::whiteColor());
    auto bar = make<UIView>(CGRectMake(0, 0, W, kTitleBarHeight));
    bar->setBackgroundColor(UIColor::whiteColor());
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    root->addSubview(bar);

    Weak<InformationRootViewController> weak = selfAs<InformationRootViewController>();
    auto car = titleButton(CGRectMake(0, 0, W / 2, kTitleBarHeight), kCarInfoTitle);
    car->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleRightMargin);
    car->addTarget(
        self(),
        [weak](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
            if (auto self = weak.lock()) self->showCarInfo(sender);
        },
        "showCarInfo:", UIControlEventTouchUpInside);
    bar->addSubview(car);
    auto brand = titleButton(CGRectMake(W / 2, 0, W / 2, kTitleBarHeight), kBrandInfoTitle);
    brand->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleLeftMargin);
    brand->addTarget(
        self(),
        [weak](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
            if (auto self = weak.lock()) self->showBrandInfo(sender);
        },
        "showBrandInfo:", UIControlEventTouchUpInside);
    bar->addSubview(brand);
    auto carLine = redLine(CGRectMake(W / 8, kTitleBarHeight - kRedLineHeight, W / 4, kRedLineHeight));
    carLine->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleRightMargin);
    bar->addSubview(carLine);
    auto brandLine = redLine(CGRectMake(W * 5 / 8, kTitleBarHeight - kRedLineHeight, W / 4, kRedLineHeight));
    brandLine->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleLeftMargin);
    bar->addSubview(brandLine);

    auto pager = make<UIScrollView>(CGRectMake(0, kTitleBarHeight, W, screen.size.height - kTitleBarHeight));
    pager->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    pager->setDelegate(selfAs<InformationRootViewController>());
    root->addSubview(pager);

    carInfoButton = car;
    brandInfoButton = brand;
    informationRedLine = carLine;
    brandRedLine = brandLine;
    mainScrollView = pager;
    setView(root);
}

void InformationRootViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (auto line = brandRedLine.lock()) line->setHidden(true);

    Ref<UIStoryboard> board = storyboard();
    if (!board) board = UIStoryboard::storyboardWithName(InformationScreens::kInformationStoryboard, nullptr);
    for (long category : {1L, 2L}) {
        auto page =
            board
                ? std::dynamic_pointer_cast<NewsListViewController>(
                      board->instantiateViewControllerWithIdentifier(InformationScreens::kNewsListIdentifier))
                : nullptr;
        if (!page) continue;
        page->setCategory(category);
        addChildViewController(page);
    }

    Ref<UIScrollView> pager = mainScrollView.lock();
    if (pager) {
        pager->setContentSize(
            CGSizeMake(childViewControllers().size() * UIScreen::mainScreen()->bounds().size.width, 0));
        pager->setPagingEnabled(true);
        pager->setShowsHorizontalScrollIndicator(false);
    }
    selectedButton_ = carInfoButton.lock();
    buttons_.clear();
    if (auto car = carInfoButton.lock()) buttons_.push_back(car);
    if (auto brand = brandInfoButton.lock()) buttons_.push_back(brand);

    if (auto first = newsList(0); first && pager) {
        first->view()->setFrame(pager->bounds());
        pager->addSubview(first->view());
        first->didMoveToParentViewController(selfAs<UIViewController>());
    }
}

void InformationRootViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    QVNTAAnalyticsHelper::beginLogPageView(*this);
    Tally::beginLogPageView(std::string(kPageName));
}

void InformationRootViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    QVNTAAnalyticsHelper::endLogPageView(*this);
    Tally::endLogPageView(std::string(kPageName));
}

void InformationRootViewController::refreshFirstViewController() {
    showCarInfo(carInfoButton.lock());
}

void InformationRootViewController::showCarInfo(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string(kAnalyticsEvent));
    if (auto line = informationRedLine.lock()) line->setHidden(false);
    if (auto line = brandRedLine.lock()) line->setHidden(true);
    if (auto pager = mainScrollView.lock()) pager->setContentOffset(CGPointMake(0, 0), true);
    selectedButton_ = std::dynamic_pointer_cast<UIButton>(sender);
    changeButtonColorWithSeletedButton(selectedButton_);
    if (auto first = newsList(0)) first->refreshNewsLists();
}

void InformationRootViewController::showBrandInfo(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string(kAnalyticsEvent));
    auto button = std::dynamic_pointer_cast<UIButton>(sender);
    if (button && button == selectedButton_) return;
    if (auto line = informationRedLine.lock()) line->setHidden(true);
    if (auto line = brandRedLine.lock()) line->setHidden(false);
    if (auto pager = mainScrollView.lock())
        pager->setContentOffset(CGPointMake(pager->bounds().size.width, 0), true);
    selectedButton_ = button;
    changeButtonColorWithSeletedButton(selectedButton_);
}

void InformationRootViewController::changeButtonColorWithSeletedButton(const Ref<UIButton>& button) {
    for (const Ref<UIButton>& each : buttons_) {
        each->setTitleColor(each == button ? UIColor_Extensions::QVNDeepAccentColor()
                                           : UIColor_Extensions::QVNBlackColor(),
                            UIControlStateNormal);
    }
}

void InformationRootViewController::scrollViewDidScroll(UIScrollView& scrollView) {
    const CGFloat width = scrollView.frame().size.width;
    const CGFloat offset = scrollView.contentOffset().x;
    if (offset > 1.2 * width) {
        if (auto delegate = delegate_.lock()) delegate->informationRootViewControllerDidScrollToNext();
    }
    if (width <= 0 || buttons_.empty()) return;
    const double position = offset / width + 0.5;
    std::size_t page = position > 0 ? static_cast<std::size_t>(position) : 0;
    page = std::min(page, buttons_.size() - 1);
    selectedButton_ = buttons_[page];
}

void InformationRootViewController::scrollViewDidEndDecelerating(UIScrollView& scrollView) {
    scrollViewDidEndScrollingAnimation(scrollView);
}

void InformationRootViewController::scrollViewDidEndScrollingAnimation(UIScrollView& scrollView) {
    const CGFloat width = scrollView.frame().size.width;
    if (width <= 0) return;
    const double position = scrollView.contentOffset().x / width;
    const long page = position > 0 ? static_cast<long>(position) : 0;
    const bool carPage = page == 0;
    if (auto line = informationRedLine.lock()) line->setHidden(!carPage);
    if (auto line = brandRedLine.lock()) line->setHidden(carPage);
    if (auto car = carInfoButton.lock())
        car->setTitleColor(carPage ? UIColor_Extensions::QVNDeepAccentColor()
                                   : UIColor_Extensions::QVNBlackColor(),
                           UIControlStateNormal);
    if (auto brand = brandInfoButton.lock())
        brand->setTitleColor(carPage ? UIColor_Extensions::QVNBlackColor()
                                     : UIColor_Extensions::QVNDeepAccentColor(),
                             UIControlStateNormal);

    auto child = newsList(static_cast<std::size_t>(page));
    if (!child || child->view()->superview()) return;
    child->view()->setFrame(scrollView.bounds());
    scrollView.addSubview(child->view());
    // Its view arrives in a shown tab: it appears now, so it also hears the tab disappearing.
    if (appearanceState() == UIViewControllerAppearanceState::Appeared) {
        child->beginAppearanceTransition(true, false);
        child->endAppearanceTransition();
    }
}
