#pragma once
// The option bits and curves of view animations (UIView::animateWithDuration and relatives).

#include <cstdint>
#include <functional>

using UIViewAnimationOptions = std::uint64_t;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionLayoutSubviews = 1u << 0;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionAllowUserInteraction = 1u << 1;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionBeginFromCurrentState = 1u << 2;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionRepeat = 1u << 3;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionAutoreverse = 1u << 4;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionOverrideInheritedDuration = 1u << 5;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionOverrideInheritedCurve = 1u << 6;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionAllowAnimatedContent = 1u << 7;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionShowHideTransitionViews = 1u << 8;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionOverrideInheritedOptions = 1u << 9;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveEaseInOut = 0u << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveEaseIn = 1u << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveEaseOut = 2u << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionCurveLinear = 3u << 16;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionNone = 0u << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionFlipFromLeft = 1u << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionFlipFromRight = 2u << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionCurlUp = 3u << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionCurlDown = 4u << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionCrossDissolve = 5u << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionFlipFromTop = 6u << 20;
inline constexpr UIViewAnimationOptions UIViewAnimationOptionTransitionFlipFromBottom = 7u << 20;

// The curve bits of the options are (curve << 16).
enum UIViewAnimationCurve : long {
    UIViewAnimationCurveEaseInOut = 0,
    UIViewAnimationCurveEaseIn = 1,
    UIViewAnimationCurveEaseOut = 2,
    UIViewAnimationCurveLinear = 3,
};

using UIViewKeyframeAnimationOptions = std::uint64_t;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionLayoutSubviews = 1u << 0;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionAllowUserInteraction = 1u << 1;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionBeginFromCurrentState = 1u << 2;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionRepeat = 1u << 3;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionAutoreverse = 1u << 4;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionCalculationModeLinear = 0u << 10;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionCalculationModeDiscrete = 1u
                                                                                                       << 10;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionCalculationModePaced = 2u << 10;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionCalculationModeCubic = 3u << 10;
inline constexpr UIViewKeyframeAnimationOptions UIViewKeyframeAnimationOptionCalculationModeCubicPaced =
    4u << 10;

enum UIViewAnimationTransition : long {
    UIViewAnimationTransitionNone = 0,
    UIViewAnimationTransitionFlipFromLeft = 1,
    UIViewAnimationTransitionFlipFromRight = 2,
    UIViewAnimationTransitionCurlUp = 3,
    UIViewAnimationTransitionCurlDown = 4,
};

// The completion of a view animation: finished is false when the animation was interrupted.
using UIViewAnimationCompletion = std::function<void(bool finished)>;
