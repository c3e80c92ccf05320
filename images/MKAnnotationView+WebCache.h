#pragma once
// Map annotation views whose image comes from a URL, in the slot "MKAnnotationViewImage": the
// placeholder is set at once, the URL kept, a failed load leaves the placeholder. Main thread
// only.

#include "images/UIImageView+WebCache.h"
#include "uikit/MKAnnotationView.h"

namespace MKAnnotationView_WebCache {
inline constexpr char kAnnotationImageKey[] = "MKAnnotationViewImage";

Ref<NSURL> wi_imageURL(MKAnnotationView& view);
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder, WILoadOptions options,
                        WIWebImageCompletionBlock completed);
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url);
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder);
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder, WILoadOptions options);
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        WIWebImageCompletionBlock completed);
void wi_setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder, WIWebImageCompletionBlock completed);
void wi_cancelCurrentImageLoad(MKAnnotationView& view);
}  // namespace MKAnnotationView_WebCache

namespace MKAnnotationView_WebCacheDeprecated {
Ref<NSURL> imageURL(MKAnnotationView& view);
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url);
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder);
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder, WILoadOptions options);
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     WIWebImageCompletedBlock completed);
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder, WIWebImageCompletedBlock completed);
void setImageWithURL(const Ref<MKAnnotationView>& view, const Ref<NSURL>& url,
                     const Ref<UIImage>& placeholder, WILoadOptions options,
                     WIWebImageCompletedBlock completed);
void cancelCurrentImageLoad(MKAnnotationView& view);
}  // namespace MKAnnotationView_WebCacheDeprecated
