#include "images/UIImageView+HighlightedWebCache.h"

#include "foundation/NSMainThreadCheck.h"
#include "images/UIView+WebCacheOperation.h"
#include "images/WIViewImageLoad.h"

namespace UIImageView_HighlightedWebCache {

void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                   WIWebImageDownloaderProgressBlock progress,
                                   WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    if (!view) return;
    wi_cancelCurrentHighlightedImageLoad(*view);
    if (!url) {
        detail::wiAnswerNilURL(completed);
        return;
    }
    auto operation =
        detail::wiLoadImageIntoView(view, url, options, std::move(progress), std::move(completed),
                                    [](UIImageView& target, const Ref<UIImage>& image) {
                                        if (!image) return;
                                        target.setHighlightedImage(image);
                                        target.setNeedsLayout();
                                    });
    UIView_WebCacheOperation::wi_setImageLoadOperation(*view, operation, kHighlightedImageKey);
}

void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url) {
    NS_ASSERT_MAIN_THREAD();
    wi_setHighlightedImageWithURL(view, url, 0, nullptr, nullptr);
}

void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                   WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setHighlightedImageWithURL(view, url, options, nullptr, nullptr);
}

void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                   WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setHighlightedImageWithURL(view, url, 0, nullptr, std::move(completed));
}

void wi_setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                   WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setHighlightedImageWithURL(view, url, options, nullptr, std::move(completed));
}

void wi_cancelCurrentHighlightedImageLoad(UIImageView& view) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(view, kHighlightedImageKey);
}

}  // namespace UIImageView_HighlightedWebCache

namespace UIImageView_HighlightedWebCacheDeprecated {

namespace {
WIWebImageCompletionBlock wrap(WIWebImageCompletedBlock completed) {
    return detail::wiCompletionFromCompleted(std::move(completed));
}
}  // namespace

void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_HighlightedWebCache::wi_setHighlightedImageWithURL(view, url, 0, nullptr, nullptr);
}

void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_HighlightedWebCache::wi_setHighlightedImageWithURL(view, url, options, nullptr, nullptr);
}

void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_HighlightedWebCache::wi_setHighlightedImageWithURL(view, url, 0, nullptr,
                                                                   wrap(std::move(completed)));
}

void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_HighlightedWebCache::wi_setHighlightedImageWithURL(view, url, options, nullptr,
                                                                   wrap(std::move(completed)));
}

void setHighlightedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, WILoadOptions options,
                                WIWebImageDownloaderProgressBlock progress,
                                WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_HighlightedWebCache::wi_setHighlightedImageWithURL(view, url, options, std::move(progress),
                                                                   wrap(std::move(completed)));
}

void cancelCurrentHighlightedImageLoad(UIImageView& view) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_HighlightedWebCache::wi_cancelCurrentHighlightedImageLoad(view);
}

}  // namespace UIImageView_HighlightedWebCacheDeprecated
