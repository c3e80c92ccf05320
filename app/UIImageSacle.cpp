#include "app/UIImageSacle.h"

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSThread.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "uikit/UIApplication.h"
#include "uikit/UIImageView.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UIWindow.h"

namespace {

constexpr long kPictureTag = 1;
constexpr double kAnimationSeconds = 0.3;

// Where the shown picture came from, in window coordinates; the next close returns there.
CGRect& rememberedFrame() {
    static CGRect frame = CGRectZero;
    return frame;
}

}  // namespace

void UIImageSacle::showImage(const Ref<UIImageView>& imageView) {
    NS_ASSERT_MAIN_THREAD();
    if (!imageView) return;
    Ref<UIImage> image = imageView->image();
    // Without a width the full-screen height (h x W / w) has no value: there is nothing to show.
    if (!image || !(image->size().width > 0)) return;
    Ref<UIApplication> application = UIApplication::sharedApplication();
    Ref<UIWindow> window = application ? application->keyWindow() : nullptr;
    if (!window) return;

    CGRect screen = UIScreen::mainScreen()->bounds();
    auto backdrop = make<UIView>(CGRectMake(0, 0, screen.size.width, screen.size.height));
    backdrop->setBackgroundColor(UIColor::blackColor());
    backdrop->setAlpha(0);

    rememberedFrame() = imageView->convertRectToView(imageView->bounds(), window);
    auto picture = make<UIImageView>(rememberedFrame());
    picture->setImage(image);
    picture->setTag(kPictureTag);
    backdrop->addSubview(picture);
    window->addSubview(backdrop);

    backdrop->addGestureRecognizer(make<UITapGestureRecognizer>(
        nullptr, [](const Ref<UIGestureRecognizer>& sender) { UIImageSacle::hideImage(sender); }));

    CGSize size = image->size();
    Weak<UIView> weakBackdrop = backdrop;
    Weak<UIImageView> weakPicture = picture;
    UIView::animateWithDuration(kAnimationSeconds, [=] {
        Ref<UIImageView> shown = weakPicture.lock();
        Ref<UIView> back = weakBackdrop.lock();
        if (!shown || !back) return;
        CGFloat height = size.height * screen.size.width / size.width;
        shown->setFrame(CGRectMake(0, (screen.size.height - height) * 0.5, screen.size.width, height));
        back->setAlpha(1);
    });
}

void UIImageSacle::hideImage(const Ref<UIGestureRecognizer>& tap) {
    NS_ASSERT_MAIN_THREAD();
    Ref<UIView> backdrop = tap ? tap->view() : nullptr;
    if (!backdrop) return;
    Ref<UIView> picture = backdrop->viewWithTag(kPictureTag);
    CGRect origin = rememberedFrame();
    Weak<UIView> weakBackdrop = backdrop;
    Weak<UIView> weakPicture = picture;
    UIView::animateWithDuration(
        kAnimationSeconds,
        [=] {
            if (Ref<UIView> shown = weakPicture.lock()) shown->setFrame(origin);
            if (Ref<UIView> back = weakBackdrop.lock()) back->setAlpha(0);
        },
        [weakBackdrop](bool) {
            if (Ref<UIView> back = weakBackdrop.lock()) back->removeFromSuperview();
        });
}
