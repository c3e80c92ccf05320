#pragma once
// Progress bars: a track with a filled part for the progress (0...1).
//
// setProgress(value, animated) changes the value at once (an animated change only reads as
// animated: the model is what tests and drawing see) and clamps it to 0...1; "progress" is
// observable. The bar is 2 points high (3 for the bar style) whatever its frame; drawing fills the
// track with trackTintColor (light grey by default) and the progress part from the left with
// progressTintColor (the tint colour by default), or with the images when set. Main thread only.

#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "uikit/UIView.h"

enum UIProgressViewStyle : long {
    UIProgressViewStyleDefault = 0,
    UIProgressViewStyleBar = 1,
};

class UIProgressView : public UIView {
  public:
    UIProgressView();
    explicit UIProgressView(CGRect frame);
    // initWithProgressViewStyle:
    explicit UIProgressView(UIProgressViewStyle style);
    std::string className() const override { return "UIProgressView"; }

    UIProgressViewStyle progressViewStyle() const { return style_; }
    void setProgressViewStyle(UIProgressViewStyle style);
    float progress() const { return progress_; }
    void setProgress(float progress);
    void setProgress(float progress, bool animated);
    // Whether the last change was asked to animate.
    bool lastChangeAnimated() const { return lastAnimated_; }

    Ref<UIColor> progressTintColor() const { return progressTintColor_; }
    void setProgressTintColor(const Ref<UIColor>& color);
    Ref<UIColor> trackTintColor() const { return trackTintColor_; }
    void setTrackTintColor(const Ref<UIColor>& color);
    Ref<UIImage> progressImage() const { return progressImage_; }
    void setProgressImage(const Ref<UIImage>& image);
    Ref<UIImage> trackImage() const { return trackImage_; }
    void setTrackImage(const Ref<UIImage>& image);

    CGSize sizeThatFits(CGSize size) const override;
    CGSize intrinsicContentSize() const override;
    void drawRect(CGRect rect) override;
    // "progress" (a float number).
    Value valueForKey(const std::string& key) const override;

  private:
    UIProgressViewStyle style_ = UIProgressViewStyleDefault;
    float progress_ = 0;
    bool lastAnimated_ = false;
    Ref<UIColor> progressTintColor_, trackTintColor_;
    Ref<UIImage> progressImage_, trackImage_;
};
