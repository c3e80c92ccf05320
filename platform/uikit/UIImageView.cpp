#include "uikit/UIImageView.h"

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "graphics/UIGraphics.h"

namespace {

// The image filled with the colour through its own alpha (how template images show).
Ref<UIImage> tinted(const Ref<UIImage>& image, const Ref<UIColor>& color) {
    if (!image || !color) return image;
    const CGSize size = image->size();
    if (size.width <= 0 || size.height <= 0) return image;
    UIGraphicsBeginImageContextWithOptions(size, false, image->scale());
    const CGRect rect{{0, 0}, size};
    image->drawInRect(rect);
    color->setFill();
    UIRectFillUsingBlendMode(rect, kCGBlendModeSourceIn);
    Ref<UIImage> result = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return result ? result : image;
}

}  // namespace

UIImageView::UIImageView() : UIView() {
    commonInit();
}

UIImageView::UIImageView(CGRect frame) : UIView(frame) {
    commonInit();
}

UIImageView::UIImageView(const Ref<UIImage>& image) : UIImageView(image, nullptr) {}

UIImageView::UIImageView(const Ref<UIImage>& image, const Ref<UIImage>& highlightedImage)
    : UIView(CGRect{{0, 0}, image ? image->size() : CGSizeZero}) {
    commonInit();
    highlightedImage_ = highlightedImage;
    // The frames of an animated image start in didInit, once the view has its Ref.
    image_ = image;
    showDisplayedImage();
}

void UIImageView::didInit() {
    if (!frameTimer_ && image_ && image_->images().size() > 1 && !highlighted_) {
        startFrameTimer(image_->images(), image_->duration(), 0);
    }
}

UIImageView::~UIImageView() {
    if (frameTimer_) frameTimer_->invalidate();
}

void UIImageView::commonInit() {
    setUserInteractionEnabled(false);
    setOpaque(false);
}

// ---- images -------------------------------------------------------------------------------------

void UIImageView::setImage(const Ref<UIImage>& image) {
    NS_ASSERT_MAIN_THREAD();
    if (image == image_) return;
    image_ = image;
    // An animated image plays by itself; a plain one ends the previous image's frames.
    if (!explicitAnimation_) {
        stopFrameTimer();
        if (image_ && image_->images().size() > 1 && !highlighted_) {
            startFrameTimer(image_->images(), image_->duration(), 0);
        }
    }
    showDisplayedImage();
    invalidateIntrinsicContentSize();
}

void UIImageView::setHighlightedImage(const Ref<UIImage>& image) {
    NS_ASSERT_MAIN_THREAD();
    highlightedImage_ = image;
    showDisplayedImage();
}

void UIImageView::setHighlighted(bool highlighted) {
    NS_ASSERT_MAIN_THREAD();
    if (highlighted_ == highlighted) return;
    highlighted_ = highlighted;
    if (explicitAnimation_) {
        // The other set of frames takes over from the start.
        startAnimating();
        return;
    }
    showDisplayedImage();
}

// ---- frame animation ----------------------------------------------------------------------------

void UIImageView::setAnimationImages(std::vector<Ref<UIImage>> images) {
    NS_ASSERT_MAIN_THREAD();
    if (explicitAnimation_) stopAnimating();
    animationImages_ = std::move(images);
}

void UIImageView::setHighlightedAnimationImages(std::vector<Ref<UIImage>> images) {
    NS_ASSERT_MAIN_THREAD();
    highlightedAnimationImages_ = std::move(images);
}

const std::vector<Ref<UIImage>>& UIImageView::runningFrames() const {
    if (highlighted_ && !highlightedAnimationImages_.empty()) return highlightedAnimationImages_;
    return animationImages_;
}

void UIImageView::startAnimating() {
    NS_ASSERT_MAIN_THREAD();
    const auto& frames = runningFrames();
    if (frames.empty()) return;
    stopFrameTimer();
    explicitAnimation_ = true;
    double duration = animationDuration_ > 0 ? animationDuration_ : frames.size() / 30.0;
    startFrameTimer(frames, duration, animationRepeatCount_);
}

void UIImageView::stopAnimating() {
    NS_ASSERT_MAIN_THREAD();
    if (!explicitAnimation_) return;
    explicitAnimation_ = false;
    stopFrameTimer();
    // The image (an animated one plays again).
    if (image_ && image_->images().size() > 1 && !highlighted_) {
        startFrameTimer(image_->images(), image_->duration(), 0);
    }
    showDisplayedImage();
}

bool UIImageView::isAnimating() const {
    return explicitAnimation_ && frameTimer_ != nullptr;
}

void UIImageView::startFrameTimer(const std::vector<Ref<UIImage>>& frames, double duration, long repeats) {
    auto me = weak_from_this().lock();
    if (!me) return;  // still in the constructor: didInit starts it
    frames_ = frames;
    frameIndex_ = 0;
    passes_ = 0;
    repeats_ = repeats;
    double interval = duration > 0 ? duration / frames_.size() : 1.0 / 30;
    Weak<UIImageView> weak = std::static_pointer_cast<UIImageView>(me);
    frameTimer_ = NSTimer::timerWithTimeInterval(interval, true, [weak](const Ref<NSTimer>&) {
        if (auto view = weak.lock()) view->advanceFrame();
    });
    NSRunLoop::mainRunLoop()->addTimer(frameTimer_, NSRunLoopCommonModes);
    showDisplayedImage();
}

void UIImageView::stopFrameTimer() {
    if (frameTimer_) frameTimer_->invalidate();
    frameTimer_ = nullptr;
    frames_.clear();
    frameIndex_ = 0;
}

void UIImageView::advanceFrame() {
    if (frames_.empty()) return;
    if (++frameIndex_ >= frames_.size()) {
        ++passes_;
        if (repeats_ > 0 && passes_ >= repeats_) {
            // The frames ran out: back to the image.
            explicitAnimation_ = false;
            stopFrameTimer();
            showDisplayedImage();
            return;
        }
        frameIndex_ = 0;
    }
    showDisplayedImage();
}

Ref<UIImage> UIImageView::displayedImage() const {
    if (frameTimer_ && !frames_.empty()) return frames_[frameIndex_ % frames_.size()];
    if (highlighted_ && highlightedImage_) return highlightedImage_;
    return image_;
}

void UIImageView::showDisplayedImage() {
    Ref<UIImage> image = displayedImage();
    Ref<UIImage> drawn = image;
    if (image && image->renderingMode() == UIImageRenderingMode::AlwaysTemplate)
        drawn = tinted(image, tintColor());
    shown_ = drawn;
    if (drawn) {
        layer()->setContents(drawn->CGImage());
        layer()->setContentsScale(drawn->scale());
    } else {
        layer()->setContents(nullptr);
    }
}

void UIImageView::tintColorDidChange() {
    if (auto image = displayedImage();
        image && image->renderingMode() == UIImageRenderingMode::AlwaysTemplate) {
        showDisplayedImage();
    }
}

// ---- size ---------------------------------------------------------------------------------------

CGSize UIImageView::sizeThatFits(CGSize size) const {
    auto image = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
    return image ? image->size() : CGSizeZero;
}

CGSize UIImageView::intrinsicContentSize() const {
    auto image = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
    if (!image) return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
    return image->size();
}
