#pragma once
// Buttons: a control showing a title, an image and a background image that depend on its state.
//
// Per-state values (title, title colour, title shadow colour, image, background image, attributed
// title) are kept for each state value given, combinations included (Selected | Highlighted). The
// value for the current state is the one set for exactly that state, else the one for Normal, as
// on the platform (a selected and highlighted button without its own image shows the normal one).
// The "current..." readers answer it.
//
// The button shows its values through subviews: titleLabel (a UILabel, system font 15, middle
// truncation), imageView (a UIImageView) and a background image view behind both, made on first
// need. Layout (layoutSubviews, through the virtual ...RectForContentRect methods) places the image
// then the title side by side inside the bounds less contentEdgeInsets, by the content alignments;
// titleEdgeInsets and imageEdgeInsets inset the area each of them is placed in. An image larger
// than its area is shrunk to it, keeping its proportions, so it never draws past the content
// rectangle (the image view scales to fill the rectangle it is given). The background image fills
// the bounds.
//
// Types: Custom shows what it is given (title colour white until set). System tints: the title
// colour defaults to the tint colour (grey when disabled, dimmed when highlighted) and images are
// drawn as templates in the tint colour; its fitting size adds 6 points above and below a title.
// While highlighted, with adjustsImageWhenHighlighted and no image of its own for the state, the
// image is darkened; while disabled, with adjustsImageWhenDisabled, it is lightened.
//
// Main thread only.

#include <map>
#include <optional>
#include <string>

#include "graphics/NSAttributedString.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "uikit/UIControl.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"

enum UIButtonType : long {
    UIButtonTypeCustom = 0,
    UIButtonTypeSystem = 1,
    UIButtonTypeDetailDisclosure = 2,
    UIButtonTypeInfoLight = 3,
    UIButtonTypeInfoDark = 4,
    UIButtonTypeContactAdd = 5,
    UIButtonTypeRoundedRect = UIButtonTypeSystem,
};

class UIButton : public UIControl {
  public:
    // A custom button (initWithFrame:).
    UIButton();
    explicit UIButton(CGRect frame);
    explicit UIButton(UIButtonType type);
    std::string className() const override { return "UIButton"; }

    static Ref<UIButton> buttonWithType(UIButtonType type);
    UIButtonType buttonType() const { return type_; }

    // ---- per-state values ---------------------------------------------------------------------
    void setTitle(const std::optional<std::string>& title, UIControlState state);
    void setTitleColor(const Ref<UIColor>& color, UIControlState state);
    void setTitleShadowColor(const Ref<UIColor>& color, UIControlState state);
    void setImage(const Ref<UIImage>& image, UIControlState state);
    void setBackgroundImage(const Ref<UIImage>& image, UIControlState state);
    void setAttributedTitle(const Ref<NSAttributedString>& title, UIControlState state);

    // The value for the state, falling back to Normal.
    std::optional<std::string> titleForState(UIControlState state) const;
    Ref<UIColor> titleColorForState(UIControlState state) const;
    Ref<UIColor> titleShadowColorForState(UIControlState state) const;
    Ref<UIImage> imageForState(UIControlState state) const;
    Ref<UIImage> backgroundImageForState(UIControlState state) const;
    Ref<NSAttributedString> attributedTitleForState(UIControlState state) const;

    std::optional<std::string> currentTitle() const { return titleForState(state()); }
    Ref<UIColor> currentTitleColor() const { return titleColorForState(state()); }
    Ref<UIColor> currentTitleShadowColor() const { return titleShadowColorForState(state()); }
    Ref<UIImage> currentImage() const { return imageForState(state()); }
    Ref<UIImage> currentBackgroundImage() const { return backgroundImageForState(state()); }
    Ref<NSAttributedString> currentAttributedTitle() const { return attributedTitleForState(state()); }

    // ---- subviews -----------------------------------------------------------------------------
    // Made on first use (and when a title or image is first set).
    Ref<UILabel> titleLabel();
    Ref<UIImageView> imageView();

    // ---- insets and behaviour -----------------------------------------------------------------
    UIEdgeInsets contentEdgeInsets() const { return contentEdgeInsets_; }
    void setContentEdgeInsets(UIEdgeInsets insets);
    UIEdgeInsets titleEdgeInsets() const { return titleEdgeInsets_; }
    void setTitleEdgeInsets(UIEdgeInsets insets);
    UIEdgeInsets imageEdgeInsets() const { return imageEdgeInsets_; }
    void setImageEdgeInsets(UIEdgeInsets insets);
    bool adjustsImageWhenHighlighted() const { return adjustsImageWhenHighlighted_; }
    void setAdjustsImageWhenHighlighted(bool on);
    bool adjustsImageWhenDisabled() const { return adjustsImageWhenDisabled_; }
    void setAdjustsImageWhenDisabled(bool on);
    bool showsTouchWhenHighlighted() const { return showsTouchWhenHighlighted_; }
    void setShowsTouchWhenHighlighted(bool on) { showsTouchWhenHighlighted_ = on; }
    bool reversesTitleShadowWhenHighlighted() const { return reversesTitleShadow_; }
    void setReversesTitleShadowWhenHighlighted(bool on) { reversesTitleShadow_ = on; }

    // ---- layout -------------------------------------------------------------------------------
    virtual CGRect backgroundRectForBounds(CGRect bounds) const { return bounds; }
    virtual CGRect contentRectForBounds(CGRect bounds) const;
    virtual CGRect titleRectForContentRect(CGRect contentRect) const;
    virtual CGRect imageRectForContentRect(CGRect contentRect) const;
    void layoutSubviews() override;
    // The image and title side by side plus the content insets.
    CGSize sizeThatFits(CGSize size) const override;
    CGSize intrinsicContentSize() const override;

    void tintColorDidChange() override;

  protected:
    void stateDidChange() override;

  private:
    template <class T>
    using PerState = std::map<UIControlState, T>;
    template <class T>
    static T lookup(const PerState<T>& values, UIControlState state);

    void update();
    CGSize imageSize() const;
    CGSize titleSize() const;
    // The pair (image, title) placed inside an area by the alignments.
    CGRect placeInArea(CGRect area, CGSize size, CGFloat leadingOffset, CGFloat totalWidth) const;
    Ref<UIColor> effectiveTitleColor() const;
    Ref<UIImage> effectiveImage() const;

    UIButtonType type_ = UIButtonTypeCustom;
    PerState<std::string> titles_;
    PerState<Ref<UIColor>> titleColors_;
    PerState<Ref<UIColor>> titleShadowColors_;
    PerState<Ref<UIImage>> images_;
    PerState<Ref<UIImage>> backgroundImages_;
    PerState<Ref<NSAttributedString>> attributedTitles_;

    Ref<UILabel> titleLabel_;
    Ref<UIImageView> imageView_;
    Ref<UIImageView> backgroundView_;
    UIEdgeInsets contentEdgeInsets_{};
    UIEdgeInsets titleEdgeInsets_{};
    UIEdgeInsets imageEdgeInsets_{};
    bool adjustsImageWhenHighlighted_ = true;
    bool adjustsImageWhenDisabled_ = true;
    bool showsTouchWhenHighlighted_ = false;
    bool reversesTitleShadow_ = false;
};
