#pragma once
// Image views: show one picture (or its highlighted variant), or play a list of frames.
//
// The picture shown is the layer's contents, placed by the view's contentMode (the layer's
// gravity), so window rendering draws it; displayedImage() answers what is shown now, for tests.
// A template image (rendering mode AlwaysTemplate) is shown filled with the view's tintColor
// through its alpha; changing the tint redraws it.
//
// Frame animation: startAnimating() shows animationImages one after the other, each for
// animationDuration / count seconds on the platform clock (the duration defaults to 1/30 s per
// frame), from the first frame, animationRepeatCount times (0: until stopped). When the frames
// run out, or on stopAnimating(), the view shows its image again. An animated UIImage
// (UIImage::animatedImageWithImages) set as the image plays its frames over its duration in the
// same way, for as long as it is the image. The frame timer runs in the common run-loop modes, so
// frames advance while a scroll view is dragged.
//
// intrinsicContentSize and sizeThatFits answer the image's size in points. Image views do not take
// touches by default (userInteractionEnabled is false). Main thread only.

#include <vector>

#include "foundation/NSTimer.h"
#include "graphics/UIImage.h"
#include "uikit/UIView.h"

class UIImageView : public UIView {
  public:
    UIImageView();
    explicit UIImageView(CGRect frame);
    // initWithImage: the frame is the image's size at (0, 0).
    explicit UIImageView(const Ref<UIImage>& image);
    UIImageView(const Ref<UIImage>& image, const Ref<UIImage>& highlightedImage);
    ~UIImageView() override;
    // Starts the frames of an animated image given to the constructor. Subclasses that have a
    // didInit of their own call this one.
    void didInit();
    std::string className() const override { return "UIImageView"; }

    const Ref<UIImage>& image() const { return image_; }
    virtual void setImage(const Ref<UIImage>& image);
    const Ref<UIImage>& highlightedImage() const { return highlightedImage_; }
    void setHighlightedImage(const Ref<UIImage>& image);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);

    const std::vector<Ref<UIImage>>& animationImages() const { return animationImages_; }
    // Setting the frames stops a running animation.
    void setAnimationImages(std::vector<Ref<UIImage>> images);
    const std::vector<Ref<UIImage>>& highlightedAnimationImages() const {
        return highlightedAnimationImages_;
    }
    void setHighlightedAnimationImages(std::vector<Ref<UIImage>> images);
    // Seconds for one pass over the frames; 0 means 1/30 s per frame.
    double animationDuration() const { return animationDuration_; }
    void setAnimationDuration(double seconds) { animationDuration_ = seconds < 0 ? 0 : seconds; }
    long animationRepeatCount() const { return animationRepeatCount_; }
    void setAnimationRepeatCount(long count) { animationRepeatCount_ = count < 0 ? 0 : count; }
    // Starts from the first frame (restarts when running); does nothing without frames.
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const;

    // What the view shows now: the current frame while animating, else the (highlighted) image.
    Ref<UIImage> displayedImage() const;
    // The index of the frame shown while animating (0 otherwise).
    std::size_t currentFrameIndex() const { return frameIndex_; }

    CGSize sizeThatFits(CGSize size) const override;
    CGSize intrinsicContentSize() const override;
    void tintColorDidChange() override;

  private:
    void commonInit();
    void showDisplayedImage();
    void startFrameTimer(const std::vector<Ref<UIImage>>& frames, double duration, long repeats);
    void stopFrameTimer();
    void advanceFrame();
    const std::vector<Ref<UIImage>>& runningFrames() const;

    Ref<UIImage> image_;
    Ref<UIImage> highlightedImage_;
    bool highlighted_ = false;
    std::vector<Ref<UIImage>> animationImages_;
    std::vector<Ref<UIImage>> highlightedAnimationImages_;
    double animationDuration_ = 0;
    long animationRepeatCount_ = 0;

    // The running frame animation: the frames of animationImages (explicit) or of an animated
    // image, the frame shown and the passes completed.
    Ref<NSTimer> frameTimer_;
    bool explicitAnimation_ = false;
    std::vector<Ref<UIImage>> frames_;
    std::size_t frameIndex_ = 0;
    long passes_ = 0;
    long repeats_ = 0;
    Ref<UIImage> shown_;
};
