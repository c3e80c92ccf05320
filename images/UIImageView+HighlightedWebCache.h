#pragma once
// An image view's highlighted picture by URL, in the slot "highlightedImage": no placeholder,
// no URL kept, nothing shown when the load fails. Main thread only.

#include "images/UIImageView+WebCache.h"

namespace UIImageView_HighlightedWebCache {
inline constexpr char kHighlightedImageKey[] = "highlightedImage";

void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                   WIWebImageDownloaderProgressBlock progress,
                                   WIWebImageCompletionBlock completed);
void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url);
void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                   WILoadOptions options);
void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                   WIWebImageCompletionBlock completed);
void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                   WIWebImageCompletionBlock completed);
void wi_cancelCurrentHighlightedImageLoad(UIImageView& view);
}  // namespace UIImageView_HighlightedWebCache

namespace UIImageView_HighlightedWebCacheDeprecated {
void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url);
void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options);
void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                WIWebImageCompletedBlock completed);
void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                WIWebImageCompletedBlock completed);
void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                WIWebImageDownloaderProgressBlock progress,
                                WIWebImageCompletedBlock completed);
void cancelCurrentHighlightedImageLoad(UIImageView& view);
}  // namespace UIImageView_HighlightedWebCacheDeprecated
