#pragma once
// The look of a status-bar notification: bar and text colours, text shadow and font, how the bar
// comes in and goes, and the progress bar's colour, thickness and place. Six styles are
// predefined by name; others are registered with SNStatusBarNotification::addStyleNamed.
//
// Copies share the colours, shadow and font (they are immutable). Main thread only.

#include <string>
#include <vector>

#include "controls/NSShadow.h"
#include "foundation/NSObject.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"

// The predefined styles' names.
inline constexpr char SNStatusBarStyleDefault[] = "SNStatusBarStyleDefault";
inline constexpr char SNStatusBarStyleError[] = "SNStatusBarStyleError";
inline constexpr char SNStatusBarStyleWarning[] = "SNStatusBarStyleWarning";
inline constexpr char SNStatusBarStyleSuccess[] = "SNStatusBarStyleSuccess";
inline constexpr char SNStatusBarStyleDark[] = "SNStatusBarStyleDark";
inline constexpr char SNStatusBarStyleMatrix[] = "SNStatusBarStyleMatrix";

// How the bar comes in and goes.
using SNStatusBarAnimationType = long;
inline constexpr SNStatusBarAnimationType SNStatusBarAnimationTypeNone = 0;
// Slides down from above the screen (and back up).
inline constexpr SNStatusBarAnimationType SNStatusBarAnimationTypeMove = 1;
// Slides down with a bounce (and back up).
inline constexpr SNStatusBarAnimationType SNStatusBarAnimationTypeBounce = 2;
inline constexpr SNStatusBarAnimationType SNStatusBarAnimationTypeFade = 3;

// Where the progress bar goes.
using SNStatusBarProgressBarPosition = long;
inline constexpr SNStatusBarProgressBarPosition SNStatusBarProgressBarPositionBottom = 0;
inline constexpr SNStatusBarProgressBarPosition SNStatusBarProgressBarPositionCenter = 1;
inline constexpr SNStatusBarProgressBarPosition SNStatusBarProgressBarPositionTop = 2;
// Just under the bar.
inline constexpr SNStatusBarProgressBarPosition SNStatusBarProgressBarPositionBelow = 3;
// Under the navigation bar that follows the status bar.
inline constexpr SNStatusBarProgressBarPosition SNStatusBarProgressBarPositionNavBar = 4;

class SNStatusBarStyle : public NSObject {
  public:
    SNStatusBarStyle() = default;
    std::string className() const override { return "SNStatusBarStyle"; }

    // A new style of the receiver's class with all nine properties.
    virtual Ref<SNStatusBarStyle> copy() const;
    Ref<NSObject> copyObject() const override { return copy(); }

    // The predefined style of that name; nullptr for any other name.
    static Ref<SNStatusBarStyle> defaultStyleWithName(const std::string& name);
    // The five predefined names other than the default: error, warning, success, matrix, dark.
    static std::vector<std::string> allDefaultStyleIdentifier();

    const Ref<UIColor>& barColor() const { return barColor_; }
    void setBarColor(const Ref<UIColor>& color) { barColor_ = color; }
    const Ref<UIColor>& textColor() const { return textColor_; }
    void setTextColor(const Ref<UIColor>& color) { textColor_ = color; }
    // nullptr: no shadow.
    const Ref<NSShadow>& textShadow() const { return textShadow_; }
    void setTextShadow(const Ref<NSShadow>& shadow) { textShadow_ = shadow; }
    const Ref<UIFont>& font() const { return font_; }
    void setFont(const Ref<UIFont>& font) { font_ = font; }
    double textVerticalPositionAdjustment() const { return textVerticalPositionAdjustment_; }
    void setTextVerticalPositionAdjustment(double adjustment) {
        textVerticalPositionAdjustment_ = adjustment;
    }
    SNStatusBarAnimationType animationType() const { return animationType_; }
    void setAnimationType(SNStatusBarAnimationType type) { animationType_ = type; }
    const Ref<UIColor>& progressBarColor() const { return progressBarColor_; }
    void setProgressBarColor(const Ref<UIColor>& color) { progressBarColor_ = color; }
    double progressBarHeight() const { return progressBarHeight_; }
    void setProgressBarHeight(double height) { progressBarHeight_ = height; }
    SNStatusBarProgressBarPosition progressBarPosition() const { return progressBarPosition_; }
    void setProgressBarPosition(SNStatusBarProgressBarPosition position) { progressBarPosition_ = position; }

  private:
    Ref<UIColor> barColor_;
    Ref<UIColor> textColor_;
    Ref<NSShadow> textShadow_;
    Ref<UIFont> font_;
    double textVerticalPositionAdjustment_ = 0;
    SNStatusBarAnimationType animationType_ = SNStatusBarAnimationTypeNone;
    Ref<UIColor> progressBarColor_;
    double progressBarHeight_ = 0;
    SNStatusBarProgressBarPosition progressBarPosition_ = SNStatusBarProgressBarPositionBottom;
};
