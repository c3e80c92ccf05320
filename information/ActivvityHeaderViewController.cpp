#include "information/ActivvityHeaderViewController.h"

#include "app/QVNConfiguration.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "network/NSURLRequest.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"

Ref<NSURL> ActivvityHeaderViewController::pageURL() {
    return NSURL::URLWithString(QVNConfiguration::eventsPageURL());
}

const Ref<VHProgressHUD>& ActivvityHeaderViewController::hud() {
    if (!hud_) {
        hud_ = VHProgressHUD::showHUDAddedTo(view(), true);
        hud_->setMode(VHProgressHUDModeSpinner);
    }
    return hud_;
}

void ActivvityHeaderViewController::loadView() {
    const CGRect bounds = UIScreen::mainScreen()->bounds();
    auto root = make<UIView>(bounds);
    root->setBackgroundColor(UIColor::whiteColor());
    auto bar = make<UIView>(CGRectMake(0, 0, bounds.size.width, kBarHeight));
    bar->setBackgroundColor(UIColor::colorWithRed(171 / 255.0, 3 / 255.0, 0, 1));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    auto title = make<UILabel>(CGRectMake(60, 0, bounds.size.width - 120, kBarHeight));
    title->setText(std::string("活动"));
    title->setTextColor(UIColor::whiteColor());
    title->setFont(UIFont::boldSystemFontOfSize(17));
    title->setTextAlignment(NSTextAlignmentCenter);
    bar->addSubview(title);
    auto back = UIButton::buttonWithType(UIButtonTypeCustom);
    back->setFrame(CGRectMake(8, 0, 44, kBarHeight));
    back->setTitle(std::string("返回"), UIControlStateNormal);
    back->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    back->addTarget(selfAs<ActivvityHeaderViewController>(), &ActivvityHeaderViewController::popController,
                    "popController:", UIControlEventTouchUpInside);
    bar->addSubview(back);
    root->addSubview(bar);
    setView(root);
}

void ActivvityHeaderViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    loadWebView();
}

void ActivvityHeaderViewController::loadWebView() {
    Ref<UIView> root = view();
    // The page is loaded afresh on every appearance; the web view of the last one goes, so that
    // returning to the screen does not pile pages up.
    if (auto old = acvityHesderWebview.lock()) {
        old->stopLoading();
        old->removeFromSuperview();
    }
    const CGSize size = root->bounds().size;
    auto web = make<UIWebView>(CGRectMake(0, kBarHeight, size.width, size.height - kBarHeight));
    web->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    acvityHesderWebview = web;
    if (Ref<NSURL> url = pageURL()) web->loadRequest(NSURLRequest::requestWithURL(url));
    root->addSubview(web);
    // Over the new page, which was added after it.
    const Ref<VHProgressHUD>& spinner = hud();
    root->bringSubviewToFront(spinner);
    spinner->hide(true, kHUDDelay);
}

void ActivvityHeaderViewController::popController(const Ref<NSObject>&) {
    if (auto navigation = navigationController()) navigation->popToRootViewControllerAnimated(true);
}
