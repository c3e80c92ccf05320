#pragma once
// Image views that show a picture by URL: the picture goes through the shared image manager
// (memory, disk, network) and lands in the view on the main thread. Each view keeps one load in
// the slot "UIImageViewImageLoad" (and one list of loads for animation frames); a new load
// cancels the one before it, so a reused view never shows an earlier URL's late picture. The
// view is held weakly: a view destroyed while its load runs simply gets nothing.
//
// Options: WILoadDelayPlaceholder keeps the current picture until the load ends and shows the
// placeholder only if it fails; WILoadProgressive shows partial pictures as they arrive;
// WILoadRefreshCached answers twice when the server has a newer picture. The completed block is
// called once the load is finished, on the main thread.
// Main thread only.

#include <functional>
#include <vector>

#include "foundation/NSURL.h"
#include "images/WIWebImageManager.h"
#include "uikit/UIImageView.h"

using WIWebImageCompletionBlock = std::function<void(const Ref<UIImage>& image, const Ref<NSError>& error,
                                                     WICacheSource source, const Ref<NSURL>& url)>;
// The older forms' completion.
using WIWebImageCompletedBlock =
    std::function<void(const Ref<UIImage>& image, const Ref<NSError>& error, WICacheSource source)>;

namespace UIImageView_WebCache {
inline constexpr char kImageLoadKey[] = "UIImageViewImageLoad";
inline constexpr char kAnimationImagesKey[] = "UIImageViewAnimationImages";

Ref<NSURL> wi_imageURL(UIImageView& view);

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WILoadOptions options, WIWebImageDownloaderProgressBlock progress,
                        WIWebImageCompletionBlock completed);
void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url);
void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder);
void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WILoadOptions options);
void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                        WIWebImageCompletionBlock completed);
void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WIWebImageCompletionBlock completed);
void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WILoadOptions options, WIWebImageCompletionBlock completed);

// The full form with the shared cache's picture for the URL (memory or disk, read now) as the
// placeholder, or the given placeholder when there is none.
void wi_setImageWithPreviousCachedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                               const Ref<UIImage>& placeholder, WILoadOptions options,
                                               WIWebImageDownloaderProgressBlock progress,
                                               WIWebImageCompletionBlock completed);

// One load per URL; each picture joins the frames as it arrives (so in order of arrival).
void wi_setAnimationImagesWithURLs(const Ref<UIImageView>& view, const std::vector<Ref<NSURL>>& urls);
void wi_cancelCurrentImageLoad(UIImageView& view);
void wi_cancelCurrentAnimationImagesLoad(UIImageView& view);
}  // namespace UIImageView_WebCache

namespace UIImageView_WebCacheDeprecated {
Ref<NSURL> imageURL(UIImageView& view);
void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url);
void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder);
void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WILoadOptions options);
void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WIWebImageCompletedBlock completed);
void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WIWebImageCompletedBlock completed);
void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WILoadOptions options, WIWebImageCompletedBlock completed);
void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WILoadOptions options, WIWebImageDownloaderProgressBlock progress,
                     WIWebImageCompletedBlock completed);
void cancelCurrentArrayLoad(UIImageView& view);
void cancelCurrentImageLoad(UIImageView& view);
void setAnimationImagesWithURLs(const Ref<UIImageView>& view, const std::vector<Ref<NSURL>>& urls);
}  // namespace UIImageView_WebCacheDeprecated
