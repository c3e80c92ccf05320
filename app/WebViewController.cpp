#include "app/WebViewController.h"

#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "network/NSURLRequest.h"
#include "uikit/UIButton.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"

namespace {
constexpr double kHeaderHeight = 64;
}

void WebViewController::didInit() {
    if (!hasViewLoader()) setViewLoader(&WebViewController::loadDefaultView);
}

Ref<UIView> WebViewController::loadDefaultView(UIViewController& owner) {
    auto& controller = static_cast<WebViewController&>(owner);
    CGRect bounds = UIScreen::mainScreen()->bounds();
    auto view = make<UIView>(bounds);
    view->setBackgroundColor(UIColor::whiteColor());

    auto header = make<UIView>(CGRectMake(0, 0, bounds.size.width, kHeaderHeight));
    header->setBackgroundColor(UIColor::colorWithRed(11 / 255.0, 35 / 255.0, 44 / 255.0, 1));
    view->addSubview(header);

    auto back = UIButton::buttonWithType(UIButtonTypeCustom);
    back->setFrame(CGRectMake(0, 20, 44, 44));
    back->setTitle(std::string("返回"), UIControlStateNormal);
    back->addTarget(controller.selfAs<WebViewController>(), &WebViewController::backButtonDidTouch,
                    "backButtonDidTouch:", UIControlEventTouchUpInside);
    header->addSubview(back);
    controller.backButton = back;

    auto web = make<UIWebView>(
        CGRectMake(0, kHeaderHeight, bounds.size.width, std::max(0.0, bounds.size.height - kHeaderHeight)));
    view->addSubview(web);
    controller.webView = web;
    return view;
}

void WebViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto web = webView.lock();
    if (!web) return;
    web->setScalesPageToFit(true);
    if (!advertisementURL_) {
        // Nothing to show: the caller forgot the URL; an empty page says more than a failed load.
        NSLog("WebViewController: no advertisement URL was set");
        return;
    }
    web->loadRequest(NSURLRequest::requestWithURL(advertisementURL_));
}

void WebViewController::backButtonDidTouch(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

UIInterfaceOrientationMask WebViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait;
}

UIInterfaceOrientation WebViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationPortrait;
}

UIStatusBarStyle WebViewController::preferredStatusBarStyle() const {
    return UIStatusBarStyleLightContent;
}
