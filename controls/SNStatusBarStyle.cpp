#include "controls/SNStatusBarStyle.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIScreen.h"

Ref<SNStatusBarStyle> SNStatusBarStyle::copy() const {
    auto style = make<SNStatusBarStyle>();
    style->barColor_ = barColor_;
    style->textColor_ = textColor_;
    style->textShadow_ = textShadow_;
    style->font_ = font_;
    style->textVerticalPositionAdjustment_ = textVerticalPositionAdjustment_;
    style->animationType_ = animationType_;
    style->progressBarColor_ = progressBarColor_;
    style->progressBarHeight_ = progressBarHeight_;
    style->progressBarPosition_ = progressBarPosition_;
    return style;
}

std::vector<std::string> SNStatusBarStyle::allDefaultStyleIdentifier() {
    return {SNStatusBarStyleError, SNStatusBarStyleWarning, SNStatusBarStyleSuccess, SNStatusBarStyleMatrix,
            SNStatusBarStyleDark};
}

Ref<SNStatusBarStyle> SNStatusBarStyle::defaultStyleWithName(const std::string& name) {
    NS_ASSERT_MAIN_THREAD_OR(return nullptr);
    auto style = make<SNStatusBarStyle>();
    style->setBarColor(UIColor::whiteColor());
    style->setProgressBarColor(UIColor::greenColor());
    style->setProgressBarHeight(1.0);
    style->setFont(UIFont::systemFontOfSize(12.0));
    style->setTextColor(UIColor::grayColor());
    style->setAnimationType(SNStatusBarAnimationTypeMove);
    style->setProgressBarPosition(SNStatusBarProgressBarPositionBottom);
    style->setTextShadow(nullptr);
    style->setTextVerticalPositionAdjustment(0);

    const CGFloat hairline = 1.0 + 1.0 / UIScreen::mainScreen()->scale();
    if (name == SNStatusBarStyleDefault) return style;
    if (name == SNStatusBarStyleError) {
        style->setBarColor(UIColor::colorWithRed(0.588, 0.118, 0.0, 1.0));
        style->setTextColor(UIColor::whiteColor());
        style->setProgressBarColor(UIColor::redColor());
        style->setProgressBarHeight(2.0);
        return style;
    }
    if (name == SNStatusBarStyleWarning) {
        style->setBarColor(UIColor::colorWithRed(0.900, 0.734, 0.034, 1.0));
        style->setTextColor(UIColor::darkGrayColor());
        style->setProgressBarColor(style->textColor());
        return style;
    }
    if (name == SNStatusBarStyleSuccess) {
        style->setBarColor(UIColor::colorWithRed(0.588, 0.797, 0.0, 1.0));
        style->setTextColor(UIColor::whiteColor());
        style->setProgressBarColor(UIColor::colorWithRed(0.106, 0.594, 0.319, 1.0));
        style->setProgressBarHeight(hairline);
        return style;
    }
    if (name == SNStatusBarStyleDark) {
        style->setBarColor(UIColor::colorWithRed(0.050, 0.078, 0.120, 1.0));
        style->setTextColor(UIColor::colorWithWhite(0.95, 1.0));
        style->setProgressBarHeight(hairline);
        return style;
    }
    if (name == SNStatusBarStyleMatrix) {
        style->setBarColor(UIColor::blackColor());
        style->setTextColor(UIColor::greenColor());
        style->setFont(UIFont::fontWithName("Courier-Bold", 14.0));
        style->setProgressBarColor(UIColor::greenColor());
        style->setProgressBarHeight(2.0);
        return style;
    }
    return nullptr;
}
