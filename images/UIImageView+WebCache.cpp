#include "images/UIImageView+WebCache.h"

#include "foundation/NSMainThreadCheck.h"
#include "images/UIView+WebCacheOperation.h"
#include "images/WIViewImageLoad.h"

namespace {
const char kImageURLKey = 0;
}  // namespace

namespace UIImageView_WebCache {

Ref<NSURL> wi_imageURL(UIImageView& view) {
    return view.associatedObject(&kImageURLKey).objectAs<NSURL>();
}

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WILoadOptions options, WIWebImageDownloaderProgressBlock progress,
                        WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    if (!view) return;
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(*view, kImageLoadKey);
    view->setAssociatedObject(&kImageURLKey, Value(url), AssociationPolicy::Retain);
    if (!(options & WILoadDelayPlaceholder)) view->setImage(placeholder);

    if (!url) {
        detail::wiAnswerNilURL(completed);
        return;
    }
    auto operation =
        detail::wiLoadImageIntoView(view, url, options, std::move(progress), std::move(completed),
                                    [placeholder, options](UIImageView& target, const Ref<UIImage>& image) {
                                        if (image) {
                                            target.setImage(image);
                                            target.setNeedsLayout();
                                        } else if (options & WILoadDelayPlaceholder) {
                                            target.setImage(placeholder);
                                            target.setNeedsLayout();
                                        }
                                    });
    UIView_WebCacheOperation::wi_setImageLoadOperation(*view, operation, kImageLoadKey);
}

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, nullptr, 0, nullptr, nullptr);
}

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                        const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, 0, nullptr, nullptr);
}

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, options, nullptr, nullptr);
}

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                        WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, nullptr, 0, nullptr, std::move(completed));
}

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, 0, nullptr, std::move(completed));
}

void wi_setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                        WILoadOptions options, WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    wi_setImageWithURL(view, url, placeholder, options, nullptr, std::move(completed));
}

void wi_setImageWithPreviousCachedImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                                               const Ref<UIImage>& placeholder, WILoadOptions options,
                                               WIWebImageDownloaderProgressBlock progress,
                                               WIWebImageCompletionBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    auto key = WIWebImageManager::sharedManager()->cacheKeyForURL(url);
    auto cached = WIImageCache::sharedImageCache()->imageFromDiskCacheForKey(key);
    wi_setImageWithURL(view, url, cached ? cached : placeholder, options, std::move(progress),
                       std::move(completed));
}

void wi_setAnimationImagesWithURLs(const Ref<UIImageView>& view, const std::vector<Ref<NSURL>>& urls) {
    NS_ASSERT_MAIN_THREAD();
    if (!view) return;
    wi_cancelCurrentAnimationImagesLoad(*view);
    Weak<UIImageView> weak = view;
    std::vector<Ref<WIWebImageOperation>> operations;
    operations.reserve(urls.size());
    for (const auto& url : urls) {
        auto operation = WIWebImageManager::sharedManager()->downloadImageWithURL(
            url, 0, nullptr,
            [weak](const Ref<UIImage>& image, const Ref<NSError>&, WICacheSource, bool, const Ref<NSURL>&) {
                if (weak.expired()) return;
                detail::wiRunOnMainThreadSync([&] {
                    auto view = weak.lock();
                    if (!view) return;
                    view->stopAnimating();
                    if (image) {
                        auto frames = view->animationImages();
                        frames.push_back(image);
                        view->setAnimationImages(std::move(frames));
                        view->setNeedsLayout();
                    }
                    view->startAnimating();
                });
            });
        operations.push_back(operation);
    }
    UIView_WebCacheOperation::wi_setImageLoadOperations(*view, operations, kAnimationImagesKey);
}

void wi_cancelCurrentImageLoad(UIImageView& view) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(view, kImageLoadKey);
}

void wi_cancelCurrentAnimationImagesLoad(UIImageView& view) {
    NS_ASSERT_MAIN_THREAD();
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(view, kAnimationImagesKey);
}

}  // namespace UIImageView_WebCache

namespace UIImageView_WebCacheDeprecated {

namespace {
WIWebImageCompletionBlock wrap(WIWebImageCompletedBlock completed) {
    return detail::wiCompletionFromCompleted(std::move(completed));
}
}  // namespace

Ref<NSURL> imageURL(UIImageView& view) {
    return UIImageView_WebCache::wi_imageURL(view);
}

void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setImageWithURL(view, url, nullptr, 0, nullptr, nullptr);
}

void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setImageWithURL(view, url, placeholder, 0, nullptr, nullptr);
}

void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WILoadOptions options) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setImageWithURL(view, url, placeholder, options, nullptr, nullptr);
}

void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url,
                     WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setImageWithURL(view, url, nullptr, 0, nullptr, wrap(std::move(completed)));
}

void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setImageWithURL(view, url, placeholder, 0, nullptr, wrap(std::move(completed)));
}

void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WILoadOptions options, WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setImageWithURL(view, url, placeholder, options, nullptr,
                                             wrap(std::move(completed)));
}

void setImageWithURL(const Ref<UIImageView>& view, const Ref<NSURL>& url, const Ref<UIImage>& placeholder,
                     WILoadOptions options, WIWebImageDownloaderProgressBlock progress,
                     WIWebImageCompletedBlock completed) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setImageWithURL(view, url, placeholder, options, std::move(progress),
                                             wrap(std::move(completed)));
}

void cancelCurrentArrayLoad(UIImageView& view) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_cancelCurrentAnimationImagesLoad(view);
}

void cancelCurrentImageLoad(UIImageView& view) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_cancelCurrentImageLoad(view);
}

void setAnimationImagesWithURLs(const Ref<UIImageView>& view, const std::vector<Ref<NSURL>>& urls) {
    NS_ASSERT_MAIN_THREAD();
    UIImageView_WebCache::wi_setAnimationImagesWithURLs(view, urls);
}

}  // namespace UIImageView_WebCacheDeprecated
