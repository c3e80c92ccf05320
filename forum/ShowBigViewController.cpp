#include "forum/ShowBigViewController.h"

#include <cstdlib>

#include "forum/ForumResources.h"
#include "foundation/NSLog.h"
#include "graphics/UIColor.h"
#include "uikit/UIDevice.h"
#include "uikit/UINavigationController.h"

double ShowBigViewController::systemVersion() {
    return std::atof(UIDevice::currentDevice()->systemVersion().c_str());
}

void ShowBigViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    setTitle(std::string("查看选择图片"));
    Ref<ShowBigViewController> self = selfAs<ShowBigViewController>();
    rightbtn = UIButton::buttonWithType(UIButtonTypeCustom);
    rightbtn->setFrame(CGRectMake(view()->bounds().size.width - 40, 9, 61, 32));
    rightbtn->setTitle(std::string("完成"), UIControlStateNormal);
    rightbtn->addTarget(self, &ShowBigViewController::complete, "complete:", UIControlEventTouchUpInside);
    navigationItem()->setRightBarButtonItem(make<UIBarButtonItem>(rightbtn));
    auto back = UIButton::buttonWithType(UIButtonTypeCustom);
    back->setFrame(CGRectMake(0, 0, 11, 20));
    back->setImage(detail::forum::imageNamed("fanhui1.png"), UIControlStateNormal);
    back->addTarget(self, &ShowBigViewController::dismiss, "dismiss", UIControlEventTouchUpInside);
    navigationItem()->setLeftBarButtonItem(make<UIBarButtonItem>(back));
    if (auto navigation = navigationController()) {
        if (systemVersion() >= 7.0) {
            navigation->navigationBar()->setBarTintColor(UIColor::blackColor());
            UINavigationBar::appearance().setTintColor(UIColor::whiteColor());
        } else {
            navigation->navigationBar()->setTintColor(UIColor::blackColor());
        }
    }
    layOut();
}

void ShowBigViewController::layOut() {
    view()->setBackgroundColor(UIColor::blackColor());
    const CGRect bounds = view()->bounds();
    scrollerview_ = make<UIScrollView>(CGRectMake(0, 0, bounds.size.width, bounds.size.height));
    scrollerview_->setBackgroundColor(UIColor::whiteColor());
    scrollerview_->setDelegate(selfAs<ShowBigViewController>());
    scrollerview_->setBounces(false);
    scrollerview_->setCanCancelContentTouches(false);
    scrollerview_->setIndicatorStyle(UIScrollViewIndicatorStyleWhite);
    scrollerview_->setClipsToBounds(true);
    scrollerview_->setScrollEnabled(true);
    scrollerview_->setPagingEnabled(true);
    scrollerview_->setDirectionalLockEnabled(false);
    scrollerview_->setAlwaysBounceHorizontal(true);
    scrollerview_->setShowsHorizontalScrollIndicator(false);
    scrollerview_->setShowsVerticalScrollIndicator(true);
    const CGSize page = scrollerview_->bounds().size;
    for (std::size_t i = 0; i < arrayOK_.size(); ++i) {
        auto imageView = make<UIImageView>(CGRectMake(i * page.width, 0, page.width, page.height));
        imageView->setContentMode(UIViewContentModeScaleAspectFill);
        imageView->setClipsToBounds(true);
        Ref<ALAssetRepresentation> representation =
            arrayOK_[i] ? arrayOK_[i]->defaultRepresentation() : nullptr;
        CGImageRef picture = representation ? representation->fullScreenImage() : CGImageRef();
        if (picture) imageView->setImage(UIImage::imageWithCGImage(picture));
        scrollerview_->addSubview(imageView);
    }
    scrollerview_->setContentSize(CGSizeMake(arrayOK_.size() * bounds.size.width, 0));
    view()->addSubview(scrollerview_);
}

void ShowBigViewController::complete(const Ref<NSObject>&) {
    NSLogLine("完成了,跳到主发布页面");
    dismissViewControllerAnimated(true);
}

void ShowBigViewController::OK(const Ref<NSObject>&) {
    NSLogLine("点击了按钮，就取消选中这个图片");
}

void ShowBigViewController::dismiss() {
    Ref<UINavigationController> navigation = navigationController();
    if (!navigation) return;
    navigation->popViewControllerAnimated(true);
    Ref<UIColor> red = UIColor::colorWithRed(1.0, 0, 0, 0.7);
    if (systemVersion() >= 7.0)
        navigation->navigationBar()->setBarTintColor(red);
    else
        navigation->navigationBar()->setTintColor(red);
}
