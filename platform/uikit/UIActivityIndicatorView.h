#pragma once
// Activity indicators: a spinner that is either animating or stopped.
//
// The style sets the size (WhiteLarge 37 points, White and Gray 20) and the default colour
// (white, white, grey); a colour set explicitly wins. With hidesWhenStopped (the default) the
// indicator is hidden while stopped, from its creation on. Animating is a state only: the spinner
// is drawn in one position (twelve spokes fading around the circle). Main thread only.

#include "graphics/UIColor.h"
#include "uikit/UIView.h"

enum UIActivityIndicatorViewStyle : long {
    UIActivityIndicatorViewStyleWhiteLarge = 0,
    UIActivityIndicatorViewStyleWhite = 1,
    UIActivityIndicatorViewStyleGray = 2,
};

class UIActivityIndicatorView : public UIView {
  public:
    // initWithActivityIndicatorStyle: a frame of the style's size at (0, 0).
    explicit UIActivityIndicatorView(UIActivityIndicatorViewStyle style = UIActivityIndicatorViewStyleWhite);
    // initWithFrame: the white style in the given frame.
    explicit UIActivityIndicatorView(CGRect frame);
    std::string className() const override { return "UIActivityIndicatorView"; }

    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
    // Resizes the view to the style's size, keeping its centre.
    void setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style);
    static CGFloat sizeForStyle(UIActivityIndicatorViewStyle style);

    // The explicit colour, else the style's.
    Ref<UIColor> color() const;
    void setColor(const Ref<UIColor>& color);

    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }

    CGSize sizeThatFits(CGSize size) const override;
    CGSize intrinsicContentSize() const override { return sizeThatFits(CGSizeZero); }
    void drawRect(CGRect rect) override;
    // "animating".
    Value valueForKey(const std::string& key) const override;

  private:
    UIActivityIndicatorViewStyle style_;
    Ref<UIColor> color_;
    bool hidesWhenStopped_ = true;
    bool animating_ = false;
};
