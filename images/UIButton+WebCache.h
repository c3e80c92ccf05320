#pragma once
// Buttons whose image or background image for a control state comes from a URL. Every state has
// its own image slot ("UIButtonImageOperation<state>") and background slot
// ("UIButtonBackgroundImageOperation<state>"), so loads for different states, and the image and
// background loads of one state, never cancel each other. The placeholder is set for the state
// at once; a failed load leaves it. Image URLs are kept per state. Main thread only.

#include <string>

#include "images/UIImageView+WebCache.h"
#include "uikit/UIButton.h"

namespace UIButton_WebCache {
std::string imageOperationKeyForState(UIControlState state);
std::string backgroundImageOperationKeyForState(UIControlState state);

// The URL of the current state, else of the normal state.
Ref<NSURL> wi_currentImageURL(UIButton& button);
Ref<NSURL> wi_imageURLForState(UIButton& button, UIControlState state);

void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder, WILoadOptions options,
                        WIWebImageCompletionBlock completed);
void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state);
void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder);
void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder, WILoadOptions options);
void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        WIWebImageCompletionBlock completed);
void wi_setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                        const Ref<UIImage>& placeholder, WIWebImageCompletionBlock completed);

void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder, WILoadOptions options,
                                  WIWebImageCompletionBlock completed);
void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state);
void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder);
void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder, WILoadOptions options);
void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  WIWebImageCompletionBlock completed);
void wi_setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                                  const Ref<UIImage>& placeholder, WIWebImageCompletionBlock completed);

void wi_setImageLoadOperation(UIButton& button, const Ref<WIWebImageOperation>& operation,
                              UIControlState state);
void wi_cancelImageLoadForState(UIButton& button, UIControlState state);
void wi_setBackgroundImageLoadOperation(UIButton& button, const Ref<WIWebImageOperation>& operation,
                                        UIControlState state);
void wi_cancelBackgroundImageLoadForState(UIButton& button, UIControlState state);
}  // namespace UIButton_WebCache

namespace UIButton_WebCacheDeprecated {
Ref<NSURL> currentImageURL(UIButton& button);
Ref<NSURL> imageURLForState(UIButton& button, UIControlState state);
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state);
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder);
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder, WILoadOptions options);
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     WIWebImageCompletedBlock completed);
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder, WIWebImageCompletedBlock completed);
void setImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                     const Ref<UIImage>& placeholder, WILoadOptions options,
                     WIWebImageCompletedBlock completed);
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state);
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder);
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder, WILoadOptions options);
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               WIWebImageCompletedBlock completed);
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder, WIWebImageCompletedBlock completed);
void setBackgroundImageWithURL(const Ref<UIButton>& button, const Ref<NSURL>& url, UIControlState state,
                               const Ref<UIImage>& placeholder, WILoadOptions options,
                               WIWebImageCompletedBlock completed);
// Cancels the image load of the current state.
void cancelCurrentImageLoad(UIButton& button);
void cancelBackgroundImageLoadForState(UIButton& button, UIControlState state);
}  // namespace UIButton_WebCacheDeprecated
